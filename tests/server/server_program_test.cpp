// The real zelnik-server program, started and stopped as its users would.
#include <gtest/gtest.h>

#include <signal.h>

#include <regex>
#include <string>

#include "support/process.h"
#include "support/server_harness.h"
#include "support/temp_dir.h"

using zk::test::port_in_log;
using zk::test::Process;
using zk::test::TempDir;

namespace {

std::string frame(uint8_t code, const std::string& payload) {
    std::string f;
    size_t len = 1 + payload.size();
    f.push_back(static_cast<char>(len >> 8));
    f.push_back(static_cast<char>(len & 255));
    f.push_back(static_cast<char>(code));
    return f + payload;
}
std::string str(const std::string& s) { return std::string(1, static_cast<char>(s.size())) + s; }

// rc and payload of the next universe reply.
std::pair<int, std::string> reply(zk::test::Client& c) {
    std::string head, body;
    if (!c.read_exact(head, 4)) return {-1, ""};
    size_t len = (size_t{static_cast<uint8_t>(head[0])} << 8) | static_cast<uint8_t>(head[1]);
    if (len > 2 && !c.read_exact(body, len - 2)) return {-1, ""};
    return {static_cast<uint8_t>(head[2]), body};
}


class ServerProgram : public ::testing::Test {
protected:
    std::unique_ptr<Process> start() {
        auto s = zk::test::start_demo_server(ZELNIK_SERVER_BINARY, dir_.path(), "server" + std::to_string(++runs_));
        EXPECT_NE(s.universe, 0) << s.process->err();
        return std::move(s.process);
    }
    TempDir dir_;
    int runs_ = 0;
};

}  // namespace

TEST_F(ServerProgram, ServesUniverseAndWorldsAndKeepsCitizensAcrossRestarts) {
    auto server = start();
    const uint16_t universe = port_in_log(server->err(), "universe server");
    ASSERT_NE(universe, 0);
    {
        zk::test::Client c(universe);
        c.send_bytes(frame(25, str("Eve") + str("apple1") + std::string(1, 2) + str("eve@example.org")));
        EXPECT_EQ(reply(c).first, 0);
        c.send_bytes(frame(24, str("zk")));
        auto [rc, body] = reply(c);
        EXPECT_EQ(rc, 0);
        ASSERT_EQ(body.size(), 6u);
        const uint16_t world = static_cast<uint16_t>((static_cast<uint8_t>(body[4]) << 8) | static_cast<uint8_t>(body[5]));
        EXPECT_EQ(world, port_in_log(server->err(), "world zk"));
    }
    server->signal(SIGTERM);
    EXPECT_EQ(server->wait(10000), 0) << server->err();

    server = start();
    zk::test::Client c(port_in_log(server->err(), "universe server"));
    c.send_bytes(frame(30, str("eve") + str("apple1")));
    EXPECT_EQ(reply(c).first, 0) << "the citizen is still there after a restart";
    EXPECT_NE(server->err().find("login eve: 0"), std::string::npos) << server->err();
    server->signal(SIGTERM);
    EXPECT_EQ(server->wait(10000), 0);
}

TEST_F(ServerProgram, BadCommandLinesAreRefusedClearly) {
    Process bad(ZELNIK_SERVER_BINARY, {"--universe-port", "99999", "--data", dir_.path()}, dir_.path(), "bad");
    EXPECT_EQ(bad.wait(10000), 2);
    EXPECT_NE(bad.err().find("--universe-port takes a number"), std::string::npos);
    Process nodata(ZELNIK_SERVER_BINARY, {}, dir_.path(), "nodata");
    EXPECT_EQ(nodata.wait(10000), 2);
    EXPECT_NE(nodata.err().find("--data DIR is required"), std::string::npos);
    Process help(ZELNIK_SERVER_BINARY, {"--help"}, dir_.path(), "help");
    EXPECT_EQ(help.wait(10000), 0);
    EXPECT_NE(help.out().find("usage: zelnik-server"), std::string::npos);
}
