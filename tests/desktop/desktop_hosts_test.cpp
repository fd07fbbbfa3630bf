// The package installed as a user installs it, then used by the desktop's own programs: GNOME's
// thumbnail factory (which runs thumbnailers in its bubblewrap sandbox, seeing only /usr), XFCE's
// tumblerd on a private session bus, gio's content types and `gio open` with our entry as the
// default. Each host gets the same files, and nothing may be left in its folders. The last test
// removes the package again and checks that the desktop has forgotten it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <png.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "scratch_folder.h"
#include "session_bus.h"
#include "test_files.h"
#include "torus_texts.h"
#include "../window/x_harness.h"

namespace {

// apt waits for its lock: another program installing (unattended upgrades) only makes it slower.
const std::string removal = "DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 remove -y olvanta";

// Whatever ends this test program, a failure, an interrupt or SIGKILL, the package goes again: a
// guard outside the program's process tree waits for the end of a pipe that only this process
// holds, then removes the package if it is still installed.
void start_removal_guard()
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return;
    const pid_t first = fork();
    if (first == 0) {
        setsid();
        if (fork() != 0)
            _exit(0);
        const int nowhere = open("/dev/null", O_RDWR);
        dup2(ends[0], 0);
        dup2(nowhere, 1);
        dup2(nowhere, 2);
        const std::string command = "cat >/dev/null; dpkg-query -W -f='${db:Status-Status}' olvanta 2>/dev/null | "
                                    "grep -qx installed && " + removal;
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ends[0]);
    waitpid(first, nullptr, 0);
    // ends[1] stays open until this process ends, however it ends.
}

const std::string source_dir = OLVANTA_SOURCE_DIR;
const std::string version = OLVANTA_VERSION;
const std::string hosts_driver = source_dir + "/tests/desktop/thumbnail_hosts.py";

std::string trimmed(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

// What a host answered for one file.
struct Answer {
    std::string type, outcome, size, message;
    double seconds = 0;
};

struct HostRun {
    std::map<std::string, Answer> answers; // by file name
    std::string err;
    pid_t tumblerd = -1;
};

// The host's answers are printed too: they are the table of what each host made, and how fast.
HostRun parse_answers(const CommandRun& run)
{
    std::printf("%s", run.out.c_str());
    HostRun host;
    host.err = run.err;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> fields;
        std::istringstream parts(line);
        for (std::string field; std::getline(parts, field, '\t');)
            fields.push_back(field);
        if (fields.size() == 2 && fields[0] == "tumblerd")
            host.tumblerd = std::stoi(fields[1]);
        else if (fields.size() >= 5)
            host.answers[fields[0]] = {fields[1], fields[2], fields[4], fields.size() > 5 ? fields[5] : "",
                                       std::stod(fields[3])};
    }
    return host;
}

// The share of a picture that is not transparent and not one plain colour: more than a mesh of
// one point would give.
double drawn_share(const std::string& path)
{
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str()))
        return 0;
    png.format = PNG_FORMAT_RGBA;
    std::vector<unsigned char> rgba(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, rgba.data(), 0, nullptr))
        return 0;
    std::size_t drawn = 0;
    for (std::size_t i = 0; i < rgba.size(); i += 4)
        drawn += rgba[i + 3] > 0;
    return double(drawn) / double(rgba.size() / 4);
}

class InstalledPackage : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        const std::string status = run_command("dpkg-query -W -f='${db:Status-Status}' olvanta").out;
        if (status == "installed") {
            failure = "olvanta is installed on this machine already; these tests install and remove their own";
            return;
        }
        const CommandRun built = run_command("'" + source_dir + "/scripts/package'");
        const std::string architecture = trimmed(run_command("dpkg --print-architecture").out);
        deb = source_dir + "/build/olvanta_" + version + "_" + architecture + ".deb";
        if (built.status != 0) {
            failure = "scripts/package failed:\n" + built.err;
            return;
        }
        start_removal_guard();
        const CommandRun installed = run_command("DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y '" + deb + "'");
        if (installed.status != 0) {
            failure = "apt-get install failed:\n" + installed.out + installed.err;
            return;
        }
        installed_here = true;
        dir = temporary_directory();
        home = dir + "/home";
        mkdir(home.c_str(), 0700);
        make_files();
    }

    static void TearDownTestSuite()
    {
        if (installed_here && run_command("dpkg-query -W -f='${db:Status-Status}' olvanta").out == "installed")
            run_command(removal);
        remove_directory(dir);
    }

    void SetUp() override { ASSERT_EQ(failure, ""); }

    static void make_files()
    {
        write_bytes(dir + "/torus.m", run_command("olvanta-gen 48 24").out);
        write_bytes(dir + "/raw.m", run_command("sed 's/ {normal=([^)]*)}//' '" + dir + "/torus.m'").out);
        write_bytes(dir + "/cube.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0 0 1\nv 1 0 1\nv 1 1 1\nv 0 1 1\n"
                                       "f 1 4 3 2\nf 5 6 7 8\nf 1 2 6 5\nf 2 3 7 6\nf 3 4 8 7\nf 4 1 5 8\n");
        write_bytes(dir + "/tet.stl", "solid t\n"
                                      "facet normal 0 0 -1\nouter loop\nvertex 0 0 0\nvertex 0 1 0\nvertex 1 0 0\nendloop\nendfacet\n"
                                      "facet normal 0 -1 0\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 0 1\nendloop\nendfacet\n"
                                      "facet normal -1 0 0\nouter loop\nvertex 0 0 0\nvertex 0 0 1\nvertex 0 1 0\nendloop\nendfacet\n"
                                      "facet normal 1 1 1\nouter loop\nvertex 1 0 0\nvertex 0 1 0\nvertex 0 0 1\nendloop\nendfacet\n"
                                      "endsolid t\n");
        write_bytes(dir + "/sparse.m", "Vertex 1 0 0 0 {normal=(0 0 1)}\n");
        truncate((dir + "/sparse.m").c_str(), 10LL << 30);
        std::string noise = "solid x\nfacet normal 0 0 1\nouter loop\nvertex 0 0 ";
        for (int i = 0; i < 50000; ++i)
            noise += char((i * 7919 + i / 13) & 0xff);
        write_bytes(dir + "/damaged.stl", noise);
        mkfifo((dir + "/endless.m").c_str(), 0600);
        mkdir((dir + "/pictures").c_str(), 0700);
    }

    // The files every host gets; the FIFO handed over as a mesh, since its own type is inode/fifo.
    static std::string files()
    {
        std::string names;
        for (const char* name : {"torus.m", "raw.m", "cube.obj", "tet.stl", "sparse.m", "damaged.stl"})
            names += " '" + dir + "/" + name + "'";
        return names + " '" + dir + "/endless.m=model/x-vertex-face-mesh'";
    }

    // A writer that never stops, for the FIFO: started before each host reads it.
    static pid_t start_endless_writer()
    {
        const pid_t pid = fork();
        if (pid == 0) {
            const std::string command = "exec yes 'Vertex 1 0 0 0 {normal=(0 0 1)}' > '" + dir + "/endless.m'";
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        return pid;
    }

    static void expect_pictures_and_refusals(const HostRun& host, int size, const std::string& name)
    {
        const std::string wanted_size = std::to_string(size) + "x" + std::to_string(size);
        for (const char* file : {"torus.m", "raw.m", "cube.obj", "tet.stl"}) {
            ASSERT_EQ(host.answers.count(file), 1u) << name << " " << file << "\n" << host.err;
            const Answer& answer = host.answers.at(file);
            EXPECT_EQ(answer.outcome, "made") << name << " " << file << ": " << answer.message << "\n" << host.err;
            EXPECT_EQ(answer.size, wanted_size) << name << " " << file;
            EXPECT_GT(drawn_share(dir + "/pictures/" + file + ".png"), 0.2) << name << " " << file;
        }
        EXPECT_EQ(host.answers.at("torus.m").type, "model/x-vertex-face-mesh");
        EXPECT_EQ(host.answers.at("raw.m").type, "model/x-vertex-face-mesh");
        EXPECT_EQ(host.answers.at("cube.obj").type, "model/obj");
        EXPECT_EQ(host.answers.at("tet.stl").type, "model/stl");
        for (const char* file : {"sparse.m", "damaged.stl", "endless.m"}) {
            ASSERT_EQ(host.answers.count(file), 1u) << name << " " << file;
            const Answer& answer = host.answers.at(file);
            EXPECT_EQ(answer.outcome, "failed") << name << " " << file;
            EXPECT_LT(answer.seconds, 10) << name << " " << file;
            EXPECT_EQ(answer.message.find("not in the failure cache"), std::string::npos) << name << " " << file << ": " << answer.message;
        }
    }

    static std::vector<std::string> left_in_tmp(const char* prefix)
    {
        std::vector<std::string> left;
        for (const std::string& name : directory_entries("/tmp"))
            if (name.rfind(prefix, 0) == 0)
                left.push_back(name);
        return left;
    }

    static std::string failure, deb, dir, home;
    static bool installed_here;
};

std::string InstalledPackage::failure, InstalledPackage::deb, InstalledPackage::dir, InstalledPackage::home;
bool InstalledPackage::installed_here = false;

TEST_F(InstalledPackage, GnomesThumbnailFactoryPicturesEachFileInItsSandbox)
{
    const std::string environment = "HOME='" + home + "' XDG_CACHE_HOME='" + home + "/.cache' ";
    const std::vector<std::string> before = left_in_tmp("gnome-desktop-");
    for (int size : {128, 256, 512, 1024}) {
        const pid_t writer = start_endless_writer();
        const HostRun host = parse_answers(run_command(environment + "/usr/bin/python3 '" + hosts_driver + "' gnome " +
                                                       std::to_string(size) + " '" + dir + "/pictures'" + files()));
        kill(writer, SIGKILL);
        waitpid(writer, nullptr, 0);
        expect_pictures_and_refusals(host, size, "GNOME at " + std::to_string(size));
        EXPECT_EQ(host.err.find("left files"), std::string::npos) << host.err;
        // Refused once, a file is not tried again at any size: the factory's failure cache has it.
        for (const char* file : {"sparse.m", "damaged.stl", "endless.m"})
            EXPECT_EQ(host.answers.at(file).message,
                      size == 128 ? "Child process exited with code 1" : "in the failure cache already")
                << file << " at " << size;
        // The factory keeps its refusals so it does not ask again; a picture is kept as made.
        const std::string flavour = size == 128 ? "normal" : size == 256 ? "large" : size == 512 ? "x-large" : "xx-large";
        EXPECT_EQ(directory_entries(home + "/.cache/thumbnails/" + flavour).size(), 4u) << flavour;
    }
    EXPECT_EQ(directory_entries(home + "/.cache/thumbnails/fail/gnome-thumbnail-factory").size(), 3u);
    EXPECT_EQ(left_in_tmp("gnome-desktop-"), before) << "the sandbox's folder is gone";
}

TEST_F(InstalledPackage, TumblerPicturesEachFileOverAPrivateSessionBus)
{
    const std::string cache = dir + "/tumbler-cache";
    const std::string environment = "HOME='" + home + "' XDG_CACHE_HOME='" + cache + "' ";
    const std::vector<std::string> before = left_in_tmp("tumbler-");
    const std::string address_file = dir + "/bus-address";
    const pid_t bus = fork();
    if (bus == 0) {
        setenv("HOME", home.c_str(), 1);
        setenv("XDG_CACHE_HOME", cache.c_str(), 1);
        const int fd = open(address_file.c_str(), O_WRONLY | O_CREAT, 0600);
        dup2(fd, 3);
        execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--print-address=3", static_cast<char*>(nullptr));
        _exit(127);
    }
    std::string address;
    for (int i = 0; i < 100 && address.empty(); ++i, pause_ms(50))
        address = trimmed(read_whole_file(address_file));
    ASSERT_FALSE(address.empty()) << "dbus-daemon gave no address";
    for (int size : {128, 1024}) {
        const pid_t writer = start_endless_writer();
        const HostRun host =
            parse_answers(run_command(environment + "DBUS_SESSION_BUS_ADDRESS='" + address + "' /usr/bin/python3 '" +
                                      hosts_driver + "' tumbler " + std::to_string(size) + " '" + dir + "/pictures'" + files()));
        kill(writer, SIGKILL);
        waitpid(writer, nullptr, 0);
        expect_pictures_and_refusals(host, size, "tumbler at " + std::to_string(size));
        ASSERT_GT(host.tumblerd, 0) << host.err;
        if (size == 1024) {
            // The service ends with its bus, and leaves none of its temporary files.
            stop_process(bus);
            for (int i = 0; i < 100 && kill(host.tumblerd, 0) == 0; ++i)
                pause_ms(50);
            EXPECT_NE(kill(host.tumblerd, 0), 0) << "tumblerd still runs";
        }
    }
    EXPECT_EQ(left_in_tmp("tumbler-"), before);
}

TEST_F(InstalledPackage, TheDesktopKnowsTheFormatByContentAndItsEntryIsValid)
{
    const struct {
        const char* name;
        const char* text;
        const char* type;
    } cases[] = {
        {"bunny.m", "# Made by a scanner\nVertex 1  -0.0378297 0.12794 0.00447467\n", "model/x-vertex-face-mesh"},
        {"strict.m", "Vertex 1 0 0 0 {normal=(0 0 1)}\nVertex 2 1 0 0 {normal=(0 0 1)}\n", "model/x-vertex-face-mesh"},
        {"main.m", "#import <Foundation/Foundation.h>\n@interface A : NSObject\n@end\n", "text/x-objcsrc"},
        {"f.m", "function y = f(x)\n  y = 2 * x;\nend\n", "text/x-matlab"},
        {"shaders", "Vertex shaders transform each vertex.\nFace culling removes the rest.\n", "text/plain"},
        {"blank_lines_first.m", "\n\nVertex 1 0 0 0\nVertex 2 1 0 0\n", "model/x-vertex-face-mesh"},
        {"corner_first.m", "Corner 1 1 {normal=(0 0 1)}\nVertex 1 0 0 0\n", "model/x-vertex-face-mesh"},
    };
    for (const auto& c : cases) {
        write_bytes(dir + "/" + c.name, c.text);
        const CommandRun run = run_command("gio info -a standard::content-type '" + dir + "/" + c.name + "'");
        EXPECT_NE(run.out.find(std::string("standard::content-type: ") + c.type + "\n"), std::string::npos)
            << c.name << ": " << run.out;
    }
    const CommandRun valid = run_command("desktop-file-validate /usr/share/applications/olvanta.desktop");
    EXPECT_EQ(valid.status, 0) << valid.out << valid.err;
    EXPECT_EQ(valid.out, "");
}

// A double click: gio open with our entry as the default. What can be shown is shown whole and in
// view, with no notice; what cannot be shown is named in a desktop notice, on a session bus of the
// test's own whose notification service records it.
TEST_F(InstalledPackage, GioOpenShowsTheFileInTheViewerWhenOurEntryIsTheDefault)
{
    const std::string config = dir + "/config";
    mkdir(config.c_str(), 0700);
    SessionBus bus = start_session_bus(dir, source_dir + "/tests/desktop/notification_recorder.py");
    const SessionBusStopper stopper{bus};
    ASSERT_FALSE(bus.address.empty()) << "no private session bus with the notification recorder";
    const std::string environment = "HOME='" + home + "' XDG_CONFIG_HOME='" + config + "' DBUS_SESSION_BUS_ADDRESS='" +
                                    bus.address + "' ";
    for (const char* type : {"model/x-vertex-face-mesh", "model/obj", "model/stl"}) {
        const CommandRun set = run_command(environment + "xdg-mime default olvanta.desktop " + type);
        ASSERT_EQ(set.status, 0) << set.err;
        EXPECT_EQ(trimmed(run_command(environment + "xdg-mime query default " + type).out), "olvanta.desktop");
    }
    TorusPlace far;
    far.across = 160, far.centre[0] = 380;
    write_bytes(dir + "/far.obj", torus_text(TorusForm::obj, far));
    write_bytes(dir + "/broken.stl", "solid x\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0");
    const XServer server = start_xvfb();
    ASSERT_GT(server.pid, 0) << server.failure;
    Display* display = XOpenDisplay(server.display_name.c_str());
    ASSERT_NE(display, nullptr);
    for (const char* file : {"torus.m", "cube.obj", "far.obj"}) {
        const std::string path = dir + "/" + file;
        const CommandRun opened =
            run_command(environment + "DISPLAY=" + server.display_name + " gio open '" + path + "'");
        EXPECT_EQ(opened.status, 0) << file << ": " << opened.err;
        const Window window = find_window(display, "Olvanta", 20000);
        ASSERT_NE(window, 0u) << file << ": no viewer window";
        const Image picture = settled_picture(display, window);
        EXPECT_GT(count_colour(picture, mesh_red, 60), 200) << file << ": the mesh is drawn, in view";
        // The viewer was started by gio for this file; it is ended by its command line.
        EXPECT_EQ(run_command("pkill -f -- '[o]lvanta-open " + path + "'").status, 0) << file;
        for (int i = 0; i < 100 && !viewable_windows_named(display, "Olvanta").empty(); ++i)
            pause_ms(50);
        EXPECT_TRUE(viewable_windows_named(display, "Olvanta").empty()) << file;
    }
    EXPECT_EQ(read_whole_file(bus.record), "") << "no notice for a file that was shown";
    const CommandRun damaged =
        run_command(environment + "DISPLAY=" + server.display_name + " gio open '" + dir + "/broken.stl'");
    EXPECT_EQ(damaged.status, 0) << damaged.err;
    std::string said;
    for (int i = 0; i < 200 && said.empty(); ++i, pause_ms(50))
        said = read_whole_file(bus.record);
    const Notice notice = notice_from(first_line(said));
    EXPECT_EQ(unlike_our_notices(notice), "") << said;
    EXPECT_EQ(notice.summary(), "Olvanta cannot show broken.stl");
    EXPECT_EQ(notice.body().rfind("cannot read '" + dir + "/broken.stl' as a mesh: ", 0), 0u) << said;
    EXPECT_TRUE(viewable_windows_named(display, "Olvanta").empty()) << "no empty window for a file not shown";
    XCloseDisplay(display);
    stop_process(server.pid);
}

// Last: the package goes, and with it everything the desktop knew of it.
TEST_F(InstalledPackage, RemovingThePackageTakesItsFilesOutOfTheDesktop)
{
    const CommandRun listing = run_command("dpkg-deb -c '" + deb + "' | awk '{ print $6 }' | sed 's|^\\.||'");
    const CommandRun removed = run_command(removal);
    ASSERT_EQ(removed.status, 0) << removed.out << removed.err;
    std::istringstream paths(listing.out);
    int files = 0;
    for (std::string path; std::getline(paths, path);) {
        struct stat info {};
        if (path.empty() || path.back() == '/')
            continue;
        ++files;
        EXPECT_NE(lstat(path.c_str(), &info), 0) << path << " is still there";
    }
    EXPECT_GE(files, 15);
    const CommandRun type = run_command("gio info -a standard::content-type '" + dir + "/torus.m'");
    EXPECT_NE(type.out.find("standard::content-type: text/x-objcsrc"), std::string::npos) << type.out;
    const HostRun host = parse_answers(run_command("HOME='" + home + "' XDG_CACHE_HOME='" + dir +
                                                   "/cache-after' /usr/bin/python3 '" + hosts_driver + "' gnome 256 '" +
                                                   dir + "/pictures' '" + dir + "/torus.m'"));
    ASSERT_EQ(host.answers.count("torus.m"), 1u) << host.err;
    EXPECT_EQ(host.answers.at("torus.m").message, "the factory has no thumbnailer for it");
}

} // namespace
