// The animation registry: both file versions, the token rules, parse errors
// and the blocks they drop, the built-in types, the queries and the bounds.
#include "people/registry.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"

namespace zk {
namespace {

const std::string v2 = "# animation registry version 0.2\n";
const std::string v3 = "# animation registry version 0.3\nversion 3\n";

// "name,geometry[,k=v...] imp:a=s,... exp:a=s,..." for every type read.
std::string dump() {
    std::string out;
    for (int t = 0; t < registry_count(); ++t) {
        const AvatarEntry& e = *registry_entry(t);
        out += out.empty() ? "" : " | ";
        for (const auto& [k, v] : e.attributes) out += k + "=" + v + ",";
        for (size_t i = 0; i < e.implicit_names.size(); ++i)
            out += " imp:" + e.implicit_names[i] + "=" + e.implicit_sequences[i];
        for (size_t i = 0; i < e.explicit_names.size(); ++i)
            out += " exp:" + e.explicit_names[i] + "=" + e.explicit_sequences[i];
    }
    return out;
}

TEST(Registry, FilesParseIntoTypesAndErrorsDropTheirBlock) {
    struct Case {
        std::string text;
        int result;
        std::string error, types;
    };
    const std::string bob = "avatar name = bob endavatar\n";
    const Case cases[] = {
        {v3, 0, "", ""},
        {v3 + "# a comment avatar\navatar\n name=bob geometry = b.rwx\n beginimp walk = w1 wait=w2 endimp\n"
              " beginexp wave = hi endexp beginexp bow=low endexp\nendavatar\n",
         0, "", "name=bob,geometry=b.rwx, imp:walk=w1 imp:wait=w2 exp:wave=hi exp:bow=low"},
        // A value is one digit, a keyword beats an identifier only at equal length.
        {"# animation registry version 0.3\nversion 30\n", 2, "unexpected identifier '30'", ""},
        {"# animation registry version 0.3\nversion 4\n" + bob, 2, "can't handle requested file version", ""},
        {"# animation registry version 0.3\r\nversion\r\n3\r\navatar avatars = 70 Avatar = x endavatar\r\n", 0, "",
         "avatars=70,Avatar=x,"},
        {v3 + "avatar name = 7 endavatar\n" + bob, 3, "unexpected value '7'", "name=bob,"},
        {"# animation registry version 0.4\n" + bob, 1, "unrecognized cookie", ""},
        {"# animation registry\n", 1, "unrecognized cookie", ""},
        // An attribute given twice keeps its place and its last value.
        {v3 + "avatar name = a geometry = g name = b endavatar", 0, "", "name=b,geometry=g,"},
        // Errors inside a block drop it and reading goes on after its end.
        {v3 + bob + "avatar name = = x endavatar\n" + bob, 4, "unexpected keyword 'equals'", "name=bob, | name=bob,"},
        {v3 + "avatar beginimp walk = w1 endexp endavatar\n" + bob, 3, "unexpected keyword 'endexp'", "name=bob,"},
        {v3 + "avatar name = a$b endavatar\n" + bob, 3, "unexpected token '$'", "name=bob,"},
        {v3 + bob + "avatar name = x", 4, "unexpected end-of-file", "name=bob,"},
        // Outside a block an error ends the parse; what was read stays.
        {v3 + bob + "5\n" + bob, 4, "unexpected value '5'", "name=bob,"},
        {v3 + bob + "endavatar " + bob, 4, "unexpected keyword 'endavatar'", "name=bob,"},
        // Version 0.2: "cy" is type 0; the keys that count fill fixed slots.
        {v2 + "avatar bob geometry = bob2.rwx walk = w1 wave = hi colour = red endavatar\n", 0, "",
         "name=cy,geometry=cy.rwx, | name=bob,geometry=bob2.rwx, imp:walk=w1 imp:wait= imp:endwait= exp:wave=hi"},
        {v2 + "avatar cy walk = w endavatar\navatar al endavatar\n", 2, "cy was handled specially",
         "name=cy,geometry=cy.rwx, | name=al, imp:walk= imp:wait= imp:endwait= exp:wave="},
        // The offending token may itself end the block: the next one is kept.
        {v2 + "avatar endavatar\navatar al endavatar\n", 2, "unexpected keyword 'endavatar'",
         "name=cy,geometry=cy.rwx, | name=al, imp:walk= imp:wait= imp:endwait= exp:wave="},
        {v2 + "version 3\n", 2, "unexpected keyword 'version'", "name=cy,geometry=cy.rwx,"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(registry_load_text(c.text), c.result) << c.text;
        EXPECT_EQ(registry_error(), c.result ? "line " + std::to_string(c.result) + ": " + c.error : "") << c.text;
        EXPECT_EQ(dump(), c.types) << c.text;
    }
}

TEST(Registry, QueriesPackNamesAndKnowTheBuiltInTypes) {
    ASSERT_EQ(registry_load_text(v3 + "avatar name = bob beginexp wave = w1 bow = b1 endexp endavatar\n"
                                      "avatar geometry = g.rwx endavatar avatar x = y endavatar\n"),
              0);
    ASSERT_EQ(registry_count(), 3);
    EXPECT_EQ(registry_model_file(0), "bob.rwx");
    EXPECT_EQ(registry_model_file(1), "g.rwx");
    EXPECT_EQ(registry_model_file(2), "");
    EXPECT_EQ(registry_model_file(252), "special2.rwx");
    EXPECT_EQ(registry_model_file(3), "");
    char buf[16];
    int n = -1;
    ASSERT_TRUE(registry_names(buf, sizeof buf, &n));
    EXPECT_EQ(n, 3);
    EXPECT_EQ(std::string(buf, 6), std::string("bob\0\0\0", 6));  // unnamed types give empty names
    EXPECT_FALSE(registry_names(buf, 4, &n));
    EXPECT_EQ(n, 1);
    ASSERT_TRUE(registry_explicit_names(0, buf, sizeof buf, &n));
    EXPECT_EQ(std::string(buf, 9), std::string("wave\0bow\0", 9));
    EXPECT_EQ(n, 2);
    EXPECT_FALSE(registry_explicit_names(0, buf, 8, &n));
    ASSERT_TRUE(registry_explicit_names(253, buf, sizeof buf, &n));
    EXPECT_EQ(std::string(buf), "act1");
    EXPECT_FALSE(registry_explicit_names(7, buf, sizeof buf, &n));
    const AvatarEntry* special = registry_entry(251);
    ASSERT_TRUE(special);
    EXPECT_EQ(special->implicit_sequences, (std::vector<std::string>{"sp1walk", "sp1wait", "sp1end"}));
    EXPECT_EQ(special->explicit_sequences, std::vector<std::string>{"sp1act1"});
    for (int t : {-1, 3, 250, 254}) EXPECT_FALSE(registry_entry(t)) << t;
    // Names whose packed length passes 256 bytes do not fit the menu.
    std::string many = v3;
    for (int i = 0; i < 30; ++i) many += "avatar name = name" + std::to_string(1000 + i) + " endavatar\n";
    registry_load_text(many);
    char menu[256];
    EXPECT_FALSE(registry_names(menu, sizeof menu, &n));
    EXPECT_EQ(n, 28);
    registry_reset("/art");
    EXPECT_EQ(registry_count(), 0);
    EXPECT_EQ(registry_directory(), "/art");
    EXPECT_TRUE(registry_entry(251));  // the special types stay
}

TEST(Registry, FilesAndBounds) {
    test::TempDir dir;
    EXPECT_EQ(registry_load(""), 0);
    EXPECT_EQ(dump(), "name=cy,geometry=cy.rwx,");
    EXPECT_EQ(registry_load(dir.file("missing.dat")), -1);
    EXPECT_EQ(registry_count(), 0);
    // A file over 256 KiB is refused whole.
    std::string text = v3 + "avatar name = bob endavatar\n";
    test::write_file(dir.file("a.dat"), text + std::string(kRegistryMaxFile - text.size(), ' '));
    EXPECT_EQ(registry_load(dir.file("a.dat")), 0);
    EXPECT_EQ(registry_count(), 1);
    test::write_file(dir.file("a.dat"), text + std::string(kRegistryMaxFile + 1 - text.size(), ' '));
    EXPECT_EQ(registry_load(dir.file("a.dat")), -1);
    EXPECT_EQ(registry_count(), 0);
    // Types, actions and values past their bounds are read and dropped.
    text = v3;
    for (int i = 0; i < 300; ++i) text += "avatar name = n" + std::to_string(i) + " endavatar\n";
    text += "avatar beginimp";
    for (int i = 0; i < 70; ++i) text += " a" + std::to_string(i) + "=s";
    text += " endimp name = " + std::string(1500, 'v') + " endavatar\n";
    EXPECT_EQ(registry_load_text(text), 0);
    EXPECT_EQ(registry_count(), 256);
    EXPECT_EQ(registry_entry(255)->attribute("name"), "n255");
    text = v3 + "avatar beginimp";
    for (int i = 0; i < 70; ++i) text += " a" + std::to_string(i) + "=s";
    text += " endimp name = " + std::string(1500, 'v') + " endavatar\navatar name " + std::string(1500, 'w');
    EXPECT_EQ(registry_load_text(text), 4);
    EXPECT_EQ(registry_entry(0)->implicit_names.size(), kRegistryMaxActions);
    EXPECT_EQ(registry_entry(0)->attribute("name"), std::string(kRegistryMaxValue, 'v'));
    EXPECT_EQ(registry_error().size(), 8 + 255u);  // "line 4: " and the message cut
}

}  // namespace
}  // namespace zk
