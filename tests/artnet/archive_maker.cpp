#include "artnet/archive_maker.h"

#include <zlib.h>

#include "common/pkcipher.h"

namespace zk::test {

namespace {

void put16(std::string& s, uint32_t v) {
    s.push_back(static_cast<char>(v & 0xff));
    s.push_back(static_cast<char>((v >> 8) & 0xff));
}
void put32(std::string& s, uint32_t v) {
    put16(s, v & 0xffff);
    put16(s, v >> 16);
}

std::string deflate_with(const std::string& data, int level, int flush_each_mib_of) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, data.size()) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, flush_each_mib_of);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

}  // namespace

std::string raw_deflate(const std::string& data, int level) { return deflate_with(data, level, Z_FINISH); }

uint32_t crc_of(const std::string& data) {
    return static_cast<uint32_t>(crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

std::string zip_entry(const ZipMember& m) {
    std::string body = !m.compressed.empty() ? m.compressed : m.method == 8 ? raw_deflate(m.data) : m.data;
    uint32_t crc = m.crc_override ? m.crc_override : crc_of(m.data);
    uint16_t flags = (m.password.empty() ? 0 : 1) | (m.descriptor ? 8 : 0);
    if (!m.password.empty()) {
        PkCipher cipher(m.password);
        std::string header(12, '\0');
        for (int i = 0; i < 11; ++i) header[i] = static_cast<char>(0x35 * (i + 1));
        header[11] = static_cast<char>(m.descriptor ? (m.time >> 8) : (crc >> 24));
        std::string sealed;
        for (char c : header + body) sealed.push_back(static_cast<char>(cipher.encrypt(static_cast<uint8_t>(c))));
        body = sealed;
    }
    std::string s;
    put32(s, 0x04034b50u);
    put16(s, 20);
    put16(s, flags);
    put16(s, static_cast<uint32_t>(m.method));
    put16(s, m.time);
    put16(s, 0x5a21);
    put32(s, m.descriptor ? 0 : crc);
    put32(s, m.descriptor ? 0 : static_cast<uint32_t>(body.size()));
    put32(s, m.descriptor ? 0 : static_cast<uint32_t>(m.data.size()));
    put16(s, static_cast<uint32_t>(m.name.size()));
    put16(s, static_cast<uint32_t>(m.extra.size()));
    s += m.name + m.extra + body;
    if (m.descriptor) {
        put32(s, 0x08074b50u);
        put32(s, crc);
        put32(s, static_cast<uint32_t>(body.size()));
        put32(s, static_cast<uint32_t>(m.data.size()));
    }
    return s;
}

std::string gzip_stream(const GzipMember& m) {
    std::string s = {'\x1f', '\x8b'};
    s.push_back(static_cast<char>(m.method));
    s.push_back(static_cast<char>(m.flags | (m.name.empty() ? 0 : 0x08)));
    put32(s, 0);  // time
    s.push_back('\0');
    s.push_back('\x03');
    if (!m.name.empty()) {
        s += m.name;
        s.push_back('\0');
    }
    s += raw_deflate(m.data);
    if (m.trailer) {
        put32(s, crc_of(m.data));
        put32(s, static_cast<uint32_t>(m.data.size()));
    }
    return s;
}

std::string enciphered_password(const std::string& plain) {
    PkCipher cipher(secret_key());
    std::string out;
    for (char c : plain) out.push_back(static_cast<char>(cipher.encrypt(static_cast<uint8_t>(c))));
    return out;
}

std::string zero_bomb(size_t mib) {
    std::string zeros(1 << 20, '\0');
    // Full flush: the piece refers to nothing before it and ends on a byte
    // boundary, so copies of it follow each other as valid blocks.
    std::string piece = deflate_with(zeros, 9, Z_FULL_FLUSH);
    std::string out;
    out.reserve(piece.size() * mib + 2);
    for (size_t i = 0; i < mib; ++i) out += piece;
    out += std::string("\x03\x00", 2);  // a final, empty fixed-code block
    return out;
}

}  // namespace zk::test
