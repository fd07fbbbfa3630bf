// olvanta-thumbnail run as a file manager runs it from a plain shell: the pictures it makes of each
// kind of file, their look at every size, and its refusals, each within its time and memory with
// nothing left behind.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <png.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <chrono>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "scratch_folder.h"
#include "test_files.h"
#include "torus_texts.h"

namespace {

const std::string thumbnailer = OLVANTA_THUMBNAIL_PATH;
const std::string generator = OLVANTA_GENERATOR_PATH;

struct TimedRun {
    int status = -1; // exit status, or 128 + the signal
    std::string err;
    double seconds = 0;
    long max_rss_kib = 0; // of the thumbnailer itself
};

TimedRun run_timed(const std::string& command)
{
    const std::string err = write_temporary_file("");
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(err.c_str(), O_WRONLY);
        dup2(fd, STDERR_FILENO);
        execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    TimedRun run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.max_rss_kib = usage.ru_maxrss;
    run.err = read_whole_file(err);
    unlink(err.c_str());
    return run;
}

struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned char> rgba;
    unsigned char alpha(int x, int y) const { return rgba[std::size_t(y * width + x) * 4 + 3]; }
};

bool read_rgba(const std::string& path, Picture& picture)
{
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str()))
        return false;
    png.format = PNG_FORMAT_RGBA;
    picture.rgba.resize(PNG_IMAGE_SIZE(png));
    picture.width = int(png.width);
    picture.height = int(png.height);
    return png_image_finish_read(&png, nullptr, picture.rgba.data(), 0, nullptr) != 0;
}

struct Cover {
    double fraction = 0; // of the pixels, weighted by alpha
    int left = 0, right = -1, top = 0, bottom = -1;
};

Cover cover_of(const Picture& picture)
{
    Cover cover;
    cover.left = picture.width, cover.top = picture.height;
    double sum = 0;
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            const int a = picture.alpha(x, y);
            sum += a / 255.0;
            if (a > 0) {
                cover.left = std::min(cover.left, x), cover.right = std::max(cover.right, x);
                cover.top = std::min(cover.top, y), cover.bottom = std::max(cover.bottom, y);
            }
        }
    cover.fraction = sum / (picture.width * picture.height);
    return cover;
}

// The picture shrunk to `size` by averaging, alpha only: for comparing looks across sizes.
std::vector<double> alpha_at(const Picture& picture, int size)
{
    const int factor = picture.width / size;
    std::vector<double> small(std::size_t(size * size), 0);
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x)
            small[std::size_t((y / factor) * size + x / factor)] += picture.alpha(x, y) / 255.0 / (factor * factor);
    return small;
}

double mean_difference(const std::vector<double>& a, const std::vector<double>& b)
{
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        sum += std::fabs(a[i] - b[i]);
    return sum / double(a.size());
}

class Thumbnailer : public testing::Test {
protected:
    void SetUp() override
    {
        dir = temporary_directory();
        write_bytes(dir + "/torus.m", run_command("'" + generator + "' 48 24").out);
        // The same torus as its makers often write it: no normals, for the converter to make.
        write_bytes(dir + "/raw.m", run_command("sed 's/ {normal=([^)]*)}//' '" + dir + "/torus.m'").out);
        write_bytes(dir + "/cube.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0 0 1\nv 1 0 1\nv 1 1 1\nv 0 1 1\n"
                                       "f 1 4 3 2\nf 5 6 7 8\nf 1 2 6 5\nf 2 3 7 6\nf 3 4 8 7\nf 4 1 5 8\n");
        std::string stl = "solid tet\n";
        const char* facets[] = {"0 0 0 0 1 0 1 0 0", "0 0 0 1 0 0 0 0 1", "0 0 0 0 0 1 0 1 0", "1 0 0 0 1 0 0 0 1"};
        const char* normals[] = {"0 0 -1", "0 -1 0", "-1 0 0", "0.57735 0.57735 0.57735"};
        for (int f = 0; f < 4; ++f) {
            std::istringstream numbers(facets[f]);
            stl += std::string("facet normal ") + normals[f] + "\nouter loop\n";
            for (int corner = 0; corner < 3; ++corner) {
                double x, y, z;
                numbers >> x >> y >> z;
                stl += "vertex " + std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(z) + "\n";
            }
            stl += "endloop\nendfacet\n";
        }
        write_bytes(dir + "/tet.stl", stl + "endsolid tet\n");
        inputs = directory_entries(dir);
    }

    void TearDown() override { remove_directory(dir); }

    TimedRun thumbnail(const std::string& input, const std::string& output, int size)
    {
        return run_timed("'" + thumbnailer + "' -s " + std::to_string(size) + " '" + dir + "/" + input + "' '" + dir +
                         "/" + output + "'");
    }

    std::string dir;
    std::vector<std::string> inputs;
};

TEST_F(Thumbnailer, PicturesEveryKindOfFileWholeAndFillingTheSquare)
{
    for (const char* input : {"torus.m", "raw.m", "cube.obj", "tet.stl"}) {
        const TimedRun run = thumbnail(input, "out.png", 256);
        ASSERT_EQ(run.status, 0) << input << ": " << run.err;
        EXPECT_EQ(run.err, "") << input;
        Picture picture;
        ASSERT_TRUE(read_rgba(dir + "/out.png", picture)) << input;
        ASSERT_EQ(picture.width, 256);
        ASSERT_EQ(picture.height, 256);
        const Cover cover = cover_of(picture);
        // A one-point mesh would cover nothing; these cover a good part of the square.
        EXPECT_GT(cover.fraction, 0.2) << input;
        const int width = cover.right - cover.left + 1, height = cover.bottom - cover.top + 1;
        EXPECT_GE(std::max(width, height), 256 * 0.88) << input << ": fills the square";
        EXPECT_LE(std::max(width, height), 256 * 0.92) << input << ": within its margin";
        EXPECT_NEAR((cover.left + cover.right) / 2.0, 127.5, 3) << input << ": centred";
        EXPECT_NEAR((cover.top + cover.bottom) / 2.0, 127.5, 3) << input << ": centred";
        EXPECT_EQ(picture.alpha(0, 0), 0) << input << ": transparent ground";
        EXPECT_EQ(directory_entries(dir).size(), inputs.size() + 1);
    }
}

// Of the pixels drawn, the share near black: darker than 90 in every channel.
double dark_share(const Picture& picture)
{
    std::size_t drawn = 0, dark = 0;
    for (std::size_t i = 0; i < picture.rgba.size(); i += 4) {
        if (picture.rgba[i + 3] == 0)
            continue;
        ++drawn;
        dark += picture.rgba[i] < 90 && picture.rgba[i + 1] < 90 && picture.rgba[i + 2] < 90;
    }
    return drawn ? double(dark) / double(drawn) : 1.0;
}

std::string normals_turned_round(const std::string& text)
{
    std::string turned;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t open = line.find("{normal=(");
        if (open != std::string::npos) {
            std::istringstream numbers(line.substr(open + 9));
            double x, y, z;
            numbers >> x >> y >> z;
            line = line.substr(0, open) + "{normal=(" + torus_number(-x) + " " + torus_number(-y) + " " +
                   torus_number(-z) + ")}";
        }
        turned += line + "\n";
    }
    return turned;
}

// A bowl whose inside, which the first angle looks into, faces away from the light.
std::string bowl()
{
    const double pi = 3.14159265358979323846;
    std::string text;
    const int rings = 20, around = 40;
    for (int i = 0; i <= rings; ++i)
        for (int j = 0; j < around; ++j) {
            const double t = pi / 2 * i / rings, p = 2 * pi * j / around;
            text += "Vertex " + std::to_string(i * around + j + 1) + " " + torus_number(std::sin(t) * std::cos(p)) + " " +
                    torus_number(std::sin(t) * std::sin(p)) + " " + torus_number(-std::cos(t)) + "\n";
        }
    int face = 0;
    for (int i = 0; i < rings; ++i)
        for (int j = 0; j < around; ++j) {
            const int a = i * around + j + 1, b = i * around + (j + 1) % around + 1, c = b + around, d = a + around;
            text += "Face " + std::to_string(++face) + " " + std::to_string(a) + " " + std::to_string(b) + " " +
                    std::to_string(c) + "\n";
            text += "Face " + std::to_string(++face) + " " + std::to_string(a) + " " + std::to_string(c) + " " +
                    std::to_string(d) + "\n";
        }
    return text;
}

// Every surface that can be seen reads at a glance, whichever way its faces are wound, its normals
// point, or it lies to the light.
TEST_F(Thumbnailer, EveryVisibleSurfaceReadsAtAGlance)
{
    const std::string strict = torus_text(TorusForm::strict, TorusPlace{});
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"torus.m", strict},
        {"wound-inward.m", wound_inward(torus_text(TorusForm::raw_family, TorusPlace{}))},
        {"normals-turned-round.m", normals_turned_round(strict)},
        {"bowl.m", bowl()},
    };
    for (const auto& c : cases) {
        write_bytes(dir + "/" + c.name, c.text);
        for (const int size : {128, 512}) {
            const TimedRun run = thumbnail(c.name, "out.png", size);
            ASSERT_EQ(run.status, 0) << c.name << ": " << run.err;
            Picture picture;
            ASSERT_TRUE(read_rgba(dir + "/out.png", picture));
            EXPECT_GT(cover_of(picture).fraction, 0.2) << c.name;
            EXPECT_LE(dark_share(picture), 0.10) << c.name << " at " << size;
        }
    }
}

// Wound the other way, a model looks as it does wound outward: its faces' other sides are lit
// as their fronts are, by the same lights.
TEST_F(Thumbnailer, AModelWoundInwardLooksAsItDoesWoundOutward)
{
    const std::string raw = torus_text(TorusForm::raw_family, TorusPlace{});
    write_bytes(dir + "/outward.m", raw);
    write_bytes(dir + "/inward.m", wound_inward(raw));
    ASSERT_EQ(thumbnail("outward.m", "outward.png", 256).status, 0);
    ASSERT_EQ(thumbnail("inward.m", "inward.png", 256).status, 0);
    Picture outward, inward;
    ASSERT_TRUE(read_rgba(dir + "/outward.png", outward));
    ASSERT_TRUE(read_rgba(dir + "/inward.png", inward));
    double difference = 0;
    std::size_t drawn = 0;
    for (std::size_t i = 0; i < outward.rgba.size(); i += 4) {
        if (outward.rgba[i + 3] == 0 && inward.rgba[i + 3] == 0)
            continue;
        ++drawn;
        for (std::size_t c = 0; c < 4; ++c)
            difference += std::abs(int(outward.rgba[i + c]) - int(inward.rgba[i + c]));
    }
    ASSERT_GT(drawn, 1000u);
    EXPECT_LT(difference / double(4 * drawn), 2.0) << "mean difference per channel of the drawn pixels, of 255";
}

// A file in the viewer's form for its first megabyte and not after: the thumbnail is the whole
// file's, as the converter reads it, never the viewer's reading of its start.
TEST_F(Thumbnailer, PicturesTheWholeFileNotItsStart)
{
    for (const char* kind : {"quads", "no normals"}) {
        write_bytes(dir + "/late.m", strict_megabyte_then(kind));
        const CommandRun copy = run_command("'" + std::string(OLVANTA_CONVERT_PATH) + "' '" + dir + "/late.m' '" + dir +
                                            "/copy.txt'");
        ASSERT_EQ(copy.status, 0) << copy.err;
        ASSERT_EQ(thumbnail("late.m", "late.png", 256).status, 0) << kind;
        ASSERT_EQ(thumbnail("copy.txt", "copy.png", 256).status, 0) << kind;
        Picture late, converted;
        ASSERT_TRUE(read_rgba(dir + "/late.png", late));
        ASSERT_TRUE(read_rgba(dir + "/copy.png", converted));
        EXPECT_TRUE(late.rgba == converted.rgba) << kind << ": pixel for pixel";
    }
}

TEST_F(Thumbnailer, LooksTheSameAtEverySizeAHostAsksFor)
{
    std::vector<double> smallest;
    for (int size : {128, 256, 512, 1024}) {
        ASSERT_EQ(thumbnail("torus.m", "out.png", size).status, 0) << size;
        Picture picture;
        ASSERT_TRUE(read_rgba(dir + "/out.png", picture));
        ASSERT_EQ(picture.width, size);
        const std::vector<double> look = alpha_at(picture, 128);
        if (smallest.empty())
            smallest = look;
        EXPECT_LT(mean_difference(look, smallest), 0.01) << size;
    }
}

TEST_F(Thumbnailer, AModelInMillimetresFarFromTheOriginLooksAsItDoesAtTheOrigin)
{
    // The torus 1000 times smaller and 50,000 of its sizes off: the viewer's first view shows
    // nothing of it. (The file's numbers are single precision, so it cannot lie much further off.)
    const CommandRun moved = run_command("awk -v CONVFMT=%.12g '$1 == \"Vertex\" { $3 = $3 / 1000 + 50; "
                                         "$4 = $4 / 1000 - 30; $5 = $5 / 1000 + 2 } { print }' '" + dir + "/torus.m'");
    ASSERT_EQ(moved.status, 0);
    write_bytes(dir + "/far.m", moved.out);
    ASSERT_EQ(thumbnail("torus.m", "near.png", 256).status, 0);
    const TimedRun far = thumbnail("far.m", "far.png", 256);
    ASSERT_EQ(far.status, 0) << far.err;
    Picture near_picture, far_picture;
    ASSERT_TRUE(read_rgba(dir + "/near.png", near_picture));
    ASSERT_TRUE(read_rgba(dir + "/far.png", far_picture));
    EXPECT_LT(mean_difference(alpha_at(near_picture, 128), alpha_at(far_picture, 128)), 0.01);
}

TEST_F(Thumbnailer, RefusesWithinTenSecondsAndOneGibibyteAndWritesNothing)
{
    write_bytes(dir + "/sparse.m", "Vertex 1 0 0 0 {normal=(0 0 1)}\n");
    ASSERT_EQ(truncate((dir + "/sparse.m").c_str(), 10LL << 30), 0);
    write_bytes(dir + "/sparse-raw.m", "Vertex 1 0 0 0\n");
    ASSERT_EQ(truncate((dir + "/sparse-raw.m").c_str(), 10LL << 30), 0);
    std::string noise;
    for (int i = 0; i < 100000; ++i)
        noise += char((i * 7919 + i / 13) & 0xff);
    write_bytes(dir + "/damaged.stl", "solid x\nfacet normal 0 0 1\nouter loop\nvertex 0 0 " + noise);
    write_bytes(dir + "/noise.m", noise);
    write_bytes(dir + "/points.m", "Vertex 1 0 0 0 {normal=(0 0 1)}\nVertex 2 1 0 0 {normal=(0 0 1)}\n");
    write_bytes(dir + "/one-point.m", "Vertex 1 2 2 2 {normal=(0 0 1)}\nFace 1 1 1 1\n");
    // A whole torus that the reader must give up on after it: a picture of the part read would
    // pass for the file's.
    write_bytes(dir + "/cut-short.m",
                read_whole_file(dir + "/torus.m") + "Vertex 9999 0 0 " + std::string(std::size_t(2) << 20, '7') + "\n");
    mkfifo((dir + "/endless.m").c_str(), 0600);
    mkfifo((dir + "/silent.m").c_str(), 0600);
    // The endless one never stops writing records; the silent one is held open and says nothing.
    const pid_t endless = fork();
    if (endless == 0) {
        execl("/bin/sh", "sh", "-c", ("yes 'Vertex 1 0 0 0 {normal=(0 0 1)}' > '" + dir + "/endless.m'").c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    const pid_t silent = fork();
    if (silent == 0) {
        execl("/bin/sh", "sh", "-c", ("exec sleep 60 > '" + dir + "/silent.m'").c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    const struct {
        const char* input;
        double most_seconds;
    } cases[] = {
        {"sparse.m", 1},  {"sparse-raw.m", 1}, {"damaged.stl", 10}, {"noise.m", 10},
        {"points.m", 10}, {"one-point.m", 10}, {"endless.m", 10},    {"silent.m", 10},
        {"cut-short.m", 10},
    };
    for (const auto& c : cases) {
        const TimedRun run = thumbnail(c.input, "out.png", 256);
        EXPECT_EQ(run.status, 1) << c.input << ": " << run.err;
        EXPECT_NE(run.err.find("olvanta-thumbnail: no thumbnail of '" + dir + "/" + c.input + "'"), std::string::npos)
            << c.input << ": " << run.err;
        EXPECT_LT(run.seconds, c.most_seconds) << c.input;
        EXPECT_LT(run.max_rss_kib, 1L << 20) << c.input;
        EXPECT_EQ(access((dir + "/out.png").c_str(), F_OK), -1) << c.input << ": nothing written";
    }
    kill(endless, SIGKILL);
    kill(silent, SIGKILL);
    waitpid(endless, nullptr, 0);
    waitpid(silent, nullptr, 0);
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    EXPECT_LT(children.ru_maxrss, 1L << 20) << "no converter either took more";
}

TEST_F(Thumbnailer, NeedsNoDisplayNoHomeAndWritesNothingElse)
{
    const std::string home = dir + "/home";
    mkdir(home.c_str(), 0700);
    const TimedRun bare = run_timed("env -i '" + thumbnailer + "' '" + dir + "/raw.m' '" + dir + "/bare.png'");
    EXPECT_EQ(bare.status, 0) << bare.err;
    const TimedRun at_home = run_timed("env -i HOME='" + home + "' DISPLAY=:99 '" + thumbnailer + "' '" + dir +
                                       "/torus.m' '" + dir + "/home.png'");
    EXPECT_EQ(at_home.status, 0) << at_home.err;
    EXPECT_EQ(directory_entries(home), std::vector<std::string>{}) << "no cache, no settings";
    Picture picture;
    EXPECT_TRUE(read_rgba(dir + "/bare.png", picture));
    EXPECT_EQ(picture.width, 256);
}

TEST_F(Thumbnailer, KilledItLeavesNothing)
{
    mkfifo((dir + "/silent.m").c_str(), 0600);
    const int held = open((dir + "/silent.m").c_str(), O_RDWR); // a writer that never writes
    write_bytes(dir + "/made-by-host.png", "");
    for (const char* output : {"new.png", "made-by-host.png"}) {
        const pid_t pid = fork();
        if (pid == 0) {
            execl(thumbnailer.c_str(), thumbnailer.c_str(), (dir + "/silent.m").c_str(), (dir + "/" + output).c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        usleep(300000);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    close(held);
    EXPECT_EQ(directory_entries(dir), (std::vector<std::string>{"cube.obj", "made-by-host.png", "raw.m", "silent.m",
                                                                "tet.stl", "torus.m"}));
    EXPECT_EQ(read_whole_file(dir + "/made-by-host.png"), "");
}

// Started with the picture's writing stalled half way (the stalled_picture library): the pid,
// once the output holds the half picture, or -1.
pid_t start_stalled(const std::string& input, const std::string& output)
{
    int told[2];
    if (pipe(told) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        close(told[0]);
        setenv("LD_PRELOAD", OLVANTA_STALLED_PICTURE, 1);
        setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
        setenv("OLVANTA_STALL_REPORT_FD", std::to_string(told[1]).c_str(), 1);
        execl(thumbnailer.c_str(), thumbnailer.c_str(), input.c_str(), output.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(told[1]);
    char said[8] = {};
    const bool begun = read(told[0], said, 6) == 6 && std::string(said) == "begun\n";
    close(told[0]);
    if (!begun) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return -1;
    }
    return pid;
}

off_t size_of(int fd)
{
    struct stat info {};
    return fstat(fd, &info) == 0 ? info.st_size : -1;
}

// A host's empty file is written into; should the thumbnailer be ended while it writes, by a
// signal or by its own deadline, the host reads back nothing rather than half a picture.
TEST_F(Thumbnailer, EndedWhileFillingTheHostsFileLeavesItEmptyAgain)
{
    const struct {
        const char* how;
        int signal; // 0: the deadline ends it
        int status;
    } endings[] = {
        {"SIGTERM", SIGTERM, 128 + SIGTERM},
        {"SIGINT", SIGINT, 128 + SIGINT},
        {"SIGHUP", SIGHUP, 128 + SIGHUP},
        {"the deadline", 0, 1},
    };
    for (const auto& e : endings) {
        const std::string output = dir + "/made-by-host.png";
        write_bytes(output, "");
        const int host = open(output.c_str(), O_RDONLY);
        const pid_t pid = start_stalled(dir + "/torus.m", output);
        ASSERT_GT(pid, 0) << e.how;
        EXPECT_GT(size_of(host), 0) << e.how << ": half a picture is in the file while it is written";
        if (e.signal)
            kill(pid, e.signal);
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), e.status) << e.how;
        EXPECT_EQ(size_of(host), 0) << e.how << ": the host reads nothing";
        EXPECT_EQ(directory_entries(dir).size(), inputs.size() + 1) << e.how << ": nothing else is left";
        close(host);
        unlink(output.c_str());
    }
}

// A new picture ended half way is never named: nothing is left, whatever ended it.
TEST_F(Thumbnailer, EndedWhileWritingANewPictureLeavesNothing)
{
    for (const int signal_number : {SIGTERM, SIGINT}) {
        const pid_t pid = start_stalled(dir + "/torus.m", dir + "/new.png");
        ASSERT_GT(pid, 0);
        kill(pid, signal_number);
        waitpid(pid, nullptr, 0);
        EXPECT_EQ(directory_entries(dir), inputs) << strsignal(signal_number);
    }
}

uid_t nobody_uid()
{
    const passwd* nobody = getpwnam("nobody");
    return nobody ? nobody->pw_uid : uid_t(-1);
}

// Only this user's own empty file with a single name is filled in place; any other empty file
// is replaced, so no picture is written where another user, or another name, can reach it. The
// held descriptor is the file's maker (or its other owner) reading it back.
TEST_F(Thumbnailer, FillsOnlyItsOwnEmptyFileWithASingleName)
{
    ASSERT_EQ(geteuid(), 0u) << "a second user is needed: these cases run as root";
    chmod(dir.c_str(), 0755);
    const std::string shared = dir + "/shared";
    mkdir(shared.c_str(), 0755);
    chmod(shared.c_str(), 01777); // as /tmp is
    const std::string as_nobody = "setpriv --reuid=nobody --regid=nogroup --clear-groups -- ";
    const struct {
        const char* what;
        uid_t owner;
        bool second_name;
        std::string run_as;
        int status;
        bool filled; // the held file gets the picture
    } cases[] = {
        {"its own file", 0, false, "", 0, true},
        {"its own file with a second name", 0, true, "", 0, false},
        {"another user's file", nobody_uid(), false, "", 0, false},
        {"another user's file, run as nobody", 0, false, as_nobody, 1, false},
    };
    for (const auto& c : cases) {
        const std::string output = shared + "/out.png", other_name = dir + "/other-name.png";
        write_bytes(output, "");
        chmod(output.c_str(), 0666);
        ASSERT_EQ(chown(output.c_str(), c.owner, c.owner == 0 ? 0 : gid_t(65534)), 0) << c.what;
        if (c.second_name) {
            ASSERT_EQ(link(output.c_str(), other_name.c_str()), 0);
        }
        const int held = open(output.c_str(), O_RDONLY);
        const TimedRun run = run_timed(c.run_as + "'" + thumbnailer + "' '" + dir + "/torus.m' '" + output + "'");
        EXPECT_EQ(run.status, c.status) << c.what << ": " << run.err;
        EXPECT_EQ(size_of(held) > 0, c.filled) << c.what;
        if (c.second_name) {
            EXPECT_EQ(read_whole_file(other_name), "") << c.what << ": the other name";
        }
        Picture picture;
        EXPECT_EQ(read_rgba(output, picture), c.status == 0) << c.what << ": a picture under the name";
        EXPECT_EQ(directory_entries(shared), std::vector<std::string>{"out.png"}) << c.what;
        close(held);
        unlink(output.c_str());
        unlink(other_name.c_str());
    }
}

} // namespace
