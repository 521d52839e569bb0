// zelnik-server --demo seeding its worlds from the generated object trees.
#include <gtest/gtest.h>

#include <signal.h>

#include <string>
#include <vector>

#include "server/demo.h"
#include "support/process.h"
#include "support/temp_dir.h"

using zk::test::Process;
using zk::test::TempDir;

namespace {

size_t objects_in(const std::string& content_file) {
    std::vector<zk::server::DemoProblem> problems;
    const size_t n = zk::server::demo_parse(zk::test::read_file(content_file), problems).size();
    EXPECT_TRUE(problems.empty());
    return n;
}

std::string run(const TempDir& dir, const std::string& objects, const std::string& tag) {
    Process p(ZELNIK_SERVER_BINARY,
              {"--data", dir.file("data"), "--demo", "--objects", objects, "--universe-port", "0", "--http-port", "0"},
              dir.path(), tag);
    EXPECT_TRUE(zk::test::wait_until([&] { return p.err().find("world lagoon on") != std::string::npos; }, 20000))
        << p.err();
    p.signal(SIGTERM);
    EXPECT_EQ(p.wait(10000), 0) << p.err();
    return p.err();
}

}  // namespace

TEST(DemoProgram, SeedsTheDemoWorldsOnceFromTheObjectTrees) {
    TempDir dir;
    const size_t zk = objects_in(std::string(ZK_OBJECTS_DIR) + "/zk/world.txt");
    const size_t lagoon = objects_in(std::string(ZK_OBJECTS_DIR) + "/lagoon/world.txt");
    ASSERT_GE(zk, 200u);
    ASSERT_GE(lagoon, 10u);

    std::string log = run(dir, ZK_OBJECTS_DIR, "first");
    EXPECT_NE(log.find("world zk: " + std::to_string(zk) + " demo objects"), std::string::npos) << log;
    EXPECT_NE(log.find(", " + std::to_string(zk) + " objects"), std::string::npos) << log;
    EXPECT_NE(log.find(", " + std::to_string(lagoon) + " objects"), std::string::npos) << log;

    log = run(dir, ZK_OBJECTS_DIR, "second");
    EXPECT_EQ(log.find("demo objects"), std::string::npos) << "a restart must not seed again:\n" << log;
    EXPECT_NE(log.find(", " + std::to_string(zk) + " objects"), std::string::npos) << log;
}

TEST(DemoProgram, MissingContentIsReportedAndTheServerStillRuns) {
    TempDir dir;
    const std::string log = run(dir, dir.file("no-objects"), "missing");
    EXPECT_NE(log.find("cannot read the demo objects"), std::string::npos) << log;
    EXPECT_NE(log.find("world zk on"), std::string::npos) << log;
}
