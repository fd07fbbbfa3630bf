// Pictures as 8-bit RGB PNG files, through libpng's simplified interface.
#include "png_file.h"

#include <png.h>

#include <cstdio>
#include <vector>

bool write_png(const Image& image, std::FILE* out)
{
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = png_uint_32(image.width);
    png.height = png_uint_32(image.height);
    png.format = PNG_FORMAT_RGB;
    std::vector<png_byte> bytes;
    bytes.reserve(image.pixels.size() * 3);
    for (const Rgb& p : image.pixels) {
        bytes.push_back(png_byte(p.r));
        bytes.push_back(png_byte(p.g));
        bytes.push_back(png_byte(p.b));
    }
    return png_image_write_to_stdio(&png, out, 0, bytes.data(), 0, nullptr) != 0;
}

bool read_png(const std::string& path, Image& image)
{
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str()))
        return false;
    png.format = PNG_FORMAT_RGB;
    std::vector<png_byte> bytes(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, bytes.data(), 0, nullptr))
        return false;
    image.width = int(png.width);
    image.height = int(png.height);
    image.pixels.clear();
    for (std::size_t i = 0; i + 2 < bytes.size(); i += 3)
        image.pixels.push_back({bytes[i], bytes[i + 1], bytes[i + 2]});
    return true;
}

bool write_rgba_png(int width, int height, const unsigned char* rgba, std::FILE* out)
{
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = png_uint_32(width);
    png.height = png_uint_32(height);
    png.format = PNG_FORMAT_RGBA;
    return png_image_write_to_stdio(&png, out, 0, rgba, 0, nullptr) != 0;
}
