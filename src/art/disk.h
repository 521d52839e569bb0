// The disk usage limit: a background pass over <program dir>/cache, spread
// over frames, that deletes files unused for a number of days and then the
// oldest files until the tree is within its size limit. It deletes only
// inside the cache tree: symbolic links are never followed (a link is
// deleted as itself), and empty directories go except the art directory, the
// current world's property directory and anything below them.
#pragma once

#include <cstdint>
#include <string>

namespace zk {

constexpr int kDiskLimitMin = 20, kDiskLimitMax = 999, kDiskLimitShown = 50;  // megabytes
constexpr int kDiskDaysMin = 1, kDiskDaysMax = 180, kDiskDaysShown = 30;

// What the pass needs from the world above it; start-up binds it.
struct DiskHooks {
    // The current world's property cache directory (kept even when empty).
    std::string (*property_directory)() = nullptr;
};
DiskHooks& disk_hooks();

// Reads [disk] limit and delete; the first pass starts 30 s later.
void disk_init();
// The "disk" task: one slice of the pass when one is due or under way.
void disk_update();
// Drops a pass under way and its file list.
void disk_term();

// The Disk Usage settings page: what its controls show on opening...
struct DiskPage {
    bool limited;      // "Limit to" rather than "No Limit"
    int limit_mb;      // the size spin (50 without a limit)
    bool by_age;       // "delete files not used for"
    int days;          // the days spin (30 without)
    std::string total; // "12.3 Megabytes", or "Calculating..." until a pass ends
};
DiskPage disk_page();
// ...and what Apply takes: values clamped, stored, and a pass started at
// once when a limit became tighter or was newly set.
void disk_page_apply(bool limited, int limit_mb, bool by_age, int days);

// State, for tests and measurements.
int disk_limit_mb();
int disk_delete_days();
bool disk_pass_running();
int disk_phase();  // 0 idle, 1 scanning, 2 trimming
int64_t disk_total_bytes();  // -1 until a pass has finished, and while one runs
int64_t disk_file_count();
// Milliseconds a slice may last (50 by default); 0 makes each slice one step.
void disk_set_slice_budget(uint32_t ms);
// Makes the next disk_update start a pass.
void disk_run_now();

}  // namespace zk
