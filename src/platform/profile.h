// Private-profile files ("ini"): [section] headers and key=value lines.
// Sections and keys match without regard to case; a missing file, section or
// key reads as missing; a write changes or adds one line and keeps every
// other byte of the file as it was, and reaches the disk at once.
#pragma once

#include <string>
#include <string_view>

namespace zk {

// Files larger than this are treated as unreadable rather than loaded.
constexpr size_t kProfileMaxBytes = 4 * 1024 * 1024;

// The value of `key` in `section`, with surrounding blanks removed.
// False when the file, the section or the key is missing.
bool profile_read(const std::string& path, std::string_view section, std::string_view key,
                  std::string& value);

// The integer at the start of the value (optional sign, decimal digits);
// a value without digits reads as 0, a missing key as `missing`.
long profile_read_int(const std::string& path, std::string_view section, std::string_view key,
                      long missing);

// Sets `key` in `section` to `value`, creating the file, section or key as
// needed. Line breaks in the value are turned into blanks so a value can
// never make lines of its own. False when the file cannot be written; the
// old file is then left untouched. A write that would change nothing leaves
// the file alone.
bool profile_write(const std::string& path, std::string_view section, std::string_view key,
                   std::string_view value);

// Same as profile_write, but on text held in memory (used by the above).
std::string profile_edit(std::string_view text, std::string_view section, std::string_view key,
                         std::string_view value);
bool profile_lookup(std::string_view text, std::string_view section, std::string_view key,
                    std::string& value);

}  // namespace zk
