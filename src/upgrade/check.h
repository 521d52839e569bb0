// The check for a newer build at login, starting the upgrade program, and
// finishing a self-update of the upgrade program at the next start.
#pragma once

#include <cstdint>
#include <string>

namespace zk {

// Start-up: puts a delivered upgrade.new in place of upgrade.
void check_for_new_upgrade();

// Asks the universe which builds it accepts and offers or demands an
// upgrade: 0 to go on with the login, 1 when the browser must exit.
int build_check(const std::string& name, const std::string& password);

// What the prompt is for these builds: 0 none, 1 optional, 2 mandatory.
int build_prompt(uint32_t own, uint32_t minimum, uint32_t current);

// The arguments `upgrade` is started with: the objects server's host, the
// kit's path on it, and the browser's file name.
struct UpgradeCommand {
    std::string program;  // the upgrade program beside the browser
    std::string host;
    std::string kit;      // "upgrade/kit162.rtp" or "upgrade/beta/kit162.rtp"
    std::string browser;  // the browser's file name
};
UpgradeCommand upgrade_command(const std::string& program_dir, const std::string& host, bool beta);
// Starts it; 0 when running, else the message number that says why not
// (with the system's reason in `*reason`).
int upgrade_start(const UpgradeCommand& command, int* reason = nullptr);

// The objects server that kits are fetched from: the universe's host, on the
// port beside the universe's where zelnik-server serves objects.
std::string upgrade_objects_host();

// Whether a process of ours runs the program file `exe_path`.
bool process_running(const std::string& exe_path);

// Whether an `upgrade` started from this program directory still runs.
bool upgrade_running(const std::string& program_dir);

// Replaces `upgrade` by `upgrade.new` in `program_dir`: waits (at most
// `wait_ms`) for a running upgrade to end, tries `tries` times `gap_ms`
// apart, then deletes upgrade.new whatever happened. True when replaced.
bool upgrade_replace(const std::string& program_dir, int wait_ms, int tries, int gap_ms);

}  // namespace zk
