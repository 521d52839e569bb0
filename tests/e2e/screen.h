// Pixels of the browser's 3D view on the Xvfb screen, for the end-to-end
// tests: window titles, shots of the view of a window at its default place
// and size, and patches of one colour family in them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "server/citizens.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace zk::test {

// Why the desktop tests cannot run here (no display, no xdotool), or empty.
inline std::string desktop_missing() {
    if (!std::getenv("DISPLAY")) return "needs a display (scripts/test runs under Xvfb)";
    if (run_command("command -v xdotool").empty()) return "needs xdotool (scripts/install-deps installs it)";
    return "";
}

// Makes Cy (password "secret1") citizen 1 of the universe whose data the
// demo server keeps under `dir`/data; false when that failed.
inline bool add_citizen_cy(const std::string& dir) {
    std::filesystem::create_directories(dir + "/data");
    zk::server::Citizens citizens;
    return citizens.open(dir + "/data/universe.db").empty() && citizens.add("Cy", "secret1", "cy@example.org") == 1u;
}

// Whether a window on the screen has a title containing `text`.
inline bool title_shows(const std::string& text) {
    return run_command("xwininfo -root -tree").find(text) != std::string::npos;
}

// The browser window of a process, by its title once it has entered a
// world; empty while there is none.
inline std::string window_of(const Process& p) {
    std::string id = run_command("xdotool search --all --pid " + std::to_string(p.pid()) + " --name '^zk at ' | head -1");
    id.erase(id.find_last_not_of("\n") + 1);
    return id;
}

// The windows a process shows, one id a line.
inline std::string visible_windows(const Process& p) {
    return run_command("xdotool search --all --onlyvisible --pid " + std::to_string(p.pid()) + " --name . 2>/dev/null");
}

// A browser in `prog` started attended, so that its dialogs really open;
// `window`, when given, gets its window once it has entered a world.
inline std::unique_ptr<Process> start_attended(const std::string& prog, std::string* window,
                                               const std::vector<std::string>& args = {}) {
    std::vector<std::string> env = browser_env();
    env.push_back("ZELNIK_UNATTENDED=0");
    auto p = std::make_unique<Process>(prog + "/zelnik", args, prog, args.empty() ? "browser" : "second", env);
    if (window) wait_until([&] { return !(*window = window_of(*p)).empty(); }, 60000);
    return p;
}

// Gives the window the keyboard, and checks that it has it: without a
// window manager a window that appears later may take it back.
inline bool focus(const std::string& window) {
    return wait_until([&] {
        run_command("xdotool windowfocus --sync " + window);
        std::string now = run_command("xdotool getwindowfocus");
        now.erase(now.find_last_not_of("\n") + 1);
        return now == window;
    }, 5000);
}

// The part of the screen the 3D view of a window at its default place and
// size covers.
constexpr int kLeft = 20, kTop = 60, kWidth = 440, kHeight = 215;

struct Shot {
    std::string rgb;  // kWidth x kHeight x 3 bytes

    bool ok() const { return rgb.size() == size_t(kWidth) * kHeight * 3; }
    const uint8_t* at(int x, int y) const { return reinterpret_cast<const uint8_t*>(&rgb[(size_t(y) * kWidth + x) * 3]); }
};

// `left` moves the shot right, for a window placed beside the default one.
inline Shot take_shot(const std::string& dir, int left = 0) {
    const std::string path = dir + "/shot.rgb";
    run_command("import -window root -crop " + std::to_string(kWidth) + "x" + std::to_string(kHeight) + "+" +
                std::to_string(kLeft + left) + "+" + std::to_string(kTop) + " +repage -depth 8 rgb:" + path +
                " 2>/dev/null");
    return Shot{read_file(path)};
}

// Pixels of one colour family in a column range of the view: how many, and
// where their middle is.
struct Patch {
    int count = 0, x = 0, y = 0, left = kWidth, right = 0, top = kHeight, bottom = 0;
};

inline Patch find(const Shot& s, int from_x, int to_x, const std::function<bool(const uint8_t*)>& is) {
    Patch p;
    long sx = 0, sy = 0;
    for (int y = 0; s.ok() && y < kHeight; ++y)
        for (int x = from_x; x < to_x; ++x)
            if (is(s.at(x, y))) {
                ++p.count, sx += x, sy += y;
                p.left = std::min(p.left, x), p.right = std::max(p.right, x);
                p.top = std::min(p.top, y), p.bottom = std::max(p.bottom, y);
            }
    if (p.count) p.x = int(sx / p.count), p.y = int(sy / p.count);
    return p;
}

inline int count_in(const Shot& s, const Patch& box, const std::function<bool(const uint8_t*)>& is) {
    int n = 0;
    for (int y = box.top; y <= box.bottom; ++y)
        for (int x = box.left; x <= box.right; ++x) n += is(s.at(x, y));
    return n;
}

}  // namespace zk::test
