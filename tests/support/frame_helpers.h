// Expected call streams shared by the frame, handler and start-up tests.
#pragma once

#include <GL/glut.h>

#include <vector>

#include "app/viewer_state.h"
#include "gl_recorder.h"
#include "mesh/mesh_store.h"

inline std::vector<GlCall> operator+(std::vector<GlCall> a, const std::vector<GlCall>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Puts the program-wide state back to what it is when the program starts.
inline void reset_program_state(MeshStore mesh = {})
{
    viewer_state = ViewerState{};
    mesh_store = std::move(mesh);
    reset_gl_recorder();
}

// The 82 grid lines: 41 along Y, then 41 along X, 0.5 apart from -10 to 10.
inline std::vector<GlCall> ground_calls()
{
    std::vector<GlCall> calls{call("glColor3ub", {150, 150, 150}), call("glBegin", {GL_LINES})};
    for (int i = 0; i <= 40; ++i)
        calls = calls + std::vector<GlCall>{call("glVertex2f", {-10 + 0.5 * i, -10}),
                                            call("glVertex2f", {-10 + 0.5 * i, 10})};
    for (int i = 0; i <= 40; ++i)
        calls = calls + std::vector<GlCall>{call("glVertex2f", {-10, -10 + 0.5 * i}),
                                            call("glVertex2f", {10, -10 + 0.5 * i})};
    return calls + std::vector<GlCall>{call("glEnd")};
}

inline std::vector<GlCall> axes_calls()
{
    return {call("glBegin", {GL_LINES}),
            call("glColor3f", {0, 0, 1}), call("glVertex3f", {0, 0, 0}), call("glVertex3f", {1, 0, 0}),
            call("glColor3f", {0, 1, 0}), call("glVertex3f", {0, 0, 0}), call("glVertex3f", {0, 1, 0}),
            call("glColor3f", {1, 1, 0}), call("glVertex3f", {0, 0, 0}), call("glVertex3f", {0, 0, 1}),
            call("glEnd")};
}

struct Box {
    double x0, y0, z0, x1, y1, z1; // min corner, max corner
};

// The twelve edges in the viewer's fixed order.
inline std::vector<GlCall> box_calls(const Box& b)
{
    const double corners[12][6] = {
        {b.x0, b.y0, b.z0, b.x1, b.y0, b.z0}, {b.x1, b.y0, b.z0, b.x1, b.y0, b.z1},
        {b.x1, b.y0, b.z1, b.x0, b.y0, b.z1}, {b.x0, b.y0, b.z1, b.x0, b.y0, b.z0},
        {b.x0, b.y0, b.z0, b.x0, b.y1, b.z0}, {b.x0, b.y1, b.z0, b.x0, b.y1, b.z1},
        {b.x0, b.y1, b.z1, b.x0, b.y0, b.z1}, {b.x0, b.y1, b.z1, b.x1, b.y1, b.z1},
        {b.x1, b.y1, b.z1, b.x1, b.y0, b.z1}, {b.x1, b.y1, b.z1, b.x1, b.y1, b.z0},
        {b.x1, b.y1, b.z0, b.x1, b.y0, b.z0}, {b.x0, b.y1, b.z0, b.x1, b.y1, b.z0}};
    std::vector<GlCall> calls{call("glLineWidth", {1}), call("glBegin", {GL_LINES}),
                              call("glColor3f", {0.5, 0.5, 1})};
    for (const auto& e : corners)
        calls = calls + std::vector<GlCall>{call("glVertex3d", {e[0], e[1], e[2]}),
                                            call("glVertex3d", {e[3], e[4], e[5]})};
    return calls + std::vector<GlCall>{call("glEnd")};
}
