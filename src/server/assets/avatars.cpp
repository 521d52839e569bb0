#include "server/assets/avatars.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "common/bytes.h"

namespace zk::server {

namespace {

// --- Figures -----------------------------------------------------------------
//
// A figure is nested clumps, one per joint: each clump's Tag is its joint
// number, its Translate places the joint's pivot relative to its parent's,
// and its box is given relative to that pivot. The figure stands with its
// feet at y = 0 and faces +z. Units are world units (1 = 10 m): about 1.8 m
// tall.

struct Rgb {
    float r, g, b;
};

struct Part {
    int joint;         // the joint table's number
    int parent;        // index in the part list, -1 for the root
    float px, py, pz;  // pivot relative to the parent's pivot
    float cx, cy, cz;  // the box's centre relative to the pivot
    float w, h, d;
    int colour;        // 0 skin, 1 shirt, 2 trousers, 3 shoes
};

// Right is -x (the figure faces +z, west is +x).
const Part kParts[] = {
    {1, -1, 0, 0.095f, 0, 0, 0.004f, 0, 0.036f, 0.016f, 0.02f, 2},        // pelvis
    {2, 0, 0, 0.008f, 0, 0, 0.024f, 0, 0.038f, 0.048f, 0.022f, 1},        // back
    {3, 1, 0, 0.048f, 0, 0, 0.003f, 0, 0.008f, 0.006f, 0.008f, 0},        // neck
    {4, 2, 0, 0.006f, 0, 0, 0.011f, 0.001f, 0.018f, 0.022f, 0.02f, 0},    // head
    {6, 1, -0.024f, 0.044f, 0, 0, -0.014f, 0, 0.01f, 0.03f, 0.01f, 1},    // rtshoulder
    {7, 4, 0, -0.03f, 0, 0, -0.013f, 0, 0.009f, 0.028f, 0.009f, 0},       // rtelbow
    {11, 1, 0.024f, 0.044f, 0, 0, -0.014f, 0, 0.01f, 0.03f, 0.01f, 1},    // lfshoulder
    {12, 6, 0, -0.03f, 0, 0, -0.013f, 0, 0.009f, 0.028f, 0.009f, 0},      // lfelbow
    {15, 0, -0.01f, 0, 0, 0, -0.022f, 0, 0.014f, 0.045f, 0.014f, 2},      // rthip
    {16, 8, 0, -0.045f, 0, 0, -0.021f, 0, 0.012f, 0.042f, 0.012f, 2},     // rtknee
    {17, 9, 0, -0.045f, 0, 0, 0.0025f, 0.005f, 0.012f, 0.005f, 0.024f, 3}, // rtankle
    {19, 0, 0.01f, 0, 0, 0, -0.022f, 0, 0.014f, 0.045f, 0.014f, 2},       // lfhip
    {20, 11, 0, -0.045f, 0, 0, -0.021f, 0, 0.012f, 0.042f, 0.012f, 2},    // lfknee
    {21, 12, 0, -0.045f, 0, 0, 0.0025f, 0.005f, 0.012f, 0.005f, 0.024f, 3}, // lfankle
};
constexpr int kPartCount = int(sizeof kParts / sizeof kParts[0]);

struct FigureLook {
    const char* name;
    Rgb colours[4];
};

const FigureLook kFigures[] = {
    {"ada", {{0.85f, 0.68f, 0.55f}, {0.15f, 0.35f, 0.85f}, {0.2f, 0.2f, 0.25f}, {0.1f, 0.08f, 0.05f}}},
    {"bo", {{0.55f, 0.38f, 0.26f}, {0.85f, 0.2f, 0.15f}, {0.3f, 0.25f, 0.2f}, {0.15f, 0.1f, 0.05f}}},
    {"cyd", {{0.95f, 0.8f, 0.7f}, {0.2f, 0.7f, 0.3f}, {0.75f, 0.7f, 0.6f}, {0.3f, 0.2f, 0.1f}}},
};

std::string fmt(const char* format, double a, double b, double c) {
    char line[96];
    std::snprintf(line, sizeof line, format, a, b, c);
    return line;
}

// A box as eight corners and six outward faces; indices count from 1 in
// each clump.
void box(std::string& out, const Part& p) {
    const float x0 = p.cx - p.w / 2, x1 = p.cx + p.w / 2, y0 = p.cy - p.h / 2, y1 = p.cy + p.h / 2,
                z0 = p.cz - p.d / 2, z1 = p.cz + p.d / 2;
    const float corners[8][3] = {{x0, y0, z0}, {x1, y0, z0}, {x1, y1, z0}, {x0, y1, z0},
                                 {x0, y0, z1}, {x1, y0, z1}, {x1, y1, z1}, {x0, y1, z1}};
    for (const auto& c : corners) out += fmt("Vertex %.4f %.4f %.4f\n", c[0], c[1], c[2]);
    out += "Quad 1 4 3 2\nQuad 5 6 7 8\nQuad 1 5 8 4\nQuad 2 3 7 6\nQuad 4 8 7 3\nQuad 1 2 6 5\n";
}

void part(std::string& out, const FigureLook& look, int index) {
    const Part& p = kParts[index];
    const Rgb& c = look.colours[p.colour];
    out += "ClumpBegin\nTag " + std::to_string(p.joint) + "\n";
    out += fmt("Translate %.4f %.4f %.4f\n", p.px, p.py, p.pz);
    out += fmt("Color %.2f %.2f %.2f\n", c.r, c.g, c.b);
    out += "Surface 0.6 0.5 0.1\n";
    box(out, p);
    for (int i = 0; i < kPartCount; ++i)
        if (kParts[i].parent == index) part(out, look, i);
    out += "ClumpEnd\n";
}

// --- Sequences ---------------------------------------------------------------
//
// Big-endian: a header (length in ms, keys a second), the joint tracks,
// each a list of 16-byte keys (time in ms, then a rotation quaternion w x y
// z relative to the rest pose) or 12-byte keys (a translation in world
// units), and no extra tracks.

void f32(std::string& out, float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    append_be32(out, bits);
}
void str(std::string& out, const std::string& s) {
    append_be16(out, uint16_t(s.size()));
    out += s;
}

struct Track {
    std::string joint;
    bool translation = false;
    // At a time in ms: a rotation angle in degrees about `axis`, or a translation.
    std::function<float(uint32_t)> value;
    float axis[3] = {1, 0, 0};
};

std::string sequence(const std::string& name, uint32_t length, uint32_t step, const std::vector<Track>& tracks) {
    std::string out;
    append_be32(out, length);
    append_be16(out, uint16_t(1000 / step));  // keys a second
    append_be32(out, uint32_t(tracks.size()));
    str(out, name);
    str(out, "zk figure");
    for (const Track& t : tracks) {
        str(out, t.joint);
        append_be32(out, t.translation ? 12 : 16);
        append_be32(out, length / step + 1);
        for (uint32_t ms = 0; ms <= length; ms += step) {
            append_be32(out, ms);
            const float v = t.value(ms);
            if (t.translation) {
                f32(out, 0), f32(out, v), f32(out, 0);
            } else {
                const float half = v * 3.14159265f / 360;
                f32(out, std::cos(half));
                for (float a : t.axis) f32(out, a * std::sin(half));
            }
        }
    }
    append_be32(out, 0);  // extra tracks
    return out;
}

// A wave of `amplitude` degrees over `period` ms, shifted by `phase` (0..1).
std::function<float(uint32_t)> swing(float amplitude, uint32_t period, float phase = 0, float offset = 0) {
    return [=](uint32_t ms) {
        return offset + amplitude * std::sin(6.2831853f * (float(ms % period) / float(period) + phase));
    };
}

// Rises from 0 to `peak` over the first quarter, holds, and falls over the last.
std::function<float(uint32_t)> lift(float peak, uint32_t length) {
    return [=](uint32_t ms) {
        const float u = float(ms) / float(length);
        const float up = std::min(1.0f, std::min(u, 1 - u) * 4);
        return peak * up;
    };
}

}  // namespace

std::string avatar_registry() {
    std::string out = "# animation registry version 0.3\n# The demo worlds' avatars.\nversion 3\n";
    for (const FigureLook& f : kFigures) {
        out += "avatar\n  name = " + std::string(f.name) + "\n  geometry = " + f.name + ".rwx\n";
        out += "  beginimp\n    walk = walk\n    wait = wait\n    endwait = stretch\n  endimp\n";
        out += "  beginexp\n    wave = wave\n    bow = bow\n  endexp\nendavatar\n";
    }
    return out;
}

std::map<std::string, std::string> avatar_figures() {
    std::map<std::string, std::string> out;
    for (const FigureLook& f : kFigures) {
        // An untagged outer clump takes the figure's place, so that the
        // pelvis turns about its own pivot.
        std::string text = "ModelBegin\nClumpBegin\n";
        part(text, f, 0);
        text += "ClumpEnd\nModelEnd\n";
        out[f.name] = text;
    }
    return out;
}

std::map<std::string, std::string> avatar_sequences() {
    std::map<std::string, std::string> out;
    // One stride a second: legs and arms swing against each other, the
    // knees bend on the way forward and the pelvis bobs twice.
    out["walk"] = sequence(
        "walk", 1000, 50,
        {{"rthip", false, swing(28, 1000)},
         {"lfhip", false, swing(28, 1000, 0.5f)},
         {"rtknee", false, swing(20, 1000, 0.25f, 22)},
         {"lfknee", false, swing(20, 1000, 0.75f, 22)},
         {"rtshoulder", false, swing(22, 1000, 0.5f)},
         {"lfshoulder", false, swing(22, 1000)},
         {"pelvis", true, swing(0.002f, 500)}});
    // Standing: breathing and a look around.
    out["wait"] = sequence("wait", 4000, 100,
                           {{"back", false, swing(2, 4000)},
                            {"head", false, swing(15, 4000, 0.25f), {0, 1, 0}}});
    // After a long wait: both arms up and down again.
    out["stretch"] = sequence("stretch", 3000, 100,
                              {{"rtshoulder", false, lift(160, 3000), {0, 0, 1}},
                               {"lfshoulder", false, lift(-160, 3000), {0, 0, 1}},
                               {"back", false, lift(-8, 3000)}});
    // The right arm up, the forearm waving.
    out["wave"] = sequence("wave", 2000, 50,
                           {{"rtshoulder", false, lift(150, 2000), {0, 0, 1}},
                            {"rtelbow", false, swing(25, 500), {0, 0, 1}}});
    // A bow from the waist.
    out["bow"] = sequence("bow", 2000, 50,
                          {{"back", false, lift(45, 2000)}, {"head", false, lift(15, 2000)}});
    return out;
}

}  // namespace zk::server
