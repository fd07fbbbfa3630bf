// Reading olvanta-snapshot's command line, and turning it into the viewer's state.
#include "snapshot_options.h"

#include <cmath>
#include <cstdlib>
#include <vector>

#include "mesh/shown_text.h"


namespace {

bool one_of(const std::string& word, std::initializer_list<const char*> choices, int& code)
{
    int i = 0;
    for (const char* choice : choices) {
        if (word == choice) {
            code = i;
            return true;
        }
        ++i;
    }
    return false;
}

bool number(const std::string& text, double lowest, double highest, double& value)
{
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && std::isfinite(value) && value >= lowest && value <= highest;
}

bool whole_number(const std::string& text, int lowest, int highest, int& value)
{
    double read = 0;
    if (!number(text, lowest, highest, read) || read != std::floor(read))
        return false;
    value = static_cast<int>(read);
    return true;
}

// A scale above 0, as the viewer's zoom always is.
bool positive_number(const std::string& text, float& into)
{
    double value = 0;
    if (!number(text, 0, 1e6, value) || static_cast<float>(value) <= 0)
        return false;
    into = static_cast<float>(value);
    return true;
}

std::vector<std::string> split(const std::string& text)
{
    std::vector<std::string> parts{""};
    for (char c : text)
        if (c == ',')
            parts.emplace_back();
        else
            parts.back() += c;
    return parts;
}

bool three_numbers(const std::string& text, double limit, float (&into)[3])
{
    const std::vector<std::string> parts = split(text);
    if (parts.size() != 3)
        return false;
    for (int k = 0; k < 3; ++k) {
        double value = 0;
        if (!number(parts[std::size_t(k)], -limit, limit, value))
            return false;
        into[k] = static_cast<float>(value);
    }
    return true;
}

bool guides_to_hide(const std::string& text, SnapshotOptions& o)
{
    for (const std::string& guide : split(text)) {
        if (guide == "ground")
            o.hide_ground = true;
        else if (guide == "axes")
            o.hide_axes = true;
        else if (guide == "box")
            o.hide_box = true;
        else
            return false;
    }
    return true;
}

// One option and its value; the reason says what was wrong with it.
bool take_option(const std::string& option, const std::string& value, SnapshotOptions& o, std::string& reason)
{
    bool ok = false;
    if (option == "--style")
        ok = one_of(value, {"wireframe", "flat", "smooth"}, o.display_mode);
    else if (option == "--lighting")
        ok = one_of(value, {"off", "on"}, o.lighting);
    else if (option == "--projection")
        ok = one_of(value, {"perspective", "orthogonal"}, o.projection);
    else if (option == "--hide")
        ok = guides_to_hide(value, o);
    else if (option == "--turn")
        ok = three_numbers(value, 360, o.turn);
    else if (option == "--pan")
        ok = three_numbers(value, 1e6, o.pan);
    else if (option == "--zoom")
        ok = positive_number(value, o.zoom);
    else if (option == "--turntable")
        ok = whole_number(value, 1, 3600, o.turntable);
    else if (option == "--size")
        ok = whole_number(value, 16, 4096, o.size);
    else if (option == "--time-limit")
        ok = whole_number(value, 1, 86400, o.seconds);
    else {
        reason = "unknown option " + option;
        return false;
    }
    if (!ok)
        reason = "wrong value " + quoted_name(value) + " for " + option;
    return ok;
}

bool takes_a_value(const std::string& word)
{
    for (const char* option : {"--style", "--lighting", "--projection", "--hide", "--turn", "--pan", "--zoom",
                               "--turntable", "--size", "--time-limit"})
        if (word == option)
            return true;
    return false;
}

} // namespace

bool parse_snapshot_options(int argc, char** argv, SnapshotOptions& o, std::string& reason)
{
    std::vector<std::string> names;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--help" || word == "--version" || word == "--can-open-display" || word == "--fit") {
            (word == "--help" ? o.help : word == "--version" ? o.version : word == "--fit" ? o.fit : o.can_open_display) = true;
        } else if (takes_a_value(word)) {
            if (i + 1 == argc) {
                reason = word + " needs a value";
                return false;
            }
            if (!take_option(word, argv[++i], o, reason))
                return false;
        } else if (word.size() > 1 && word[0] == '-') {
            reason = "unknown option " + shown(word);
            return false;
        } else {
            names.push_back(word);
        }
    }
    if (o.help || o.version || o.can_open_display)
        return true;
    if (names.size() != 2) {
        reason = "a mesh and a picture to write are needed";
        return false;
    }
    o.mesh = names[0];
    o.picture = names[1];
    return true;
}

ViewerState state_for_frame(const SnapshotOptions& o, int frame)
{
    ViewerState v;
    v.display_mode = o.display_mode;
    v.lighting = o.lighting;
    v.projection = o.projection;
    v.show_ground = o.hide_ground ? 0 : 1;
    v.show_axes = o.hide_axes ? 0 : 1;
    v.show_bounding_box = o.hide_box ? 0 : 1;
    v.rot_x = o.turn[0];
    v.rot_y = o.turn[1];
    v.rot_z = o.turn[2];
    // Later frames turn on in equal steps, brought back into the viewer's -180 to 180 degrees.
    if (frame > 0)
        v.rot_z = static_cast<float>(std::remainder(double(o.turn[2]) + 360.0 * frame / o.turntable, 360.0));
    v.zoom = o.zoom;
    v.pan_x = o.pan[0];
    v.pan_y = o.pan[1];
    v.pan_z = o.pan[2];
    return v;
}

std::string picture_path(const SnapshotOptions& o, int frame)
{
    if (o.turntable == 0)
        return o.picture;
    std::string number = std::to_string(frame + 1);
    const std::size_t width = std::max<std::size_t>(3, std::to_string(o.turntable).size());
    number.insert(0, width - number.size(), '0');
    const std::string& out = o.picture;
    const bool png = out.size() > 4 && out.compare(out.size() - 4, 4, ".png") == 0;
    return png ? out.substr(0, out.size() - 4) + "-" + number + ".png" : out + "-" + number;
}

int picture_count(const SnapshotOptions& o)
{
    return o.turntable == 0 ? 1 : o.turntable;
}
