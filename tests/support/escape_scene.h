// The targets of the escape attempts, made for one test and taken down after it: a scratch home
// with a key and a shell start-up file, a folder for the input and one beside it, a listening TCP
// port, a listening local socket by name and an abstract one (never accepting, so their backlogs
// are as long as the system allows), and a process to stop or trace, of the user the attempts run
// as.
#pragma once

#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <signal.h>
#include <stddef.h>
#include <sys/socket.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "escape_attempts.h"
#include "scratch_folder.h"

struct EscapeScene {
    std::string dir;       // everything below lives here
    std::string input_dir; // the input's folder: dir/input
    EscapeTargets targets;
    int listeners[3] = {-1, -1, -1}; // TCP, by name, abstract
};

inline int listening_socket(int family, const sockaddr* address, socklen_t length)
{
    const int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && (bind(fd, address, length) != 0 || listen(fd, SOMAXCONN) != 0)) {
        close(fd);
        return -1;
    }
    return fd;
}

inline int listen_on_tcp(int& port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int fd = listening_socket(AF_INET, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    if (fd >= 0 && getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    return fd;
}

inline int listen_locally(const std::string& name, bool abstract)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t at = abstract ? 1 : 0;
    std::memcpy(address.sun_path + at, name.data(), name.size());
    const socklen_t length = socklen_t(offsetof(sockaddr_un, sun_path) + at + name.size() + (abstract ? 0 : 1));
    return listening_socket(AF_UNIX, reinterpret_cast<const sockaddr*>(&address), length);
}

// A victim of another user than ours drops to that user and stays traceable by it.
[[noreturn]] inline void wait_as_a_victim(uid_t user, gid_t group)
{
    if (user != geteuid() && (setgroups(0, nullptr) != 0 || setresgid(group, group, group) != 0 ||
                              setresuid(user, user, user) != 0))
        _exit(1);
    prctl(PR_SET_DUMPABLE, 1, 0, 0, 0);
    for (;;)
        pause();
}

inline EscapeScene make_escape_scene(uid_t victim_user = geteuid(), gid_t victim_group = getegid())
{
    EscapeScene scene;
    scene.dir = temporary_directory();
    chmod(scene.dir.c_str(), 0755);
    scene.input_dir = scene.dir + "/input";
    EscapeTargets& t = scene.targets;
    t.home = scene.dir + "/home";
    for (const std::string& folder : {t.home, t.home + "/.ssh", scene.input_dir, scene.dir + "/beside"})
        mkdir(folder.c_str(), 0755);
    write_bytes(t.home + "/.ssh/id_rsa", "-----BEGIN KEY-----\n");
    write_bytes(t.home + "/.bashrc", "# the user's own\n");
    t.as_root = geteuid() == 0;
#if defined(__x86_64__)
    t.lone_program = scene.dir + "/lone-program";
    write_bytes(t.lone_program, std::string(reinterpret_cast<const char*>(lone_program_bytes), sizeof lone_program_bytes));
    chmod(t.lone_program.c_str(), 0755);
#endif
    t.spare_folder = scene.dir + "/spare";
    mkdir(t.spare_folder.c_str(), 0755);
    mkdir((t.spare_folder + "/empty").c_str(), 0755);
    write_bytes(t.spare_folder + "/remove-me", "mine\n");
    write_bytes(t.spare_folder + "/rename-me", "mine\n");
    write_bytes(t.spare_folder + "/keep-me", kept_text);
    t.beside = scene.dir + "/beside/secret.txt";
    write_bytes(t.beside, "secret\n");
    t.temporary_folder = "/tmp";
    scene.listeners[0] = listen_on_tcp(t.tcp_port);
    t.local_socket = scene.dir + "/bus";
    scene.listeners[1] = listen_locally(t.local_socket, false);
    t.abstract_socket = "olvanta-escape-test-" + std::to_string(getpid());
    scene.listeners[2] = listen_locally(t.abstract_socket, true);
    t.victim = fork();
    if (t.victim == 0)
        wait_as_a_victim(victim_user, victim_group);
    return scene;
}

inline void take_down(EscapeScene& scene)
{
    if (scene.targets.victim > 0) {
        kill(scene.targets.victim, SIGKILL);
        waitpid(scene.targets.victim, nullptr, 0);
    }
    for (int& fd : scene.listeners)
        if (fd >= 0)
            close(fd);
    remove_directory(scene.dir);
}
