// Builds zip and gzip archives for the reader's tests and benchmarks: raw
// deflate through zlib, traditional PKWARE encryption through our cipher.
#pragma once

#include <cstdint>
#include <string>

namespace zk::test {

std::string raw_deflate(const std::string& data, int level = 6);
uint32_t crc_of(const std::string& data);

struct ZipMember {
    std::string name = "model.rwx";
    std::string data;
    int method = 8;              // 8 deflate, 0 stored
    std::string password;        // non-empty: encrypted
    bool descriptor = false;     // flag bit 3: CRC after the data, check byte from the time
    std::string extra;
    uint16_t time = 0x6d2a;
    uint32_t crc_override = 0;   // non-zero: stated instead of the real CRC
    std::string compressed;      // non-empty: used instead of deflating `data`
};

// One local entry (no central directory; the reader reads none).
std::string zip_entry(const ZipMember& m);

struct GzipMember {
    std::string data;
    std::string name;            // non-empty: stored with flag 0x08
    uint8_t flags = 0;           // added to the flags
    uint8_t method = 8;
    bool trailer = true;
};
std::string gzip_stream(const GzipMember& m);

// The world's attribute as it travels: the password enciphered with the
// built-in key.
std::string enciphered_password(const std::string& plain);

// A raw deflate stream of `mib` MiB of zero bytes built without deflating
// all of it: one independently compressed MiB repeated.
std::string zero_bomb(size_t mib);

}  // namespace zk::test
