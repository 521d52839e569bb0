// File helpers for the cache tree: existence with a memory of known files,
// whole-file store and read, deletion, the modification-time touch that the
// disk-usage pass relies on, and two helpers for cache file names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zk {

// 1 when the file exists. Positive answers are remembered; a path not
// remembered is asked of the file system.
int file_exists(const std::string& path);

// 0 when the file was removed (and forgotten), 1 when it could not be.
int file_delete(const std::string& path);

// Writes the whole file: 0 on success, 1 when it cannot be created, 3 when
// the write comes up short. The bytes go to a file beside it that then
// replaces it, so the real name never holds a partial or stale-tailed body.
int file_store(const std::string& path, const void* data, size_t size);

// Reads the whole file into `data`: 0 on success, 1 when it cannot be
// opened, 2 when memory runs out or a read comes up short (`data` empty).
int file_read(const std::string& path, std::vector<uint8_t>& data);

// Sets the file's modification time to now; 0 on success, 1 if not possible.
int file_touch(const std::string& path);

// A cache file name for a text: each of  " * / : ; < > ? \ |  becomes a
// hyphen, every other character lower case. Control characters become
// hyphens too, and a name of nothing but dots loses them, so the result
// always names a file inside its directory.
std::string file_name_from_url(std::string_view text);

// The name cut at its first "."; the text lives in a buffer that the next
// call reuses.
const char* file_basename(std::string_view name);

// Forgets every known file.
void file_term();

}  // namespace zk
