#include "upgrade/check.h"

#include <dirent.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <thread>

#include "core/log.h"
#include "core/settings.h"
#include "common/messages.h"
#include "net/universe.h"
#include "platform/files.h"
#include "platform/ui.h"
#include "upgrade/about.h"
#include "upgrade/kit.h"

extern char** environ;

namespace zk {

namespace {

void trace(const char* name) {
    if (log_on(Trace::trace)) log_write("%s", name);
}

// The executable of a running process, or empty.
std::string process_exe(const char* pid) {
    char link[64], target[PATH_MAX];
    std::snprintf(link, sizeof link, "/proc/%s/exe", pid);
    ssize_t n = readlink(link, target, sizeof target - 1);
    if (n <= 0) return {};
    std::string t(target, static_cast<size_t>(n));
    // A replaced file reads " (deleted)" at the end; it is still that program.
    const std::string deleted = " (deleted)";
    if (t.size() > deleted.size() && t.compare(t.size() - deleted.size(), deleted.size(), deleted) == 0)
        t.resize(t.size() - deleted.size());
    return t;
}

}  // namespace

int build_prompt(uint32_t own, uint32_t minimum, uint32_t current) {
    if (own < minimum) return 2;
    if (own < current) return 1;
    return 0;
}

std::string upgrade_objects_host() {
    int port = settings_get_int("universe", "port");
    if (port <= 0 || port > 65535) port = universe_default_port;
    return universe_host() + ":" + std::to_string(port + 10);
}

UpgradeCommand upgrade_command(const std::string& program_dir, const std::string& host, bool beta) {
    UpgradeCommand c;
    c.program = program_dir + "/upgrade";
    c.host = host;
    c.kit = std::string("upgrade/") + (beta ? "beta/" : "") + "kit" + std::to_string(browser_build) + ".rtp";
    c.browser = "zelnik";
    return c;
}

int upgrade_start(const UpgradeCommand& command, int* reason) {
    int dummy = 0;
    if (!reason) reason = &dummy;
    *reason = 0;
    if (access(command.program.c_str(), X_OK) != 0) {
        *reason = errno;
        return errno == ENOMEM ? 53 : 54;
    }
    std::string a0 = command.program, a1 = command.host, a2 = command.kit, a3 = command.browser;
    char* argv[] = {a0.data(), a1.data(), a2.data(), a3.data(), nullptr};
    pid_t pid = 0;
    int rc = posix_spawn(&pid, command.program.c_str(), nullptr, nullptr, argv, environ);
    *reason = rc;
    if (rc == 0) return 0;
    if (rc == ENOENT) return 54;
    if (rc == ENOMEM || rc == EAGAIN) return 53;
    return 52;
}

int build_check(const std::string& name, const std::string& password) {
    trace("build_check");
    uint32_t minimum = 0, current = 0;
    uint8_t beta = 0;
    int rc = universe_check_build(name, password, &minimum, &current, &beta);
    int prompt = 0;
    if (rc != 0) {
        about_set_waiting(rc == 400 ? load_message(80, product_name()) : load_message(152, rc));
    } else {
        prompt = build_prompt(browser_build, minimum, current);
        if (prompt == 0) return 0;
        if (prompt == 2)
            about_must_upgrade();
        else
            about_should_upgrade();
    }
    for (;;) {
        if (ui_present() && ui().quit_requested()) return 1;
        AboutButton b = about_wait(100);
        if (b == AboutButton::none) continue;
        if (b == AboutButton::skip) return 0;
        if (b == AboutButton::cancel) return 1;
        if (rc != 0) return 0;  // no upgrade to start after a failed check
        break;
    }
    const UpgradeCommand command = upgrade_command(program_directory(), upgrade_objects_host(), beta != 0);
    int reason = 0;
    if (int msg = upgrade_start(command, &reason)) ui().stop_box(product_name(), load_message(msg, reason));
    return 1;
}

bool upgrade_running(const std::string& program_dir) { return process_running(program_dir + "/upgrade"); }

bool process_running(const std::string& target) {
    DIR* d = opendir("/proc");
    if (!d) return false;
    bool found = false;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        if (process_exe(e->d_name) == target) {
            found = true;
            break;
        }
    }
    closedir(d);
    return found;
}

bool upgrade_replace(const std::string& program_dir, int wait_ms, int tries, int gap_ms) {
    const std::string fresh = program_dir + "/upgrade.new";
    const std::string target = program_dir + "/upgrade";
    if (access(fresh.c_str(), F_OK) != 0) return false;
    // Bounded, so a hung upgrade cannot keep the browser from starting.
    for (int waited = 0; waited < wait_ms && upgrade_running(program_dir); waited += 50)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    bool replaced = false;
    for (int i = 0; i < tries && !replaced; ++i) {
        std::string bytes;
        if (file_read_all(fresh, bytes, 256u * 1024 * 1024) && file_replace(target, bytes)) {
            chmod(target.c_str(), 0755);
            replaced = true;
        } else if (i + 1 < tries) {
            std::this_thread::sleep_for(std::chrono::milliseconds(gap_ms));
        }
    }
    unlink(fresh.c_str());
    return replaced;
}

void check_for_new_upgrade() {
    trace("check_for_new_upgrade");
    upgrade_replace(program_directory(), 30000, 30, 1000);
    // An upgrade killed half-way is finished or undone before the browser
    // reads a file of its own.
    if (!upgrade_running(program_directory())) kit_recover(program_directory());
}

}  // namespace zk
