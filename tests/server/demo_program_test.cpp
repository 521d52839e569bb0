// The real zelnik-server program, started and stopped as its users would:
// --demo seeds its worlds once from the generated object trees, and
// citizens and worlds outlive a restart.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "server/demo.h"
#include "support/process.h"
#include "support/server_harness.h"
#include "support/temp_dir.h"
#include "support/wire.h"

using zk::test::port_in_log;
using zk::test::Process;
using zk::test::TempDir;
using zk::test::Wire;

namespace {

size_t objects_in(const std::string& content_file) {
    std::vector<zk::server::DemoProblem> problems;
    const size_t n = zk::server::demo_parse(zk::test::read_file(content_file), problems).size();
    EXPECT_TRUE(problems.empty());
    return n;
}

// Sends a universe request and answers the rc and payload of its reply.
std::pair<int, std::string> call(zk::test::Client& c, int code, const Wire& payload) {
    c.send_bytes(Wire().u16(static_cast<int>(payload.b.size() + 1)).u8(code).raw(payload.b).s());
    std::string head, body;
    if (!c.read_exact(head, 4)) return {-1, ""};
    zk::FieldReader r = zk::test::reader(head);
    const size_t len = r.get_u16();
    if (len > 2 && !c.read_exact(body, len - 2)) return {-1, ""};
    return {r.get_byte(), body};
}

// Runs the server with --demo over `dir`, lets `check` talk to it, then
// ends it as a service manager would; answers its log.
std::string run(const TempDir& dir, const std::string& objects, const std::string& tag,
                const std::function<void(const std::string& log)>& check = nullptr) {
    Process p(ZELNIK_SERVER_BINARY,
              {"--data", dir.file("data"), "--demo", "--objects", objects, "--universe-port", "0", "--http-port", "0"},
              dir.path(), tag);
    EXPECT_TRUE(zk::test::wait_until([&] { return p.err().find("world lagoon on") != std::string::npos; }, 20000))
        << p.err();
    if (check) check(p.err());
    p.signal(SIGTERM);
    EXPECT_EQ(p.wait(10000), 0) << p.err();
    return p.err();
}

}  // namespace

TEST(ServerProgram, SeedsTheDemoWorldsOnceAndKeepsCitizensAcrossRestarts) {
    TempDir dir;
    const size_t zk = objects_in(std::string(ZK_OBJECTS_DIR) + "/zk/world.txt");
    const size_t lagoon = objects_in(std::string(ZK_OBJECTS_DIR) + "/lagoon/world.txt");

    std::string log = run(dir, ZK_OBJECTS_DIR, "first", [](const std::string& log) {
        zk::test::Client c(port_in_log(log, "universe server"));
        EXPECT_EQ(call(c, 25, Wire().str("Eve").str("apple1").u8(2).str("eve@example.org")).first, 0);
        auto [rc, body] = call(c, 24, Wire().str("zk"));
        EXPECT_EQ(rc, 0);
        ASSERT_EQ(body.size(), 6u);
        EXPECT_EQ(zk::test::reader(body.substr(4)).get_u16(), port_in_log(log, "world zk"));
    });
    EXPECT_NE(log.find("world zk: " + std::to_string(zk) + " demo objects"), std::string::npos) << log;
    EXPECT_NE(log.find(", " + std::to_string(lagoon) + " objects"), std::string::npos) << log;

    log = run(dir, ZK_OBJECTS_DIR, "second", [](const std::string& log) {
        zk::test::Client c(port_in_log(log, "universe server"));
        EXPECT_EQ(call(c, 30, Wire().str("eve").str("apple1")).first, 0) << "the citizen is still there";
        // Who is behind an avatar: nobody until the address has one in a world.
        const Wire here = Wire().u8(127).u8(0).u8(0).u8(1);
        EXPECT_EQ(call(c, 37, here).first, 3);
        const uint16_t world = port_in_log(log, "world zk");
        zk::test::Client browser(world);
        const int udp = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(world);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const std::string state = Wire().u8(0).zeros(17).s();
        EXPECT_TRUE(zk::test::wait_until([&] {
            sendto(udp, state.data(), state.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
            return call(c, 37, here).second == here.s() + Wire().str("Eve").s();
        }, 5000));
        close(udp);
    });
    EXPECT_EQ(log.find("demo objects"), std::string::npos) << "a restart must not seed again:\n" << log;
    EXPECT_NE(log.find(", " + std::to_string(zk) + " objects"), std::string::npos) << log;
}

TEST(ServerProgram, MissingContentIsReportedAndTheServerStillRuns) {
    TempDir dir;
    const std::string log = run(dir, dir.file("no-objects"), "missing");
    EXPECT_NE(log.find("cannot read the demo objects"), std::string::npos) << log;
    EXPECT_NE(log.find("world zk on"), std::string::npos) << log;
}

TEST(ServerProgram, BadCommandLinesAreRefusedClearly) {
    TempDir dir;
    struct Case {
        std::vector<std::string> args;
        int rc;
        std::string said;
    };
    const std::vector<Case> cases = {{{"--universe-port", "99999", "--data", dir.path()}, 2, "takes a number"},
                                     {{}, 2, "--data DIR is required"},
                                     {{"--help"}, 0, "usage: zelnik-server"}};
    for (const Case& c : cases) {
        Process p(ZELNIK_SERVER_BINARY, c.args, dir.path(), "bad");
        EXPECT_EQ(p.wait(10000), c.rc) << c.said;
        EXPECT_NE((p.err() + p.out()).find(c.said), std::string::npos) << c.said;
    }
}
