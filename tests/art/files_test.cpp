#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "art/files.h"
#include "support/temp_dir.h"

using namespace zk;
using namespace zk::test;

namespace {

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override { file_term(); }
    void TearDown() override { file_term(); }
    std::vector<std::string> names(const std::string& sub) const {
        std::vector<std::string> v;
        for (const auto& e : std::filesystem::directory_iterator(dir_.file(sub))) v.push_back(e.path().filename());
        std::sort(v.begin(), v.end());
        return v;
    }
    TempDir dir_;
};

}  // namespace

TEST_F(FilesTest, ExistsRemembersOnlyWhatItFound) {
    const std::string p = dir_.file("model.rwx");
    EXPECT_EQ(file_exists(p), 0);
    write_file(p, "x");
    EXPECT_EQ(file_exists(p), 1);  // a miss was not remembered
    // Removed behind its back, the file is still known: the answer now
    // comes from the table, not the disk.
    ASSERT_EQ(unlink(p.c_str()), 0);
    EXPECT_EQ(file_exists(p), 1);
    EXPECT_EQ(file_delete(p), 1);  // nothing to delete: failure, still known
    EXPECT_EQ(file_exists(p), 1);
    write_file(p, "x");
    EXPECT_EQ(file_delete(p), 0);
    EXPECT_EQ(file_exists(p), 0);  // asked the disk again
    // file_term drops the table.
    write_file(p, "x");
    EXPECT_EQ(file_exists(p), 1);
    ASSERT_EQ(unlink(p.c_str()), 0);
    file_term();
    EXPECT_EQ(file_exists(p), 0);
}

TEST_F(FilesTest, StoreReplacesTheWholeFileAndLeavesNothingBeside) {
    std::filesystem::create_directory(dir_.file("art"));
    const std::string p = dir_.file("art/sound.wav");
    const std::string long_body(50000, 'L');
    ASSERT_EQ(file_store(p, long_body.data(), long_body.size()), 0);
    EXPECT_EQ(read_file(p), long_body);
    ASSERT_EQ(file_store(p, "short", 5), 0);
    EXPECT_EQ(read_file(p), "short");  // no old tail
    ASSERT_EQ(file_store(p, "", 0), 0);
    EXPECT_EQ(read_file(p), "");
    EXPECT_EQ(names("art"), std::vector<std::string>{"sound.wav"});
    struct stat st {};
    ASSERT_EQ(stat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0600, 0600);
    EXPECT_EQ(file_store(dir_.file("missing/x.wav"), "a", 1), 1);
    EXPECT_EQ(file_store(dir_.file("art"), "a", 1), 1);  // a directory stands there
    EXPECT_TRUE(std::filesystem::is_directory(dir_.file("art")));
}

TEST_F(FilesTest, ShortWriteAnswers3AndKeepsTheOldFile) {
    std::filesystem::create_directory(dir_.file("art"));
    const std::string p = dir_.file("art/big.rwx");
    write_file(p, "old body");
    // A child whose file-size limit cuts the write short.
    pid_t child = fork();
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim {1000, 1000};
        setrlimit(RLIMIT_FSIZE, &lim);
        std::string body(5000, 'n');
        _exit(file_store(p, body.data(), body.size()));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    EXPECT_EQ(read_file(p), "old body");
    EXPECT_EQ(names("art"), std::vector<std::string>{"big.rwx"});
}

TEST_F(FilesTest, ReadGivesTheWholeFileOrAClearCode) {
    std::string body;
    for (int i = 0; i < 40000; ++i) body.push_back(static_cast<char>(i * 31));
    write_file(dir_.file("t.jpg"), body);
    std::vector<uint8_t> data{1, 2, 3};
    ASSERT_EQ(file_read(dir_.file("t.jpg"), data), 0);
    EXPECT_EQ(std::string(data.begin(), data.end()), body);
    write_file(dir_.file("empty"), "");
    ASSERT_EQ(file_read(dir_.file("empty"), data), 0);
    EXPECT_TRUE(data.empty());
    data = {1};
    EXPECT_EQ(file_read(dir_.file("none"), data), 1);
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(file_read(dir_.path(), data), 1);
}

TEST_F(FilesTest, TouchSetsTheTimeOfExistingFilesOnly) {
    const std::string p = dir_.file("models.dat");
    write_file(p, "x");
    struct timespec old_times[2] = {{1000000, 0}, {1000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), old_times, 0), 0);
    EXPECT_EQ(file_touch(p), 0);
    struct stat st {};
    ASSERT_EQ(stat(p.c_str(), &st), 0);
    EXPECT_GE(st.st_mtime, time(nullptr) - 5);
    EXPECT_EQ(file_touch(dir_.file("none.dat")), 1);
    EXPECT_FALSE(std::filesystem::exists(dir_.file("none.dat")));
}

TEST_F(FilesTest, CacheFileNames) {
    // One safe lower-case name: nothing that could leave the directory or cut
    // the path; other bytes are kept.
    for (auto [url, name] : {std::pair<std::string, std::string>{"HTTP://WORLD.ORG/Path?X", "http---world.org-path-x"},
                             {"a\"b*c/d:e;f<g>h?i\\j|k", "a-b-c-d-e-f-g-h-i-j-k"},
                             {"Tree-01_A.RWX", "tree-01_a.rwx"}, {"..", "--"}, {".", "-"}, {"..a", "..a"},
                             {std::string("a\0b\nc\x7f", 6), "a-b-c-"}, {"", ""}, {"\xc4\xe9", "\xc4\xe9"}})
        EXPECT_EQ(file_name_from_url(url), name) << url;
    EXPECT_STREQ(file_basename("tree.rwx.zip"), "tree");  // cut at the first dot
    EXPECT_STREQ(file_basename("rock"), "rock");
    EXPECT_STREQ(file_basename(".hidden"), "");
}
