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

TEST(Cgi, ATeleportLineIsQueuedUpToItsComma) {
    TempDir dir;
    write_file(dir.file("go.txt"), "Teleport zk 12N 3W 0a 90, more text\nsecond line\n");
    cgi_init(dir.file("go.txt"));
    std::string command;
    EXPECT_FALSE(cgi_take_command(command)) << "nothing before the first update";
    cgi_update();
    ASSERT_TRUE(cgi_take_command(command));
    EXPECT_EQ(command, "Teleport zk 12N 3W 0a 90");
    cgi_update();
    EXPECT_FALSE(cgi_take_command(command)) << "a file is read once";
}

TEST(Cgi, OtherFilesAreIgnoredAndAHandInReplacesThePendingOne) {
    TempDir dir;
    write_file(dir.file("page.html"), "<html>teleport zk</html>\n");
    write_file(dir.file("b.txt"), "teleport lagoon");
    write_file(dir.file("long.txt"), "teleport " + std::string(1000, 'x') + "\n");
    std::string command;
    cgi_init(dir.file("missing.txt"));
    cgi_update();
    cgi_init(dir.file("page.html"));
    cgi_update();
    EXPECT_FALSE(cgi_take_command(command));

    cgi_init(dir.file("page.html"));
    cgi_hand_in(dir.file("b.txt"));
    cgi_update();
    ASSERT_TRUE(cgi_take_command(command));
    EXPECT_EQ(command, "teleport lagoon");
    EXPECT_FALSE(cgi_take_command(command));

    cgi_hand_in(dir.file("long.txt"));
    cgi_update();
    ASSERT_TRUE(cgi_take_command(command));
    EXPECT_EQ(command.size(), kCgiLineLimit) << "a line is read up to its limit";
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
            ssize_t n = write(fd, "teleport zk\n", 12);
            (void)n;
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
