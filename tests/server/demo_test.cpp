#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/pkcipher.h"
#include "server/demo.h"
#include "server/world_server.h"
#include "server/world_store.h"
#include "support/temp_dir.h"

using namespace zk;
using namespace zk::server;
using zk::test::TempDir;
using zk::test::write_file;

namespace {

std::string decipher(const std::string& bytes) {
    PkCipher cipher(secret_key());
    std::string out;
    for (char c : bytes) out.push_back(static_cast<char>(cipher.decrypt(static_cast<uint8_t>(c))));
    return out;
}

}  // namespace

TEST(DemoContent, LinesGiveTheirObjects) {
    const std::string most(255, 'b');
    const struct {
        std::string line;
        int x, y, z, yaw;
        std::string model, description, action;
    } cases[] = {
        // Rounded to the nearest thousandth; later bars belong to the action.
        {"  -1.25 0.1 3.0005 90 sign.rwx |  Welcome, friend | create sign \"a | b\" color=red  ", -1250, 100, 3001,
         900, "sign.rwx", "Welcome, friend", "create sign \"a | b\" color=red"},
        {"1 0 2 0 tree1", 1000, 0, 2000, 0, "tree1", "", ""},
        {"1 0 2 0 tree1 | An oak", 1000, 0, 2000, 0, "tree1", "An oak", ""},
        {"1 0 2 0 door || bump teleport lagoon\r", 1000, 0, 2000, 0, "door", "", "bump teleport lagoon"},
        // Yaw is kept within a turn.
        {"0 0 0 359.9 wall", 0, 0, 0, 3599, "wall", "", ""},
        {"0 0 0 360 wall", 0, 0, 0, 0, "wall", "", ""},
        {"0 0 0 -90 wall", 0, 0, 0, 2700, "wall", "", ""},
        {"0 0 0 725.5 wall", 0, 0, 0, 55, "wall", "", ""},
        {"0 0 0 -720 wall", 0, 0, 0, 0, "wall", "", ""},
        // Exactly at the limits.
        {"32000 32.767 -32000 0 " + most + " | " + most + " | " + most, 32000000, 32767, -32000000, 0, most, most,
         most},
    };
    for (const auto& c : cases) {
        DemoObject o;
        std::string reason;
        ASSERT_EQ(demo_parse_line(c.line, o, reason), 1) << c.line.substr(0, 60) << ": " << reason;
        EXPECT_EQ(std::vector<int>({o.x, o.y, o.z, o.yaw}), std::vector<int>({c.x, c.y, c.z, c.yaw})) << c.line;
        EXPECT_EQ(o.model, c.model);
        EXPECT_EQ(o.description, c.description);
        EXPECT_EQ(o.action, c.action);
    }
}

TEST(DemoContent, DamagedLinesAreRefusedWithAReason) {
    const std::string long_text(256, 'a');
    const std::string cases[] = {
        "0 0 0 wall",                              // a field missing
        "0 0 0 0 wall extra | d",                  // a blank in the model
        "x 0 0 0 wall",                            // not a number
        "nan 0 0 0 wall",                          //
        "1e300 0 0 0 wall",                        // beyond the world's edge
        "0 33 0 0 wall",                           // too high for 16-bit thousandths
        "0 0 0 1e9 wall",                          //
        "0 0 0 0 " + long_text,                    // model too long
        "0 0 0 0 wall | " + long_text,             // description too long
        "0 0 0 0 wall | d | " + long_text,         // action too long
        "0 0 0 0 wall | bell\x07 | ",              // control character
        std::string("0 0 0 0 wall | nul\0 | ", 20),
        "0 0 0 0 wall |" + std::string(2000, ' '),  // overlong line
        "| only a description",
        "0 0 0 0 ../../etc/passwd",                // model names are file names
        "0 0 0 0 models\\wall",
        std::string(40, '9') + " 0 0 0 wall",
    };
    for (const std::string& line : cases) {
        DemoObject o;
        std::string reason;
        EXPECT_EQ(demo_parse_line(line, o, reason), -1) << line.substr(0, 60);
        EXPECT_FALSE(reason.empty()) << line.substr(0, 60);
    }
}

TEST(DemoContent, ParsesAFileAndNumbersItsProblems) {
    std::vector<DemoProblem> problems;
    const auto objects = demo_parse("# header\n0 0 0 0 wall\nbad line\r\n \t\r\n   # note\n1 0 1 45 tree1 | An oak\n0 0 0\n", problems);
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_EQ(objects[1].model, "tree1");
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_EQ(problems[0].line, 3);
    EXPECT_EQ(problems[1].line, 7);
    // Binary garbage yields nothing and does not crash.
    std::string garbage;
    for (int i = 0; i < 5000; ++i) garbage.push_back(static_cast<char>((i * 7919) & 0xFF));
    problems.clear();
    EXPECT_TRUE(demo_parse(garbage, problems).empty());
    EXPECT_FALSE(problems.empty());
}

// ---- seeding ------------------------------------------------------------
// That the shipped worlds seed whole, once, and that a missing file is
// reported are ServerProgram's tests.

TEST(DemoSeed, FillsAnEmptyWorldOnceAndPlacesObjectsInTheirCells) {
    TempDir dir;
    const std::string content = dir.file("world.txt");
    write_file(content,
               "# test world\n"
               "0.25 0 0.5 0 plate\n"
               "-0.25 0.1 -1.5 90 sign | Hello | create sign\n"
               "not an object\n"
               "2.999 0 0 0 tree1\n");
    WorldStore store;
    ASSERT_EQ(store.open(dir.file("world-zk.db")), "");
    const DemoSeedResult r = demo_seed(store, content, "zk", kDemoOwner);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.added, 3);
    EXPECT_EQ(r.skipped, 1);
    EXPECT_EQ(store.object_count(), 3u);
    // -0.25 is in cell -1 at 750 thousandths; -1.5 in cell -2 at 500.
    auto sign = store.find(-1, -2, 0);
    ASSERT_TRUE(sign);
    EXPECT_EQ(sign->x, 750);
    EXPECT_EQ(sign->z, 500);
    EXPECT_EQ(sign->y, 100);
    EXPECT_EQ(sign->yaw, 900);
    EXPECT_EQ(sign->description, "Hello");
    EXPECT_EQ(sign->action, "create sign");
    auto tree = store.find(2, 0, 0);
    ASSERT_TRUE(tree);
    EXPECT_EQ(tree->x, 999);
    // Browsers are told about the new cells.
    EXPECT_GT(store.sector_version(0, 0), 0u);
    EXPECT_EQ(decipher(store.attributes()[22]), "lanternfish");
    EXPECT_EQ(store.attributes()[2], "ground");
    EXPECT_EQ(demo_seed(store, content, "zk", kDemoOwner).added, 0) << "a seeded world is left alone";
}

TEST(DemoSeed, APasswordAndAGroundTheOwnerSetAreKeptAndOtherWorldsGetNone) {
    const struct {
        std::string world, password, expect;
    } cases[] = {{"lagoon", "mine", "mine"}, {"elsewhere", "", "<none>"}};
    for (const auto& c : cases) {
        TempDir dir;
        write_file(dir.file("world.txt"), "0 0 0 0 wall\n");
        WorldStore store;
        ASSERT_EQ(store.open(dir.file("w.db")), "");
        // The owner of lagoon cleared its ground.
        if (!c.password.empty()) store.set_attributes({{22, demo_encipher_password(c.password)}, {2, ""}});
        EXPECT_EQ(demo_seed(store, dir.file("world.txt"), c.world, 7).added, 1);
        const auto attrs = store.attributes();
        EXPECT_EQ(attrs.count(22) ? decipher(attrs.at(22)) : "<none>", c.expect) << c.world;
        EXPECT_EQ(attrs.count(2) ? attrs.at(2) : "<none>", c.password.empty() ? "<none>" : "") << c.world;
        EXPECT_EQ(store.find(0, 0, 0)->owner, 7u);
    }
}

TEST(DemoSeed, FullCellsSkipObjectsInsteadOfOverflowing) {
    TempDir dir;
    std::string text;
    const std::string description(200, 'd');
    for (int i = 0; i < 20; ++i) text += "0.5 0 0.5 0 wall | " + description + "\n";
    text += "1.5 0 0.5 0 wall\n";
    write_file(dir.file("world.txt"), text);
    WorldStore store;
    ASSERT_EQ(store.open(dir.file("w.db")), "");
    const DemoSeedResult r = demo_seed(store, dir.file("world.txt"), "zk", 1);
    const long fit = static_cast<long>(WorldServer::kMaxCellBytes / (20 + 4 + description.size()));
    EXPECT_EQ(r.added, fit + 1);
    EXPECT_EQ(r.skipped, 20 - fit);
    EXPECT_LE(store.cell_bytes(0, 0), WorldServer::kMaxCellBytes);
    EXPECT_EQ(store.cell_count(1, 0), 1u);
}
