#include "art/zip.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include "core/log.h"
#include "common/bytes.h"
#include "common/pkcipher.h"

namespace zk {

namespace {

constexpr size_t kWindow = 32768;
constexpr size_t kInputPiece = 65536;
constexpr size_t kMaxPassword = 255;
constexpr size_t kZipHeader = 30;
constexpr size_t kCryptHeader = 12;
constexpr size_t kGzipHeader = 10;
// Past this many bytes a member may not grow beyond kMaxRatio times its
// archive: art compresses far less than that, a bomb far more.
constexpr size_t kRatioFree = 8u * 1024 * 1024;
constexpr size_t kMaxRatio = 200;

std::string g_password;
size_t g_limit = kZipDefaultLimit;

// Where the member starts and how to check it once inflated.
struct Member {
    size_t offset = 0;
    bool encrypted = false;
    bool gzip = false;
    bool descriptor = false;           // zip flag bit 3: the CRC follows the data
    std::optional<uint32_t> crc;       // from the zip header
};

int read_gzip(const uint8_t* data, size_t length, Member& m) {
    if (length < kGzipHeader) return kZipCutShort;
    if (data[2] != 8) return kZipNotDeflate;
    uint8_t flags = data[3];
    if (flags & ~0x09) return kZipGzipFlags;
    m.offset = kGzipHeader;
    m.gzip = true;
    if (flags & 0x08) {
        const void* end = std::memchr(data + kGzipHeader, 0, length - kGzipHeader);
        if (!end) return kZipCutShort;
        m.offset = static_cast<size_t>(static_cast<const uint8_t*>(end) - data) + 1;
    }
    return kZipOk;
}

int read_zip(const uint8_t* data, size_t length, Member& m, std::optional<PkCipher>& cipher) {
    if (length < kZipHeader) return kZipCutShort;
    uint8_t flags = data[6];
    size_t offset = kZipHeader + load_le16(data + 26) + load_le16(data + 28);
    if (offset > length) return kZipCutShort;
    if (data[8] != 8 || data[9] != 0) return kZipNotDeflate;
    m.offset = offset;
    m.descriptor = (flags & 0x08) != 0;
    if (!m.descriptor) m.crc = load_le32(data + 14);
    if (flags & 0x01) {
        if (g_password.empty()) return kZipPassword;
        if (length - offset < kCryptHeader) return kZipCutShort;
        cipher.emplace(g_password);
        uint8_t last = 0;
        for (size_t i = 0; i < kCryptHeader; ++i) last = cipher->decrypt(data[offset + i]);
        uint8_t check = m.descriptor ? data[11] : data[17];
        if (last != check) return kZipPassword;
        m.encrypted = true;
        m.offset += kCryptHeader;
    }
    return kZipOk;
}

// The output: a temporary file beside the target, renamed over it when the
// member is complete, removed otherwise.
class Output {
public:
    explicit Output(const std::string& path) : path_(path), temp_(path + ".XXXXXX") {
        fd_ = mkstemp(temp_.data());
    }
    ~Output() {
        if (fd_ >= 0) {
            close(fd_);
            unlink(temp_.c_str());
        }
    }
    bool ok() const { return fd_ >= 0; }
    bool write_all(const uint8_t* p, size_t n) {
        while (n > 0) {
            ssize_t w = ::write(fd_, p, n);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return false;
            p += w;
            n -= static_cast<size_t>(w);
        }
        return true;
    }
    bool commit(bool secret) {
        if (!secret) fchmod(fd_, 0644);
        bool ok = close(fd_) == 0;
        fd_ = -1;
        if (ok && rename(temp_.c_str(), path_.c_str()) == 0) return true;
        unlink(temp_.c_str());
        return false;
    }

private:
    std::string path_;
    std::string temp_;
    int fd_ = -1;
};

struct WindowFree {
    void operator()(uint8_t* p) const { std::free(p); }
};

// The CRC the archive states after the deflate data, if it states one.
std::optional<uint32_t> trailing_crc(const uint8_t* p, size_t n, bool gzip) {
    if (gzip) return n >= 4 ? std::optional<uint32_t>(load_le32(p)) : std::nullopt;
    if (n >= 8 && load_le32(p) == 0x08074b50u) return load_le32(p + 4);
    if (n >= 4) return load_le32(p);
    return std::nullopt;
}

}  // namespace

int zip_extract(const uint8_t* data, size_t length, const std::string& out_path, int* encrypted) {
    if (log_on(Trace::trace)) log_write("zip_extract (%s)", out_path.c_str());
    if (encrypted) *encrypted = 0;
    if (!data) length = 0;

    Member m;
    std::optional<PkCipher> cipher;
    int rc;
    if (length >= 2 && data[0] == 0x1f && data[1] == 0x8b)
        rc = read_gzip(data, length, m);
    else if (length >= 4 && load_le32(data) == 0x04034b50u)
        rc = read_zip(data, length, m, cipher);
    else
        rc = kZipNotArchive;
    if (rc != kZipOk) return rc;
    if (encrypted && m.encrypted) *encrypted = 1;

    Output out(out_path);
    if (!out.ok()) return kZipCannotCreate;
    std::unique_ptr<uint8_t, WindowFree> window(static_cast<uint8_t*>(std::malloc(kWindow)));
    std::unique_ptr<uint8_t, WindowFree> plain;
    if (m.encrypted) plain.reset(static_cast<uint8_t*>(std::malloc(kInputPiece)));
    if (!window || (m.encrypted && !plain)) return kZipNoMemory;

    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return kZipNoMemory;
    struct End {
        z_stream* z;
        ~End() { inflateEnd(z); }
    } end{&z};

    size_t pos = m.offset;  // next archive byte not yet handed to zlib
    size_t written = 0;
    uLong crc = crc32(0L, Z_NULL, 0);
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        if (z.avail_in == 0) {
            if (pos >= length) return kZipBadData;  // the stream ends before its last block
            size_t piece = std::min(kInputPiece, length - pos);
            if (m.encrypted) {
                for (size_t i = 0; i < piece; ++i) plain.get()[i] = cipher->decrypt(data[pos + i]);
                z.next_in = plain.get();
            } else {
                z.next_in = const_cast<Bytef*>(data + pos);
            }
            z.avail_in = static_cast<uInt>(piece);
            pos += piece;
        }
        z.next_out = window.get();
        z.avail_out = kWindow;
        status = inflate(&z, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END) return kZipBadData;
        size_t produced = kWindow - z.avail_out;
        written += produced;
        if (written > g_limit || (written > kRatioFree && written / kMaxRatio > length)) return kZipBadData;
        crc = crc32(crc, window.get(), static_cast<uInt>(produced));
        if (produced > 0 && !out.write_all(window.get(), produced)) return kZipCannotCreate;
    }

    // What the archive says the member should be.
    size_t after = pos - z.avail_in;
    std::optional<uint32_t> expected = m.crc;
    if (m.gzip || m.descriptor) expected = trailing_crc(data + after, length - after, m.gzip);
    if (expected && *expected != static_cast<uint32_t>(crc)) return kZipBadData;
    if (m.gzip && length - after >= 8 && load_le32(data + after + 4) != static_cast<uint32_t>(written & 0xffffffffu))
        return kZipBadData;

    if (!out.commit(m.encrypted)) return kZipCannotCreate;
    return kZipOk;
}

void zip_set_password(const uint8_t* bytes, size_t length) {
    g_password.clear();
    if (!bytes || length == 0) return;
    length = std::min(length, kMaxPassword);
    std::string copy(reinterpret_cast<const char*>(bytes), length);
    PkCipher cipher(secret_key());
    cipher.decrypt(reinterpret_cast<uint8_t*>(copy.data()), copy.size());
    // The text ends at its first zero byte, as the enciphered C string did.
    copy.resize(strnlen(copy.c_str(), copy.size()));
    g_password = copy;
}

const char* zip_password() { return g_password.c_str(); }

void zip_set_limit(size_t bytes) { g_limit = bytes ? bytes : kZipDefaultLimit; }

}  // namespace zk
