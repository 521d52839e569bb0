// The archive reader: writes the one member of a downloaded zip archive
// (its first local entry) or gzip stream to a file. Zip members may carry
// traditional PKWARE encryption under the current world's object password.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zk {

enum : int {
    kZipOk = 0,
    kZipNotDeflate = 1,     // stored members are not accepted
    kZipGzipFlags = 2,      // gzip flags other than text and file name
    kZipCutShort = 3,       // header cut short (or zip signature wrong)
    kZipPassword = 4,       // encrypted, and no password or a wrong one
    kZipCannotCreate = 5,   // the output file cannot be written
    kZipNoMemory = 6,
    kZipBadData = 7,        // invalid, truncated, over the limit or ratio, or CRC mismatch
    kZipNotArchive = 8,
};

// Members never inflate beyond this unless zip_set_limit says otherwise;
// beyond 8 MiB they may also not be more than 200 times their archive.
constexpr size_t kZipDefaultLimit = 64u * 1024 * 1024;

// Writes the member to `out_path`: the file appears whole or not at all (an
// existing file stays as it was on any failure). `data` is not modified.
// `encrypted` (may be null) is set to 1 when the member was encrypted.
int zip_extract(const uint8_t* data, size_t length, const std::string& out_path, int* encrypted = nullptr);

// The world's object password as it arrives (enciphered with the built-in
// key); length 0 clears it.
void zip_set_password(const uint8_t* bytes, size_t length);
// The deciphered password, "" when none is set.
const char* zip_password();

// Largest member written, in bytes (0 restores the default).
void zip_set_limit(size_t bytes);

}  // namespace zk
