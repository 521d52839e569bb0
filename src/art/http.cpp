#include "art/http.h"

#include <curl/curl.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>
#include <vector>

#include "core/log.h"
#include "core/settings.h"
#include "common/keyed_table.h"
#include "common/messages.h"
#include "common/text.h"
#include "platform/os.h"

namespace zk {

namespace {

std::atomic<void (*)(uint32_t)> g_byte_counter{nullptr};

constexpr const char* kUserAgent = "Quorvane Browser";
constexpr long kConnectTimeoutMs = 20000;
constexpr long kReceiveTimeoutS = 30;
constexpr int kConnectRetries = 3;
constexpr long kMaxRedirects = 5;
constexpr size_t kIdleHandlesPerServer = 8;
constexpr size_t kMaxHostLength = 255;
constexpr size_t kMaxPathLength = 4096;
constexpr size_t kDateSize = 40;
// The body buffer starts this large (or at the announced length if smaller)
// and doubles as bytes arrive: a length announced is not a length sent.
constexpr uint32_t kFirstPiece = 65536;

// A server: the easy handles that finished a request to it, each keeping
// its connection alive for the next request. libcurl cannot share one
// connection cache between threads, so reuse goes through whole handles.
struct Connection {
    std::atomic<int> refs{1};
    std::mutex lock;
    std::vector<CURL*> idle;
    bool closed = false;  // dropped from the table; handles are not kept
};

Connection* connection_ref(Connection* c) {
    c->refs.fetch_add(1);
    return c;
}

void connection_unref(Connection* c) {
    if (c->refs.fetch_sub(1) != 1) return;
    for (CURL* h : c->idle) curl_easy_cleanup(h);
    delete c;
}

// Takes an idle handle of the server or makes a new one.
CURL* connection_handle(Connection* c) {
    {
        std::lock_guard<std::mutex> hold(c->lock);
        if (!c->idle.empty()) {
            CURL* h = c->idle.back();
            c->idle.pop_back();
            curl_easy_reset(h);
            return h;
        }
    }
    return curl_easy_init();
}

void connection_give_back(Connection* c, CURL* h) {
    if (!h) return;
    {
        std::lock_guard<std::mutex> hold(c->lock);
        if (!c->closed && c->idle.size() < kIdleHandlesPerServer) {
            c->idle.push_back(h);
            return;
        }
    }
    curl_easy_cleanup(h);
}

void connection_close(Connection* c) {
    std::vector<CURL*> idle;
    {
        std::lock_guard<std::mutex> hold(c->lock);
        c->closed = true;
        idle.swap(c->idle);
    }
    for (CURL* h : idle) curl_easy_cleanup(h);
    connection_unref(c);
}

std::atomic<uint32_t (*)()> g_clock{nullptr};

uint32_t now_ms() {
    auto clock = g_clock.load();
    return clock ? clock() : os_tick_count();
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

}  // namespace

// One request. Fields the worker writes while the main thread may read them
// are atomic; `date` has its own lock. The rest is set before the worker
// starts or only touched by the worker.
struct http_request {
    http_request* next = nullptr;
    std::atomic<bool> worker{false};
    Connection* connection = nullptr;
    CURL* request = nullptr;
    curl_slist* headers = nullptr;
    std::string path;
    std::string host;
    uint16_t port = 80;
    bool tls = false;
    std::atomic<int> rc{0};
    std::atomic<uint8_t*> buffer{nullptr};
    std::atomic<uint32_t> max{0};
    std::atomic<uint32_t> received{0};
    std::atomic<uint32_t> capacity{0};
    std::atomic<uint32_t> length{0};
    std::atomic<uint32_t> status{0};
    std::atomic<uint32_t> activity{0};
    std::mutex date_lock;
    char date[kDateSize] = {};
    std::atomic<bool> abandoned{false};
    // The owner flag: whichever of worker and main thread lets go second
    // releases the record. True while no worker holds it.
    std::atomic<bool> let_go{true};

    // Worker-only state of the response being parsed.
    HttpHead parse;
};

namespace {

struct Module {
    http_request* requests = nullptr;
    KeyedTable* connections = nullptr;
    bool session = false;
    bool curl_ready = false;
    std::string proxy;  // the session's proxy; empty = system settings
};
Module g;

std::atomic<int> g_running{0};

// Proxy settings as read or applied.
struct Proxy {
    bool set = false;
    std::string address;
    int port = -1;
    std::string text;
};
Proxy g_proxy;

// Sets a final result unless one was set already (a cancel by the main
// thread must stay).
void finish(http_request* r, int rc) {
    int expected = kHttpInProgress;
    r->rc.compare_exchange_strong(expected, rc);
}

bool stopping(const http_request* r) { return r->abandoned.load() || r->rc.load() == kHttpCancelled; }

void release(http_request* r) {
    if (r->request) connection_give_back(r->connection, r->request);
    if (r->connection) connection_unref(r->connection);
    curl_slist_free_all(r->headers);
    std::free(r->buffer.load());
    delete r;
}

// Steps after the final header block: status, length, limit, date, buffer.
// False stops the transfer.
bool on_headers(http_request* r) {
    const HttpHead& p = r->parse;
    r->activity.store(now_ms());
    if (r->abandoned.load()) return false;
    r->status.store(static_cast<uint32_t>(p.status));
    int rc = http_head_result(p, r->max.load());
    if (rc != kHttpInProgress) return finish(r, rc), false;
    r->length.store(static_cast<uint32_t>(p.length));
    {
        std::lock_guard<std::mutex> hold(r->date_lock);
        std::memset(r->date, 0, sizeof r->date);
        if (p.date.size() < kDateSize) std::memcpy(r->date, p.date.data(), p.date.size());
    }
    r->activity.store(now_ms());
    uint32_t first = std::min(static_cast<uint32_t>(p.length), kFirstPiece);
    auto* buffer = static_cast<uint8_t*>(std::malloc(first));
    if (!buffer) return finish(r, kHttpNoMemory), false;
    r->received.store(0);
    r->capacity.store(first);
    r->buffer.store(buffer);
    return true;
}

size_t header_line(char* data, size_t size, size_t count, void* arg) {
    auto* r = static_cast<http_request*>(arg);
    size_t n = size * count;
    if (stopping(r)) return 0;
    if (!http_head_line(r->parse, std::string_view(data, n))) return n;
    return on_headers(r) ? n : 0;
}

size_t body_data(char* data, size_t size, size_t count, void* arg) {
    auto* r = static_cast<http_request*>(arg);
    size_t n = size * count;
    if (stopping(r)) return 0;
    uint8_t* buffer = r->buffer.load();
    if (!buffer) return 0;
    uint32_t received = r->received.load();
    uint32_t length = r->length.load();
    uint32_t capacity = r->capacity.load();
    if (n > length - received) {
        finish(r, kHttpOverrun);
        return 0;
    }
    if (n > capacity - received) {
        // Doubling, up to the announced length (which the limits bound).
        uint64_t want = std::max(uint64_t{capacity} * 2, uint64_t{received} + n);
        auto grown = static_cast<uint32_t>(std::min<uint64_t>(want, length));
        auto* bigger = static_cast<uint8_t*>(std::realloc(buffer, grown));
        if (!bigger) {
            finish(r, kHttpNoMemory);
            return 0;
        }
        buffer = bigger;
        r->buffer.store(buffer);
        r->capacity.store(grown);
    }
    std::memcpy(buffer + received, data, n);
    r->received.store(received + static_cast<uint32_t>(n));
    r->activity.store(now_ms());
    if (auto counter = g_byte_counter.load()) counter(static_cast<uint32_t>(n));
    return n;
}

int progress(void* arg, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return stopping(static_cast<http_request*>(arg)) ? 1 : 0;
}

void run(http_request* r) {
    CURL* h = r->request;
    CURLcode code = CURLE_OK;
    for (int attempt = 0;; ++attempt) {
        r->parse = {};
        code = curl_easy_perform(h);
        if (code == CURLE_COULDNT_CONNECT && attempt < kConnectRetries && !stopping(r)) continue;
        break;
    }
    if (r->rc.load() != kHttpInProgress || r->abandoned.load()) return;
    uint8_t* buffer = r->buffer.load();
    if (code == CURLE_OK && buffer && r->received.load() == r->length.load()) {
        finish(r, kHttpComplete);
    } else if (code == CURLE_OK) {
        // The transfer ended without the body we were promised.
        finish(r, kHttpErrorBase + CURLE_PARTIAL_FILE);
    } else {
        finish(r, kHttpErrorBase + code);
    }
}

void* worker_main(void* arg) {
    auto* r = static_cast<http_request*>(arg);
    run(r);
    CURL* h = r->request;
    r->request = nullptr;
    connection_give_back(r->connection, h);
    r->worker.store(false);
    if (r->let_go.exchange(true)) release(r);
    g_running.fetch_sub(1);
    return nullptr;
}

bool host_char_ok(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
}

// The path as a URL path: bytes that cannot stand in a request line are
// percent-encoded.
std::string encode_path(std::string_view path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(path.size() + 1);
    out.push_back('/');
    for (char ch : path) {
        auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c >= 0x7f || c == '#' || c == '"' || c == '<' || c == '>' || c == '\\') {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        } else {
            out.push_back(ch);
        }
    }
    return out;
}

bool set_options(http_request* r, CURL* h) {
    std::string url = (r->tls ? "https://" : "http://") + r->host + ":" + std::to_string(r->port) + encode_path(r->path);
    bool ok = curl_easy_setopt(h, CURLOPT_URL, url.c_str()) == CURLE_OK;
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
    // No byte for 30 s ends the transfer even if the main thread is stuck.
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, kReceiveTimeoutS);
    curl_easy_setopt(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    // Fewer, larger reads for big bodies.
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, 131072L);
    if (!g.proxy.empty()) curl_easy_setopt(h, CURLOPT_PROXY, g.proxy.c_str());
    if (r->headers) curl_easy_setopt(h, CURLOPT_HTTPHEADER, r->headers);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, header_line);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, r);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, body_data);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, r);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, progress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, r);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    return ok;
}

Connection* connection_for(const http_request* r) {
    if (!g.connections) return nullptr;
    std::string key;
    key.push_back(static_cast<char>(r->port >> 8));
    key.push_back(static_cast<char>(r->port & 0xff));
    key += r->host;
    auto* slot = g.connections->find_or_add_as<Connection*>(key.data(), key.size());
    if (!slot) return nullptr;
    if (!*slot) {
        auto* c = new (std::nothrow) Connection;
        if (!c) {
            g.connections->remove(key.data(), key.size());
            return nullptr;
        }
        *slot = c;
    }
    return *slot;
}

void start(http_request* r) {
    if (r->host.empty()) {
        r->rc.store(kHttpNoHost);
        return;
    }
    bool host_ok = r->host.size() <= kMaxHostLength && r->path.size() <= kMaxPathLength && g.session &&
                   std::all_of(r->host.begin(), r->host.end(), host_char_ok);
    Connection* c = host_ok ? connection_for(r) : nullptr;
    CURL* h = c ? connection_handle(c) : nullptr;
    if (!h) {
        r->rc.store(kHttpNoConnection);
        return;
    }
    r->connection = connection_ref(c);
    r->request = h;
    if (!set_options(r, h)) {
        r->rc.store(kHttpNoConnection);
        return;
    }
    r->abandoned.store(false);
    r->activity.store(now_ms());
    r->rc.store(kHttpInProgress);
    r->let_go.store(false);
    r->worker.store(true);
    g_running.fetch_add(1);
    pthread_t thread;
    pthread_attr_t attr;
    bool started = pthread_attr_init(&attr) == 0;
    if (started) {
        pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
        started = pthread_create(&thread, &attr, worker_main, r) == 0;
        pthread_attr_destroy(&attr);
    }
    if (!started) {
        // Fail at once rather than wait for the 30 s rule; the download
        // manager retries a cancelled request.
        g_running.fetch_sub(1);
        r->worker.store(false);
        r->let_go.store(true);
        r->rc.store(kHttpCancelled);
    }
}

// Splits "scheme://host:port" into the record.
void parse_host(http_request* r, std::string_view host) {
    uint16_t default_port = 80;
    if (starts_with_ignoring_case(host, "https://")) {
        r->tls = true;
        default_port = 443;
        host.remove_prefix(8);
    } else if (starts_with_ignoring_case(host, "http://")) {
        host.remove_prefix(7);
    }
    size_t colon = host.find(':');
    r->port = default_port;
    if (colon != std::string_view::npos) {
        uint32_t port = 0;
        size_t i = colon + 1;
        while (i < host.size() && std::isdigit(static_cast<unsigned char>(host[i])) && port <= 65535)
            port = port * 10 + static_cast<uint32_t>(host[i++] - '0');
        // No digits or no valid number: the default port, as a port of 0 means.
        r->port = (port >= 1 && port <= 65535) ? static_cast<uint16_t>(port) : default_port;
        host = host.substr(0, colon);
    }
    r->host.assign(host);
}

bool date_ok(std::string_view date) {
    return std::none_of(date.begin(), date.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

}  // namespace

bool http_head_line(HttpHead& p, std::string_view line) {
    if (line.rfind("HTTP/", 0) == 0) {
        p = {};
        size_t sp = line.find(' ');
        int code = 0;
        if (sp != std::string_view::npos) {
            size_t i = sp + 1;
            int digits = 0;
            // A fourth digit makes it no status (and keeps the number small).
            while (i < line.size() && digits < 4 && std::isdigit(static_cast<unsigned char>(line[i])))
                code = code * 10 + (line[i++] - '0'), ++digits;
            // Below 100 is no HTTP status, and would read as one of our result codes.
            if (digits != 3 || code < 100) code = 0;
        }
        p.status = code;
        return false;
    }
    if (starts_with_ignoring_case(line, "content-length:")) {
        std::string_view v = trim(line.substr(15));
        uint64_t value = 0;
        bool ok = !v.empty();
        for (char c : v) {
            if (!std::isdigit(static_cast<unsigned char>(c))) {
                ok = false;
                break;
            }
            value = value * 10 + static_cast<unsigned>(c - '0');
            if (value > (uint64_t{1} << 40)) value = uint64_t{1} << 40;  // too large either way
        }
        p.has_length = ok;
        p.length = ok ? value : 0;
        return false;
    }
    if (starts_with_ignoring_case(line, "last-modified:")) {
        std::string_view v = trim(line.substr(14));
        p.date.clear();
        // One character more than the field holds marks a date too long to keep.
        for (char c : v)
            if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7f && p.date.size() < kDateSize) p.date.push_back(c);
        return false;
    }
    if (starts_with_ignoring_case(line, "location:")) {
        p.has_location = true;
        return false;
    }
    if (!trim(line).empty()) return false;
    // Interim answers and redirects that libcurl follows are not ours.
    if (p.status >= 100 && p.status < 200) return false;
    bool redirect = p.status == 301 || p.status == 302 || p.status == 303 || p.status == 307 || p.status == 308;
    return !(redirect && p.has_location);
}

int http_head_result(const HttpHead& p, uint32_t max) {
    if (p.status == 304) return kHttpNotModified;
    if (p.status == 404) return kHttpNotFound;
    if (p.status != 200) return p.status > 0 ? p.status : kHttpErrorBase + CURLE_WEIRD_SERVER_REPLY;
    if (!p.has_length) return kHttpNoLength;
    if (p.length == 0) return kHttpEmpty;
    if (p.length > kHttpHardMax || (max != 0 && p.length > max)) return kHttpTooLarge;
    return kHttpInProgress;
}

void http_set_byte_counter(void (*counter)(uint32_t bytes)) { g_byte_counter.store(counter); }

void proxy_init() {
    if (log_on(Trace::trace)) log_write("proxy_init");
    g_proxy = {};
    std::string address = settings_get_string("proxy", "address");
    if (address.empty()) return;
    g_proxy.set = true;
    g_proxy.address = address;
    g_proxy.port = settings_get_int("proxy", "port");
    // A missing or impossible port leaves the port to libcurl's default
    // rather than handing it "host:-1".
    if (g_proxy.port >= 1 && g_proxy.port <= 65535)
        g_proxy.text = address + ":" + std::to_string(g_proxy.port);
    else
        g_proxy.text = address;
}

const char* proxy_string() { return g_proxy.set ? g_proxy.text.c_str() : nullptr; }

ProxyPage proxy_page() {
    ProxyPage page;
    page.use_proxy = g_proxy.set;
    if (page.use_proxy) {
        page.address = g_proxy.address;
        if (g_proxy.port >= 1 && g_proxy.port <= 65535) page.port = std::to_string(g_proxy.port);
    }
    return page;
}

bool proxy_apply(bool use_proxy, const std::string& address, const std::string& port) {
    if (!use_proxy) {
        g_proxy = {};
        settings_put_string("proxy", "address", "");
    } else {
        std::string_view p = trim(port);
        if (p.empty() || p.size() > 5 || !std::all_of(p.begin(), p.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return false;
        int number = std::atoi(std::string(p).c_str());
        if (number < 1 || number > 65535) return false;
        std::string addr(trim(address).substr(0, 255));
        // A line break would end the settings line; such an address is no address.
        if (!date_ok(addr)) return false;
        g_proxy.set = !addr.empty();
        g_proxy.address = addr;
        g_proxy.port = number;
        g_proxy.text = addr + ":" + std::to_string(number);
        settings_put_string("proxy", "address", addr);
        settings_put_int("proxy", "port", number);
    }
    http_proxy_changed();
    return true;
}

int http_init() {
    if (log_on(Trace::trace)) log_write("http_init");
    if (!g.curl_ready) {
        // Before any worker starts: libcurl's global set-up is not thread-safe.
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) return kHttpNoSession;
        g.curl_ready = true;
    }
    if (!g.connections) g.connections = new KeyedTable(101, sizeof(Connection*));
    const char* proxy = proxy_string();
    g.proxy = proxy ? proxy : "";
    g.session = true;
    return 0;
}

void http_update() {
    uint32_t now = now_ms();
    for (http_request* r = g.requests; r; r = r->next) {
        if (!r->worker.load()) continue;
        // Signed: the worker may stamp a moment later than `now`.
        auto age = static_cast<int32_t>(now - r->activity.load());
        if (age > static_cast<int32_t>(kHttpStallMs)) finish(r, kHttpCancelled);
    }
}

namespace {

void close_connections() {
    if (!g.connections) return;
    KeyedTable::Iterator it(*g.connections);
    while (it.next()) {
        Connection* c = *static_cast<Connection**>(it.value());
        if (c) connection_close(c);
        it.remove_current();
    }
}

}  // namespace

void http_proxy_changed() {
    if (log_on(Trace::trace)) log_write("http_proxy_changed");
    close_connections();
    g.session = false;
    http_init();
    for (http_request* r = g.requests; r; r = r->next) r->rc.store(kHttpCancelled);
}

void http_term() {
    if (log_on(Trace::trace)) log_write("http_term");
    for (http_request* r = g.requests; r; r = r->next) {
        r->abandoned.store(true);
        finish(r, kHttpCancelled);
    }
    // Workers notice within about a second (libcurl's progress calls).
    for (int i = 0; i < 300 && g_running.load() > 0; ++i) {
        struct timespec ts = {0, 10 * 1000 * 1000};
        nanosleep(&ts, nullptr);
    }
    while (g.requests) http_done(g.requests);
    close_connections();
    delete g.connections;
    g.connections = nullptr;
    g.session = false;
    if (g.curl_ready && g_running.load() == 0) {
        curl_global_cleanup();
        g.curl_ready = false;
    }
}

http_request* http_get_max(const char* host, const char* path, const char* date, uint32_t max) {
    auto* r = new (std::nothrow) http_request;
    if (!r) return nullptr;
    parse_host(r, host ? host : "");
    r->path = path ? path : "";
    r->max.store(max);
    if (date && *date) {
        std::string_view d(date);
        // A date with a line break would smuggle header lines into the request.
        if (date_ok(d)) {
            std::string line = "If-Modified-Since: " + std::string(d);
            r->headers = curl_slist_append(nullptr, line.c_str());
            std::memcpy(r->date, d.data(), std::min(d.size(), kDateSize - 1));
        }
    }
    r->next = g.requests;
    g.requests = r;
    start(r);
    return r;
}

http_request* http_get(const char* host, const char* path) { return http_get_max(host, path, nullptr, 0); }

http_request* http_conditional_get(const char* host, const char* path, const char* date) {
    return http_get_max(host, path, date, 0);
}

void http_set_max(http_request* request, uint32_t bytes) {
    if (request) request->max.store(bytes);
}

int http_rc(const http_request* request) { return request->rc.load(); }

const uint8_t* http_buffer(const http_request* request) { return request->buffer.load(); }

uint32_t http_size(const http_request* request) { return request->length.load(); }

std::string http_date(const http_request* request) {
    auto* r = const_cast<http_request*>(request);
    std::lock_guard<std::mutex> hold(r->date_lock);
    return std::string(r->date, strnlen(r->date, kDateSize));
}

void http_progress(const http_request* request, uint32_t* received, uint32_t* length) {
    if (received) *received = request->received.load();
    if (length) *length = request->length.load();
}

uint32_t http_capacity(const http_request* request) { return request->capacity.load(); }

std::string http_state(const http_request* request) {
    if (!request->worker.load()) return "";
    if (!request->buffer.load()) return load_message(62);
    uint32_t received = request->received.load();
    if (received == 0) return load_message(27);
    return load_message(141, static_cast<int>(received), static_cast<int>(request->length.load()));
}

void http_done(http_request* request) {
    http_request** link = &g.requests;
    while (*link && *link != request) link = &(*link)->next;
    if (!*link) return;
    *link = request->next;
    request->abandoned.store(true);
    if (request->let_go.exchange(true)) release(request);
}

uint16_t http_port(const http_request* request) { return request->port; }

std::string http_host(const http_request* request) { return request->host; }

int http_request_count() {
    int n = 0;
    for (http_request* r = g.requests; r; r = r->next) ++n;
    return n;
}

int http_workers_running() { return g_running.load(); }

int http_connection_count() { return g.connections ? static_cast<int>(g.connections->size()) : 0; }

void http_set_clock(uint32_t (*clock)()) { g_clock.store(clock); }

}  // namespace zk
