#include "art/zip.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include "support/http_server.h"
#include "common/pkcipher.h"
#include "server/assets/zip_writer.h"
#include "support/temp_dir.h"

namespace zk {
namespace {

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

uint32_t le32(const std::string& s, size_t at) {
    return uint8_t(s[at]) | uint8_t(s[at + 1]) << 8 | uint8_t(s[at + 2]) << 16 | uint32_t(uint8_t(s[at + 3])) << 24;
}

// Archives come from the server's zip writer; the reader reads the first
// local entry, whose data start after the 30-byte header and the name.
constexpr size_t kData = 30 + 9;

std::string zip(const std::string& data, std::string_view password = {}, uint16_t time = 12 << 11) {
    server::ZipOptions o;
    o.password = password;
    o.dos_time = time;
    return server::zip_single("model.rwx", data, o);
}

// Flag bit 3: the CRC and sizes move from the header to a descriptor after the data.
std::string with_descriptor(std::string z) {
    z.insert(kData + le32(z, 18), "PK\x07\x08" + z.substr(14, 12));
    z[6] |= 8;
    z.replace(14, 12, std::string(12, '\0'));
    return z;
}

// Other deflate data under the same header (its CRC and size kept).
std::string with_body(std::string z, const std::string& body) {
    z.replace(kData, le32(z, 18), body);
    for (int i = 0; i < 4; ++i) z[18 + i] = char(body.size() >> (8 * i));
    return z;
}

struct GzipMember {
    std::string data;
    std::string name;   // non-empty: stored with flag 0x08
    uint8_t flags = 0;  // added to the flags
    uint8_t method = 8;
    bool trailer = true;
};

std::string gzip_stream(const GzipMember& m) {
    const std::string z = zip(m.data);
    std::string s = {'\x1f', '\x8b', char(m.method), char(m.flags | (m.name.empty() ? 0 : 8)), 0, 0, 0, 0, 0, 3};
    if (!m.name.empty()) s += m.name + '\0';
    s += z.substr(kData, le32(z, 18));
    if (m.trailer) s += z.substr(14, 4) + z.substr(22, 4);  // CRC and size
    return s;
}

// A raw deflate stream of `mib` MiB of zero bytes built without deflating
// all of it: one MiB ending on a full flush (it refers to nothing before it
// and ends on a byte boundary) repeated, then an empty final block.
std::string zero_bomb(size_t mib) {
    std::string zeros(1 << 20, '\0'), piece(8192, '\0');
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    z.next_in = reinterpret_cast<Bytef*>(zeros.data());
    z.avail_in = static_cast<uInt>(zeros.size());
    z.next_out = reinterpret_cast<Bytef*>(piece.data());
    z.avail_out = static_cast<uInt>(piece.size());
    deflate(&z, Z_FULL_FLUSH);
    piece.resize(z.total_out);
    deflateEnd(&z);
    std::string out;
    for (size_t i = 0; i < mib; ++i) out += piece;
    return out + std::string("\x03\x00", 2);
}

// The world's attribute as it travels: the password enciphered with the built-in key.
std::string enciphered_password(const std::string& plain) {
    PkCipher cipher(secret_key());
    std::string out;
    for (char c : plain) out.push_back(static_cast<char>(cipher.encrypt(static_cast<uint8_t>(c))));
    return out;
}

void set_password(const std::string& plain) {
    std::string wire = enciphered_password(plain);
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
    std::string with_extra = zip(big);
    with_extra.insert(kData, "EXTRA");
    with_extra[28] = 5;
    int encrypted = -1;
    ASSERT_EQ(extract(with_extra, out, &encrypted), kZipOk);
    EXPECT_EQ(test::read_file(out), big);
    EXPECT_EQ(encrypted, 0);
    EXPECT_EQ(entries(dir.path()), 1u);

    // Replaces an existing file.
    ASSERT_EQ(extract(zip(kModel), out), kZipOk);
    EXPECT_EQ(test::read_file(out), kModel);

    // With the CRC in a data descriptor after the data.
    ASSERT_EQ(extract(with_descriptor(zip(kModel)), out), kZipOk);
    EXPECT_EQ(test::read_file(out), kModel);
}

TEST_F(Zip, StoredFirstMemberIsRefusedEvenWithADeflatedOneBehind) {
    std::string stored = zip(kModel);
    stored[8] = 0;  // method
    EXPECT_EQ(extract(stored + zip(kModel), out), kZipNotDeflate);
    EXPECT_FALSE(exists(out));
    EXPECT_EQ(entries(dir.path()), 0u);
}

TEST_F(Zip, GzipStreams) {
    GzipMember g;
    g.data = kModel;
    ASSERT_EQ(extract(gzip_stream(g), out), kZipOk);
    EXPECT_EQ(test::read_file(out), kModel);

    g.name = "chair.rwx";
    g.flags = 0x01;  // text
    ASSERT_EQ(extract(gzip_stream(g), dir.file("b")), kZipOk);
    EXPECT_EQ(test::read_file(dir.file("b")), kModel);

    for (uint8_t flag : {0x02, 0x04, 0x10, 0x20, 0x80}) {
        GzipMember bad = g;
        bad.flags = flag;
        EXPECT_EQ(extract(gzip_stream(bad), dir.file("c")), kZipGzipFlags) << int(flag);
    }
    GzipMember method = g;
    method.method = 7;
    EXPECT_EQ(extract(gzip_stream(method), dir.file("c")), kZipNotDeflate);
    EXPECT_FALSE(exists(dir.file("c")));

    // A stream whose trailer is missing is still taken (nothing contradicts it).
    GzipMember bare = g;
    bare.trailer = false;
    EXPECT_EQ(extract(gzip_stream(bare), dir.file("d")), kZipOk);
}

TEST_F(Zip, DamagedHeaders) {
    const std::string z = zip(kModel);
    // Cut anywhere inside the local header (and its name).
    for (size_t n = 4; n < kData; ++n) EXPECT_EQ(extract(z.substr(0, n), out), kZipCutShort) << n;
    // Name and extra lengths that point far beyond the archive.
    std::string huge = z;
    huge[26] = huge[27] = '\xff';
    EXPECT_EQ(extract(huge, out), kZipCutShort);
    huge = z;
    huge[28] = huge[29] = '\xff';
    EXPECT_EQ(extract(huge, out), kZipCutShort);

    GzipMember g;
    g.data = kModel;
    g.name = "chair.rwx";
    std::string gz = gzip_stream(g);
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
    const std::string data = kModel + test::pattern_bytes(70000);
    std::string sealed = zip(data, "open sesame");
    const std::string original = sealed;

    // No password set.
    EXPECT_EQ(extract(sealed, out), kZipPassword);
    EXPECT_FALSE(exists(out));

    // A wrong password leaves an existing file alone.
    test::write_file(out, "old");
    set_password("open sesamE");
    EXPECT_EQ(extract(sealed, out), kZipPassword);
    EXPECT_EQ(test::read_file(out), "old");
    EXPECT_EQ(entries(dir.path()), 1u);

    set_password("open sesame");
    EXPECT_STREQ(zip_password(), "open sesame");
    int encrypted = 0;
    ASSERT_EQ(extract(sealed, out, &encrypted), kZipOk);
    EXPECT_EQ(encrypted, 1);
    EXPECT_EQ(test::read_file(out), data);
    EXPECT_EQ(sealed, original);  // the caller's bytes are left as they were
    struct stat st{};
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u);  // secret: the owner's alone

    // Check byte from the time field when the CRC comes after the data (the
    // header's CRC is then zero).
    const uint16_t time = uint16_t(le32(sealed, 14) >> 24 << 8);
    ASSERT_EQ(extract(with_descriptor(zip(data, "open sesame", time)), out, &encrypted), kZipOk);
    EXPECT_EQ(test::read_file(out), data);

    // The 12-byte encryption header cut short.
    EXPECT_EQ(extract(sealed.substr(0, kData + 5), out), kZipCutShort);
}

TEST_F(Zip, PasswordPassingTheCheckByteStillFailsOnTheData) {
    // Find a wrong password whose check byte happens to match (about 1 in 256).
    const std::string sealed = zip(kModel + test::pattern_bytes(5000), "right");
    int lucky = 0;
    for (int i = 0; i < 5000 && lucky < 3; ++i) {
        set_password("wrong" + std::to_string(i));
        int rc = extract(sealed, out);
        if (rc == kZipPassword) continue;
        ++lucky;
        EXPECT_EQ(rc, kZipBadData);
        EXPECT_FALSE(exists(out));
    }
    EXPECT_GT(lucky, 0);
}

TEST_F(Zip, BadDataLeavesNoOutput) {
    const std::string z = zip(kModel + test::pattern_bytes(50000));

    // Invalid block type right at the start.
    std::string corrupt = z;
    corrupt[kData] = '\x07';
    test::write_file(out, "old");
    EXPECT_EQ(extract(corrupt, out), kZipBadData);
    EXPECT_EQ(test::read_file(out), "old");
    EXPECT_EQ(entries(dir.path()), 1u);
    std::remove(out.c_str());

    // Truncated in the middle of the deflate data (after the first window).
    EXPECT_EQ(extract(z.substr(0, kData + le32(z, 18) - 100), out), kZipBadData);
    EXPECT_FALSE(exists(out));

    // The stated CRC does not match what came out.
    std::string bad_zip_crc = z;
    bad_zip_crc[14] ^= 1;
    EXPECT_EQ(extract(bad_zip_crc, out), kZipBadData);
    EXPECT_FALSE(exists(out));

    // Gzip trailer: wrong CRC, wrong size.
    GzipMember g;
    g.data = kModel;
    std::string gz = gzip_stream(g);
    std::string bad_crc = gz;
    bad_crc[bad_crc.size() - 8] ^= 1;
    EXPECT_EQ(extract(bad_crc, out), kZipBadData);
    std::string bad_size = gz;
    bad_size[bad_size.size() - 4] ^= 1;
    EXPECT_EQ(extract(bad_size, out), kZipBadData);
    EXPECT_EQ(entries(dir.path()), 0u);
}

TEST_F(Zip, MemberThatInflatesBeyondTheLimitFailsCleanly) {
    // 1 GiB of zeros in about 1 MB; the CRC does not matter: it never gets that far.
    const std::string bomb = with_body(zip(""), zero_bomb(1024));
    EXPECT_LT(bomb.size(), 4u << 20);
    EXPECT_EQ(extract(bomb, out), kZipBadData);
    EXPECT_FALSE(exists(out));
    EXPECT_EQ(entries(dir.path()), 0u);
    // Within the limit, but a thousand times its archive: refused as well.
    EXPECT_EQ(extract(with_body(zip(std::string(16u << 20, '\0')), zero_bomb(16)), out), kZipBadData);
    EXPECT_EQ(entries(dir.path()), 0u);

    // A member exactly at the limit passes; one byte over does not.
    zip_set_limit(100000);
    EXPECT_EQ(extract(zip(std::string(100000, 'a')), out), kZipOk);
    EXPECT_EQ(extract(zip(std::string(100001, 'a')), dir.file("over")), kZipBadData);
    EXPECT_FALSE(exists(dir.file("over")));
}

TEST_F(Zip, OutputThatCannotBeCreated) {
    EXPECT_EQ(extract(zip(kModel), dir.file("no/such/dir/x.rwx")), kZipCannotCreate);
}

TEST_F(Zip, ObjectPasswordIsDecipheredWithTheBuiltInKey) {
    EXPECT_STREQ(zip_password(), "");
    set_password("Zebra-42");
    EXPECT_STREQ(zip_password(), "Zebra-42");
    std::string wire = enciphered_password("Zebra-42");
    EXPECT_NE(wire, "Zebra-42");
    // A zero byte ends the text.
    std::string with_zero = enciphered_password(std::string("ab\0cd", 5));
    zip_set_password(reinterpret_cast<const uint8_t*>(with_zero.data()), with_zero.size());
    EXPECT_STREQ(zip_password(), "ab");
    zip_set_password(reinterpret_cast<const uint8_t*>(wire.data()), 0);
    EXPECT_STREQ(zip_password(), "");
}

TEST_F(Zip, RandomDamageNeverCrashesOrLeavesPartialFiles) {
    set_password("pw");
    const std::string sealed = zip(kModel + test::pattern_bytes(3000), "pw");
    GzipMember g;
    g.data = kModel + std::string(3000, 'q');
    g.name = "x.rwx";
    std::string gz = gzip_stream(g);
    std::mt19937 rng(1234);
    int ok = 0;
    for (int i = 0; i < 1500; ++i) {
        std::string a = (i % 2) ? sealed : gz;
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
