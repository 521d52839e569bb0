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
using zk::test::read_file;
using zk::test::TempDir;
using zk::test::write_file;

namespace {

int parse(const std::string& line, DemoObject& o, std::string& reason) { return demo_parse_line(line, o, reason); }

std::string decipher(const std::string& bytes) {
    PkCipher cipher(secret_key());
    std::string out;
    for (char c : bytes) out.push_back(static_cast<char>(cipher.decrypt(static_cast<uint8_t>(c))));
    return out;
}

size_t count_objects(const std::string& text) {
    std::vector<DemoProblem> problems;
    return demo_parse(text, problems).size();
}

}  // namespace

TEST(DemoContent, ReadsAFullLine) {
    DemoObject o;
    std::string reason;
    ASSERT_EQ(parse("  -1.25 0.1 3.0005 90 sign.rwx |  Welcome, friend | create sign \"a | b\" color=red  ", o, reason), 1);
    EXPECT_EQ(o.x, -1250);
    EXPECT_EQ(o.y, 100);
    EXPECT_EQ(o.z, 3001);  // rounded to the nearest thousandth
    EXPECT_EQ(o.yaw, 900);
    EXPECT_EQ(o.model, "sign.rwx");
    EXPECT_EQ(o.description, "Welcome, friend");
    EXPECT_EQ(o.action, "create sign \"a | b\" color=red");  // later bars belong to the action
}

TEST(DemoContent, DescriptionAndActionAreOptional) {
    DemoObject o;
    std::string reason;
    ASSERT_EQ(parse("1 0 2 0 tree1", o, reason), 1);
    EXPECT_EQ(o.description, "");
    EXPECT_EQ(o.action, "");
    ASSERT_EQ(parse("1 0 2 0 tree1 | An oak", o, reason), 1);
    EXPECT_EQ(o.description, "An oak");
    EXPECT_EQ(o.action, "");
    ASSERT_EQ(parse("1 0 2 0 door || bump teleport lagoon\r", o, reason), 1);
    EXPECT_EQ(o.description, "");
    EXPECT_EQ(o.action, "bump teleport lagoon");
}

TEST(DemoContent, YawIsKeptWithinATurn) {
    DemoObject o;
    std::string reason;
    const struct {
        const char* yaw;
        int tenths;
    } cases[] = {{"0", 0}, {"359.9", 3599}, {"360", 0}, {"-90", 2700}, {"725.5", 55}, {"-720", 0}};
    for (const auto& c : cases) {
        ASSERT_EQ(parse(std::string("0 0 0 ") + c.yaw + " wall", o, reason), 1) << c.yaw;
        EXPECT_EQ(o.yaw, c.tenths) << c.yaw;
    }
}

TEST(DemoContent, DamagedLinesAreRefusedWithAReason) {
    const std::string long_text(256, 'a');
    const std::string cases[] = {
        "0 0 0 wall",                              // a field missing
        "0 0 0 0 wall extra | d",                  // a blank in the model
        "x 0 0 0 wall",                            // not a number
        "0 0 0 0.5.5 wall",                        //
        "nan 0 0 0 wall",                          //
        "0 inf 0 0 wall",                          //
        "1e300 0 0 0 wall",                        // beyond the world's edge
        "0 0 -40000 0 wall",                       //
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
        EXPECT_EQ(parse(line, o, reason), -1) << line.substr(0, 60);
        EXPECT_FALSE(reason.empty()) << line.substr(0, 60);
    }
    // Exactly at the limits is still fine.
    DemoObject o;
    std::string reason;
    const std::string at_limit(255, 'b');
    EXPECT_EQ(parse("32000 32.767 -32000 0 " + at_limit + " | " + at_limit + " | " + at_limit, o, reason), 1) << reason;
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

TEST(DemoSeed, FillsAnEmptyWorldOnceAndPlacesObjectsInTheirCells) {
    TempDir dir;
    const std::string content = dir.file("world.txt");
    write_file(content,
               "# test world\n"
               "0.25 0 0.5 0 plate\n"
               "-0.25 0.1 -1.5 90 sign | Hello | create sign\n"
               "not an object\n"
               "2.999 0 0 0 tree1\n");
    const std::string db = dir.file("world-zk.db");
    {
        WorldStore store;
        ASSERT_EQ(store.open(db), "");
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
        EXPECT_EQ(sign->owner, kDemoOwner);
        EXPECT_EQ(sign->description, "Hello");
        EXPECT_EQ(sign->action, "create sign");
        auto tree = store.find(2, 0, 0);
        ASSERT_TRUE(tree);
        EXPECT_EQ(tree->x, 999);
        // Browsers are told about the new cells.
        EXPECT_GT(store.sector_version(0, 0), 0u);
        EXPECT_EQ(decipher(store.attributes()[22]), "lanternfish");
    }
    {
        // A restart finds the objects and adds nothing.
        WorldStore store;
        ASSERT_EQ(store.open(db), "");
        const DemoSeedResult r = demo_seed(store, content, "zk", kDemoOwner);
        EXPECT_EQ(r.added, 0);
        EXPECT_EQ(r.error, "");
        EXPECT_EQ(store.object_count(), 3u);
    }
}

TEST(DemoSeed, KeepsAnObjectPasswordTheOwnerSet) {
    TempDir dir;
    write_file(dir.file("world.txt"), "0 0 0 0 wall\n");
    WorldStore store;
    ASSERT_EQ(store.open(dir.file("w.db")), "");
    store.set_attributes({{0, "Lagoon"}, {22, demo_encipher_password("mine")}});
    EXPECT_EQ(demo_seed(store, dir.file("world.txt"), "lagoon", 7).added, 1);
    auto attrs = store.attributes();
    EXPECT_EQ(decipher(attrs[22]), "mine");
    EXPECT_EQ(attrs[0], "Lagoon");
    EXPECT_EQ(store.find(0, 0, 0)->owner, 7u);
}

TEST(DemoSeed, WorldsOutsideTheDemoGetNoPassword) {
    TempDir dir;
    write_file(dir.file("world.txt"), "0 0 0 0 wall\n");
    WorldStore store;
    ASSERT_EQ(store.open(dir.file("w.db")), "");
    EXPECT_EQ(demo_seed(store, dir.file("world.txt"), "elsewhere", 1).added, 1);
    EXPECT_EQ(store.attributes().count(22), 0u);
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

TEST(DemoSeed, AMissingFileIsAnErrorAndLeavesTheWorldEmpty) {
    TempDir dir;
    WorldStore store;
    ASSERT_EQ(store.open(dir.file("w.db")), "");
    const DemoSeedResult r = demo_seed(store, dir.file("nope.txt"), "zk", 1);
    EXPECT_NE(r.error.find("nope.txt"), std::string::npos);
    EXPECT_EQ(r.added, 0);
    EXPECT_EQ(store.object_count(), 0u);
    EXPECT_EQ(store.attributes().count(22), 0u);
}

TEST(DemoSeed, TheShippedWorldsFitEntirely) {
    for (const char* world : {"zk", "lagoon"}) {
        TempDir dir;
        const std::string path = std::string(ZK_ASSETS_DIR) + "/worlds/" + world + ".txt";
        const size_t expected = count_objects(read_file(path));
        WorldStore store;
        ASSERT_EQ(store.open(dir.file("w.db")), "");
        const DemoSeedResult r = demo_seed(store, path, world, kDemoOwner);
        EXPECT_EQ(r.error, "") << world;
        EXPECT_EQ(r.skipped, 0) << world;
        EXPECT_EQ(static_cast<size_t>(r.added), expected) << world;
        EXPECT_EQ(store.object_count(), expected) << world;
    }
}
