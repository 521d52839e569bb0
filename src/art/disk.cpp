#include "art/disk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "art/download.h"
#include "art/files.h"
#include "core/log.h"
#include "core/settings.h"
#include "core/tasks.h"
#include "platform/os.h"

namespace zk {

namespace {

constexpr uint32_t kFirstPassMs = 30000;
constexpr uint32_t kPeriodMs = 900000;
constexpr uint32_t kSliceMs = 50;
// One open directory per level: deeper trees are left unscanned rather than
// running out of descriptors.
constexpr size_t kMaxDepth = 48;
// Files beyond this are counted but not ordered for trimming (about 100 MB
// of records); a cache that large is trimmed over several passes.
constexpr size_t kMaxRecords = size_t{1} << 20;

enum Phase { kStart, kScan, kTrim, kDone };

struct Dir {
    DIR* handle;
    std::string path;  // relative to the cache directory, "" for it
    bool empty;
};

struct Record {
    int64_t mtime_ns;  // the exact time, so a touch within the same second still counts
    int64_t size;
    std::string path;  // relative to the cache directory
};

// Oldest at the top of the heap.
bool newer(const Record& a, const Record& b) { return a.mtime_ns > b.mtime_ns; }

struct State {
    int limit_mb = 0;
    int days = 0;
    uint32_t next_run = 0;
    bool run_now = false;
    bool again = false;  // a tighter limit came while a pass ran
    Phase phase = kStart;
    int root = -1;
    std::vector<Dir> stack;
    std::vector<Record> files;  // a min-heap by time once the scan ends
    int64_t total = 0;
    int64_t count = 0;
    bool known = false;
    time_t now = 0;
    uint32_t budget = kSliceMs;
    DiskHooks hooks;
} g;

std::string cache_root() { return program_directory() + "/cache"; }
std::string full_path(const std::string& rel) { return cache_root() + "/" + rel; }
std::string join(const std::string& dir, const char* name) { return dir.empty() ? name : dir + "/" + name; }
int64_t mtime_ns(const struct stat& st) { return int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec; }

int read_limit() {
    const int v = settings_get_int("disk", "limit");
    if (v < 0) return kDiskLimitShown;  // missing (or nonsense)
    return v == 0 ? 0 : std::clamp(v, kDiskLimitMin, kDiskLimitMax);
}

int read_days() {
    const int v = settings_get_int("disk", "delete");
    return v <= 0 ? 0 : std::clamp(v, kDiskDaysMin, kDiskDaysMax);
}

void close_all() {
    for (Dir& d : g.stack) closedir(d.handle);
    g.stack.clear();
    if (g.root >= 0) close(g.root);
    g.root = -1;
    g.files.clear();
    g.files.shrink_to_fit();
}

bool kept(const std::string& path) {
    const std::string& art = art_dir();
    if (!art.empty() && path.find(art) != std::string::npos) return true;
    if (!g.hooks.property_directory) return false;
    const std::string prop = g.hooks.property_directory();
    return !prop.empty() && path.find(prop) != std::string::npos;
}

void start() {
    close_all();
    g.total = g.count = 0;
    g.now = time(nullptr);
    g.phase = kTrim;  // nothing to scan unless the root opens
    g.root = open(cache_root().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (g.root < 0) return;
    const int fd = dup(g.root);
    DIR* d = fd >= 0 ? fdopendir(fd) : nullptr;
    if (!d) {
        if (fd >= 0) close(fd);
        return;
    }
    g.stack.push_back({d, "", true});
    g.phase = kScan;
}

void leave_directory() {
    Dir d = std::move(g.stack.back());
    g.stack.pop_back();
    closedir(d.handle);
    if (!g.stack.empty() && d.empty && !kept(full_path(d.path))) {
        const size_t slash = d.path.rfind('/');
        const std::string name = slash == std::string::npos ? d.path : d.path.substr(slash + 1);
        unlinkat(dirfd(g.stack.back().handle), name.c_str(), AT_REMOVEDIR);
    }
    if (g.stack.empty()) {
        std::make_heap(g.files.begin(), g.files.end(), newer);
        g.phase = kTrim;
    }
}

void scan_step() {
    Dir& top = g.stack.back();
    const dirent* e = readdir(top.handle);
    if (!e) return leave_directory();
    const char* name = e->d_name;
    if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) return;
    struct stat st;
    const int fd = dirfd(top.handle);
    if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return;  // gone meanwhile
    top.empty = false;
    std::string rel = join(top.path, name);
    if (S_ISDIR(st.st_mode)) {
        if (g.stack.size() >= kMaxDepth) return;
        // O_NOFOLLOW: a directory swapped for a link since the stat is not entered.
        const int sub = openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub < 0) return;
        DIR* d = fdopendir(sub);
        if (!d) {
            close(sub);
            return;
        }
        g.stack.push_back({d, std::move(rel), true});
        return;
    }
    // A link is a file of its own here: deleting it leaves its target alone.
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) return;
    if (g.days && (g.now - st.st_mtime) / 86400 >= g.days && file_delete(full_path(rel)) == 0) return;
    g.total += st.st_size;
    ++g.count;
    if (g.files.size() < kMaxRecords) g.files.push_back({mtime_ns(st), int64_t(st.st_size), std::move(rel)});
}

// The file's time now, reached through real directories only; -1 when it is
// gone, has become a directory, or lies behind a link.
int64_t current_time(const std::string& rel) {
    int dir = g.root;
    size_t from = 0;
    int64_t result = -1;
    for (;;) {
        const size_t slash = rel.find('/', from);
        const std::string part = rel.substr(from, slash == std::string::npos ? std::string::npos : slash - from);
        if (slash == std::string::npos) {
            struct stat st;
            if (fstatat(dir, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)))
                result = mtime_ns(st);
            break;
        }
        const int next = openat(dir, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (dir != g.root) close(dir);
        if (next < 0) return -1;
        dir = next;
        from = slash + 1;
    }
    if (dir != g.root) close(dir);
    return result;
}

void trim_step() {
    if (g.limit_mb == 0 || int64_t(g.limit_mb) * 1048576 > g.total || g.files.empty()) {
        g.files.clear();
        g.files.shrink_to_fit();
        g.phase = kDone;
        return;
    }
    std::pop_heap(g.files.begin(), g.files.end(), newer);
    const Record r = std::move(g.files.back());
    g.files.pop_back();
    // A file used since the scan keeps its place.
    if (current_time(r.path) == r.mtime_ns && file_delete(full_path(r.path)) == 0) g.total -= r.size;
}

void step() {
    switch (g.phase) {
    case kStart: return start();
    case kScan: return scan_step();
    case kTrim: return trim_step();
    case kDone: return;
    }
}

}  // namespace

DiskHooks& disk_hooks() { return g.hooks; }

void disk_init() {
    if (log_on(Trace::trace)) log_write("disk_init");
    disk_term();  // a pass left from an earlier start would walk another tree
    g.limit_mb = read_limit();
    g.days = read_days();
    g.next_run = tick_now() + kFirstPassMs;
}

void disk_update() {
    if (g.phase == kStart) {
        if (!g.run_now && int32_t(tick_now() - g.next_run) < 0) return;
        g.run_now = false;
    }
    const uint32_t began = os_tick_count();
    do step();
    while (g.phase != kDone && os_tick_count() - began < g.budget);
    if (g.phase != kDone) return;
    close_all();
    g.known = true;
    g.phase = kStart;
    g.next_run = tick_now() + kPeriodMs;
    g.run_now = g.again;
    g.again = false;
}

void disk_term() {
    close_all();
    g.phase = kStart;
    g.run_now = g.again = g.known = false;
    g.total = g.count = 0;
}

DiskPage disk_page() {
    DiskPage p;
    p.limited = g.limit_mb != 0;
    p.limit_mb = p.limited ? g.limit_mb : kDiskLimitShown;
    p.by_age = g.days != 0;
    p.days = p.by_age ? g.days : kDiskDaysShown;
    if (disk_total_bytes() >= 0) {
        char text[48];
        std::snprintf(text, sizeof text, "%.1f Megabytes", double(g.total) / 1048576);
        p.total = text;
    } else {
        p.total = "Calculating...";
    }
    return p;
}

void disk_page_apply(bool limited, int limit_mb, bool by_age, int days) {
    const int limit = limited ? std::clamp(limit_mb, kDiskLimitMin, kDiskLimitMax) : 0;
    const int age = by_age ? std::clamp(days, kDiskDaysMin, kDiskDaysMax) : 0;
    const bool tighter = g.limit_mb == 0 || limit < g.limit_mb || g.days == 0 || age < g.days;
    g.limit_mb = limit;
    g.days = age;
    if (tighter) {
        if (g.phase == kStart) g.run_now = true;
        else g.again = true;  // the pass under way may have scanned with the old days
    }
    settings_put_int("disk", "limit", limit);
    settings_put_int("disk", "delete", age);
}

int disk_limit_mb() { return g.limit_mb; }
int disk_delete_days() { return g.days; }
bool disk_pass_running() { return g.phase != kStart; }
int disk_phase() { return g.phase; }
int64_t disk_total_bytes() { return g.known && g.phase == kStart ? g.total : -1; }
int64_t disk_file_count() { return g.count; }
void disk_set_slice_budget(uint32_t ms) { g.budget = ms; }
void disk_run_now() { g.run_now = true; }

}  // namespace zk
