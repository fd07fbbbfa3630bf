// The real viewer under a private Xvfb: its windows found and read back, XTest input, pixel
// probes and the programs the tests start.
#include "x_harness.h"

#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "test_files.h"

namespace {

using Clock = std::chrono::steady_clock;

int x_errors = 0;

// A window can vanish between two requests; the caller sees an empty picture and tries again.
int count_x_error(Display*, XErrorEvent*)
{
    ++x_errors;
    return 0;
}

struct MenuWindow {
    int x, y, width, height;
    Window id;
};

std::vector<MenuWindow> open_menus(Display* display)
{
    std::vector<MenuWindow> menus;
    for (Window menu : viewable_windows_named(display, "freeglut menu")) {
        XWindowAttributes a;
        if (XGetWindowAttributes(display, menu, &a))
            menus.push_back({a.x, a.y, a.width, a.height, menu});
    }
    return menus;
}

// A busy machine maps a menu late, not never: the limit is only for a menu that never comes.
const int menu_wait_ms = 15000;

bool wait_for_main_menu(Display* display, MenuWindow& menu)
{
    const auto start = Clock::now();
    while (before_deadline(start, menu_wait_ms)) {
        const std::vector<MenuWindow> menus = open_menus(display);
        if (!menus.empty()) {
            menu = menus.front();
            return true;
        }
        pause_ms(30);
    }
    return false;
}

// Entries are equally tall inside a two-pixel border.
int entry_height(const MenuWindow& menu, int entries)
{
    return (menu.height - 4) / entries;
}

int entry_centre_y(const MenuWindow& menu, int entries, int index)
{
    return menu.y + 2 + entry_height(menu, entries) * index + entry_height(menu, entries) / 2;
}

// The sub-menu of the main menu's entry `index`. The pointer passed over other entries on its way,
// and on a busy machine the toolkit may leave the sub-menu of one it passed open beside it; it
// opens each sub-menu beside the main menu, level with its entry, which tells them apart.
bool wait_for_sub_menu(Display* display, const MenuWindow& main_menu, int index, MenuWindow& sub)
{
    const int entry_top = main_menu.y + 2 + entry_height(main_menu, 5) * index;
    const auto start = Clock::now();
    while (before_deadline(start, menu_wait_ms)) {
        for (const MenuWindow& menu : open_menus(display))
            if (menu.id != main_menu.id && std::abs(menu.y - entry_top) < entry_height(main_menu, 5) / 2) {
                sub = menu;
                return true;
            }
        pause_ms(30);
    }
    return false;
}

int pointer_x = 0, pointer_y = 0;

// The band of a menu's picture that one entry takes.
Image entry_band(Display* display, const MenuWindow& menu, int entries, int index)
{
    const Image whole = capture(display, menu.id);
    Image band;
    const int entry_height = (menu.height - 4) / entries;
    const int top = 2 + entry_height * index;
    band.width = whole.width;
    band.height = whole.width > 0 ? entry_height : 0;
    for (int y = top; y < top + band.height && y < whole.height; ++y)
        for (int x = 0; x < whole.width; ++x)
            band.pixels.push_back(whole.at(x, y));
    return band;
}

// The toolkit draws its menus grey on grey (0.7) and the entry under the pointer on white.
const Rgb highlighted_entry{255, 255, 255};

// Moves onto an entry and waits until the menu shows it highlighted: a click before the menu
// has taken the motion in would choose whatever it last highlighted, or nothing.
bool move_onto_entry(Display* display, const MenuWindow& menu, int entries, int index, int x)
{
    move_pointer(display, x, entry_centre_y(menu, entries, index));
    const auto start = Clock::now();
    while (before_deadline(start, 10000)) {
        const Image band = entry_band(display, menu, entries, index);
        if (band.width > 0 && count_colour(band, highlighted_entry, 3) > band.width * band.height / 2)
            return true;
        pause_ms(20);
    }
    return false;
}

// After a choice the menus close; until they have, the window's picture may hold them.
bool wait_until_menus_close(Display* display)
{
    const auto start = Clock::now();
    while (before_deadline(start, 10000)) {
        if (open_menus(display).empty())
            return true;
        pause_ms(20);
    }
    return false;
}

} // namespace

bool colour_near(const Image& image, int x, int y, Rgb wanted, int radius, int tolerance)
{
    for (int dy = -radius; dy <= radius; ++dy)
        for (int dx = -radius; dx <= radius; ++dx) {
            const int px = x + dx, py = y + dy;
            if (px >= 0 && py >= 0 && px < image.width && py < image.height &&
                near_colour(image.at(px, py), wanted, tolerance))
                return true;
        }
    return false;
}

int count_colour(const Image& image, Rgb wanted, int tolerance)
{
    int count = 0;
    for (const Rgb& p : image.pixels)
        count += near_colour(p, wanted, tolerance) ? 1 : 0;
    return count;
}

namespace {

double mean_coordinate_of_colour(const Image& image, Rgb wanted, int tolerance, bool use_x)
{
    double sum = 0;
    int count = 0;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            if (near_colour(image.at(x, y), wanted, tolerance)) {
                sum += use_x ? x : y;
                ++count;
            }
    return count ? sum / count : -1;
}

} // namespace

double mean_x_of_colour(const Image& image, Rgb wanted, int tolerance)
{
    return mean_coordinate_of_colour(image, wanted, tolerance, true);
}

double mean_y_of_colour(const Image& image, Rgb wanted, int tolerance)
{
    return mean_coordinate_of_colour(image, wanted, tolerance, false);
}

void move_pointer(Display* display, int root_x, int root_y)
{
    const int steps = std::max(1, std::max(std::abs(root_x - pointer_x), std::abs(root_y - pointer_y)) / 6);
    for (int i = 1; i <= steps; ++i) {
        XTestFakeMotionEvent(display, -1, pointer_x + (root_x - pointer_x) * i / steps,
                             pointer_y + (root_y - pointer_y) * i / steps, CurrentTime);
        XFlush(display);
        pause_ms(8);
    }
    pointer_x = root_x;
    pointer_y = root_y;
    XSync(display, False);
}

void press_button(Display* display, unsigned button)
{
    XTestFakeButtonEvent(display, button, True, CurrentTime);
    XSync(display, False);
    pause_ms(30);
}

void release_button(Display* display, unsigned button)
{
    XTestFakeButtonEvent(display, button, False, CurrentTime);
    XSync(display, False);
    pause_ms(30);
}

void hold_key(Display* display, unsigned long keysym, bool down)
{
    XTestFakeKeyEvent(display, XKeysymToKeycode(display, keysym), down ? True : False, CurrentTime);
    XSync(display, False);
    pause_ms(30);
}

void drag(Display* display, unsigned button, int x0, int y0, int x1, int y1)
{
    move_pointer(display, x0, y0);
    press_button(display, button);
    move_pointer(display, x1, y1);
    release_button(display, button);
}

void drag_in_one_motion(Display* display, unsigned button, int x0, int y0, int x1, int y1)
{
    move_pointer(display, x0, y0);
    press_button(display, button);
    XTestFakeMotionEvent(display, -1, x1, y1, CurrentTime);
    XSync(display, False);
    pointer_x = x1;
    pointer_y = y1;
    pause_ms(50);
    release_button(display, button);
}

bool choose_menu_entry(Display* display, int x, int y, int main_index, int sub_index)
{
    move_pointer(display, x, y);
    // The button is let go once the menu shows, as a hand would: a busy toolkit may otherwise
    // take the release for a choice made before its menu was up.
    press_button(display, 3);
    MenuWindow main_menu{};
    const bool opened = wait_for_main_menu(display, main_menu);
    release_button(display, 3);
    if (!opened || !move_onto_entry(display, main_menu, 5, main_index, main_menu.x + 20))
        return false;
    if (sub_index >= 0) {
        MenuWindow sub{};
        if (!wait_for_sub_menu(display, main_menu, main_index, sub))
            return false;
        const int entries = (sub.height - 4) / entry_height(main_menu, 5);
        move_pointer(display, sub.x + 20, entry_centre_y(main_menu, 5, main_index));
        if (!move_onto_entry(display, sub, entries, sub_index, sub.x + 20))
            return false;
    }
    press_button(display, 3);
    release_button(display, 3);
    return wait_until_menus_close(display);
}

ViewerRun launch_viewer(const std::string& display_name, const std::string& typed, const std::string& program)
{
    const std::string viewer = program.empty() ? viewer_path() : program;
    ViewerRun run;
    run.out_path = write_temporary_file("");
    run.err_path = write_temporary_file("");
    const std::string input = write_temporary_file(typed);
    const int input_fd = open(input.c_str(), O_RDONLY);
    unlink(input.c_str());
    run.pid = fork();
    if (run.pid == 0) {
        dup2(input_fd, 0);
        dup2(open(run.out_path.c_str(), O_WRONLY), 1);
        dup2(open(run.err_path.c_str(), O_WRONLY), 2);
        setenv("DISPLAY", display_name.c_str(), 1);
        setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
        execl(viewer.c_str(), viewer.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(input_fd);
    return run;
}

std::string window_name(Display* display, Window window)
{
    char* name = nullptr;
    std::string result;
    if (XFetchName(display, window, &name) && name) {
        result = name;
        XFree(name);
    }
    return result;
}

std::vector<Window> viewable_windows_named(Display* display, const std::string& title)
{
    Window root_return, parent;
    Window* children = nullptr;
    unsigned count = 0;
    std::vector<Window> found;
    XQueryTree(display, DefaultRootWindow(display), &root_return, &parent, &children, &count);
    for (unsigned i = 0; i < count; ++i) {
        XWindowAttributes a;
        if (window_name(display, children[i]) == title && XGetWindowAttributes(display, children[i], &a) &&
            a.map_state == IsViewable)
            found.push_back(children[i]);
    }
    if (children)
        XFree(children);
    return found;
}

Window find_window(Display* display, const std::string& title, int timeout_ms)
{
    const auto start = Clock::now();
    do {
        const std::vector<Window> windows = viewable_windows_named(display, title);
        if (!windows.empty())
            return windows.front();
        pause_ms(50);
    } while (before_deadline(start, timeout_ms));
    return 0;
}

Image capture(Display* display, Window window)
{
    XSetErrorHandler(count_x_error);
    XWindowAttributes a;
    Image image;
    if (!XGetWindowAttributes(display, window, &a) || a.map_state != IsViewable)
        return image;
    XImage* x_image = XGetImage(display, window, 0, 0, unsigned(a.width), unsigned(a.height), AllPlanes, ZPixmap);
    if (!x_image)
        return image;
    image.width = a.width;
    image.height = a.height;
    image.pixels.reserve(std::size_t(a.width) * std::size_t(a.height));
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) {
            const unsigned long p = XGetPixel(x_image, x, y);
            image.pixels.push_back({int((p >> 16) & 0xff), int((p >> 8) & 0xff), int(p & 0xff)});
        }
    XDestroyImage(x_image);
    return image;
}

// Software rendering on a loaded machine can pause half way through a frame; a picture counts as
// settled once it has stood still over two intervals.
Image settled_picture(Display* display, Window window, const Image* before, int timeout_ms)
{
    const auto start = Clock::now();
    Image last = capture(display, window);
    int unchanged = 0;
    while (before_deadline(start, timeout_ms)) {
        pause_ms(150);
        Image now = capture(display, window);
        const bool changed_from_before = !before || !(now == *before);
        unchanged = now == last && now.width > 0 ? unchanged + 1 : 0;
        if (unchanged >= 2 && changed_from_before)
            return now;
        last = std::move(now);
    }
    return last;
}

Image wait_for_first_frame(Display* display, Window window, Rgb background_colour)
{
    for (int attempt = 0; attempt < 40; ++attempt) {
        Image image = settled_picture(display, window);
        if (image.width > 0 && near_colour(image.at(2, 2), background_colour, 2))
            return image;
    }
    return Image{};
}

std::string viewer_path()
{
    return OLVANTA_VIEWER_PATH;
}

std::string generator_path()
{
    return OLVANTA_GENERATOR_PATH;
}

std::string make_torus_file(double major_radius, double minor_radius, int rings, int sides)
{
    const std::string path = write_temporary_file("");
    const std::string command = generator_path() + " " + std::to_string(rings) + " " +
                                std::to_string(sides) + " " + std::to_string(major_radius) + " " +
                                std::to_string(minor_radius) + " > " + path;
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "could not generate %s\n", path.c_str());
    return path;
}

bool save_ppm(const Image& image, const std::string& path)
{
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << image.width << " " << image.height << "\n255\n";
    for (const Rgb& p : image.pixels)
        out << char(p.r) << char(p.g) << char(p.b);
    return bool(out);
}
