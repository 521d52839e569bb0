#include "art/zip.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>

#include "artnet/archive_maker.h"
#include "artnet/http_server.h"
#include "support/temp_dir.h"

namespace zk {
namespace {

using test::GzipMember;
using test::ZipMember;

int extract(const std::string& archive, const std::string& path, int* encrypted = nullptr) {
    return zip_extract(reinterpret_cast<const uint8_t*>(archive.data()), archive.size(), path, encrypted);
}

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// Nothing but the expected files may be in the directory (no stray
// temporary files after a failure).
size_t entries(const std::string& dir) {
    size_t n = 0;
    for (auto& e : std::filesystem::directory_iterator(dir)) (void)e, ++n;
    return n;
}

void set_password(const std::string& plain) {
    std::string wire = test::enciphered_password(plain);
    zip_set_password(reinterpret_cast<const uint8_t*>(wire.data()), wire.size());
}

const std::string kModel = "modelbegin\nclumpbegin\nvertex 0 0 0\nclumpend\nmodelend\n";

class Zip : public ::testing::Test {
protected:
    void SetUp() override {
        zip_set_password(nullptr, 0);
        zip_set_limit(0);
    }
    void TearDown() override {
        zip_set_password(nullptr, 0);
        zip_set_limit(0);
    }
    test::TempDir dir;
    std::string out = dir.file("out.rwx");
};

TEST_F(Zip, DeflatedMemberIsWrittenWhole) {
    // Larger than the window, so it is written in several pieces.
    std::string big = test::pattern_bytes(200000) + std::string(100000, 'z');
    ZipMember m;
    m.data = big;
    m.extra = "EXTRA";
    int encrypted = -1;
    ASSERT_EQ(extract(test::zip_entry(m), out, &encrypted), kZipOk);
    EXPECT_EQ(test::read_file(out), big);
    EXPECT_EQ(encrypted, 0);
    EXPECT_EQ(entries(dir.path()), 1u);

    // Replaces an existing file.
    m.data = kModel;
    ASSERT_EQ(extract(test::zip_entry(m), out), kZipOk);
    EXPECT_EQ(test::read_file(out), kModel);

    // With the CRC in a data descriptor after the data.
    m.descriptor = true;
    ASSERT_EQ(extract(test::zip_entry(m), out), kZipOk);
    EXPECT_EQ(test::read_file(out), kModel);
}

TEST_F(Zip, StoredFirstMemberIsRefusedEvenWithADeflatedOneBehind) {
    ZipMember stored;
    stored.method = 0;
    stored.data = kModel;
    ZipMember deflated;
    deflated.data = kModel;
    EXPECT_EQ(extract(test::zip_entry(stored) + test::zip_entry(deflated), out), kZipNotDeflate);
    EXPECT_FALSE(exists(out));
    EXPECT_EQ(entries(dir.path()), 0u);
}

TEST_F(Zip, GzipStreams) {
    GzipMember g;
    g.data = kModel;
    ASSERT_EQ(extract(test::gzip_stream(g), out), kZipOk);
    EXPECT_EQ(test::read_file(out), kModel);

    g.name = "chair.rwx";
    g.flags = 0x01;  // text
    ASSERT_EQ(extract(test::gzip_stream(g), dir.file("b")), kZipOk);
    EXPECT_EQ(test::read_file(dir.file("b")), kModel);

    for (uint8_t flag : {0x02, 0x04, 0x10, 0x20, 0x80}) {
        GzipMember bad = g;
        bad.flags = flag;
        EXPECT_EQ(extract(test::gzip_stream(bad), dir.file("c")), kZipGzipFlags) << int(flag);
    }
    GzipMember method = g;
    method.method = 7;
    EXPECT_EQ(extract(test::gzip_stream(method), dir.file("c")), kZipNotDeflate);
    EXPECT_FALSE(exists(dir.file("c")));

    // A stream whose trailer is missing is still taken (nothing contradicts it).
    GzipMember bare = g;
    bare.trailer = false;
    EXPECT_EQ(extract(test::gzip_stream(bare), dir.file("d")), kZipOk);
}

TEST_F(Zip, DamagedHeaders) {
    ZipMember m;
    m.data = kModel;
    m.name = "abc.rwx";
    std::string zip = test::zip_entry(m);
    // Cut anywhere inside the local header (and its name).
    for (size_t n = 4; n < 30 + m.name.size(); ++n)
        EXPECT_EQ(extract(zip.substr(0, n), out), kZipCutShort) << n;
    // Name and extra lengths that point far beyond the archive.
    std::string huge = zip;
    huge[26] = huge[27] = '\xff';
    EXPECT_EQ(extract(huge, out), kZipCutShort);
    huge = zip;
    huge[28] = huge[29] = '\xff';
    EXPECT_EQ(extract(huge, out), kZipCutShort);

    GzipMember g;
    g.data = kModel;
    g.name = "chair.rwx";
    std::string gz = test::gzip_stream(g);
    for (size_t n = 2; n < 10; ++n) EXPECT_EQ(extract(gz.substr(0, n), out), kZipCutShort) << n;
    // The name never ends.
    EXPECT_EQ(extract(gz.substr(0, 15), out), kZipCutShort);

    EXPECT_EQ(extract("", out), kZipNotArchive);
    EXPECT_EQ(zip_extract(nullptr, 0, out, nullptr), kZipNotArchive);
    EXPECT_EQ(extract("PK", out), kZipNotArchive);
    EXPECT_EQ(extract("PK\x05\x06" + std::string(40, '\0'), out), kZipNotArchive);
    EXPECT_EQ(extract("<html>not found</html>", out), kZipNotArchive);
    EXPECT_FALSE(exists(out));
    EXPECT_EQ(entries(dir.path()), 0u);
}

TEST_F(Zip, EncryptedMembers) {
    ZipMember m;
    m.data = kModel + test::pattern_bytes(70000);
    m.password = "open sesame";
    std::string zip = test::zip_entry(m);
    const std::string original = zip;

    // No password set.
    EXPECT_EQ(extract(zip, out), kZipPassword);
    EXPECT_FALSE(exists(out));

    // A wrong password leaves an existing file alone.
    test::write_file(out, "old");
    set_password("open sesamE");
    EXPECT_EQ(extract(zip, out), kZipPassword);
    EXPECT_EQ(test::read_file(out), "old");
    EXPECT_EQ(entries(dir.path()), 1u);

    set_password("open sesame");
    EXPECT_STREQ(zip_password(), "open sesame");
    int encrypted = 0;
    ASSERT_EQ(extract(zip, out, &encrypted), kZipOk);
    EXPECT_EQ(encrypted, 1);
    EXPECT_EQ(test::read_file(out), m.data);
    EXPECT_EQ(zip, original);  // the caller's bytes are left as they were
    struct stat st{};
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u);  // secret: the owner's alone

    // Check byte from the time field when the CRC comes after the data.
    m.descriptor = true;
    ASSERT_EQ(extract(test::zip_entry(m), out, &encrypted), kZipOk);
    EXPECT_EQ(test::read_file(out), m.data);

    // The 12-byte encryption header cut short.
    m.descriptor = false;
    std::string cut = test::zip_entry(m).substr(0, 30 + m.name.size() + 5);
    EXPECT_EQ(extract(cut, out), kZipCutShort);
}

TEST_F(Zip, PasswordPassingTheCheckByteStillFailsOnTheData) {
    // Find a wrong password whose check byte happens to match (about 1 in 256).
    ZipMember m;
    m.data = kModel + test::pattern_bytes(5000);
    m.password = "right";
    std::string zip = test::zip_entry(m);
    int lucky = 0;
    for (int i = 0; i < 5000 && lucky < 3; ++i) {
        set_password("wrong" + std::to_string(i));
        int rc = extract(zip, out);
        if (rc == kZipPassword) continue;
        ++lucky;
        EXPECT_EQ(rc, kZipBadData);
        EXPECT_FALSE(exists(out));
    }
    EXPECT_GT(lucky, 0);
}

TEST_F(Zip, BadDataLeavesNoOutput) {
    ZipMember m;
    m.data = kModel + test::pattern_bytes(50000);
    std::string zip = test::zip_entry(m);
    size_t data_at = 30 + m.name.size();

    // Invalid block type right at the start.
    std::string corrupt = zip;
    corrupt[data_at] = '\x07';
    test::write_file(out, "old");
    EXPECT_EQ(extract(corrupt, out), kZipBadData);
    EXPECT_EQ(test::read_file(out), "old");
    EXPECT_EQ(entries(dir.path()), 1u);
    std::remove(out.c_str());

    // Truncated in the middle of the deflate data (after the first window).
    EXPECT_EQ(extract(zip.substr(0, zip.size() - 100), out), kZipBadData);
    EXPECT_FALSE(exists(out));

    // The stated CRC does not match what came out.
    m.crc_override = 0x12345678;
    EXPECT_EQ(extract(test::zip_entry(m), out), kZipBadData);
    EXPECT_FALSE(exists(out));

    // Gzip trailer: wrong CRC, wrong size.
    GzipMember g;
    g.data = kModel;
    std::string gz = test::gzip_stream(g);
    std::string bad_crc = gz;
    bad_crc[bad_crc.size() - 8] ^= 1;
    EXPECT_EQ(extract(bad_crc, out), kZipBadData);
    std::string bad_size = gz;
    bad_size[bad_size.size() - 4] ^= 1;
    EXPECT_EQ(extract(bad_size, out), kZipBadData);
    EXPECT_EQ(entries(dir.path()), 0u);
}

TEST_F(Zip, MemberThatInflatesBeyondTheLimitFailsCleanly) {
    ZipMember m;
    m.compressed = test::zero_bomb(1024);  // 1 GiB of zeros in about 1 MB
    m.data = "";                          // the CRC does not matter: it never gets that far
    std::string bomb = test::zip_entry(m);
    EXPECT_LT(bomb.size(), 4u << 20);
    EXPECT_EQ(extract(bomb, out), kZipBadData);
    EXPECT_FALSE(exists(out));
    EXPECT_EQ(entries(dir.path()), 0u);
    // Within the limit, but a thousand times its archive: refused as well.
    m.data.assign(16u << 20, '\0');
    m.compressed = test::zero_bomb(16);
    EXPECT_EQ(extract(test::zip_entry(m), out), kZipBadData);
    EXPECT_EQ(entries(dir.path()), 0u);

    // A member exactly at the limit passes; one byte over does not.
    zip_set_limit(100000);
    ZipMember at;
    at.data = std::string(100000, 'a');
    EXPECT_EQ(extract(test::zip_entry(at), out), kZipOk);
    at.data.push_back('a');
    EXPECT_EQ(extract(test::zip_entry(at), dir.file("over")), kZipBadData);
    EXPECT_FALSE(exists(dir.file("over")));
}

TEST_F(Zip, OutputThatCannotBeCreated) {
    ZipMember m;
    m.data = kModel;
    EXPECT_EQ(extract(test::zip_entry(m), dir.file("no/such/dir/x.rwx")), kZipCannotCreate);
}

TEST_F(Zip, ObjectPasswordIsDecipheredWithTheBuiltInKey) {
    EXPECT_STREQ(zip_password(), "");
    set_password("Zebra-42");
    EXPECT_STREQ(zip_password(), "Zebra-42");
    std::string wire = test::enciphered_password("Zebra-42");
    EXPECT_NE(wire, "Zebra-42");
    // A zero byte ends the text.
    std::string with_zero = test::enciphered_password(std::string("ab\0cd", 5));
    zip_set_password(reinterpret_cast<const uint8_t*>(with_zero.data()), with_zero.size());
    EXPECT_STREQ(zip_password(), "ab");
    zip_set_password(reinterpret_cast<const uint8_t*>(wire.data()), 0);
    EXPECT_STREQ(zip_password(), "");
}

TEST_F(Zip, RandomDamageNeverCrashesOrLeavesPartialFiles) {
    ZipMember m;
    m.data = kModel + test::pattern_bytes(3000);
    m.password = "pw";
    set_password("pw");
    std::string zip = test::zip_entry(m);
    GzipMember g;
    g.data = kModel + std::string(3000, 'q');
    g.name = "x.rwx";
    std::string gz = test::gzip_stream(g);
    std::mt19937 rng(1234);
    int ok = 0;
    for (int i = 0; i < 1500; ++i) {
        std::string a = (i % 2) ? zip : gz;
        int flips = 1 + static_cast<int>(rng() % 4);
        for (int f = 0; f < flips; ++f) a[rng() % a.size()] ^= static_cast<char>(1 + rng() % 255);
        if (rng() % 4 == 0) a.resize(rng() % a.size());
        std::string path = dir.file("f");
        int rc = extract(a, path);
        ASSERT_GE(rc, 0);
        ASSERT_LE(rc, 8);
        if (rc == kZipOk) {
            ++ok;
            std::remove(path.c_str());
        } else {
            ASSERT_FALSE(exists(path)) << rc;
        }
    }
    EXPECT_EQ(entries(dir.path()), 0u);
    EXPECT_LT(ok, 1500);
}

}  // namespace
}  // namespace zk
