// The HTTP client: one GET of one object per request, its whole body read
// by a worker thread of its own into one buffer that grows with the bytes
// that arrive, up to the announced size. The main thread starts requests,
// polls their result code once per frame and lets go of them with http_done.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zk {

struct http_request;

// Result codes of a request (http_rc). Any other value below 1000 is the
// HTTP status the server answered with (403, 500, ...); values from
// kHttpErrorBase up are transfer errors: kHttpErrorBase + the CURLcode.
constexpr int kHttpComplete = 0;
constexpr int kHttpInProgress = 1;
constexpr int kHttpCancelled = 2;      // no progress for 30 s, or the proxy changed
constexpr int kHttpTooLarge = 3;
constexpr int kHttpNoMemory = 5;
constexpr int kHttpNoLength = 10;
constexpr int kHttpNoConnection = 15;
constexpr int kHttpEmpty = 16;
constexpr int kHttpNotModified = 17;
constexpr int kHttpNoSession = 19;
constexpr int kHttpNotFound = 20;
constexpr int kHttpNoHost = 21;
constexpr int kHttpOverrun = 22;
constexpr int kHttpErrorBase = 12000;

// A body is never accepted above this many bytes, whatever `max` says.
constexpr uint32_t kHttpHardMax = 256u * 1024 * 1024;

// Milliseconds without progress after which http_update cancels a request.
constexpr uint32_t kHttpStallMs = 30000;

// What the client keeps of a response's header block. libcurl hands the
// lines over one by one; interim answers and followed redirects bring blocks
// of their own, each starting at its status line.
struct HttpHead {
    int status = 0;           // 0 when the status line does not read
    bool has_length = false;  // Content-Length read as a number
    uint64_t length = 0;      // capped: a length this large is refused anyway
    bool has_location = false;
    std::string date;         // Last-Modified without control characters
};
// Takes one header line with its line break. True when the line ends the
// block of the answer the request is about.
bool http_head_line(HttpHead& head, std::string_view line);
// What that block means for the request: kHttpInProgress when the body is
// to be read, else the request's result.
int http_head_result(const HttpHead& head, uint32_t max);

// Where the bytes of bodies are counted (the bandwidth meter, bound by
// start-up before any worker runs); called from the workers. Null counts nothing.
void http_set_byte_counter(void (*counter)(uint32_t bytes));

// Reads the proxy settings and builds the proxy string.
void proxy_init();
// "address:port", or null when the program uses no proxy of its own.
const char* proxy_string();

// What the Proxy page shows when it opens.
struct ProxyPage {
    bool use_proxy = false;
    std::string address;
    std::string port;
};
ProxyPage proxy_page();

// The Proxy page's Apply. With `use_proxy` off the proxy is dropped and the
// address written empty; with it on, `port` must be a port number (else
// nothing at all happens and false is answered), the address is cut to 255
// characters, and address and port are written. Both then restart the
// session (http_proxy_changed).
bool proxy_apply(bool use_proxy, const std::string& address, const std::string& port);

// 0, or kHttpNoSession when no session can be opened.
int http_init();
void http_update();
// Cancels what still runs, waits briefly for the workers, frees every
// request and closes the session.
void http_term();
void http_proxy_changed();

// Null only when no record can be allocated; the request may already have
// failed (test http_rc). `host` may carry ":port"; a host beginning with
// "https://" is fetched over TLS (port 443 unless given), "http://" is
// accepted and dropped.
http_request* http_get(const char* host, const char* path);
// As http_get, with "If-Modified-Since: date" when `date` is not empty.
http_request* http_conditional_get(const char* host, const char* path, const char* date);
// Same as http_get with `max` in place before the worker can test it.
http_request* http_get_max(const char* host, const char* path, const char* date, uint32_t max);
// Sets the largest accepted body (0 = no limit but kHttpHardMax). Takes
// effect if the response headers have not been read yet.
void http_set_max(http_request* request, uint32_t bytes);

int http_rc(const http_request* request);
// The body (valid when http_rc is 0; null before the length was known).
const uint8_t* http_buffer(const http_request* request);
uint32_t http_size(const http_request* request);
// Last-Modified of a 200 answer (empty when none came); the sent date after
// a 304 answer.
std::string http_date(const http_request* request);
void http_progress(const http_request* request, uint32_t* received, uint32_t* length);
// Bytes the body buffer holds room for (tests: it grows with what arrives).
uint32_t http_capacity(const http_request* request);
// Status text for the Downloads window ("" when no worker runs).
std::string http_state(const http_request* request);
// Lets go of a request; the caller must not touch it afterwards. Never waits.
void http_done(http_request* request);

// The port a request connects to, and the host without its suffix (tests,
// Downloads window).
uint16_t http_port(const http_request* request);
std::string http_host(const http_request* request);

// Requests in the list, and workers still running (tests, shutdown).
int http_request_count();
int http_workers_running();
// Servers in the connection table.
int http_connection_count();

// The millisecond clock of activity stamps and of the 30 s rule (tests
// drive it by hand); null restores the system tick.
void http_set_clock(uint32_t (*clock)());

}  // namespace zk
