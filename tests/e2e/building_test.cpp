// Two browsers in the demo world: the users chat, a citizen who owns the
// world moves and turns the welcome sign and the other browser sees it
// moved, a tourist's change is refused and goes back, and a stranger's
// hostile chat datagrams show safely.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "e2e/screen.h"
#include "support/process.h"
#include "support/temp_dir.h"

using namespace zk::test;

namespace {

// The welcome sign's navy board, lit from behind: far darker than the sky.
bool navy(const uint8_t* p) { return p[2] >= 20 && p[2] < 120 && p[0] * 2 < p[2] && p[1] * 2 < p[2]; }

void keys(const std::string& window, const std::string& what) {
    ASSERT_TRUE(focus(window));
    run_command("xdotool " + what);
}

// A click of `button` at a point of a view whose window stands `left`
// pixels right of the default place.
void click(int left, int x, int y, int button) {
    run_command("xdotool mousemove " + std::to_string(kLeft + left + x) + " " + std::to_string(kTop + y) + " click " +
                std::to_string(button));
}

// Sends `text` to every port of the avatar channel's range on this host
// from each of those ports, as if a browser there had said it: one of them
// is the other browser's. Forging the source needs a raw socket (root); false
// without one.
bool send_as_browsers(const std::string& text) {
    int s = socket(AF_INET, SOCK_RAW, IPPROTO_UDP);
    if (s < 0) return false;
    for (int from = 3000; from <= 3010; ++from)
        for (int port = 3000; port <= 3010; ++port) {
            std::string d(8, '\0');
            const uint16_t be[4] = {htons(uint16_t(from)), htons(uint16_t(port)), htons(uint16_t(8 + text.size())), 0};
            std::memcpy(d.data(), be, 8);  // checksum 0: none
            d += text;
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            sendto(s, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        }
    close(s);
    return true;
}

}  // namespace

TEST(BrowserAndServer, UsersChatAndACitizensBuildingShowsWhileATouristsIsRefused) {
    if (const std::string why = desktop_missing(); !why.empty()) GTEST_SKIP() << why;
    TempDir dir;
    ASSERT_TRUE(add_citizen_cy(dir.path()));  // Cy owns the world "zk"
    DemoServer demo =
        start_demo_server(ZELNIK_SERVER_BINARY, dir.path(), "server", {"--world", "zk:0:1", "--world", "lagoon"});
    ASSERT_NE(demo.universe, 0) << demo.process->err();
    Process& server = *demo.process;
    auto cy = start_browser(ZELNIK_BINARY, dir.path() + "/cy", demo.universe,
                            "[start]\nworld=zk\n[citizen]\nname=Cy\npassword=secret1\n[debug]\ntrace=1\n");
    auto ben = start_browser(ZELNIK_BINARY, dir.path() + "/ben", demo.universe,
                             "[start]\nworld=zk\n[citizen]\ntourist=Ben\n[layout]\nmain_x=520\nmain_y=0\n"
                             "[debug]\ntrace=1\n");
    const std::string cy_log = dir.path() + "/cy/prog/zelnik.log", ben_log = dir.path() + "/ben/prog/zelnik.log";
    std::string cy_window, ben_window;
    ASSERT_TRUE(wait_until([&] {
        cy_window = window_of(*cy), ben_window = window_of(*ben);
        return !cy_window.empty() && !ben_window.empty();
    }, 60000)) << server.err() << cy->err() << ben->err();
    std::this_thread::sleep_for(std::chrono::seconds(10));

    // A line each way: the other's console shows it with the speaker's name.
    keys(cy_window, "type --delay 20 'hello: there'");
    keys(cy_window, "key Return");
    EXPECT_TRUE(wait_for_text(ben_log, "Cy: hello: there", 10000));
    keys(ben_window, "type --delay 20 'hi Cy'");
    keys(ben_window, "key Return");
    EXPECT_TRUE(wait_for_text(cy_log, "\"Ben\": hi Cy", 10000));

    // Lines of control characters, broken UTF-8 and code-page bytes show
    // with the control characters blanked; an oversized datagram is dropped.
    static const char hostile[] = "\0\x07\"Bot: a\x01\x1b[2Jb\r\nc\xff\xfe\xe9t\xc3(";
    if (send_as_browsers(std::string(hostile, sizeof hostile - 1))) {
        send_as_browsers(std::string(1, '\0') + "\x08\"Bot: " + std::string(10240, 'x'));
        EXPECT_TRUE(wait_for_text(ben_log, "\"Bot: a  [2Jb  c", 10000));
        std::this_thread::sleep_for(std::chrono::seconds(1));
        EXPECT_EQ(read_file(ben_log).find(std::string(600, 'x')), std::string::npos);
    }
    // A line longer than the entry takes is cut.
    keys(ben_window, "type '" + std::string(300, 'y') + "'");
    keys(ben_window, "key Return");
    EXPECT_TRUE(wait_for_text(cy_log, "\"Ben\": " + std::string(234, 'y'), 10000));
    EXPECT_EQ(read_file(cy_log).find(std::string(235, 'y')), std::string::npos);
    ASSERT_TRUE(cy->running() && ben->running());

    // Both look north at the welcome sign. Cy selects it, moves it eight
    // steps back and turns it, and a left click on the sky ends the edit.
    const int before = find(take_shot(dir.path(), 520), 0, kWidth, navy).count;
    ASSERT_GT(before, 100) << "the welcome sign is not in Ben's view";
    const Patch sign = find(take_shot(dir.path()), 0, kWidth, navy);
    ASSERT_GT(sign.count, 100) << "the welcome sign is not in Cy's view";
    click(0, sign.x, sign.y, 3);
    keys(cy_window, "key Up Up Up Up Up Up Up Up Prior");
    click(0, kWidth / 2, 5, 1);
    EXPECT_TRUE(wait_for_text(cy_log, "pick_command (116)", 5000));
    int now = before;
    EXPECT_TRUE(wait_until([&] {
        now = find(take_shot(dir.path(), 520), 0, kWidth, navy).count;
        return now < before * 4 / 5;
    }, 45000)) << "Ben's view still shows " << now << " navy pixels of " << before;

    // Ben, a tourist, tries the same: the Building Inspector refuses and the
    // sign stands where Cy put it.
    const int moved = now;
    const Patch there = find(take_shot(dir.path(), 520), 0, kWidth, navy);
    click(520, there.x, there.y, 3);
    keys(ben_window, "key Down Down Down Down");
    click(520, kWidth / 2, 5, 1);
    EXPECT_TRUE(wait_for_text(ben_log, "Building Inspector: You are only allowed to change your own property", 10000));
    EXPECT_TRUE(wait_until([&] {
        now = find(take_shot(dir.path(), 520), 0, kWidth, navy).count;
        return std::abs(now - moved) < moved / 10;
    }, 10000)) << "after the refusal Ben sees " << now << " navy pixels, not " << moved;

    for (auto* p : {cy.get(), ben.get()}) {
        p->signal(SIGTERM);
        EXPECT_EQ(p->wait(20000), 0) << p->err();
    }
    server.signal(SIGTERM);
    EXPECT_EQ(server.wait(10000), 0);
}
