// Pictures drawn by the viewer's frame code in a GLUT window like the viewer's, read back with
// glReadPixels. Nothing but the viewer's own calls touches the frame.
#include "picture_window.h"

#include <GL/freeglut.h>

#include <vector>

#include "render/frame_state.h"
#include "render/display.h"

namespace {

int window = 0;
bool shown = false;

// The window's first expose: it is on the screen and its viewport set.
void display_when_shown()
{
    display();
    shown = true;
}

} // namespace

void open_picture_window(const std::string& display_name, int size)
{
    std::string program = "olvanta-snapshot", option = "-display", name = display_name;
    char* argv[] = {program.data(), option.data(), name.data(), nullptr};
    int argc = 3;
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGB | GLUT_SINGLE | GLUT_DEPTH);
    glutInitWindowSize(size, size);
    glutInitWindowPosition(0, 0);
    window = glutCreateWindow("Olvanta");
    set_clear_colour();
    glutDisplayFunc(display_when_shown);
    set_up_light();
    while (!shown)
        glutMainLoopEvent();
}

void settle_frame()
{
    display();
}

Image draw_picture(int size)
{
    display();
    glFinish();
    std::vector<unsigned char> rows(std::size_t(size) * std::size_t(size) * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, size, size, GL_RGB, GL_UNSIGNED_BYTE, rows.data());
    Image image;
    image.width = image.height = size;
    image.pixels.reserve(std::size_t(size) * std::size_t(size));
    // GL counts rows from the bottom, pictures from the top.
    for (int y = size - 1; y >= 0; --y)
        for (int x = 0; x < size; ++x) {
            const unsigned char* p = &rows[(std::size_t(y) * std::size_t(size) + std::size_t(x)) * 3];
            image.pixels.push_back({p[0], p[1], p[2]});
        }
    return image;
}

void close_picture_window()
{
    glutDestroyWindow(window);
    glutExit();
}
