// The real browser entering the demo world of a real zelnik-server: the time
// from the start of world entry to the last model shown in its final form
// (converted, textured), with an empty cache (a newcomer) and again with the
// cache the first start filled (every later start). Read from the browser's
// trace, whose lines carry the millisecond tick. Needs a display (scripts/bench
// runs under Xvfb when there is none).
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/process.h"
#include "support/temp_dir.h"

using namespace zk::test;

namespace {

struct Entry {
    double ms = -1;
    int shown = 0;  // models swapped into the view
};

// Entry time from the trace, once no model has been swapped in for 4 s.
Entry measure(const std::string& log_path) {
    Entry e;
    std::string seen;
    size_t swaps = 0;
    for (int quiet = 0, i = 0; quiet < 20 && i < 600; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        seen = read_file(log_path);
        size_t n = 0;
        for (size_t at = 0; (at = seen.find("reload_model complete", at)) != std::string::npos; ++at) ++n;
        quiet = n > 0 && n == swaps ? quiet + 1 : 0;
        swaps = n;
    }
    long start = -1, end = -1;
    std::istringstream lines(seen);
    for (std::string line; std::getline(lines, line);) {
        long tick = 0;
        char text[128] = {};
        if (std::sscanf(line.c_str(), "%ld: %127[^\n]", &tick, text) != 2) continue;
        const std::string t = text;
        if (start < 0 && t.rfind("world_enter (zk)", 0) == 0) start = tick;
        if (start >= 0 && t == "reload_model complete") end = tick, ++e.shown;
    }
    if (start >= 0 && end >= start) e.ms = static_cast<double>(end - start);
    return e;
}

}  // namespace

int main() {
    if (!std::getenv("DISPLAY")) {
        std::printf("world entry: skipped, needs a display\n");
        return 0;
    }
    TempDir dir;
    DemoServer demo = start_demo_server(ZELNIK_SERVER_BINARY, dir.path());
    if (demo.universe == 0) {
        std::fprintf(stderr, "zelnik-server did not start\n%s", demo.process->err().c_str());
        return 1;
    }
    const std::string settings = "[start]\nworld=zk\n[citizen]\ntourist=Visitor\n[debug]\ntrace=1\n";
    std::vector<double> cold, warm;
    int shown[2] = {0, 0};
    for (int round = 0; round < 3; ++round) {
        std::filesystem::remove_all(dir.path() + "/prog/cache");
        for (int pass = 0; pass < 2; ++pass) {
            std::vector<double>* times = pass == 0 ? &cold : &warm;
            auto browser = start_browser(ZELNIK_BINARY, dir.path(), demo.universe, settings);
            const Entry e = measure(dir.path() + "/prog/zelnik.log");
            browser->signal(SIGTERM);
            browser->wait(20000);
            if (e.ms < 0) {
                std::fprintf(stderr, "no model was shown\n%s", browser->err().c_str());
                return 1;
            }
            times->push_back(e.ms);
            shown[pass] = std::max(shown[pass], e.shown);
        }
    }
    std::sort(cold.begin(), cold.end());
    std::sort(warm.begin(), warm.end());
    std::printf("entering the demo world until every model in view is shown, median of 3 (range):\n"
                "  cold cache %.0f ms (%.0f-%.0f), %d models shown\n"
                "  warm cache %.0f ms (%.0f-%.0f), %d models shown\n",
                cold[1], cold[0], cold[2], shown[0], warm[1], warm[0], warm[2], shown[1]);
    demo.process->signal(SIGTERM);
    demo.process->wait(10000);
    return 0;
}
