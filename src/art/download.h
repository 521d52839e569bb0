// The download manager and the art cache: requests for the files of a
// world's object path (and for absolute URLs) are queued, run at most three
// at a time through the HTTP client, answered from a stored date when the
// local copy is still current, and handed to the requesting module through
// a callback. The manager never writes a body to disk: the caller does.
#pragma once

#include <cstdint>
#include <string>

namespace zk {

struct download;

// Results handed to a callback.
constexpr int kDownloadFailed = 0;
constexpr int kDownloadFetched = 1;   // the body is in the buffer
constexpr int kDownloadUpToDate = 2;  // the local copy may be used

// Priority classes, most urgent first.
constexpr int kDownloadAvatars = 0;    // the avatar list archive
constexpr int kDownloadModel = 1;      // model archives, animation sequences
constexpr int kDownloadTexture = 2;    // textures, masks, backdrops, sounds
constexpr int kDownloadUrl = 3;        // absolute URLs
constexpr int kDownloadIdleSound = 4;  // sounds without a playback device

// The buffer is valid only during the call; the record is released right
// after it returns, so the caller drops its pointer to it inside.
using DownloadCallback = void (*)(void* data, int result, const uint8_t* buffer, uint32_t size);

// Creates the request table, reads whether the window is shown and makes
// <program dir>/cache/art. False when the directory cannot be made.
bool download_init();
// Closes both date databases and drops every request.
void download_term();
// Drops every request without calling back (part of the world reset).
void download_reset();

// The object path of the world entered ("host[:port]/path"); empty for the
// default. Makes the art directory of that path with its subdirectories and
// points the texture search there. True on the first call and whenever the
// art directory changed, so that world entry resets the world.
bool download_set_path(const std::string& object_path);
// Minutes within which a stored date answers "up to date" unasked.
void download_set_refresh(long minutes);
// The art directory of the current object path.
const std::string& art_dir();
// The object path used when a world names none.
std::string download_default_path();

// A file of the object path, under `subdir`. Null without an object path
// or when the same subdir and name is already queued.
download* download_file(const std::string& subdir, const std::string& name, int kind, DownloadCallback callback,
                        void* data);
// An absolute URL without its scheme ("host/path"), stopped once its body
// would pass `max_kb` K (0: no limit). Null when already queued or when the
// URL has no path.
download* download_url(const std::string& url, uint32_t max_kb, DownloadCallback callback, void* data);

void download_reference(download* d);
void download_dereference(download* d);
// Fetch even when a stored date says the copy is current (the caller has
// lost its copy).
void download_force(download* d);
// Ask the server whenever a date is stored, even within the refresh interval.
void download_ignore_refresh(download* d);

// The "download" task: collects finished requests, starts new ones and
// refreshes the Downloads window.
void download_update();
// Shows or hides the Downloads window and remembers which.
void download_toggle();
bool download_window_shown();
// The window was moved there (screen coordinates).
void download_window_moved(int x, int y);

// Requests queued and running (tests, the window).
int download_count();

// The Downloads settings: 0 none, 1 all, else a limit in K.
void dloptions_init();
uint32_t dloptions_pictures();
uint32_t dloptions_audio();

// One setting as the Downloads page shows it.
struct DownloadLimit {
    int choice = 0;   // 0 none, 1 up to `kilobytes`, 2 all
    int kilobytes = 100;
};
DownloadLimit dloptions_page_limit(uint32_t setting);
// What a choice and the text of its edit field store. The field is read as
// a number within 10-999; anything unreadable counts as 100.
uint32_t dloptions_setting(int choice, const std::string& kilobytes);
// The page's Apply: stores both settings and writes them.
void dloptions_apply(uint32_t pictures, uint32_t audio);

}  // namespace zk
