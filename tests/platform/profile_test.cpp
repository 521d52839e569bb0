#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "platform/profile.h"
#include "support/temp_dir.h"

using namespace zk;
using namespace zk::test;

namespace {

std::string get(std::string_view text, const char* section, const char* key) {
    std::string v;
    return profile_lookup(text, section, key, v) ? v : std::string("<missing>");
}

}  // namespace

TEST(Profile, KeysAreFoundWithoutCaseInOddFiles) {
    const std::string dup = "[a]\nk=1\n[b]\nk=2\n[a]\nk=3\nz=9\n", url = "[a]\nurl=http://x/?a=b\nempty=\n";
    const std::string longline = "[a]\nk=" + std::string(100000, 'x') + "\nj=2\n";
    const struct {
        std::string text;
        const char *section, *key;
        std::string want;
    } cases[] = {
        {"[Layout]\nMain_X = 12 \n[DEBUG]\nall=1\n", "LAYOUT", "main_x", "12"},
        {"[Layout]\nMain_X = 12 \n[DEBUG]\nall=1\n", "debug", "ALL", "1"},
        {"[Layout]\nMain_X = 12 \n[DEBUG]\nall=1\n", "debug", "main_x", "<missing>"},  // another section's
        {"[Layout]\nMain_X = 12 \n[DEBUG]\nall=1\n", "nosuch", "all", "<missing>"},
        {"[a]\nk=v", "a", "k", "v"},                    // no trailing newline
        {"[a]\r\nk=v\r\nj=w\r\n", "a", "j", "w"},        // CRLF line ends do not leak into values
        {dup, "a", "k", "1"},                          // duplicate sections: the first occurrence wins,
        {dup, "a", "z", "9"},                          // and a later one's keys are still found
        {"k=0\n; comment\n\n[a]\njunk line\n;k=2\nk=1\n", "a", "k", "1"},
        {url, "a", "url", "http://x/?a=b"},
        {url, "a", "empty", ""},
        {"[a\nk=v\n", "a", "k", "v"},                  // a header without its closing bracket
        {longline, "a", "j", "2"},
        {std::string("\x00\xff[a]\x01\n[a]\nk=\x00v\n", 15), "a", "k", std::string("\x00v", 2)},
    };
    for (const auto& c : cases) EXPECT_EQ(get(c.text, c.section, c.key), c.want) << c.text.substr(0, 30);
    EXPECT_EQ(get(longline, "a", "k").size(), 100000u);
}

TEST(Profile, EditChangesOneLineAndKeepsTheRest) {
    const std::string text = "; my settings\r\n[layout]\r\nmain_x=1\r\n\r\n[show]\r\ntoolbar=0\r\n";
    EXPECT_EQ(profile_edit(text, "LAYOUT", "Main_X", "77"),
              "; my settings\r\n[layout]\r\nmain_x=77\r\n\r\n[show]\r\ntoolbar=0\r\n");
    // A new key goes after the section's last key, before the blank line,
    // using the file's own line ends.
    EXPECT_EQ(profile_edit(text, "layout", "main_y", "5"),
              "; my settings\r\n[layout]\r\nmain_x=1\r\nmain_y=5\r\n\r\n[show]\r\ntoolbar=0\r\n");
    // A new section is appended.
    EXPECT_EQ(profile_edit("[a]\nk=1", "b", "j", "2"), "[a]\nk=1\n[b]\nj=2\n");
    EXPECT_EQ(profile_edit("", "b", "j", "2"), "[b]\nj=2\n");
    // A key added to a section whose last line has no newline.
    EXPECT_EQ(profile_edit("[a]\nk=1", "a", "j", "2"), "[a]\nk=1\nj=2\n");
    // A key that exists only in a duplicate section is changed there.
    EXPECT_EQ(profile_edit("[a]\nk=1\n[a]\nz=2\n", "a", "z", "3"), "[a]\nk=1\n[a]\nz=3\n");
    // A value cannot smuggle in lines of its own.
    EXPECT_EQ(profile_edit("[a]\n", "a", "k", "x\n[evil]\ny=1"), "[a]\nk=x [evil] y=1\n");
}

TEST(Profile, ReadsIntegersLikeThePlatformDid) {
    TempDir dir;
    std::string path = dir.file("t.ini");
    write_file(path, "[d]\na=1\nb=yes\nc=-42x\nd=\ne= 7 \nf=99999999999999999999\n");
    EXPECT_EQ(profile_read_int(path, "d", "a", -1), 1);
    EXPECT_EQ(profile_read_int(path, "d", "b", -1), 0);
    EXPECT_EQ(profile_read_int(path, "d", "c", -1), -42);
    EXPECT_EQ(profile_read_int(path, "d", "d", -1), 0);
    EXPECT_EQ(profile_read_int(path, "d", "e", -1), 7);
    EXPECT_GT(profile_read_int(path, "d", "f", -1), 0) << "an absurd value must not wrap";
    EXPECT_EQ(profile_read_int(path, "d", "missing", -1), -1);
    EXPECT_EQ(profile_read_int(dir.file("none.ini"), "d", "a", -1), -1);
}

TEST(Profile, WritesReachTheFileAndKeepItsContentOrFailWithoutDamage) {
    TempDir dir;
    std::string path = dir.file("zelnik.ini");
    write_file(path, "# keep me\n[start]\nworld=zk\n");
    ASSERT_TRUE(profile_write(path, "layout", "main_x", "10"));
    ASSERT_TRUE(profile_write(path, "start", "world", "other"));
    EXPECT_EQ(read_file(path), "# keep me\n[start]\nworld=other\n[layout]\nmain_x=10\n");
    std::string v;
    ASSERT_TRUE(profile_read(path, "layout", "main_x", v));
    EXPECT_EQ(v, "10");
    // The same value again leaves the file alone (no rewrite, no sync).
    struct stat before {}, after {};
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    ASSERT_TRUE(profile_write(path, "START", "World", "other"));
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
    // Writing creates a missing file.
    ASSERT_TRUE(profile_write(dir.file("new.ini"), "a", "b", "c"));
    EXPECT_EQ(read_file(dir.file("new.ini")), "[a]\nb=c\n");
    // A directory where the file should be, and a file in a missing directory.
    ASSERT_EQ(mkdir(dir.file("ini").c_str(), 0755), 0);
    EXPECT_FALSE(profile_read(dir.file("ini"), "a", "b", v));
    EXPECT_FALSE(profile_write(dir.file("ini"), "a", "b", "c"));
    EXPECT_FALSE(profile_write(dir.file("no/such/zelnik.ini"), "a", "b", "c"));
}
