// A browser too old for its server upgrades itself: it starts `upgrade`,
// which fetches the kit from the server's object port, waits for the
// browser to end, applies the kit and starts the new browser.
#include <gtest/gtest.h>

#include <dirent.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/process.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using namespace zk::test;

namespace {

// A process of ours running `exe`, or 0.
pid_t find_process(const std::string& exe) {
    pid_t found = 0;
    DIR* d = opendir("/proc");
    while (dirent* e = d ? readdir(d) : nullptr) {
        char target[PATH_MAX];
        const ssize_t n = readlink(("/proc/" + std::string(e->d_name) + "/exe").c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<size_t>(n)).rfind(exe, 0) == 0) found = std::atoi(e->d_name);
    }
    if (d) closedir(d);
    return found;
}

// A port that is free, with the one ten above it free as well (the object
// server's, where the browser looks for kits).
uint16_t free_port_pair() {
    for (int tries = 0; tries < 50; ++tries) {
        int fds[2] = {socket(AF_INET, SOCK_STREAM, 0), socket(AF_INET, SOCK_STREAM, 0)};
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        bind(fds[0], reinterpret_cast<sockaddr*>(&a), sizeof a);
        getsockname(fds[0], reinterpret_cast<sockaddr*>(&a), &len);
        const uint16_t port = ntohs(a.sin_port);
        a.sin_port = htons(static_cast<uint16_t>(port + 10));
        const bool ok = port < 65000 && bind(fds[1], reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        close(fds[0]);
        close(fds[1]);
        if (ok) return port;
    }
    return 0;
}

}  // namespace

TEST(Upgrade, OldBrowserFetchesAppliesAndRestartsIntoTheNewVersion) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs a display (scripts/test runs under Xvfb)";
    setenv("ZELNIK_UNATTENDED", "1", 1);
    TempDir dir;
    const std::string prog = dir.file("prog"), next = dir.file("next");
    // The installed version, and the next one: the browser with bytes of a
    // new build behind it (it still runs), a changed and an added file.
    for (const std::string& d : {prog, next}) {
        fs::create_directories(d);
        fs::copy_file(ZELNIK_BINARY, d + "/zelnik");
        fs::copy_file(UPGRADE_BINARY, d + "/upgrade");
    }
    write_file(prog + "/readme.txt", "build 162");
    write_file(next + "/readme.txt", "build 163");
    fs::create_directories(next + "/extra");
    write_file(next + "/extra/notes.txt", "new in 163");
    {
        std::string bytes = read_file(next + "/zelnik") + "\nzelnik build 163\n";
        write_file(next + "/zelnik", bytes);
    }
    fs::create_directories(dir.file("kits"));
    ASSERT_EQ(run_command(std::string(ZELNIK_KIT_BINARY) + " " + prog + " " + next + " " + dir.file("kits/kit162.rtp") +
                          " >/dev/null && echo ok"),
              "ok\n");

    const uint16_t port = free_port_pair();
    ASSERT_NE(port, 0);
    auto server = [&](const char* tag, const char* build) {
        return start_demo_server(ZELNIK_SERVER_BINARY, dir.path(), tag,
                                 {"--universe-port", std::to_string(port), "--http-port", std::to_string(port + 10),
                                  "--minimum-build", build, "--current-build", build, "--upgrades", dir.file("kits")});
    };
    DemoServer demanding = server("server163", "163");
    ASSERT_EQ(demanding.universe, port) << demanding.process->err();
    write_file(prog + "/zelnik.ini",
               "[universe]\nhost=127.0.0.1\nport=" + std::to_string(port) + "\n[debug]\ntrace=1\n");
    std::vector<std::string> env = browser_env();
    env.push_back("ZELNIK_UNATTENDED_UPGRADE=1");
    Process old_browser(prog + "/zelnik", {}, prog, "browser", env);

    // Held as soon as it runs, while the server comes back accepting 162:
    // the new browser stands for a build the server accepts.
    pid_t upgrade = 0;
    ASSERT_TRUE(wait_until([&] { return (upgrade = find_process(prog + "/upgrade")) != 0; }, 60000))
        << old_browser.err();
    kill(upgrade, SIGSTOP);
    EXPECT_EQ(old_browser.wait(30000), 0) << old_browser.err();
    EXPECT_NE(read_file(prog + "/zelnik.log").find("build_check"), std::string::npos);
    demanding.process->signal(SIGTERM);
    ASSERT_EQ(demanding.process->wait(20000), 0);
    DemoServer accepting = server("server162", "162");
    ASSERT_EQ(accepting.universe, port) << accepting.process->err();
    kill(upgrade, SIGCONT);

    EXPECT_TRUE(wait_until([&] { return find_process(prog + "/upgrade") == 0; }, 60000));
    EXPECT_TRUE(demanding.process->err().find("GET /upgrade/kit162.rtp 200") != std::string::npos ||
                accepting.process->err().find("GET /upgrade/kit162.rtp 200") != std::string::npos);
    for (const char* file : {"zelnik", "upgrade", "readme.txt", "extra/notes.txt"})
        EXPECT_EQ(read_file(prog + "/" + file), read_file(next + "/" + file)) << file;
    EXPECT_FALSE(fs::exists(prog + "/upgrade.journal"));
    // The new browser passes the build check and goes on as a tourist.
    EXPECT_TRUE(wait_for_text(prog + "/zelnik.log", "tourist", 60000)) << old_browser.err();
    pid_t browser = find_process(prog + "/zelnik");
    EXPECT_NE(browser, 0);
    if (browser) kill(browser, SIGTERM);
    EXPECT_TRUE(wait_until([&] { return find_process(prog + "/zelnik") == 0; }, 30000));
    accepting.process->signal(SIGTERM);
    accepting.process->wait(20000);
}
