// The time a chat line takes from Enter in one browser to the other
// browser's console, over loopback with a real zelnik-server: the speaker's
// console shows the line when Enter sends it, the listener's when it
// arrives; both traces carry the same millisecond tick. Needs a display and
// xdotool (scripts/bench runs under Xvfb when there is no display).
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/screen.h"
#include "results.h"
#include "support/process.h"
#include "support/temp_dir.h"

using namespace zk::test;

namespace {

// The tick of the first trace line that holds `text`, or -1.
long tick_of(const std::string& log, const std::string& text) {
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        long tick = 0;
        if (line.find(text) != std::string::npos && std::sscanf(line.c_str(), "%ld:", &tick) == 1) return tick;
    }
    return -1;
}

}  // namespace

int main() {
    if (run_command("command -v xdotool").empty()) {
        std::printf("chat latency: not measured (needs xdotool)\n");
        return 0;
    }
    TempDir dir;
    DemoServer demo = start_demo_server(ZELNIK_SERVER_BINARY, dir.path());
    if (!demo.universe) return 1;
    auto ann = start_browser(ZELNIK_BINARY, dir.path() + "/ann", demo.universe,
                             "[start]\nworld=zk\n[citizen]\ntourist=Ann\n[debug]\ntrace=1\n");
    auto ben = start_browser(ZELNIK_BINARY, dir.path() + "/ben", demo.universe,
                             "[start]\nworld=zk\n[citizen]\ntourist=Ben\n[layout]\nmain_x=520\nmain_y=0\n"
                             "[debug]\ntrace=1\n");
    std::string window;
    if (!wait_until([&] { return !(window = window_of(*ann)).empty() && !window_of(*ben).empty(); }, 60000)) return 1;
    // Each must have seen the other before a line can go directly.
    std::this_thread::sleep_for(std::chrono::seconds(8));
    const std::string ann_log = dir.path() + "/ann/prog/zelnik.log", ben_log = dir.path() + "/ben/prog/zelnik.log";
    std::vector<double> ms;
    for (int i = 0; i < 10; ++i) {
        const std::string line = "ping " + std::to_string(i);
        if (!focus(window)) break;
        run_command("xdotool type --delay 5 '" + line + "'");
        run_command("xdotool key Return");
        // A tourist's name is quoted.
        const std::string shown = "\"Ann\": " + line;
        if (!wait_for_text(ben_log, shown, 5000)) continue;
        const long sent = tick_of(read_file(ann_log), shown), got = tick_of(read_file(ben_log), shown);
        if (sent >= 0 && got >= sent) ms.push_back(double(got - sent));
    }
    for (auto* p : {ann.get(), ben.get(), demo.process.get()}) p->signal(SIGTERM);
    if (ms.empty()) {
        std::printf("chat latency: no line arrived\n");
        return 1;
    }
    std::sort(ms.begin(), ms.end());
    std::printf("chat line, Enter to the other browser's console: median %.0f ms, worst %.0f ms (%zu lines)\n",
                ms[ms.size() / 2], ms.back(), ms.size());
    bench_result("chat line from Enter to the other console, median", ms[ms.size() / 2], "ms", "", 0, "<= 100");
    return 0;
}
