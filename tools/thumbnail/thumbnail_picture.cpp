// The viewer's own light and face drawing; only the view and the ground differ from its window.
#include "thumbnail_picture.h"

#include <GL/gl.h>

#include "app/viewer_state.h"
#include "render/draw_mesh.h"
#include "render/frame_state.h"

namespace {

const int largest_drawing = 4096;

RgbaPicture read_back(int size)
{
    RgbaPicture picture;
    picture.size = size;
    picture.rgba.resize(std::size_t(size) * std::size_t(size) * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, size, size, GL_RGBA, GL_UNSIGNED_BYTE, picture.rgba.data());
    // GL's rows run from the bottom up.
    const std::size_t row = std::size_t(size) * 4;
    for (std::size_t top = 0, bottom = std::size_t(size) - 1; top < bottom; ++top, --bottom)
        for (std::size_t i = 0; i < row; ++i)
            std::swap(picture.rgba[top * row + i], picture.rgba[bottom * row + i]);
    return picture;
}

// The viewer's light comes from one side only, and a face turned from it, or seen from behind,
// takes only the dark red of the ambient light on the default material: a model wound the other
// way, or facing away from the light, would be a black shape. Both sides of a face are lit, and
// the material takes more of the ambient light, so whatever the eye sees reads in the viewer's
// red while the viewer's light still gives the shape its modelling. More lights would cost the
// software rasteriser more to compile than the whole confinement of the process.
const GLfloat ambient_taken[4] = {0.7f, 0.7f, 0.7f, 1.0f};

void light_every_visible_side()
{
    glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, GL_TRUE);
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, ambient_taken);
}

} // namespace

int drawing_scale(int size)
{
    return size * 2 <= largest_drawing ? 2 : 1;
}

RgbaPicture draw_thumbnail(const ThumbnailView& view, int size)
{
    const int drawn = size * drawing_scale(size);
    glViewport(0, 0, drawn, drawn);
    glClearColor(0, 0, 0, 0);
    glEnable(GL_DEPTH_TEST);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    set_up_light();
    light_every_visible_side();
    set_thumbnail_matrices(view);
    // Files give normals of any length; the picture should not depend on it.
    glEnable(GL_NORMALIZE);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    viewer_state.display_mode = 2;
    draw_shaded();
    glFinish();
    return shrink(read_back(drawn), drawing_scale(size));
}

RgbaPicture shrink(const RgbaPicture& large, int factor)
{
    RgbaPicture small;
    small.size = large.size / factor;
    small.rgba.resize(std::size_t(small.size) * std::size_t(small.size) * 4);
    const std::size_t cells = std::size_t(factor) * std::size_t(factor);
    for (int y = 0; y < small.size; ++y)
        for (int x = 0; x < small.size; ++x) {
            unsigned weighted[3] = {0, 0, 0}, cover = 0;
            for (int dy = 0; dy < factor; ++dy)
                for (int dx = 0; dx < factor; ++dx) {
                    const unsigned char* p = &large.rgba[(std::size_t(y * factor + dy) * std::size_t(large.size) +
                                                          std::size_t(x * factor + dx)) * 4];
                    for (int c = 0; c < 3; ++c)
                        weighted[c] += unsigned(p[c]) * p[3];
                    cover += p[3];
                }
            unsigned char* out = &small.rgba[(std::size_t(y) * std::size_t(small.size) + std::size_t(x)) * 4];
            for (int c = 0; c < 3; ++c)
                out[c] = static_cast<unsigned char>(cover ? (weighted[c] + cover / 2) / cover : 0);
            out[3] = static_cast<unsigned char>((cover + cells / 2) / cells);
        }
    return small;
}

std::size_t covered_pixels(const RgbaPicture& picture)
{
    std::size_t count = 0;
    for (std::size_t i = 3; i < picture.rgba.size(); i += 4)
        count += picture.rgba[i] != 0;
    return count;
}
