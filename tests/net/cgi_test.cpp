#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "net/cgi.h"
#include "support/temp_dir.h"

using namespace zk;
using zk::test::TempDir;
using zk::test::write_file;

TEST(Cgi, TheFirstLineOfAFileIsQueuedOnceUpToItsComma) {
    TempDir dir;
    const std::string longest = "teleport " + std::string(kCgiLineLimit - 9, 'x');
    const struct {
        const char* name;
        std::string text, command;  // no command: ""
    } cases[] = {
        {"go.txt", "Teleport zk 12N 3W 0a 90, more text\nsecond line\n", "Teleport zk 12N 3W 0a 90"},
        {"b.txt", "teleport lagoon", "teleport lagoon"},
        {"long.txt", longest + "yyy\n", longest},
        {"page.html", "<html>teleport zk</html>\n", ""},
    };
    std::string command;
    for (const auto& c : cases) {
        write_file(dir.file(c.name), c.text);
        cgi_init(dir.file(c.name));
        EXPECT_FALSE(cgi_take_command(command)) << "nothing before the first update";
        cgi_update();
        EXPECT_EQ(cgi_take_command(command) ? command : "", c.command) << c.name;
        cgi_update();
        EXPECT_FALSE(cgi_take_command(command)) << "a file is read once";
    }
    // A second start's file replaces the one still pending; a missing one is dropped.
    cgi_init(dir.file("go.txt"));
    cgi_hand_in(dir.file("b.txt"));
    cgi_update();
    ASSERT_TRUE(cgi_take_command(command));
    EXPECT_EQ(command, "teleport lagoon");
    cgi_hand_in(dir.file("missing.txt"));
    cgi_update();
    EXPECT_FALSE(cgi_take_command(command));
    cgi_term();
}

TEST(Cgi, AHandedInFifoIsRefusedWithoutWaitingForAWriter) {
    TempDir dir;
    const std::string fifo = dir.file("visit.txt");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // A writer that shows up only if somebody waits on the FIFO for it.
    std::atomic<bool> returned{false};
    std::thread writer([&] {
        while (!returned) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            int fd = returned ? -1 : open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd < 0) continue;
            EXPECT_EQ(write(fd, "teleport zk\n", 12), 12);
            close(fd);
            return;
        }
    });
    auto t0 = std::chrono::steady_clock::now();
    cgi_hand_in(fifo);
    cgi_update();
    auto spent = std::chrono::steady_clock::now() - t0;
    returned = true;
    writer.join();
    EXPECT_LT(spent, std::chrono::milliseconds(100));
    std::string command;
    EXPECT_FALSE(cgi_take_command(command)) << command;
    cgi_term();
}
