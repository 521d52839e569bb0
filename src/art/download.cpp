#include "art/download.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <cstring>
#include <ctime>
#include <memory>

#include "art/database.h"
#include "art/files.h"
#include "art/http.h"
#include "common/bytes.h"
#include "common/keyed_table.h"
#include "core/log.h"
#include "core/settings.h"
#include "platform/files.h"
#include "platform/ui.h"
#include "render/texture.h"

namespace zk {

struct download {
    std::string host;
    std::string path;   // without the leading "/"
    std::string name;   // the last component of the path
    std::string key;    // of the request table
    std::string label;  // of the date record
    http_request* request = nullptr;
    int32_t refs = 1;
    int32_t kind = 0;
    int32_t timeouts = 0;
    int32_t result = 0;
    uint32_t max_kb = 0;
    bool force = false;
    bool ignore_refresh = false;
    bool is_url = false;
    DownloadCallback callback = nullptr;
    void* data = nullptr;
};

namespace {

constexpr int kSlots = 3;
constexpr int kCommandDownloads = 123;  // the Show menu's item
constexpr uint32_t kBuckets = 127;
constexpr int kMaxAttempts = 3;
// Date records: 2 reserved bytes, the time of the last check, and the
// server's Last-Modified text with its NUL.
constexpr int kDateRecord = 50;
constexpr size_t kDateText = 44;
constexpr size_t kFileLabel = 49;
constexpr size_t kUrlLabel = 149;
// Object paths and names come from world servers: bounded before they
// become paths, keys and labels.
constexpr size_t kMaxObjectPath = 255;
constexpr size_t kMaxName = 255;
constexpr size_t kMaxUrl = 1024;

struct State {
    std::unique_ptr<KeyedTable> table;
    download* slots[kSlots] = {};
    std::string art_dir;
    std::string host;        // of the object path
    std::string path_part;   // of the object path; may be empty
    bool have_path = false;
    bool path_set_once = false;
    long refresh = 0;        // seconds
    Database* dates = nullptr;
    Database* misc_dates = nullptr;
    bool shown = false;
    bool window_made = false;
    uint64_t generation = 0;  // bumped by every reset, so a callback that resets is noticed
    uint32_t pictures = 100, audio = 100;
    // Date records not yet written, per database (object path, URLs): a
    // store costs a commit with its flushes, so they go together at most
    // once a second. Losing them to a crash only means asking again.
    std::map<std::string, std::string> pending[2];
    std::chrono::steady_clock::time_point flushed;
    // The window's place, held while it is dragged: each write syncs the
    // settings file, so it is written at most once a second and at the end.
    bool place_held = false;
    int place_x = 0, place_y = 0;
    std::chrono::steady_clock::time_point placed;
};
State g;

bool trace() { return log_on(Trace::download); }

std::string program_art_root() { return program_directory() + "/cache/art"; }

void release(download* d) {
    if (trace()) log_write("download: deallocate (%s/%s)", d->host.c_str(), d->path.c_str());
    if (d->request) http_done(d->request);
    for (download*& s : g.slots)
        if (s == d) s = nullptr;
    if (g.table) g.table->remove(d->key.data(), d->key.size());
    delete d;
}

// Calls back and releases. False when the callback reset the manager, in
// which case the record is gone already.
bool finish(download* d, int result, const uint8_t* buffer, uint32_t size) {
    d->result = result;
    const uint64_t generation = g.generation;
    if (d->callback && !(result == kDownloadFetched && !buffer)) {
        if (trace()) log_write("download: do_callback (%s, %d)", d->name.c_str(), result);
        d->callback(d->data, result, buffer, size);
        if (trace()) log_write("download: do_callback complete");
    }
    if (generation != g.generation) return false;
    release(d);
    return true;
}

Database* open_misc_dates() {
    if (!g.misc_dates) {
        make_directory(program_art_root() + "/misc");
        g.misc_dates = database_open(program_art_root() + "/misc/download", 150, kDateRecord, 4096, 4096, true, false);
    }
    return g.misc_dates;
}

Database* dates_for(const download* d) { return d->is_url ? open_misc_dates() : g.dates; }

void flush_dates() {
    for (int i = 0; i < 2; ++i) {
        if (g.pending[i].empty()) continue;
        Database* db = i ? open_misc_dates() : g.dates;
        database_store_all(db, {g.pending[i].begin(), g.pending[i].end()});
        g.pending[i].clear();
    }
    g.flushed = std::chrono::steady_clock::now();
}

// The stored time and date text of a label; false when there is none.
bool read_date(const download* d, int64_t& when, std::string& text) {
    Database* db = dates_for(d);
    uint8_t record[kDateRecord] = {};
    const auto& pending = g.pending[d->is_url];
    if (auto it = pending.find(d->label); it != pending.end()) {
        std::memcpy(record, it->second.data(), sizeof record);
    } else if (!db || database_fetch(db, d->label, record, sizeof record, nullptr) != 1) {
        return false;
    }
    when = static_cast<int32_t>(load_le32(record + 2));
    const char* date = reinterpret_cast<const char*>(record + 6);
    text.assign(date, strnlen(date, kDateText - 1));
    return true;
}

void update_date(const download* d) {
    const std::string date = http_date(d->request);
    if (date.size() > kDateText - 1) return;
    std::string record(kDateRecord, '\0');
    store_le32(reinterpret_cast<uint8_t*>(record.data()) + 2,
               static_cast<uint32_t>(static_cast<int32_t>(std::time(nullptr))));
    record.replace(6, date.size(), date);
    g.pending[d->is_url][d->label] = std::move(record);
}

int score(const download* d) { return d->refs + (4 - d->kind) * 10; }

// The queued record with the highest score above 0; the first met in table
// order wins a tie.
download* best_waiting() {
    download* best = nullptr;
    for (KeyedTable::Iterator it(*g.table); it.next();) {
        download* d = *static_cast<download**>(it.value());
        if (d->request || score(d) <= 0) continue;
        if (!best || score(d) > score(best)) best = d;
    }
    return best;
}

// Fills the empty slots. Returns false when a callback reset the manager.
bool start_next() {
    for (int slot = 0; slot < kSlots; ++slot) {
        while (!g.slots[slot]) {
            download* d = best_waiting();
            if (!d) return true;
            const uint32_t max = d->is_url ? d->max_kb * 1024u : 0;
            int64_t when = 0;
            std::string date;
            if (d->force || !read_date(d, when, date)) {
                d->request = http_get_max(d->host.c_str(), d->path.c_str(), nullptr, max);
            } else if (!d->ignore_refresh && when + g.refresh > static_cast<int64_t>(std::time(nullptr))) {
                if (!finish(d, kDownloadUpToDate, nullptr, 0)) return false;
                continue;
            } else {
                d->request = http_get_max(d->host.c_str(), d->path.c_str(), date.c_str(), max);
            }
            // A request that already ended (its worker may finish a small
            // file before we look, or it failed at once) still takes the
            // slot: collecting reads its result like any other.
            if (d->request) {
                g.slots[slot] = d;
            } else if (!finish(d, kDownloadFailed, nullptr, 0)) {
                return false;
            }
        }
    }
    return true;
}

// The art directory and its subdirectories for the current object path.
void make_art_directory() {
    make_directory(program_art_root());
    make_directory(g.art_dir);
    for (const char* sub : {"models", "textures", "avatars", "seqs", "sounds"}) make_directory(g.art_dir + "/" + sub);
    rw_texture_set_search_path(g.art_dir + "/textures");
}

download* add(const std::string& key, download* d) {
    bool existed = false;
    auto** slot = g.table->find_or_add_as<download*>(key.data(), key.size(), &existed);
    if (!slot || existed) {
        delete d;
        return nullptr;
    }
    d->key = key;
    *slot = d;
    return d;
}

uint32_t read_limit(const char* key, uint32_t fallback) {
    const std::string text = settings_get_string("downloads", key);
    if (text.empty()) return fallback;
    const int v = settings_get_int("downloads", key);
    return v < 0 ? 0 : static_cast<uint32_t>(v);
}

void write_place(bool now) {
    const auto t = std::chrono::steady_clock::now();
    if (!g.place_held || (!now && t - g.placed < std::chrono::seconds(1))) return;
    settings_put_int("layout", "download_x", g.place_x);
    settings_put_int("layout", "download_y", g.place_y);
    g.place_held = false;
    g.placed = t;
}

void show_window() {
    int x = settings_get_int("layout", "download_x");
    int y = settings_get_int("layout", "download_y");
    if (settings_get_string("layout", "download_x").empty() || settings_get_string("layout", "download_y").empty()) {
        WindowRect main;
        if (ui().main_window_geometry(main)) {
            x = main.x + 50;
            y = main.y + 50;
        }
    }
    ui().downloads_window_show(true, x, y);
    g.window_made = true;
}

void paint_window() {
    DownloadsView view;
    for (int i = 0; i < kSlots; ++i) {
        const download* d = g.slots[i];
        if (!d || !d->request) continue;
        DownloadLine& line = view.lines[i];
        line.active = true;
        line.name = d->name;
        line.state = http_state(d->request);
        http_progress(d->request, &line.received, &line.length);
    }
    view.waiting = download_count();
    for (const DownloadLine& line : view.lines) view.waiting -= line.active;
    ui().downloads_window_update(view);
}

}  // namespace

bool download_init() {
    g.table = std::make_unique<KeyedTable>(kBuckets, sizeof(download*));
    g.shown = settings_get_int("show", "downloads") == 1;
    g.art_dir = program_art_root();
    if (log_on(Trace::trace)) log_write("download_init");
    if (ui_present()) ui().menu_check(kCommandDownloads, g.shown);
    return make_directory(program_directory() + "/cache") && make_directory(g.art_dir);
}

void download_term() {
    if (log_on(Trace::trace)) log_write("download_term");
    write_place(true);
    download_reset();
    flush_dates();
    database_close(g.dates);
    database_close(g.misc_dates);
    g.dates = g.misc_dates = nullptr;
    if (g.window_made && ui_present()) ui().downloads_window_show(false, 0, 0);
    g.window_made = false;
    g.table.reset();
}

void download_reset() {
    if (log_on(Trace::trace)) log_write("download_reset");
    ++g.generation;
    if (!g.table) return;
    std::vector<download*> all;
    for (KeyedTable::Iterator it(*g.table); it.next();) all.push_back(*static_cast<download**>(it.value()));
    for (download* d : all) {
        if (d->request) http_done(d->request);
        delete d;
    }
    g.table->clear();
    std::fill(std::begin(g.slots), std::end(g.slots), nullptr);
}

std::string download_default_path() {
    std::string host = settings_get_string("universe", "host");
    if (host.empty()) host = "localhost";
    return host + "/objects";
}

bool download_set_path(const std::string& object_path) {
    std::string path = object_path.substr(0, kMaxObjectPath);
    if (path.empty()) path = download_default_path();
    const std::string dir = program_art_root() + "/" + file_name_from_url(path);
    const bool changed = !g.path_set_once || dir != g.art_dir;
    g.path_set_once = true;
    g.art_dir = dir;
    const size_t slash = path.find('/');
    g.host = path.substr(0, slash);
    g.path_part = slash == std::string::npos ? std::string() : path.substr(slash + 1);
    while (!g.path_part.empty() && g.path_part.back() == '/') g.path_part.pop_back();
    g.have_path = !g.host.empty();
    make_art_directory();
    flush_dates();
    database_close(g.dates);
    g.dates = database_open(g.art_dir + "/download", 50, kDateRecord, 4096, 4096, true, false);
    return changed;
}

void download_set_refresh(long minutes) { g.refresh = std::clamp(minutes, 0L, 1L << 24) * 60; }

const std::string& art_dir() { return g.art_dir; }

download* download_file(const std::string& subdir, const std::string& name, int kind, DownloadCallback callback,
                        void* data) {
    if (!g.table || !g.have_path || name.empty() || name.size() > kMaxName || subdir.size() > kMaxName) return nullptr;
    auto* d = new download;
    d->host = g.host;
    d->path = (g.path_part.empty() ? "" : g.path_part + "/") + subdir + "/" + name;
    d->name = name;
    d->label = (subdir + "/" + name).substr(0, kFileLabel);
    d->kind = std::clamp(kind, 0, 4);
    d->callback = callback;
    d->data = data;
    return add(subdir + name, d);
}

download* download_url(const std::string& url, uint32_t max_kb, DownloadCallback callback, void* data) {
    const size_t slash = url.find('/');
    if (!g.table || slash == std::string::npos || slash == 0 || url.size() > kMaxUrl) return nullptr;
    auto* d = new download;
    d->host = url.substr(0, slash);
    d->path = url.substr(slash + 1);
    const size_t last = d->path.rfind('/');
    d->name = last == std::string::npos ? d->path : d->path.substr(last + 1);
    d->label = d->path.substr(0, kUrlLabel);
    d->kind = kDownloadUrl;
    d->is_url = true;
    d->max_kb = max_kb;
    d->callback = callback;
    d->data = data;
    return add(url, d);
}

void download_reference(download* d) {
    if (d) ++d->refs;
}
void download_dereference(download* d) {
    if (d) --d->refs;
}
void download_force(download* d) {
    if (d) d->force = true;
}
void download_ignore_refresh(download* d) {
    if (d) d->ignore_refresh = true;
}

int download_count() { return g.table ? static_cast<int>(g.table->size()) : 0; }

void download_update() {
    if (!g.table) return;
    for (int slot = 0; slot < kSlots; ++slot) {
        download* d = g.slots[slot];
        if (!d || !d->request) continue;
        const int rc = http_rc(d->request);
        const char* path = d->path.c_str();
        int result = kDownloadFailed;
        switch (rc) {
        case kHttpInProgress: continue;
        case kHttpComplete:
            result = kDownloadFetched;
            update_date(d);
            if (trace()) log_write("Download succeeded for %s", path);
            break;
        case kHttpNotModified:
            result = kDownloadUpToDate;
            update_date(d);
            if (trace()) log_write("Download up to date for %s", path);
            break;
        case kHttpNotFound:
            // No date is stored: the next request asks again rather than
            // calling a file that was never fetched up to date.
            if (trace()) log_write("Download %s: file not found", path);
            break;
        case kHttpCancelled:
            if (trace()) log_write("Download timed out for %s", path);
            if (++d->timeouts < kMaxAttempts) {
                http_done(d->request);
                d->request = nullptr;
                g.slots[slot] = nullptr;
                continue;
            }
            if (trace()) log_write("Download failed for %s (%d)", path, rc);
            break;
        default:
            if (trace()) log_write("Download failed for %s (%d)", path, rc);
            break;
        }
        if (trace()) log_write("download result for %s: %d", d->name.c_str(), rc);
        const bool fetched = result == kDownloadFetched;
        if (!finish(d, result, fetched ? http_buffer(d->request) : nullptr, fetched ? http_size(d->request) : 0))
            return;
    }
    if (!start_next()) return;
    const size_t pending = g.pending[0].size() + g.pending[1].size();
    if (pending >= 256 || (pending > 0 && std::chrono::steady_clock::now() - g.flushed >= std::chrono::seconds(1)))
        flush_dates();
    write_place(false);
    if (g.shown && ui_present()) {
        if (!g.window_made) show_window();
        paint_window();
    }
}

void download_toggle() {
    g.shown = !g.shown;
    if (ui_present()) {
        if (g.shown) {
            show_window();
            paint_window();
        } else {
            ui().downloads_window_show(false, 0, 0);
        }
    }
    settings_put_int("show", "downloads", g.shown ? 1 : 0);
    if (ui_present()) ui().menu_check(kCommandDownloads, g.shown);
}

bool download_window_shown() { return g.shown; }

void download_window_moved(int x, int y) {
    g.place_held = true;
    g.place_x = x;
    g.place_y = y;
    write_place(false);
}

void dloptions_init() {
    // The older switch only defaults the two settings; missing counts as on.
    const bool urls = settings_get_string("performance", "urls").empty() || settings_get_int("performance", "urls") != 0;
    const uint32_t fallback = urls ? 100 : 0;
    g.pictures = read_limit("pictures", fallback);
    g.audio = read_limit("audio", fallback);
    if (log_on(Trace::trace)) log_write("dloptions_init");
}

uint32_t dloptions_pictures() { return g.pictures; }
uint32_t dloptions_audio() { return g.audio; }

DownloadLimit dloptions_page_limit(uint32_t setting) {
    DownloadLimit l;
    if (setting == 0) l.choice = 0;
    else if (setting == 1) l.choice = 2;
    else {
        l.choice = 1;
        l.kilobytes = static_cast<int>(std::clamp<uint32_t>(setting, 10, 999));
    }
    return l;
}

uint32_t dloptions_setting(int choice, const std::string& kilobytes) {
    if (choice == 0) return 0;
    if (choice == 2) return 1;
    char* end = nullptr;
    const long v = std::strtol(kilobytes.c_str(), &end, 10);
    if (kilobytes.empty() || end == kilobytes.c_str() || *end != '\0') return 100;
    return static_cast<uint32_t>(std::clamp(v, 10L, 999L));
}

void dloptions_apply(uint32_t pictures, uint32_t audio) {
    g.pictures = pictures;
    g.audio = audio;
    settings_put_int("downloads", "pictures", static_cast<int>(pictures));
    settings_put_int("downloads", "audio", static_cast<int>(audio));
}

}  // namespace zk
