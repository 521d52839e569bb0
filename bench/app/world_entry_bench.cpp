// The real browser entering the demo world of a real zelnik-server: the time
// from the start of world entry to the last model shown in its final form
// (converted, textured), with an empty cache (a newcomer) and again with the
// cache the first start filled (every later start); then the processor time
// the browser takes while it stands idle in the world (facing the animated
// door, and turned away so that nothing in view moves), and the frames a second
// it sustains while the user walks (in a circle, so that every frame shows
// something new) with an 800 x 600 view. Read from the browser's trace, whose
// lines carry the millisecond tick. Needs a display and xdotool (scripts/bench
// runs under Xvfb when there is no display).
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "results.h"
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

// Processor time of a process so far, in clock ticks (user + system).
long cpu_ticks(pid_t pid) {
    const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
    const size_t end = stat.rfind(')');
    if (end == std::string::npos) return -1;
    std::istringstream fields(stat.substr(end + 2));
    std::string field;
    long utime = -1, stime = -1;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14) utime = std::atol(field.c_str());
        if (i == 15) {
            stime = std::atol(field.c_str());
            break;
        }
    }
    return utime < 0 || stime < 0 ? -1 : utime + stime;
}

// The last figure a trace gives after `marker` (a line "<tick>: marker N").
double last_figure(const std::string& log, const std::string& marker) {
    const size_t at = log.rfind(": " + marker + " ");
    return at == std::string::npos ? -1 : std::atof(log.c_str() + at + marker.size() + 3);
}

struct Walk {
    double fps = -1, cpu = -1;
    int width = 0, height = 0;
};

// Sizes the main window so that the 3D view is 800 x 600 (its cameras have
// a frame of 2 pixels more on each side), then walks for 10 s.
Walk walk(Process& browser, const std::string& log_path) {
    Walk w;
    std::string id = run_command("xdotool search --name '^zk at ' | head -1");
    id.erase(id.find_last_not_of("\n") + 1);
    if (id.empty() || run_command("command -v xdotool").empty()) return w;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::string log = read_file(log_path);
        const size_t at = log.rfind("camera_resize ");
        if (at == std::string::npos || std::sscanf(log.c_str() + at, "camera_resize %d %d", &w.width, &w.height) != 2)
            return w;
        w.width -= 4, w.height -= 4;
        if (w.width == 800 && w.height == 600) break;
        int outer_w = 0, outer_h = 0;
        const std::string geometry = run_command("xdotool getwindowgeometry " + id);
        const size_t g = geometry.find("Geometry: ");
        if (g == std::string::npos || std::sscanf(geometry.c_str() + g, "Geometry: %dx%d", &outer_w, &outer_h) != 2)
            return w;
        run_command("xdotool windowsize --sync " + id + " " + std::to_string(outer_w + 800 - w.width) + " " +
                    std::to_string(outer_h + 600 - w.height));
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    run_command("xdotool windowfocus --sync " + id + " keydown Up keydown Right");
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const long before = cpu_ticks(browser.pid());
    std::this_thread::sleep_for(std::chrono::seconds(10));
    w.cpu = double(cpu_ticks(browser.pid()) - before) / double(sysconf(_SC_CLK_TCK)) / 10 * 100;
    w.fps = last_figure(read_file(log_path), "frame rate");
    run_command("xdotool keyup Right keyup Up");
    return w;
}

// Processor time of the browser over 10 s, in per cent of one core.
double idle_cpu(const Process& browser) {
    const long before = cpu_ticks(browser.pid());
    std::this_thread::sleep_for(std::chrono::seconds(10));
    return double(cpu_ticks(browser.pid()) - before) / double(sysconf(_SC_CLK_TCK)) / 10 * 100;
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
    const std::string settings = "[start]\nworld=zk\n[citizen]\ntourist=Visitor\n[debug]\ntrace=1\nvisible=1\n";
    std::vector<double> cold, warm;
    int shown[2] = {0, 0};
    double idle = -1, idle_door = -1;
    Walk walking;
    for (int round = 0; round < 3; ++round) {
        std::filesystem::remove_all(dir.path() + "/prog/cache");
        for (int pass = 0; pass < 2; ++pass) {
            std::vector<double>* times = pass == 0 ? &cold : &warm;
            auto browser = start_browser(ZELNIK_BINARY, dir.path(), demo.universe, settings);
            const Entry e = measure(dir.path() + "/prog/zelnik.log");
            if (round == 0 && pass == 1) {
                // Nobody touches anything. The user first falls onto the
                // ground (about 4 s from the start height), then the view
                // stays as it is.
                std::this_thread::sleep_for(std::chrono::seconds(8));
                idle_door = idle_cpu(*browser);
                // Turned away from the door, nothing in view moves.
                std::string id = run_command("xdotool search --name '^zk at ' | head -1");
                id.erase(id.find_last_not_of("\n") + 1);
                if (!id.empty()) {
                    run_command("xdotool windowfocus --sync " + id + " keydown Left sleep 0.25 keyup Left");
                    std::this_thread::sleep_for(std::chrono::seconds(2));
                    idle = idle_cpu(*browser);
                }
                walking = walk(*browser, dir.path() + "/prog/zelnik.log");
            }
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
    std::printf("standing idle in the demo world, over 10 s: %.1f%% of one core with nothing moving in view (goal: at "
                "most 5%%), %.1f%% with the animated door in view\n",
                idle, idle_door);
    bench_result("world entry, cold cache", cold[1], "ms");
    bench_result("world entry, warm cache", warm[1], "ms", "cold cache", cold[1]);
    bench_result("standing idle, nothing moving in view", idle, "% of a core", "", 0, "<= 5");
    bench_result("standing idle, an animated door in view", idle_door, "% of a core");
    if (walking.fps >= 0) bench_result("walking in a circle, 800x600", walking.fps, "frames/s", "", 0, ">= 60");
    if (walking.fps < 0)
        std::printf("walking: not measured (needs xdotool, and the view's size in the trace)\n");
    else
        std::printf("walking in a circle, view %dx%d: %.1f frames/s (goal: 60), %.1f%% of one core\n", walking.width,
                    walking.height, walking.fps, walking.cpu);
    demo.process->signal(SIGTERM);
    demo.process->wait(10000);
    return 0;
}
