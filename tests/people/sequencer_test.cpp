// The sequencer: sequence files (sound, hostile, cut short), sampling and
// blending, the motion state machine, moves, gestures, and a jointed figure
// fetched with its walk from an art server and posed.
#include "people/sequencer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "art/model.h"
#include "art/art_server.h"
#include "people/registry.h"
#include "render/clump.h"
#include "server/assets/zip_writer.h"

namespace zk {
namespace {

// Big-endian sequence file bytes.
struct Bytes {
    std::string b;
    Bytes& u32(uint32_t v) {
        for (int s = 24; s >= 0; s -= 8) b += char(v >> s & 0xff);
        return *this;
    }
    Bytes& u16(uint16_t v) { return b += char(v >> 8), b += char(v & 0xff), *this; }
    Bytes& f(float v) {
        uint32_t bits;
        std::memcpy(&bits, &v, 4);
        return u32(bits);
    }
    Bytes& str(const std::string& s) { return u16(uint16_t(s.size())), b += s, *this; }
    // A key list of `size`-byte keys: a time, then the floats of each.
    Bytes& keys(uint32_t size, std::vector<std::vector<float>> ks) {
        u32(size).u32(uint32_t(ks.size()));
        for (const auto& k : ks) {
            u32(uint32_t(k[0]));
            for (size_t i = 1; i < k.size(); ++i) f(k[i]);
        }
        return *this;
    }
};

const float kS45 = std::sqrt(0.5f);  // the quaternion of 90 degrees about x is (kS45, kS45, 0, 0)

// Walking: the pelvis turns 90 degrees about x and rises 0.1 over the first
// second of two; the back has only a scalar track; an extra track follows.
std::string walk_file(uint32_t length = 2000) {
    Bytes s;
    s.u32(length).u16(30).u32(3).str("walk").str("human");
    s.str("back").keys(4, {{0, 5}});
    s.str("pelvis").keys(16, {{0, 1, 0, 0, 0}, {1000, kS45, kS45, 0, 0}});
    s.str("PELVIS").keys(12, {{0, 0, 0, 0}, {1000, 0, 0.1f, 0}});
    s.u32(1).keys(4, {{0, 1}, {5, 2}});
    return s.b;
}

bool parse(const std::string& bytes, Sequence& s) {
    return sequence_parse(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &s);
}

TEST(Sequence, FilesAreReadWithTheirBoundsAndDamageRefusedWhole) {
    Sequence s;
    const std::string walk = walk_file();
    ASSERT_TRUE(parse(walk, s));
    EXPECT_EQ(s.length_ms, 2000u);
    EXPECT_EQ(s.name, "walk");
    ASSERT_EQ(s.joints.size(), 3u);
    EXPECT_EQ(s.joints[0].joint_number, 1);  // by joint number, names in any case
    EXPECT_EQ(s.joints[2].joint, "back");
    EXPECT_EQ(s.joints[1].keys[1].value[2], 0.1f);  // a 12-byte key fills the last three
    EXPECT_EQ(s.extra_tracks, 1u);
    EXPECT_EQ(s.driven, 1u << 1);
    // Every cut is refused, as is every bound passed or broken.
    for (size_t n = 0; n < walk.size(); ++n) EXPECT_FALSE(parse(walk.substr(0, n), s)) << n;
    auto head = [](uint32_t tracks, uint16_t rate = 30) { return Bytes().u32(100).u16(rate).u32(tracks).str("a").str("b"); };
    const std::string hostile[] = {
        head(1, 0).str("head").keys(16, {{0, 1, 0, 0, 0}}).u32(0).b,
        head(1, 0x8000).str("head").keys(16, {{0, 1, 0, 0, 0}}).u32(0).b,
        head(0).u32(0).b,
        head(65).b + std::string(100000, '\0'),
        head(1).str("head").keys(8, {}).u32(0).b,
        head(1).str("head").u32(16).u32(4097).b + std::string(4097 * 20, '\0') + std::string(4, '\0'),
        head(1).str("head").u32(16).u32(0xffffffff).b,
        head(1).str("head").keys(4, {}).u32(65).b + std::string(65 * 8, '\0'),
        head(1).str("head").keys(4, {}).u32(1).u32(3).u32(0).b,
        head(1).str("head").keys(4, {}).u32(0).b + std::string(kSequenceMaxFile, '\0'),
    };
    for (const std::string& h : hostile) EXPECT_FALSE(parse(h, s)) << h.size();
    // Names are kept to 255; keys out of order and values that are not numbers are tamed.
    const float nan = std::nanf(""), inf = INFINITY;
    ASSERT_TRUE(parse(head(1).str(std::string(300, 'x')).keys(16, {{50, 0, 0, 0, 0}, {20, nan, 1, inf, 3e30f}}).u32(0).b, s));
    EXPECT_EQ(s.joints[0].joint, std::string(255, 'x'));
    EXPECT_EQ(s.joints[0].joint_number, 0);
    const SequenceKey& k = s.joints[0].keys[1];
    EXPECT_EQ(k.time, 50u);
    EXPECT_EQ(k.value[0], 0.0f);
    EXPECT_EQ(k.value[2], 0.0f);
    EXPECT_LE(k.value[3], 1e4f);
    EXPECT_EQ(joint_number("lfToes"), 22);
    EXPECT_STREQ(joint_name(30), "obj3");
}

TEST(Sequence, JointsAreSlerpedBetweenKeysAndHeldOutside) {
    Sequence s;
    ASSERT_TRUE(parse(walk_file(), s));
    JointPose pose[kJointCount + 1];
    struct Case {
        uint32_t ms;
        float degrees, rise;
    };
    for (const Case& c : {Case{0, 0, 0}, Case{500, 45, 0.05f}, Case{250, 22.5f, 0.025f}, Case{1000, 90, 0.1f},
                          Case{1800, 90, 0.1f}}) {
        sequence_sample(s, c.ms, pose);
        const float half = c.degrees * 3.14159265f / 360;
        EXPECT_NEAR(pose[1].q[0], std::cos(half), 1e-5) << c.ms;
        EXPECT_NEAR(pose[1].q[1], std::sin(half), 1e-5) << c.ms;
        EXPECT_NEAR(pose[1].t[1], c.rise, 1e-6) << c.ms;
        EXPECT_EQ(pose[2].q[0], 1) << c.ms;  // a scalar track moves nothing
    }
}

TEST(Sequence, WeightsOfCrossFadesAndGestures) {
    struct Case {
        uint32_t elapsed, duration;
        float shift, gesture;
    };
    const Case cases[] = {{0, 250, 0, 0},       {125, 250, 0.5f, 1},   {250, 250, 1, 0},  {400, 250, 1, 0},
                          {100, 1000, 0.1f, 0.72f}, {1500, 2000, 0.75f, 1}, {1900, 2000, 0.95f, 0.38f}};
    for (const Case& c : cases) {
        const SeqTime e = SeqTime::of(c.elapsed), d = SeqTime::of(c.duration);
        EXPECT_NEAR(shiftto_weight(e, d), c.shift, 1e-5) << c.elapsed;
        EXPECT_NEAR(doaction_weight(e, d), c.gesture, 1e-5) << c.elapsed;
    }
    EXPECT_EQ((SeqTime::of(1700) + SeqTime::of(2400)).s, 4u);
    EXPECT_EQ((SeqTime::of(1700) + SeqTime::of(2400)).ms, 100u);
}

TEST(Sequence, MotionStatesFollowTheirTable) {
    using M = Motion;
    struct Step {
        M input;
        uint32_t now;
        int state;
        uint32_t since;
    };
    const Step steps[] = {
        {M::still, 9999, 1, 0},     {M::still, 10000, 4, 10000},  {M::still, 39999, 4, 10000},
        {M::still, 40000, 5, 40000}, {M::still, 49999, 5, 40000}, {M::still, 50000, 4, 50000},
        {M::moving, 51000, 3, 51000}, {M::moving, 52000, 3, 51000}, {M::turning, 53000, 2, 53000},
        {M::turning, 54000, 2, 53000}, {M::still, 55000, 1, 55000}, {M::turning, 56000, 2, 56000},
        {M::moving, 57000, 3, 57000}, {M::still, 58000, 4, 58000}, {M::turning, 59000, 2, 59000},
        {M::still, 60000, 1, 60000}, {M::moving, 61000, 3, 61000}, {M::still, 62000, 4, 62000},
        {M::still, 92000, 5, 92000}, {M::moving, 93000, 3, 93000}, {M::still, 94000, 4, 94000},
        {M::still, 124000, 5, 124000}, {M::turning, 125000, 2, 125000}, {M::moving, 126000, 3, 126000},
        {M::turning, 127000, 2, 127000},
    };
    MotionState m{1, 0};
    for (const Step& s : steps) {
        const bool changed = motion_step(m, s.input, s.now);
        EXPECT_EQ(changed, s.since == s.now) << s.now;
        EXPECT_EQ(m.state, s.state) << s.now;
        EXPECT_EQ(m.since, s.since) << s.now;
    }
}

class Figures : public ::testing::Test {
protected:
    void SetUp() override {
        registry_load_text("# animation registry version 0.3\nversion 3\navatar name = guy beginimp walk = walk "
                           "wait = wait endwait = endw endimp beginexp wave = wave endexp endavatar\n"
                           "avatar name = still endavatar\n");
        std::filesystem::create_directory(dir.file("seqs"));
        test::write_file(dir.file("seqs/walk.seq"), walk_file());
        test::write_file(dir.file("seqs/wave.seq"), walk_file(2000));
        sequencer_reset(dir.path());
    }
    void TearDown() override {
        figure_destroy(f);
        sequencer_reset("");
        registry_reset("");
    }
    void at(float x, int yaw, uint32_t ms, int gesture = 0, int type = 0) {
        figure_set_target(f, x, 0, 0, yaw, ms, type, gesture);
        figure_advance(f, ms);
    }
    float x() {
        float px, py, pz;
        figure_position(f, &px, &py, &pz);
        return px;
    }
    test::TempDir dir;
    Figure* f = nullptr;
};

TEST_F(Figures, MovesTrailTheReportsByAtMostTenSecondsAndTurnTheShortWay) {
    struct Step {
        float x;
        int yaw;
        uint32_t report, seen;  // a report (or none when 0) and an advance after it
        float at_x, at_yaw;
    };
    const Step steps[] = {
        {1, 350, 1000, 1000, 1, 350},   // the first report places the figure
        {2, 10, 2000, 2500, 1.5f, 0},   // reached over the second since the last report
        {0, 0, 0, 3000, 2, 10},
        {3, 10, 32000, 37000, 2.5f, 10},  // 30 s later: reached over 10 s, not 30
        {3, 10, 42000, 42000, 3, 10},   // standing: only the report's time counts
        {5, 10, 43000, 43000, 3, 10},   // a report mid-move starts from where the figure is
        {7, 10, 43500, 43500, 4, 10},
        {0, 0, 0, 43750, 5.5f, 10},
    };
    f = figure_create(nullptr, 3, true);
    for (const Step& s : steps) {
        if (s.report) figure_set_target(f, s.x, 0, 0, s.yaw, s.report, 1, 0);
        figure_advance(f, s.seen);
        EXPECT_NEAR(x(), s.at_x, 1e-4) << s.seen;
        EXPECT_NEAR(std::fmod(figure_yaw(f) + 180, 360) - 180, std::fmod(s.at_yaw + 180, 360) - 180, 1e-3) << s.seen;
    }
}

TEST_F(Figures, StatesStartTheirActionsAndGesturesPlayOnce) {
    f = figure_create(nullptr, 3, true);
    struct Step {
        float x;
        uint32_t ms;
        int gesture;
        const char* actions;
    };
    const Step steps[] = {
        {0, 0, 0, "(placeholder)"},
        {1, 1000, 0, "(shiftto t=0.000 (placeholder) (sequence walk 2))"},
        {2, 2000, 1, "(doaction t=0.000 (sequence walk 2) (sequence wave 1))"},
        // The same gesture again does nothing; standing starts the wait.
        {2, 3000, 1, "(doaction t=1.000 (shiftto t=0.000 (sequence walk 2) (sequence wait 1)) (sequence wave 1))"},
        {2, 4000, 0, "(sequence wait 1)"},  // the wave's two seconds are over
        {2, 4500, 2, "(sequence wait 1)"},  // past the type's gestures
        {2, 5000, 1, "(doaction t=0.000 (sequence wait 1) (sequence wave 1))"},
        // 30 s of waiting end it; a sequence not yet loaded is played once it is.
        {2, 34000, 0, "(shiftto t=0.000 (sequence wait 1) (sequence endw 1))"},
        {2, 35000, 0, "(sequence endw 1)"},
    };
    for (const Step& s : steps) {
        at(s.x, 0, s.ms, s.gesture);
        EXPECT_EQ(figure_actions(f), s.actions) << s.ms;
    }
    EXPECT_EQ(figure_state(f), 5);
    // A type without sequences keeps what plays.
    at(3, 0, 36000);
    figure_advance(f, 36300);
    EXPECT_EQ(figure_actions(f), "(sequence walk 2)");
    at(4, 0, 37000, 0, 1);
    EXPECT_EQ(figure_actions(f), "(sequence walk 2)");
    // Without animations a figure moves and turns and plays nothing.
    Figure* plain = figure_create(nullptr, 3, false);
    for (uint32_t ms : {0u, 1000u, 2000u}) {
        figure_set_target(plain, float(ms) / 1000, 0, 0, 90, ms, 0, ms ? 1 : 0);
        figure_advance(plain, ms);
    }
    EXPECT_EQ(figure_actions(plain), "(placeholder)");
    EXPECT_EQ(figure_state(plain), 0);
    float px;
    figure_position(plain, &px, nullptr, nullptr);
    EXPECT_EQ(px, 1);  // a report interval behind
    figure_destroy(plain);
}

// A figure of three joints: the pelvis 0.9 up, the back 0.1 above it, and
// the right hip below the pelvis; the outer clump is the figure itself.
const char* kJointed = R"(ModelBegin
ClumpBegin
  ClumpBegin
    Tag 1
    Translate 0 0.9 0
    Block 0.3 0.2 0.2
    ClumpBegin
      Tag 2
      Translate 0 0.1 0
      Block 0.3 0.5 0.2
    ClumpEnd
    ClumpBegin
      Tag 15
      Translate 0.1 -0.1 0
      Block 0.1 0.8 0.1
    ClumpEnd
  ClumpEnd
ClumpEnd
ModelEnd
)";

class Posing : public test::ArtServer {
protected:
    void start() override {
        ArtServer::start();
        ASSERT_TRUE(model_init());
        registry_load_text("# animation registry version 0.3\nversion 3\navatar name = jointed "
                           "beginimp walk = walk endimp endavatar avatar name = rooted beginimp walk = walk "
                           "endimp endavatar\n");
        sequencer_reset(art_dir());
    }
    void stop() override {
        figure_destroy(f);
        figure_destroy(g);
        f = g = nullptr;
        sequencer_reset("");
        registry_reset("");
        model_term();
        ArtServer::stop();
    }
    Figure *f = nullptr, *g = nullptr;
    RwScene* scene = rw_scene_create();
    ~Posing() override { rw_scene_destroy(scene); }
};

RwClump* find_tag(RwClump* root, int tag) {
    RwClump* found = nullptr;
    rw_clump_for_all(root, [&](RwClump* c) {
        if (c != root && c->tag == tag) found = c;
        return !found;
    });
    return found;
}

void expect_matrix(const RwMatrix& a, const RwMatrix& b, const char* what) {
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(a.m[i], b.m[i], 1e-5) << what << " element " << i;
}

TEST_F(Posing, AFetchedFigureIsPlacedAndItsJointsPosedFromTheirRest) {
    publish("avatars/jointed.zip", server::zip_single("jointed.rwx", kJointed));
    // The same figure with the pelvis outermost: it turns after the placement.
    std::string rooted = kJointed;
    rooted.erase(rooted.find("ClumpBegin"), 11);
    rooted.erase(rooted.rfind("ClumpEnd"), 9);
    publish("avatars/rooted.zip", server::zip_single("rooted.rwx", rooted));
    publish("seqs/walk.zip", server::zip_single("walk.seq", walk_file()));
    f = figure_create(scene, 3, true);
    g = figure_create(scene, 3, true);
    for (int type : {0, 1}) {
        figure_set_target(type ? g : f, 0, 0, 0, 0, 0, type, 0);
        figure_set_target(type ? g : f, 1, 0, 0, 90, 1000, type, 0);  // walking
        figure_advance(type ? g : f, 1000);  // asks for the walk
    }
    ASSERT_TRUE(settle());
    EXPECT_EQ(seen().count("/objects/seqs/walk.zip"), 1u);
    RwClump* root = figure_clump(f);
    RwClump* pelvis = find_tag(root, 1);
    ASSERT_TRUE(pelvis);
    ASSERT_TRUE(find_tag(root, 15));
    EXPECT_EQ(root->scene, scene);
    EXPECT_EQ(figure_clump(g)->tag, 1);
    struct Case {
        uint32_t ms;
        float degrees, rise;
        const char* what;
    };
    // Half-way through the cross-fade the walk's pose at 125 ms counts half;
    // after it the walk alone. Posing the same time twice changes nothing.
    for (const Case& c : {Case{1125, 5.625f, 0.00625f, "fading in"}, Case{1500, 45, 0.05f, "walking"},
                          Case{1500, 45, 0.05f, "again"}, Case{2700, 90, 0.1f, "held"}, Case{3500, 45, 0.05f, "looped"}}) {
        figure_advance(f, c.ms);
        figure_advance(g, c.ms);
        const RwMatrix turn = matrix_rotation({1, 0, 0}, c.degrees);
        expect_matrix(rw_clump_matrix(pelvis), matrix_translation(0, 0.9f + c.rise, 0) * turn, c.what);
        // The model stands at the figure's place, turned as it is.
        const float u = std::min(1.0f, float(c.ms - 1000) / 1000);
        const RwMatrix placed = matrix_translation(u, 0, 0) * matrix_rotation({0, 1, 0}, 90 * u);
        expect_matrix(rw_clump_matrix(root), placed, c.what);
        expect_matrix(rw_clump_matrix(figure_clump(g)), placed * matrix_translation(0, c.rise, 0) * turn, c.what);
        // The back turns with the pelvis, about the pelvis.
        const RwV3 back = transform_point(
            matrix_inverse(rw_clump_matrix(root)) * rw_clump_world_matrix(find_tag(root, 2)), {});
        EXPECT_NEAR(back.z, std::sin(c.degrees * 3.14159265f / 180) * 0.1f, 1e-5) << c.what;
    }
}

}  // namespace
}  // namespace zk
