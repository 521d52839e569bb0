#include "server/assets/zip_writer.h"

#include <zlib.h>

#include "common/bytes.h"
#include "common/pkcipher.h"

namespace zk::server {

namespace {

constexpr size_t kMaxName = 255;
constexpr size_t kMaxData = size_t{1} << 30;

bool raw_deflate(std::string_view data, std::string& out) {
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
    out.resize(deflateBound(&z, static_cast<uLong>(data.size())));
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return rc == Z_STREAM_END;
}

// Everything of a local header and its central directory twin that they
// share, from "version needed" to the name and extra lengths.
void common_fields(std::string& out, uint16_t flags, const ZipOptions& o, uint32_t crc, uint32_t packed,
                   uint32_t size, size_t name_length) {
    append_le16(out, 20);  // version needed: deflate
    append_le16(out, flags);
    append_le16(out, 8);   // deflate
    append_le16(out, o.dos_time);
    append_le16(out, o.dos_date);
    append_le32(out, crc);
    append_le32(out, packed);
    append_le32(out, size);
    append_le16(out, static_cast<uint16_t>(name_length));
    append_le16(out, 0);   // no extra field
}

}  // namespace

std::string zip_single(std::string_view name, std::string_view data, const ZipOptions& o) {
    if (name.empty() || name.size() > kMaxName || data.size() > kMaxData) return {};
    std::string packed;
    if (!raw_deflate(data, packed)) return {};
    const uint32_t crc = static_cast<uint32_t>(
        crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
    const bool encrypt = !o.password.empty();
    uint16_t flags = 0;
    if (encrypt) {
        flags |= 1;
        PkCipher cipher(o.password);
        std::string sealed;
        sealed.reserve(12 + packed.size());
        uint32_t seed = o.header_seed;
        for (int i = 0; i < 11; ++i) {
            seed = seed * 1103515245u + 12345u;
            sealed.push_back(static_cast<char>(cipher.encrypt(static_cast<uint8_t>(seed >> 16))));
        }
        // The reader checks the last header byte against the CRC's high byte.
        sealed.push_back(static_cast<char>(cipher.encrypt(static_cast<uint8_t>(crc >> 24))));
        for (char c : packed) sealed.push_back(static_cast<char>(cipher.encrypt(static_cast<uint8_t>(c))));
        packed.swap(sealed);
    }
    const auto packed_size = static_cast<uint32_t>(packed.size());
    const auto size = static_cast<uint32_t>(data.size());

    std::string out;
    out.reserve(packed.size() + 2 * name.size() + 100);
    append_le32(out, 0x04034b50u);
    common_fields(out, flags, o, crc, packed_size, size, name.size());
    out.append(name);
    out.append(packed);

    const auto directory_offset = static_cast<uint32_t>(out.size());
    append_le32(out, 0x02014b50u);
    append_le16(out, 20);  // made by: MS-DOS attributes, version 2.0
    common_fields(out, flags, o, crc, packed_size, size, name.size());
    append_le16(out, 0);   // comment length
    append_le16(out, 0);   // disk number
    append_le16(out, 0);   // internal attributes
    append_le32(out, 0);   // external attributes
    append_le32(out, 0);   // local header offset
    out.append(name);
    const auto directory_size = static_cast<uint32_t>(out.size() - directory_offset);

    append_le32(out, 0x06054b50u);
    append_le16(out, 0);
    append_le16(out, 0);
    append_le16(out, 1);
    append_le16(out, 1);
    append_le32(out, directory_size);
    append_le32(out, directory_offset);
    append_le16(out, 0);   // archive comment length
    return out;
}

}  // namespace zk::server
