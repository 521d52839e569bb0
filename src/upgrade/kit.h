// Upgrade kits: a zip of whole files and zstd deltas against the installed
// version, each file checked by SHA-256 before and after. Applying never
// leaves an installation half-patched: every "before" hash is checked first,
// new files are written beside their targets, and only after a journal says
// so are they renamed into place. An interrupted apply is finished (after
// the journal's commit) or rolled back (before it) by kit_recover.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zk {

enum : int {
    kKitOk = 0,
    kKitDamaged = 1,     // not a kit, truncated, CRC or structure wrong
    kKitUnsafePath = 2,  // a path leaving the program directory, or through a link
    kKitMismatch = 3,    // an installed file is not the version the kit is for
    kKitBadResult = 4,   // a file decoded to other bytes than the kit promises
    kKitIo = 5,          // reading or writing the installation failed
    kKitAborted = 6,     // the callback asked to stop
    kKitTooLarge = 7,
};

using Sha256 = std::array<uint8_t, 32>;
Sha256 sha256(const void* data, size_t size);
std::string sha256_hex(const Sha256& h);

enum class KitOp { whole, delta, remove };

struct KitFile {
    KitOp op = KitOp::whole;
    std::string path;        // relative to the program directory, '/'-separated
    bool has_before = false; // false: the file must not exist yet
    Sha256 before{};
    Sha256 after{};          // unused for remove
    uint64_t size = 0;       // bytes after
    bool executable = false;
    std::string data;        // zstd frame: the file, or a delta against `before`
};

struct Kit {
    std::vector<KitFile> files;
};

// Reads a kit; kKitOk, kKitDamaged, kKitUnsafePath or kKitTooLarge. Paths
// are checked for shape here (relative, no "..", no control characters).
int kit_read(const uint8_t* data, size_t size, Kit& kit);
std::string kit_write(const Kit& kit);

// True for a path a kit may name.
bool kit_path_ok(const std::string& path);

// Builds the kit that turns installation `old_dir` into `new_dir`. The
// settings file and the cache are the user's and never part of a kit.
// kKitOk, or kKitIo / kKitUnsafePath (a symbolic link) with `*error` set.
int kit_build(const std::string& old_dir, const std::string& new_dir, std::string& out, std::string* error = nullptr);

// Progress and messages while applying. `message`: 2 error text, 4 warning
// text (errno holds the system's reason, 0 when none), 5 a uint16_t* progress
// value of 0..32700, 7 a file name, 22 searching. Answer non-null to go on,
// null to abort (honoured until the commit).
using KitCallback = const char* (*)(int message, const void* arg, void* user);

constexpr uint16_t kKitProgressFull = 32700;

// Applies a kit to `dir` (finishing an earlier interrupted apply first).
// Nothing is touched unless every check passed.
int kit_apply(const uint8_t* data, size_t size, const std::string& dir, KitCallback callback = nullptr,
              void* user = nullptr);
int kit_apply_file(const std::string& kit_path, const std::string& dir, KitCallback callback = nullptr,
                   void* user = nullptr);

// Finishes or rolls back an interrupted apply in `dir`. kKitOk also when
// there was nothing to do; `*rolled_forward` (may be null) says which way.
int kit_recover(const std::string& dir, bool* rolled_forward = nullptr);

// Tests: the apply (or recovery) stops dead after this many changes to the
// disk, as if killed; -1 never.
void kit_test_interrupt_after(int changes);

// The journal's name in the program directory, and the suffix of new files
// waiting beside their targets.
extern const char kKitJournal[];
extern const char kKitStaged[];

}  // namespace zk
