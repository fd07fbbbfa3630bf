// Tori written as the tests need them: in the viewer's form, as another writer of the family
// writes (names, no normals), or as OBJ; of any size and anywhere, as CAD exports and scans lie.
#pragma once

#include <cmath>
#include <cstdio>
#include <algorithm>
#include <string>

enum class TorusForm { strict, raw_family, obj };

struct TorusPlace {
    double across = 2.7;              // the outer diameter
    double centre[3] = {0, 0, 0};
    int rings = 24, sides = 12;
};

inline std::string torus_number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.7g", value);
    return text;
}

// Faces of the same torus wound the other way, so that its outside faces inward.
inline std::string wound_inward(const std::string& text)
{
    std::string turned;
    for (std::size_t at = 0, end; at < text.size(); at = end + 1) {
        end = std::min(text.find('\n', at), text.size());
        std::string line = text.substr(at, end - at);
        const std::size_t last = line.rfind(' '), before = line.rfind(' ', last - 1);
        if ((line.rfind("Face ", 0) == 0 || line.rfind("f ", 0) == 0) && before != std::string::npos)
            line = line.substr(0, before) + " " + line.substr(last + 1) + " " + line.substr(before + 1, last - before - 1);
        turned += line + "\n";
    }
    return turned;
}

inline std::string torus_text(TorusForm form, const TorusPlace& place)
{
    const double pi = 3.14159265358979323846, r = place.across / 2 * 0.26, R = place.across / 2 - r;
    std::string text = form == TorusForm::raw_family ? "# written by a scanner, without normals\n" : "";
    auto name = [&](int i) { return form == TorusForm::raw_family ? 10 * i + 3 : i; };
    for (int i = 0; i < place.rings; ++i)
        for (int j = 0; j < place.sides; ++j) {
            const double u = 2 * pi * i / place.rings, v = 2 * pi * j / place.sides;
            const double p[3] = {(R + r * std::cos(v)) * std::cos(u), (R + r * std::cos(v)) * std::sin(u), r * std::sin(v)};
            const std::string xyz = torus_number(p[0] + place.centre[0]) + " " + torus_number(p[1] + place.centre[1]) +
                                    " " + torus_number(p[2] + place.centre[2]);
            const int number = i * place.sides + j + 1;
            if (form == TorusForm::obj)
                text += "v " + xyz + "\n";
            else if (form == TorusForm::raw_family)
                text += "Vertex " + std::to_string(name(number)) + " " + xyz + "\n";
            else
                text += "Vertex " + std::to_string(number) + " " + xyz + " {normal=(" +
                        torus_number(std::cos(v) * std::cos(u)) + " " + torus_number(std::cos(v) * std::sin(u)) + " " +
                        torus_number(std::sin(v)) + ")}\n";
        }
    int face = 0;
    for (int i = 0; i < place.rings; ++i)
        for (int j = 0; j < place.sides; ++j) {
            const int a = i * place.sides + j + 1, b = ((i + 1) % place.rings) * place.sides + j + 1,
                      c = ((i + 1) % place.rings) * place.sides + (j + 1) % place.sides + 1,
                      d = i * place.sides + (j + 1) % place.sides + 1;
            const int triangles[2][3] = {{a, b, c}, {a, c, d}};
            for (const auto& t : triangles) {
                const std::string corners = std::to_string(name(t[0])) + " " + std::to_string(name(t[1])) + " " +
                                            std::to_string(name(t[2]));
                text += form == TorusForm::obj ? "f " + corners + "\n" : "Face " + std::to_string(++face) + " " + corners + "\n";
            }
        }
    return text;
}

// A strict torus of more than a megabyte, then records the viewer cannot read exactly: quads
// ("quads"), or Vertex lines without their normal part and the triangles through them.
inline std::string strict_megabyte_then(const std::string& tail_kind)
{
    TorusPlace big;
    big.rings = 170;
    big.sides = 60;
    std::string text = torus_text(TorusForm::strict, big);
    const int first = big.rings * big.sides + 1;
    int face = 2 * big.rings * big.sides;
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j) {
            const std::string xyz = std::to_string(-1 + 0.4 * i) + " " + std::to_string(-1 + 0.4 * j) + " 0.5";
            text += tail_kind == "quads" ? "Vertex " + std::to_string(first + i * 5 + j) + " " + xyz + " {normal=(0 0 1)}\n"
                                         : "Vertex " + std::to_string(first + i * 5 + j) + " " + xyz + "\n";
        }
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            const int a = first + i * 5 + j, b = a + 5, c = a + 6, d = a + 1;
            if (tail_kind == "quads")
                text += "Face " + std::to_string(++face) + " " + std::to_string(a) + " " + std::to_string(b) + " " +
                        std::to_string(c) + " " + std::to_string(d) + "\n";
            else
                text += "Face " + std::to_string(++face) + " " + std::to_string(a) + " " + std::to_string(b) + " " +
                        std::to_string(c) + "\n";
        }
    return text;
}
