// Whole-file reading and crash-safe replacing.
#pragma once

#include <string>
#include <string_view>

namespace zk {

// Reads the whole file; false when it is missing, unreadable, not a regular
// file, or larger than `max_bytes`.
bool file_read_all(const std::string& path, std::string& out, size_t max_bytes);

// Writes `content` beside the file and renames it over the file (following a
// symbolic link to its target), so a crash leaves the old or the new file,
// never a half-written one. Keeps the old file's permissions.
bool file_replace(const std::string& path, std::string_view content);

// Creates a directory; an existing directory is no error.
bool make_directory(const std::string& path);

}  // namespace zk
