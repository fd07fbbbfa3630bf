// Recording definitions of the GL, GLU and GLUT entry points that the viewer uses.
#include "gl_recorder.h"

#include <GL/glut.h>

#include <cstdio>

GlRecorder gl_recorder;

void reset_gl_recorder()
{
    gl_recorder = GlRecorder{};
}

GlCall call(const std::string& name, std::vector<double> args, std::string text)
{
    return GlCall{name, std::move(args), std::move(text)};
}

std::vector<GlCall> calls_named(const std::string& name)
{
    std::vector<GlCall> found;
    for (const GlCall& c : gl_recorder.calls)
        if (c.name == name)
            found.push_back(c);
    return found;
}

void PrintTo(const GlCall& c, std::ostream* out)
{
    *out << c.name << "(";
    for (std::size_t i = 0; i < c.args.size(); ++i) {
        char number[32];
        std::snprintf(number, sizeof number, "%.17g", c.args[i]);
        *out << (i ? ", " : "") << number;
    }
    if (!c.text.empty())
        *out << (c.args.empty() ? "" : ", ") << '"' << c.text << '"';
    *out << ")\n";
}

namespace {

void record(const char* name, std::vector<double> args = {}, std::string text = "")
{
    gl_recorder.calls.push_back(GlCall{name, std::move(args), std::move(text)});
}

std::vector<double> four(const GLfloat* values)
{
    return {values[0], values[1], values[2], values[3]};
}

} // namespace

extern "C" {

void glEnable(GLenum cap) { record("glEnable", {double(cap)}); }
void glDisable(GLenum cap) { record("glDisable", {double(cap)}); }
void glClear(GLbitfield mask) { record("glClear", {double(mask)}); }
void glClearColor(GLclampf r, GLclampf g, GLclampf b, GLclampf a) { record("glClearColor", {r, g, b, a}); }
void glMatrixMode(GLenum mode) { record("glMatrixMode", {double(mode)}); }
void glLoadIdentity() { record("glLoadIdentity"); }
void glOrtho(GLdouble l, GLdouble r, GLdouble b, GLdouble t, GLdouble n, GLdouble f) { record("glOrtho", {l, r, b, t, n, f}); }
void glRotatef(GLfloat angle, GLfloat x, GLfloat y, GLfloat z) { record("glRotatef", {angle, x, y, z}); }
void glScalef(GLfloat x, GLfloat y, GLfloat z) { record("glScalef", {x, y, z}); }
void glTranslatef(GLfloat x, GLfloat y, GLfloat z) { record("glTranslatef", {x, y, z}); }
void glLineWidth(GLfloat width) { record("glLineWidth", {width}); }
void glShadeModel(GLenum mode) { record("glShadeModel", {double(mode)}); }
void glBegin(GLenum mode) { record("glBegin", {double(mode)}); }
void glEnd() { record("glEnd"); }
void glColor3f(GLfloat r, GLfloat g, GLfloat b) { record("glColor3f", {r, g, b}); }
void glColor3ub(GLubyte r, GLubyte g, GLubyte b) { record("glColor3ub", {double(r), double(g), double(b)}); }
void glVertex2f(GLfloat x, GLfloat y) { record("glVertex2f", {x, y}); }
void glVertex3f(GLfloat x, GLfloat y, GLfloat z) { record("glVertex3f", {x, y, z}); }
void glVertex3d(GLdouble x, GLdouble y, GLdouble z) { record("glVertex3d", {x, y, z}); }
void glNormal3f(GLfloat x, GLfloat y, GLfloat z) { record("glNormal3f", {x, y, z}); }
void glFlush() { record("glFlush"); }
void glLightfv(GLenum light, GLenum name, const GLfloat* values)
{
    std::vector<double> args{double(light), double(name)};
    for (double v : four(values))
        args.push_back(v);
    record("glLightfv", args);
}
void glLightModelfv(GLenum name, const GLfloat* values)
{
    std::vector<double> args{double(name)};
    for (double v : four(values))
        args.push_back(v);
    record("glLightModelfv", args);
}

void gluPerspective(GLdouble fovy, GLdouble aspect, GLdouble near_plane, GLdouble far_plane)
{
    record("gluPerspective", {fovy, aspect, near_plane, far_plane});
}
void gluLookAt(GLdouble ex, GLdouble ey, GLdouble ez, GLdouble cx, GLdouble cy, GLdouble cz,
               GLdouble ux, GLdouble uy, GLdouble uz)
{
    record("gluLookAt", {ex, ey, ez, cx, cy, cz, ux, uy, uz});
}

void glutInit(int* argc, char** argv)
{
    std::string words;
    for (int i = 0; i < *argc; ++i)
        words += (i ? " " : "") + std::string(argv[i]);
    record("glutInit", {double(*argc)}, words);
}
void glutInitDisplayMode(unsigned int mode) { record("glutInitDisplayMode", {double(mode)}); }
void glutInitWindowSize(int w, int h) { record("glutInitWindowSize", {double(w), double(h)}); }
void glutInitWindowPosition(int x, int y) { record("glutInitWindowPosition", {double(x), double(y)}); }
int glutCreateWindow(const char* title)
{
    record("glutCreateWindow", {}, title);
    return gl_recorder.next_window_id++;
}
void glutDestroyWindow(int window) { record("glutDestroyWindow", {double(window)}); }
void glutDisplayFunc(void (*callback)()) { record("glutDisplayFunc", {}, callback_text(callback)); }
void glutMouseFunc(void (*callback)(int, int, int, int)) { record("glutMouseFunc", {}, callback_text(callback)); }
void glutMotionFunc(void (*callback)(int, int)) { record("glutMotionFunc", {}, callback_text(callback)); }
void glutMainLoop() { record("glutMainLoop"); }
void glutSwapBuffers() { record("glutSwapBuffers"); }
void glutPostRedisplay() { record("glutPostRedisplay"); }
int glutGetModifiers()
{
    record("glutGetModifiers");
    return gl_recorder.modifiers;
}
int glutCreateMenu(void (*callback)(int))
{
    record("glutCreateMenu", {}, callback_text(callback));
    return gl_recorder.next_menu_id++;
}
void glutAddMenuEntry(const char* label, int value) { record("glutAddMenuEntry", {double(value)}, label); }
void glutAddSubMenu(const char* label, int menu) { record("glutAddSubMenu", {double(menu)}, label); }
void glutAttachMenu(int button) { record("glutAttachMenu", {double(button)}); }

} // extern "C"
