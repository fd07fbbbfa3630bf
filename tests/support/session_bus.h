// A private session bus of the test's own, and a stand-in for the desktop's notification service
// on it that records every notice; both end when the test stops them.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "test_files.h"

struct SessionBus {
    pid_t daemon = -1, recorder = -1;
    std::string address; // for DBUS_SESSION_BUS_ADDRESS
    std::string record;  // one line per notice, every field apart by tabs (see Notice)
    std::string failure; // why there is no address, when the recorder said
};

// Every field of one notice, as the recorder wrote it.
struct Notice {
    std::vector<std::string> fields; // eight, unless a field held a tab
    std::string summary() const { return fields.size() == 8 ? fields[3] : ""; }
    std::string body() const { return fields.size() == 8 ? fields[4] : ""; }
};

inline Notice notice_from(const std::string& line)
{
    Notice notice;
    for (std::size_t at = 0;;) {
        const std::size_t tab = line.find('\t', at);
        notice.fields.push_back(line.substr(at, tab == std::string::npos ? std::string::npos : tab - at));
        if (tab == std::string::npos)
            return notice;
        at = tab + 1;
    }
}

// The fields every notice of olvanta-open holds whatever it says: its name, a new notice rather
// than one replaced, its icon, no actions, the desktop entry that sent it, and the service's own
// expiry. Empty when they hold, else the first that does not.
inline std::string unlike_our_notices(const Notice& n)
{
    const char* const names[8] = {"application", "replaced id", "icon", "", "", "actions", "hints", "expiry"};
    const char* const ours[8] = {"Olvanta", "0", "olvanta", "", "", "", "desktop-entry=olvanta", "-1"};
    if (n.fields.size() != 8)
        return std::to_string(n.fields.size()) + " fields rather than 8";
    for (int k = 0; k < 8; ++k)
        if (*names[k] && n.fields[std::size_t(k)] != ours[k])
            return std::string(names[k]) + " '" + n.fields[std::size_t(k)] + "' rather than '" + ours[k] + "'";
    return "";
}

inline std::string first_line(const std::string& text)
{
    return text.substr(0, text.find('\n'));
}

// The bus in `dir`, with the recorder of tests/desktop/notification_recorder.py on it, offering
// `capabilities` (none: only "body"). An empty address when either could not start. The recorder
// runs on the system's own Python, the one with the GObject bindings Debian packages.
inline SessionBus start_session_bus(const std::string& dir, const std::string& recorder_script,
                                    const std::vector<std::string>& capabilities = {})
{
    SessionBus bus;
    const std::string address_file = dir + "/bus-address", ready_file = dir + "/recorder-ready";
    bus.record = dir + "/notices";
    unlink(address_file.c_str()); // an earlier bus's address is no answer
    unlink(ready_file.c_str());
    bus.daemon = fork();
    if (bus.daemon == 0) {
        const int fd = open(address_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int nowhere = open("/dev/null", O_RDWR);
        dup2(nowhere, STDOUT_FILENO); // nothing of the test's own output is held by the bus
        dup2(nowhere, STDERR_FILENO);
        dup2(fd, 3);
        execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--print-address=3", static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int i = 0; i < 200 && bus.address.empty(); ++i, usleep(25000))
        bus.address = first_line(read_whole_file(address_file));
    if (bus.address.empty())
        return bus;
    bus.recorder = fork();
    if (bus.recorder == 0) {
        setenv("DBUS_SESSION_BUS_ADDRESS", bus.address.c_str(), 1);
        freopen(ready_file.c_str(), "w", stdout);
        freopen((dir + "/recorder-errors").c_str(), "w", stderr);
        // Named by its whole path in argv[0] too: Python finds its own prefix from argv[0], and a
        // bare name would be looked up in PATH, where another Python may come first.
        std::vector<char*> arguments{const_cast<char*>("/usr/bin/python3"), const_cast<char*>(recorder_script.c_str()),
                                     const_cast<char*>(bus.record.c_str())};
        for (const std::string& capability : capabilities)
            arguments.push_back(const_cast<char*>(capability.c_str()));
        arguments.push_back(nullptr);
        execv("/usr/bin/python3", arguments.data());
        _exit(127);
    }
    for (int i = 0; i < 400 && read_whole_file(ready_file) != "ready\n"; ++i)
        usleep(25000);
    if (read_whole_file(ready_file) != "ready\n") {
        bus.address.clear();
        bus.failure = "the recorder did not start on /usr/bin/python3 (python3-gi is needed): " +
                      read_whole_file(dir + "/recorder-errors");
    }
    return bus;
}

inline void stop_session_bus(SessionBus& bus)
{
    for (pid_t* pid : {&bus.recorder, &bus.daemon})
        if (*pid > 0) {
            kill(*pid, SIGTERM);
            waitpid(*pid, nullptr, 0);
            *pid = -1;
        }
}

// Stops the bus when the test ends, however it ends.
struct SessionBusStopper {
    SessionBus& bus;
    ~SessionBusStopper() { stop_session_bus(bus); }
};
