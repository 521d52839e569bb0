// The sequencer's share of a frame where the avatar area is full: 18 figures
// of 20 joints each walking (a sequence with a rotation track per joint and
// the pelvis bobbing), reported once a second as the world server does and
// advanced every 16 ms. Prints the median and the worst time of advancing
// all 18 in one frame.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "art/chunk.h"
#include "art/database.h"
#include "art/download.h"
#include "art/http.h"
#include "art/model.h"
#include "core/settings.h"
#include "people/registry.h"
#include "people/sequencer.h"
#include "render/clump.h"
#include "results.h"
#include "support/temp_dir.h"

using namespace zk;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kFigures = 18;

// Spine, arms and legs: chains of joints off the pelvis.
const int kChains[][4] = {{2, 3, 4, 0}, {5, 6, 7, 8}, {10, 11, 12, 13}, {15, 16, 17, 18}, {19, 20, 21, 22}};

std::string figure_shape() {
    std::string t = "ModelBegin\nClumpBegin\nClumpBegin\nTag 1\nTranslate 0 0.09 0\nBlock 0.03 0.02 0.02\n";
    for (const auto& chain : kChains) {
        int open = 0;
        for (int j : chain) {
            if (!j) break;
            char part[160];
            std::snprintf(part, sizeof part, "ClumpBegin\nTag %d\nTranslate 0 %s0.02 0\nBlock 0.01 0.02 0.01\n", j,
                          j >= 15 ? "-" : "");
            t += part;
            ++open;
        }
        while (open--) t += "ClumpEnd\n";
    }
    return t + "ClumpEnd\nClumpEnd\nModelEnd\n";
}

struct Out {
    std::string b;
    void u32(uint32_t v) {
        for (int s = 24; s >= 0; s -= 8) b += char(v >> s & 0xff);
    }
    void u16(uint16_t v) { b += char(v >> 8), b += char(v & 0xff); }
    void f(float v) {
        uint32_t bits;
        std::memcpy(&bits, &v, 4);
        u32(bits);
    }
    void str(const std::string& s) { u16(uint16_t(s.size())), b += s; }
};

// A second of walking: every joint swings about x over 9 keys.
std::string walk_sequence() {
    std::vector<int> joints{1};
    for (const auto& chain : kChains)
        for (int j : chain)
            if (j) joints.push_back(j);
    Out o;
    o.u32(1000), o.u16(30), o.u32(uint32_t(joints.size() + 1)), o.str("walk"), o.str("figure");
    for (int j : joints) {
        o.str(joint_name(j)), o.u32(16), o.u32(9);
        for (int k = 0; k < 9; ++k) {
            const float half = 0.3f * std::sin(float(k) * 0.785f + float(j));
            o.u32(uint32_t(k * 125)), o.f(std::cos(half)), o.f(std::sin(half)), o.f(0), o.f(0);
        }
    }
    o.str("pelvis"), o.u32(12), o.u32(3);
    for (int k = 0; k < 3; ++k) o.u32(uint32_t(k * 500)), o.f(0), o.f(k == 1 ? 0.005f : 0), o.f(0);
    o.u32(0);
    return o.b;
}

}  // namespace

int main() {
    test::TempDir dir;
    test::write_file(dir.file("zelnik.ini"), "[proxy]\n");
    settings_set_directory(dir.path());
    // Nothing is fetched: the figure and its walk are already in the art directory.
    if (!database_init() || http_init() != 0 || !download_init() || !model_init()) return 1;
    download_set_path("127.0.0.1:9/zk");
    chunk_reset();
    test::write_file(art_dir() + "/avatars/walker.rwx", figure_shape());
    test::write_file(art_dir() + "/seqs/walk.seq", walk_sequence());
    registry_load_text("# animation registry version 0.3\nversion 3\navatar name = walker beginimp walk = walk "
                       "wait = walk endimp endavatar\n");
    sequencer_reset(art_dir());
    RwScene* scene = rw_scene_create();
    std::vector<Figure*> figures;
    for (int i = 0; i < kFigures; ++i) {
        figures.push_back(figure_create(scene, 3, true));
        figure_set_target(figures.back(), float(i), 0, 0, 0, 0, 0, 0);
    }
    std::vector<double> frames;
    uint32_t now = 0;
    for (int frame = 0; frame < 4000; ++frame) {
        now += 16;
        if (now / 1000 != (now - 16) / 1000)  // a report a second: every figure walks on
            for (int i = 0; i < kFigures; ++i)
                figure_set_target(figures[size_t(i)], float(i), 0, float(now) / 1000, 0, now, 0, 0);
        const auto t0 = Clock::now();
        for (Figure* f : figures) figure_advance(f, now);
        frames.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    int joints = 0;
    rw_clump_for_all(figure_clump(figures[0]), [&](RwClump* c) { return joints += c->tag > 0, true; });
    const bool walking = figure_actions(figures[0]) == "(sequence walk 2)";
    for (Figure* f : figures) figure_destroy(f);
    rw_scene_destroy(scene);
    model_term();
    if (joints != 20 || !walking) {
        std::fprintf(stderr, "figures not posed: %d joints, %s\n", joints, walking ? "walking" : "not walking");
        return 1;
    }
    std::sort(frames.begin(), frames.end());
    const double median = frames[frames.size() / 2], worst = frames.back();
    std::printf("%d walking figures of %d joints: %.1f us a frame (median), %.1f us worst\n", kFigures, joints, median,
                worst);
    bench_result("advance 18 walking figures of 20 joints, a frame", median, "us", "", 0, "<= 500");
    return 0;
}
