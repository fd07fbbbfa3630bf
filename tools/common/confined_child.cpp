// The answer comes back on a pipe; a kept child waits on a local socket made before it was forked
// (connecting is refused to it, sending and receiving on what it holds is not) for its descriptor
// and number, and reports on the same socket.
#include "confined_child.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "confine_to_reading.h"

namespace {

ConfinedReading keep_for = nullptr; // for the next question's child
pid_t kept_pid = -1;
int kept_channel = -1; // this side of the kept child's socket

void wait_for(pid_t pid)
{
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

// A kept child that gets nothing ends at the end of file.
void release_kept_child()
{
    if (kept_channel >= 0)
        close(kept_channel);
    if (kept_pid > 0)
        wait_for(kept_pid);
    kept_channel = -1;
    kept_pid = -1;
}

// Should the tool be killed, its confined children end with it rather than read on.
bool end_with(pid_t parent)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    return getppid() == parent;
}

bool hand_over(int channel, int fd, int number)
{
    char space[CMSG_SPACE(sizeof(int))] = {};
    iovec part{&number, sizeof number};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    if (fd >= 0) {
        message.msg_control = space;
        message.msg_controllen = sizeof space;
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
    }
    return sendmsg(channel, &message, MSG_NOSIGNAL) == ssize_t(sizeof number);
}

bool take_over(int channel, int& fd, int& number)
{
    char space[CMSG_SPACE(sizeof(int))] = {};
    iovec part{&number, sizeof number};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = space;
    message.msg_controllen = sizeof space;
    if (recvmsg(channel, &message, MSG_CMSG_CLOEXEC) != ssize_t(sizeof number))
        return false;
    const cmsghdr* header = CMSG_FIRSTHDR(&message);
    fd = -1;
    if (header && header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS)
        std::memcpy(&fd, CMSG_DATA(header), sizeof fd);
    return true;
}

bool write_all(int fd, const std::string& bytes)
{
    for (std::size_t put = 0; put < bytes.size();) {
        const ssize_t done = write(fd, bytes.data() + put, bytes.size() - put);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        put += std::size_t(done);
    }
    return true;
}

// The answer, then the end of file; what came before the end is the whole answer only when the
// child said it was done with a last byte of its own.
bool read_answer(int fd, std::string& answer)
{
    char block[4096];
    for (ssize_t got; (got = read(fd, block, sizeof block)) != 0;)
        if (got > 0)
            answer.append(block, std::size_t(got));
        else if (errno != EINTR)
            return false;
    if (answer.empty() || answer.back() != '.')
        return false;
    answer.pop_back();
    return true;
}

[[noreturn]] void answer_then_read(FileInquiry inquiry, const std::string& path, int answer_fd,
                                   ConfinedReading reading, int channel)
{
    confine_to_reading({path});
    const bool answered = write_all(answer_fd, inquiry(path) + ".");
    close(answer_fd);
    int fd = -1, number = 0;
    if (!answered || !reading || channel < 0 || !take_over(channel, fd, number))
        _exit(answered ? 0 : 1);
    _exit(reading(fd, number, channel));
}

} // namespace

namespace {

FileQuestion asked = nullptr;

std::string yes_or_no(const std::string& path)
{
    return asked(path) ? "y" : "n";
}

} // namespace

bool ask_confined(FileQuestion question, const std::string& path)
{
    asked = question;
    std::string answer;
    return inquire_confined(yes_or_no, path, answer) && answer == "y";
}

bool inquire_confined(FileInquiry inquiry, const std::string& path, std::string& answer)
{
    release_kept_child();
    const ConfinedReading reading = keep_for;
    keep_for = nullptr;
    int answers[2], channel[2] = {-1, -1};
    if (pipe2(answers, O_CLOEXEC) != 0)
        return false;
    if (reading && socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, channel) != 0)
        channel[0] = channel[1] = -1;
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        close(answers[0]);
        if (channel[0] >= 0)
            close(channel[0]);
        if (!end_with(parent))
            _exit(1);
        answer_then_read(inquiry, path, answers[1], reading, channel[1]);
    }
    close(answers[1]);
    if (channel[1] >= 0)
        close(channel[1]);
    answer.clear();
    const bool answered = pid > 0 && read_answer(answers[0], answer);
    close(answers[0]);
    kept_pid = pid;
    kept_channel = channel[0];
    if (!answered || channel[0] < 0)
        release_kept_child();
    if (!answered)
        answer.clear();
    return answered;
}

void keep_next_confined_child_for(ConfinedReading reading)
{
    keep_for = reading;
}

ConfinedReader start_confined_reading(ConfinedReading reading, const std::vector<std::string>& readable, int fd,
                                      int number)
{
    ConfinedReader reader;
    if (kept_pid > 0 && hand_over(kept_channel, fd, number)) {
        reader = ConfinedReader{kept_pid, kept_channel};
        kept_pid = -1;
        kept_channel = -1;
        return reader;
    }
    release_kept_child();
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        return reader;
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        close(report[0]);
        if (!end_with(parent))
            _exit(1);
        confine_to_reading(readable);
        _exit(reading(fd, number, report[1]));
    }
    close(report[1]);
    if (pid < 0) {
        close(report[0]);
        return reader;
    }
    return ConfinedReader{pid, report[0]};
}
