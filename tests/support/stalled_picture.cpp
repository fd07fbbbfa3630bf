// Loaded into olvanta-thumbnail with LD_PRELOAD: the picture is begun (its signature and the start
// of its first chunk reach the output) and never finished, and the test is told on the descriptor
// OLVANTA_STALL_REPORT_FD, so it can end the thumbnailer while the output is half written.
#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

extern "C" int png_image_write_to_stdio(png_imagep, FILE* file, int, const void*, png_int_32, const void*)
{
    static const unsigned char begun[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    std::fwrite(begun, 1, sizeof begun, file);
    std::fflush(file);
    const char* report = std::getenv("OLVANTA_STALL_REPORT_FD");
    if (report && write(std::atoi(report), "begun\n", 6) != 6)
        _exit(3);
    for (;;)
        pause();
}
