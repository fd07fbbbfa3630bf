// A stand-in for the GL, GLU and GLUT functions the viewer calls. Linked in place of the real
// libraries, it records every call with its arguments so tests can assert the exact stream.
#pragma once

#include <ostream>
#include <string>
#include <vector>

struct GlCall {
    std::string name;
    std::vector<double> args; // numbers and enums, widened exactly; arrays are spread out
    std::string text;         // string arguments and callback identities

    bool operator==(const GlCall& other) const
    {
        return name == other.name && args == other.args && text == other.text;
    }
};

void PrintTo(const GlCall& call, std::ostream* out);

GlCall call(const std::string& name, std::vector<double> args = {}, std::string text = "");

template <typename Function>
std::string callback_text(Function* function)
{
    return "callback@" + std::to_string(reinterpret_cast<unsigned long long>(function));
}

// Everything the double has seen and what it will answer.
struct GlRecorder {
    std::vector<GlCall> calls;
    int modifiers = 0;        // what glutGetModifiers answers
    int next_window_id = 1;   // what glutCreateWindow answers next
    int next_menu_id = 1;     // what glutCreateMenu answers next
};

extern GlRecorder gl_recorder;

void reset_gl_recorder();

// Calls with this name, in order.
std::vector<GlCall> calls_named(const std::string& name);
