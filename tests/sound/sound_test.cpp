// Sound names, the volume and balance of a source by distance and bearing,
// the checks of files from the network, and the module playing sounds
// fetched from a local server through SDL's disk audio driver.
#include "sound/sound.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "art/art_server.h"
#include "server/assets/sounds.h"
#include "server/assets/zip_writer.h"
#include "sound/wav.h"

namespace zk {
namespace {

TEST(SoundName, BareNamesGainWavAndAddressesMustNameASound) {
    const struct {
        const char* name;
        const char* expected;
    } cases[] = {
        {"fountain", "fountain.wav"},      {"Hum.WAV", "hum.wav"},    {"Tune.Mid", "tune.mid"},
        {"song.mp3", ""},                  {"bell.wave", ""},         {"", ""},
        {"http://h.net/a/B.MID", "h.net/a/B.MID"}, {"h.net/a/b.txt", ""}, {"/extra/a.wav", "op.net/objects/extra/a.wav"},
    };
    for (const auto& c : cases) EXPECT_EQ(sound_normalize(c.name, "op.net/objects"), c.expected) << c.name;
}

TEST(SoundVolume, FollowsDistanceAndBearing) {
    // Facing north (+z); west (+x) is on the left.
    const struct {
        float sx, sz, heading;
        uint32_t left, right;
    } cases[] = {
        {0, 0, 0, 58981, 58981},      // at the user: full, 0.9 each side
        {-1, 0, 0, 49931, 62414},     // one unit to the right: 1310700/21, 0.8 : 1.0
        {1, 0, 0, 62414, 49931},      // to the left
        {0, 1, 90, 49931, 62413},     // facing west, north is on the right (the
                                      // degree factor is a hair short of pi/180)
        {0, -1, 0, 56172, 56172},     // straight behind: even
        {0, 1000, 0, 0, 0},           // far away: nothing
    };
    for (const auto& c : cases) {
        const uint32_t word = sound_volume(c.sx, 0, c.sz, 0, 0, 0, c.heading);
        EXPECT_EQ(word & 0xffff, c.left) << c.sx << "," << c.sz << " heading " << c.heading;
        EXPECT_EQ(word >> 16, c.right) << c.sx << "," << c.sz << " heading " << c.heading;
    }
}

TEST(SoundFile, OnlySaneWavAndMidiFilesPass) {
    const std::string good = server::wav_file(server::tone(440, 0.1, 22050), 22050);
    auto with = [&](size_t at, std::string bytes) { return good.substr(0, at) + bytes + good.substr(at + bytes.size()); };
    const std::string big(15u << 20, '\x80');
    const struct {
        const char* what;
        std::string bytes;
        bool ok;
    } cases[] = {
        {"good", good, true},
        {"cut short", good.substr(0, good.size() - 10), false},
        {"not RIFF", with(0, "RIFX"), false},
        {"RIFF size short of its header", with(4, std::string(4, '\0')), false},
        {"no channels", with(22, std::string("\0\0", 2)), false},
        {"rate of 100 Hz", with(24, std::string("\x64\0\0\0", 4)), false},
        {"compressed", with(20, std::string("\x02\0", 2)), false},
        {"data before format", good.substr(0, 12) + good.substr(36) + good.substr(12, 24), false},
        {"tiny rate, huge output", server::wav_file({}, 4000).substr(0, 24) + std::string("\xa0\x0f\0\0\xa0\x0f\0\0\1\0\x08\0", 12) +
                                       "data" + std::string("\0\0\xf0\0", 4) + big, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(wav_check(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size(), 44100), c.ok) << c.what;
    const std::string tune = server::demo_sounds()["tune.mid"];
    EXPECT_TRUE(midi_check(reinterpret_cast<const uint8_t*>(tune.data()), tune.size()));
    std::string no_tracks = tune;
    no_tracks[11] = 0;
    EXPECT_FALSE(midi_check(reinterpret_cast<const uint8_t*>(no_tracks.data()), no_tracks.size()));
}

double g_x = 0, g_z = 0;

// The module over a local object path, playing into a raw file.
class SoundPlayer : public test::ArtServer {
protected:
    void SetUp() override {
        ArtServer::SetUp();
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", output.c_str(), 1);
        sound_ports().position = [](double* x, double* y, double* z) { *x = g_x, *y = 0, *z = g_z; };
        sound_ports().heading = [] { return 0.0f; };
        g_x = g_z = 0;
        for (const char* name : {"a", "b", "c"})
            publish(std::string("sounds/") + name + ".zip",
                    server::zip_single(std::string(name) + ".wav", server::wav_file(server::tone(300, 0.25, 22050), 22050)));
        for (const auto& [file, bytes] : server::demo_sounds())
            publish("sounds/" + file.substr(0, file.find('.')) + ".zip", server::zip_single(file, bytes));
        ASSERT_EQ(sound_init(), 0);
        sound_reset();
        for (const char* name : {"a", "b", "c", "hum", "tune.mid"}) sound_download(name);
        ASSERT_TRUE(settle());
    }
    void TearDown() override {
        for (sound_instance* i : made) sound_destroy(i);
        sound_term();
        sound_ports() = SoundPorts{};
        unsetenv("SDL_AUDIODRIVER");
        ArtServer::TearDown();
    }
    sound_instance* place(const char* name, float x, float z) { return made.emplace_back(sound_create(name, x, 0, z)); }
    // The mean loudness of each channel over what was written so far.
    std::pair<double, double> levels() {
        const std::string raw = test::read_file(output);
        double sum[2] = {0, 0};
        for (size_t i = 0; i + 4 <= raw.size(); i += 4) {
            int16_t s[2];
            std::memcpy(s, raw.data() + i, 4);
            sum[0] += std::abs(s[0]), sum[1] += std::abs(s[1]);
        }
        return {sum[0], sum[1]};
    }
    std::string output = dir.file("out.raw");
    std::vector<sound_instance*> made;
};

TEST_F(SoundPlayer, EffectsPlayInTurnWhileAmbientWaits) {
    ASSERT_TRUE(sound_state().available);
    const std::string a = sound_path("a"), b = sound_path("b"), c = sound_path("c");
    ASSERT_FALSE(a.empty());
    ASSERT_NE(place("hum", 1, 0), nullptr);
    EXPECT_EQ(sound_create("never_asked", 0, 0, 0), nullptr);
    sound_update();
    EXPECT_EQ(sound_state().loop_path, sound_path("hum"));
    const uint32_t volume = sound_state().wav_volume;

    for (const char* name : {"a", "b", "b", "a", "c", "c", "b"}) sound_effect(name);
    SoundState s = sound_state();
    EXPECT_TRUE(s.effect_playing);
    EXPECT_EQ(s.effect_path, a);
    EXPECT_EQ(s.queued, (std::vector<std::string>{b, c, b}));
    EXPECT_EQ(s.loop_path, "");

    // Moving while the effect plays changes nothing of the ambient sound.
    g_x = 5;
    std::vector<std::string> played{a};
    ASSERT_TRUE(test::wait_until([&] {
        sound_update();
        s = sound_state();
        if (!s.effect_playing) return true;
        EXPECT_EQ(s.loop_path, "");
        EXPECT_EQ(s.wav_volume, volume);
        if (s.effect_path != played.back()) played.push_back(s.effect_path);
        return false;
    }, 10000));
    EXPECT_EQ(played, (std::vector<std::string>{a, b, c, b}));
    sound_update();
    EXPECT_EQ(sound_state().loop_path, sound_path("hum"));
    EXPECT_NE(sound_state().wav_volume, volume);
}

TEST_F(SoundPlayer, SourceOnTheRightSoundsRightAndOptionsStopAtOnce) {
    ASSERT_NE(place("hum", -1, 0), nullptr);
    ASSERT_NE(place("tune.mid", 3, 0), nullptr);
    sound_update();
    EXPECT_EQ(sound_state().midi_path, sound_path("tune.mid"));
    ASSERT_TRUE(test::wait_until([&] { return levels().second > 1e6; }, 5000));
    auto [left, right] = levels();
    EXPECT_GT(right, left * 1.15);
    EXPECT_LT(right, left * 1.4);

    set_wav_enabled(false);
    set_midi_enabled(false);
    EXPECT_EQ(sound_state().loop_path, "");
    EXPECT_EQ(sound_state().midi_path, "");
    sound_update();
    EXPECT_EQ(sound_state().loop_path, "");
    set_wav_enabled(true);
    sound_update();
    EXPECT_EQ(sound_state().loop_path, sound_path("hum"));
    EXPECT_EQ(sound_state().midi_path, "");
}

}  // namespace
}  // namespace zk
