// The animation registry: the avatar types a user can choose, read from the
// text file "avatars/avatars.dat" of the art directory. Each type names the
// model of its figure, the sequences it plays by itself (walking, waiting,
// ending a wait) and its gestures. Three special types (251-253) are built in.
//
// The file starts with the line "# animation registry version 0.2" or "...
// 0.3"; the rest is tokens: '#' comments to the end of the line, blanks,
// '=', the keywords version avatar endavatar beginimp endimp beginexp endexp,
// values (one decimal digit) and identifiers (a letter or digit, then letters,
// digits, '.', '-', '_'). The longest match wins; at equal length a keyword
// beats a value and a value beats an identifier ("7" is a value, "70" and
// "avatars" are identifiers).
//   0.3:  version 3, then blocks "avatar  key = value ...  beginimp name = seq
//         ... endimp  beginexp name = seq ... endexp  endavatar".
//   0.2:  type 0 is the built-in "cy"; then blocks "avatar NAME key = value ...
//         endavatar" whose keys geometry, walk, wait, endwait and wave count.
// An error inside a block drops that block (skipping to after the next
// endavatar); any other error ends the parse, keeping the types read so far.
//
// Bounds: a file over 256 KiB is refused whole (the registry stays empty);
// types past the 256th, actions past the 64th of a list and attributes past
// the 64th of a type are read and dropped. Identifiers are kept to 1023
// characters, stored names and values to 255.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zk {

constexpr size_t kRegistryMaxFile = 256 * 1024;
constexpr size_t kRegistryMaxEntries = 256;
constexpr size_t kRegistryMaxActions = 64;
constexpr size_t kRegistryMaxAttributes = 64;
constexpr size_t kRegistryMaxIdentifier = 1023;
constexpr size_t kRegistryMaxValue = 255;
constexpr int kRegistryFirstSpecial = 251;
constexpr int kRegistryLastSpecial = 253;

struct AvatarEntry {
    std::vector<std::pair<std::string, std::string>> attributes;  // in order; a key given twice keeps the last value
    std::vector<std::string> implicit_names, implicit_sequences;   // by position: walk, wait, endwait
    std::vector<std::string> explicit_names, explicit_sequences;   // gestures 1..n
    std::string attribute(std::string_view key) const;
};

// Empties the registry and reads the file: "" = no file, the default entry
// "cy" alone. 0 when the file parsed cleanly; the line of the first parse
// error when one was met (the registry keeps what survived it); -1 when the
// file cannot be read or is over 256 KiB (the registry stays empty).
int registry_load(const std::string& path);
// The same on text already in memory (the file's whole content).
int registry_load_text(std::string_view text);
// The first parse error of the last load as "line N: message"; "" when none.
const std::string& registry_error();
// Empties the registry and remembers the art directory.
void registry_reset(const std::string& art_directory);
const std::string& registry_directory();
int registry_count();                          // entries read (types 0..count-1)
// The "name" of every type in order, each with its terminating zero, packed;
// false (with `count` the names that fitted) as soon as one would not fit.
bool registry_names(char* buffer, size_t size, int* count);
const AvatarEntry* registry_entry(int type);   // 0..count-1, 251..253
// The gesture names of a type, packed as above; false when they do not fit
// or the type has no entry.
bool registry_explicit_names(int type, char* buffer, size_t size, int* count);
// The geometry attribute, else the name followed by ".rwx", else "".
std::string registry_model_file(int type);

}  // namespace zk
