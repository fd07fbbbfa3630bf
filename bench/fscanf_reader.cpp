// The reading loop the format was first read with: one character, then fscanf with the record's
// format. Kept as the benchmark's baseline and the tests' second oracle.
#include "fscanf_reader.h"

MeshStore fscanf_read_stream(std::FILE* in)
{
    MeshStore mesh;
    for (int c = std::fgetc(in); c != EOF; c = std::fgetc(in)) {
        if (c == 'F') {
            int id, a, b, d;
            if (std::fscanf(in, "ace %d %d %d %d\n", &id, &a, &b, &d) == 4)
                mesh.faces.push_back({a - 1, b - 1, d - 1});
        } else if (c == 'V') {
            int id;
            float x, y, z, nx, ny, nz;
            if (std::fscanf(in, "ertex %d %f %f %f {normal=(%f %f %f)}\n", &id, &x, &y, &z, &nx, &ny, &nz) == 7)
                mesh.vertices.push_back({x, y, z, nx, ny, nz});
        } else if (c != '\n') {
            while (c != EOF && c != '\n')
                c = std::fgetc(in);
        }
    }
    return mesh;
}
