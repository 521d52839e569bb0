#include "common/pkcipher.h"

#include <zlib.h>

namespace zk {

namespace {

const z_crc_t* crc_table() {
    static const z_crc_t* table = get_crc_table();
    return table;
}

inline uint32_t crc_step(uint32_t crc, uint8_t b) {
    return crc_table()[(crc ^ b) & 0xFFu] ^ (crc >> 8);
}

// Arbitrary bytes; changing them makes every stored password unreadable.
constexpr unsigned char kSecretKey[24] = {0x5a, 0xc3, 0x17, 0x8e, 0x42, 0xf9, 0x0b, 0x66,
                                          0xd1, 0x2c, 0x9f, 0x74, 0x38, 0xe5, 0x81, 0x1d,
                                          0xb6, 0x4f, 0x03, 0xca, 0x97, 0x5e, 0x29, 0xf0};

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

PkCipher::PkCipher(std::string_view password) : k0_(0x12345678u), k1_(0x23456789u), k2_(0x34567890u) {
    for (char c : password) update(static_cast<uint8_t>(c));
}

void PkCipher::update(uint8_t plain) {
    k0_ = crc_step(k0_, plain);
    k1_ = (k1_ + (k0_ & 0xFFu)) * 134775813u + 1u;
    k2_ = crc_step(k2_, static_cast<uint8_t>(k1_ >> 24));
}

uint8_t PkCipher::stream_byte() const {
    uint32_t t = (k2_ | 2u) & 0xFFFFu;
    return static_cast<uint8_t>((t * (t ^ 1u)) >> 8);
}

uint8_t PkCipher::encrypt(uint8_t plain) {
    uint8_t c = plain ^ stream_byte();
    update(plain);
    return c;
}

uint8_t PkCipher::decrypt(uint8_t cipher) {
    uint8_t p = cipher ^ stream_byte();
    update(p);
    return p;
}

void PkCipher::decrypt(uint8_t* data, size_t length) {
    for (size_t i = 0; i < length; ++i) data[i] = decrypt(data[i]);
}

std::string_view secret_key() {
    return {reinterpret_cast<const char*>(kSecretKey), sizeof kSecretKey};
}

std::string secret_encode(std::string_view text) {
    static const char digits[] = "0123456789abcdef";
    PkCipher cipher(secret_key());
    std::string out;
    out.reserve(text.size() * 2);
    for (char c : text) {
        uint8_t b = cipher.encrypt(static_cast<uint8_t>(c));
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

bool secret_decode(std::string_view hex, std::string& text) {
    text.clear();
    if (hex.size() % 2) return false;
    PkCipher cipher(secret_key());
    for (size_t i = 0; i < hex.size(); i += 2) {
        int hi = hex_value(hex[i]), lo = hex_value(hex[i + 1]);
        if (hi < 0 || lo < 0) {
            text.clear();
            return false;
        }
        text.push_back(static_cast<char>(cipher.decrypt(static_cast<uint8_t>(hi * 16 + lo))));
    }
    return true;
}

}  // namespace zk
