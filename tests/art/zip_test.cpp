#include "art/zip.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <filesystem>
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

// Files in `dir`: a failure may leave no stray temporary file behind.
size_t entries(const std::string& dir) {
    return size_t(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()));
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

// The same member as a gzip stream; a name is stored with flag 0x08.
std::string gzip_stream(const std::string& data, const std::string& name = "", uint8_t flags = 0, uint8_t method = 8,
                        bool trailer = true) {
    const std::string z = zip(data);
    std::string s = {'\x1f', '\x8b', char(method), char(flags | (name.empty() ? 0 : 8)), 0, 0, 0, 0, 0, 3};
    if (!name.empty()) s += name + '\0';
    s += z.substr(kData, le32(z, 18));
    if (trailer) s += z.substr(14, 4) + z.substr(22, 4);  // CRC and size
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

// Sets the world's password as it travels: enciphered with the built-in key.
void set_password(const std::string& plain) {
    PkCipher cipher(secret_key());
    std::string wire;
    for (char c : plain) wire.push_back(static_cast<char>(cipher.encrypt(static_cast<uint8_t>(c))));
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

TEST_F(Zip, MembersAreWrittenWhole) {
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

    // Each replaces the file: a plain member, one with its CRC in a data
    // descriptor after the data, and gzip streams: plain, named and marked as
    // text, or without their trailer (nothing contradicts it).
    for (const std::string& archive : {zip(kModel), with_descriptor(zip(kModel)), gzip_stream(kModel),
                                       gzip_stream(kModel, "chair.rwx", 0x01), gzip_stream(kModel, "", 0, 8, false)}) {
        ASSERT_EQ(extract(archive, out), kZipOk);
        EXPECT_EQ(test::read_file(out), kModel);
    }
}

// Every refusal leaves an existing file as it was and nothing beside it.
TEST_F(Zip, RefusedArchivesLeaveTheOldFile) {
    const std::string z = zip(kModel), big = zip(kModel + test::pattern_bytes(50000)), gz = gzip_stream(kModel);
    const std::string named = gzip_stream(kModel, "chair.rwx");
    std::string stored = z, long_name = z, long_extra = z, block = big, crc = big, gz_crc = gz, gz_size = gz;
    stored[8] = 0;  // method
    long_name[26] = long_name[27] = '\xff';  // far beyond the archive
    long_extra[28] = long_extra[29] = '\xff';
    block[kData] = '\x07';  // invalid block type
    crc[14] ^= 1;
    gz_crc[gz.size() - 8] ^= 1;
    gz_size[gz.size() - 4] ^= 1;
    const std::pair<std::string, int> cases[] = {
        {stored + z, kZipNotDeflate},  // even with a deflated member behind
        {gzip_stream(kModel, "", 0, 7), kZipNotDeflate},
        {long_name, kZipCutShort},
        {long_extra, kZipCutShort},
        {named.substr(0, 15), kZipCutShort},  // the name never ends
        {"", kZipNotArchive},
        {"PK", kZipNotArchive},
        {"PK\x05\x06" + std::string(40, '\0'), kZipNotArchive},
        {"<html>not found</html>", kZipNotArchive},
        {block, kZipBadData},
        {big.substr(0, kData + le32(big, 18) - 100), kZipBadData},  // cut after the first window
        {crc, kZipBadData},
        {gz_crc, kZipBadData},
        {gz_size, kZipBadData},
    };
    test::write_file(out, "old");
    for (const auto& [bytes, rc] : cases) EXPECT_EQ(extract(bytes, out), rc) << bytes.substr(0, 40);
    for (uint8_t flag : {0x02, 0x04, 0x10, 0x20, 0x80})
        EXPECT_EQ(extract(gzip_stream(kModel, "", flag), out), kZipGzipFlags) << int(flag);
    for (size_t n = 4; n < kData; ++n) EXPECT_EQ(extract(z.substr(0, n), out), kZipCutShort) << n;
    for (size_t n = 2; n < 10; ++n) EXPECT_EQ(extract(named.substr(0, n), out), kZipCutShort) << n;
    EXPECT_EQ(zip_extract(nullptr, 0, out, nullptr), kZipNotArchive);
    EXPECT_EQ(test::read_file(out), "old");
    EXPECT_EQ(entries(dir.path()), 1u);
    EXPECT_EQ(extract(z, dir.file("no/such/dir/x.rwx")), kZipCannotCreate);
}

TEST_F(Zip, EncryptedMembers) {
    const std::string data = kModel + test::pattern_bytes(70000);
    std::string sealed = zip(data, "open sesame");
    const std::string original = sealed;

    // No password, or a wrong one, even one whose check byte happens to match
    // (about 1 in 256): an existing file is left alone.
    test::write_file(out, "old");
    EXPECT_EQ(extract(sealed, out), kZipPassword);
    int lucky = 0;
    for (int i = 0; i < 5000 && lucky < 3; ++i) {
        set_password("wrong" + std::to_string(i));
        const int rc = extract(sealed, out);
        lucky += rc != kZipPassword;
        EXPECT_TRUE(rc == kZipPassword || rc == kZipBadData) << rc;
    }
    EXPECT_GT(lucky, 0);
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

    // A zero byte ends the password; length 0 clears it.
    set_password(std::string("ab\0cd", 5));
    EXPECT_STREQ(zip_password(), "ab");
    zip_set_password(reinterpret_cast<const uint8_t*>("x"), 0);
    EXPECT_STREQ(zip_password(), "");
}

TEST_F(Zip, MemberThatInflatesBeyondTheLimitFailsCleanly) {
    // 1 GiB of zeros in about 1 MB; the CRC does not matter: it never gets that far.
    const std::string bomb = with_body(zip(""), zero_bomb(1024));
    EXPECT_LT(bomb.size(), 4u << 20);
    EXPECT_EQ(extract(bomb, out), kZipBadData);
    EXPECT_EQ(entries(dir.path()), 0u);
    // Within the limit, but a thousand times its archive: refused as well.
    EXPECT_EQ(extract(with_body(zip(std::string(16u << 20, '\0')), zero_bomb(16)), out), kZipBadData);
    EXPECT_EQ(entries(dir.path()), 0u);

    // A member exactly at the limit passes; one byte over does not.
    zip_set_limit(100000);
    EXPECT_EQ(extract(zip(std::string(100000, 'a')), out), kZipOk);
    EXPECT_EQ(extract(zip(std::string(100001, 'a')), dir.file("over")), kZipBadData);
    EXPECT_EQ(entries(dir.path()), 1u);
}

}  // namespace
}  // namespace zk
