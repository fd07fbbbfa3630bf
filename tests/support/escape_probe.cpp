// Loaded into a real tool with LD_PRELOAD, it does what an exploited parser would: the first time
// a process of the tool reads the input's bytes, it tries every escape and says how each went in
// the memory it shares with the test, then lets the reading go on, so the tool can still do its
// job. A process that only opens the file and hands its descriptor on reads nothing of it.
//   OLVANTA_PROBE_MEMORY, OLVANTA_PROBE_INPUT: see first_read.h
//   OLVANTA_PROBE_BESIDE, _TCP_PORT, _LOCAL_SOCKET, _ABSTRACT_SOCKET, _VICTIM, _OUTPUT,
//   _MOUNT_POINT: the targets; HOME holds the key and the start-up file.
//   OLVANTA_PROBE_SETS: which AttemptSets, as a number; every one when not set.
// Each process's block begins "@@ PID ROLE" (see role_of_this_process), its outcome lines follow.
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "escape_attempts.h"
#include "first_read.h"

namespace {

std::string from_environment(const char* name)
{
    const char* value = getenv(name);
    return value ? value : "";
}

std::string folder_of(const std::string& path)
{
    return path.substr(0, path.rfind('/'));
}

EscapeTargets targets_from_environment(int fd)
{
    EscapeTargets t;
    t.input = from_environment("OLVANTA_PROBE_INPUT");
    t.home = from_environment("HOME");
    t.beside = from_environment("OLVANTA_PROBE_BESIDE");
    t.temporary_folder = "/tmp";
    t.tcp_port = atoi(from_environment("OLVANTA_PROBE_TCP_PORT").c_str());
    t.local_socket = from_environment("OLVANTA_PROBE_LOCAL_SOCKET");
    t.abstract_socket = from_environment("OLVANTA_PROBE_ABSTRACT_SOCKET");
    t.victim = pid_t(atoi(from_environment("OLVANTA_PROBE_VICTIM").c_str()));
    const std::string sets = from_environment("OLVANTA_PROBE_SETS");
    t.sets = sets.empty() ? every_attempt : unsigned(strtoul(sets.c_str(), nullptr, 10));
    t.input_descriptor = fd;
    t.beside_folder = folder_of(t.beside);
    t.output = from_environment("OLVANTA_PROBE_OUTPUT");
    t.parent = parent_of_this_process();
    // A process with no sibling of its own has the test's other process as the nearest one.
    t.sibling = sibling_of_this_process();
    if (t.sibling == 0)
        t.sibling = t.victim;
    t.host_name = host_name_at_load();
    t.mount_point = from_environment("OLVANTA_PROBE_MOUNT_POINT");
    return t;
}

} // namespace

void on_first_read_of_input(int fd)
{
    const std::string heading = "@@ " + std::to_string(getpid()) + " " + role_of_this_process(fd) + "\n";
    tell(heading + outcome_lines(try_to_escape(targets_from_environment(fd))));
}
