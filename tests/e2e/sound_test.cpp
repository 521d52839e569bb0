// The browser plays the demo world's sounds: through SDL's disk audio driver
// its output carries the murmuring stone behind ground zero, and falls
// silent once a handed-over teleport takes the user far away.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <chrono>
#include <csignal>
#include <thread>
#include <string>

#include "e2e/screen.h"
#include "support/process.h"
#include "support/temp_dir.h"

using namespace zk::test;

namespace {

// The loudest sample of the last quarter second written (44.1 kHz, 16-bit stereo).
int recent_peak(const std::string& path) {
    const std::string raw = read_file(path);
    const size_t tail = 44100 / 4 * 4;
    if (raw.size() < tail) return -1;
    int peak = 0;
    for (size_t i = raw.size() / 2 * 2 - tail; i + 2 <= raw.size(); i += 2) {
        int16_t s;
        std::memcpy(&s, raw.data() + i, 2);
        peak = std::max(peak, std::abs(int{s}));
    }
    return peak;
}

}  // namespace

TEST(BrowserAndServer, AmbientSoundIsHeardNearItsSourceAndNotFarAway) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs a display (scripts/test runs under Xvfb)";
    TempDir dir;
    DemoServer demo = start_demo_server(ZELNIK_SERVER_BINARY, dir.path());
    ASSERT_NE(demo.universe, 0) << demo.process->err();
    // zk's murmuring stone is half a cell from ground zero; the lagoon's only
    // sound is on a reef 28 cells out, whose cell is never loaded from there.
    const struct {
        const char* world;
        bool heard;
    } visits[] = {{"zk", true}, {"lagoon", false}};
    for (const auto& v : visits) {
        const std::string audio = dir.file(std::string(v.world) + ".raw");
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", audio.c_str(), 1);
        auto browser = start_browser(ZELNIK_BINARY, dir.path(), demo.universe,
                                     "[start]\nworld=" + std::string(v.world) + "\n[citizen]\ntourist=Listener\n");
        unsetenv("SDL_AUDIODRIVER");
        unsetenv("SDL_DISKAUDIOFILE");
        ASSERT_TRUE(wait_until([&] { return title_shows("\"" + std::string(v.world) + " at ground zero facing N\""); },
                               60000)) << browser->err();
        int peak = -1;
        if (v.heard) {
            EXPECT_TRUE(wait_until([&] { return (peak = recent_peak(audio)) > 2000; }, 20000)) << "peak " << peak;
        } else {
            // Long enough for the first cells to load and a sound to start.
            std::this_thread::sleep_for(std::chrono::seconds(4));
            EXPECT_EQ(peak = recent_peak(audio), 0);
        }
        browser->signal(SIGTERM);
        browser->wait(10000);
    }
}
