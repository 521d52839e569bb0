// The upgrade program's work, apart from its window: it fetches the kit,
// waits for the browser to end, applies the kit and starts the browser
// again. Everything runs from `upgrade_tick`, called by the window's timer.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace zk {

// Texts of the upgrade program's own string table ("" for an unknown id).
const char* upgrade_message(int id);

// The command line after the program's name: host, kit path, and the rest
// of the line (blanks included) as the browser's file name.
struct UpgradeArgs {
    bool ok = false;  // three parts present
    std::string host, kit, browser;
};
UpgradeArgs upgrade_split(const std::string& line);

std::string upgrade_receiving_text(uint32_t total_bytes);
std::string upgrade_remaining_text(uint32_t seconds, uint32_t bytes_per_second);

// Download statistics: a ring of 15 one-second samples for the rate.
struct UpgradeStats {
    bool started = false;
    uint32_t start = 0, sample = 0;
    struct Sample {
        uint32_t bytes = 0, ms = 0;
    } ring[15];
    int slot = 0;
    uint32_t shown = 0;
};

// What the window shows; the Qt window implements it, tests fake it.
class UpgradeWindow {
public:
    virtual ~UpgradeWindow() = default;
    virtual void set_line(int line, const std::string& text) = 0;  // line 1 or 2
    virtual void set_bar(double fraction) = 0;
    virtual void stop_box(const std::string& caption, const std::string& text) = 0;
    // Handles the window events waiting (the window may close meanwhile).
    virtual void pump() = 0;
};

// One step of the statistics with the request's progress at `now`.
void upgrade_stats_step(UpgradeStats& stats, uint32_t now, uint32_t received, uint32_t total, const std::string& state,
                        UpgradeWindow& window);

// The outside world as the program sees it; tests replace parts.
struct UpgradeHooks {
    std::function<bool(const std::string& browser_path)> browser_running;
    // The system has let go of the browser's file (it can be opened for writing).
    std::function<bool(const std::string& browser_path)> browser_released;
    std::function<bool(const std::string& browser_path)> start_browser;
};
UpgradeHooks upgrade_default_hooks();

enum class UpgradeState { downloading, waiting, installing, ended };

// Starts the program in `program_dir` with the command `line`: false (after
// its box) when it must end at once. Opens the HTTP session and starts the
// kit request.
bool upgrade_begin(const std::string& line, const std::string& program_dir, UpgradeWindow& window,
                   UpgradeHooks hooks = upgrade_default_hooks());
// One timer step; false once the program is to end.
bool upgrade_tick(uint32_t now);
// The window was closed: an apply under way aborts, the browser is not started.
void upgrade_window_destroyed();
// Closes the HTTP session.
void upgrade_end();
UpgradeState upgrade_state();
// The result of the apply (-1 before one ran).
int upgrade_result();

// True while another `upgrade` runs for `program_dir`: holds a lock on
// <program_dir>/cache/upgrade.lock for as long as this process lives.
bool upgrade_other_instance(const std::string& program_dir);

}  // namespace zk
