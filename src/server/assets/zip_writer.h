// A writer of single-member zip archives: raw deflate through zlib, an
// optional traditional PKWARE encryption of the member, and the central
// directory and end record, so that ordinary unzip tools read them too.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zk::server {

struct ZipOptions {
    std::string_view password;  // empty: the member is stored in the clear
    // DOS date and time of the member; fixed by default so that rebuilt
    // archives are byte for byte the same (2026-01-01 12:00:00).
    uint16_t dos_date = ((2026 - 1980) << 9) | (1 << 5) | 1;
    uint16_t dos_time = 12 << 11;
    // Bytes of the 12-byte encryption header that are not the check byte;
    // a build tool wants them reproducible, so they come from this seed.
    uint32_t header_seed = 0x5eed1234u;
};

// The archive holding `data` as `name`; empty when the name is empty or
// longer than 255 bytes, the data exceed 1 GiB, or zlib fails.
std::string zip_single(std::string_view name, std::string_view data, const ZipOptions& options = {});

}  // namespace zk::server
