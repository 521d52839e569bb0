#include "server/object_server.h"

#include <httplib.h>
#include <sys/stat.h>

#include <ctime>

#include "common/text.h"
#include "platform/files.h"
#include "server/service.h"

namespace zk::server {

std::string object_path_clean(const std::string& path) {
    std::string out;
    size_t i = 0;
    while (i < path.size()) {
        while (i < path.size() && path[i] == '/') ++i;
        size_t j = path.find('/', i);
        if (j == std::string::npos) j = path.size();
        std::string segment = path.substr(i, j - i);
        i = j;
        if (segment.empty()) continue;
        if (segment == "." || segment == ".." || segment[0] == '.') return {};
        for (char c : segment)
            if (static_cast<unsigned char>(c) < 32 || c == '\\' || c == 127) return {};
        out += "/" + segment;
    }
    return out;
}

std::string http_date(int64_t seconds) {
    time_t t = static_cast<time_t>(seconds);
    tm g{};
    gmtime_r(&t, &g);
    char buf[64];
    std::strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S GMT", &g);
    return buf;
}

int64_t http_date_parse(const std::string& text) {
    tm g{};
    const char* end = strptime(text.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &g);
    if (!end || *end) return -1;
    return static_cast<int64_t>(timegm(&g));
}

namespace {

const char* content_type(const std::string& path) {
    auto ends = [&](const char* s) {
        return ends_with_ignoring_case(path, s);
    };
    if (ends(".zip")) return "application/zip";
    if (ends(".jpg") || ends(".jpeg")) return "image/jpeg";
    if (ends(".bmp")) return "image/bmp";
    if (ends(".html") || ends(".htm")) return "text/html";
    return "application/octet-stream";
}

}  // namespace

ObjectServer::ObjectServer(std::string root, std::string upgrades)
    : root_(std::move(root)), upgrades_(std::move(upgrades)), http_(std::make_unique<httplib::Server>()) {
    http_->Get(R"(/.*)", [this](const httplib::Request& req, httplib::Response& res) {
        const std::string clean = object_path_clean(req.path);
        const bool kit = clean.compare(0, 9, "/upgrade/") == 0;
        const std::string file = kit && !upgrades_.empty() ? upgrades_ + clean.substr(8) : root_ + clean;
        struct stat st {};
        std::string body;
        if (clean.empty() || stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
            !file_read_all(file, body, kit ? kMaxKit : kMaxFile)) {
            res.status = 404;
            res.set_content("not found\n", "text/plain");
            server_log("objects: GET %s 404", req.path.c_str());
            return;
        }
        res.set_header("Last-Modified", http_date(st.st_mtime));
        if (req.has_header("If-Modified-Since")) {
            int64_t since = http_date_parse(req.get_header_value("If-Modified-Since"));
            if (since >= 0 && st.st_mtime <= since) {
                res.status = 304;
                server_log("objects: GET %s 304", req.path.c_str());
                return;
            }
        }
        res.status = 200;
        res.set_content(std::move(body), content_type(clean));
        server_log("objects: GET %s 200 %lld", req.path.c_str(), static_cast<long long>(st.st_size));
    });
}

ObjectServer::~ObjectServer() { stop(); }

std::string ObjectServer::start(const std::string& address, uint16_t port) {
    if (port == 0) {
        int p = http_->bind_to_any_port(address);
        if (p <= 0) return "cannot bind an HTTP port on " + address;
        port_ = static_cast<uint16_t>(p);
    } else {
        if (!http_->bind_to_port(address, port)) return "port " + std::to_string(port) + " on " + address + ": in use";
        port_ = port;
    }
    thread_ = std::thread([this] { http_->listen_after_bind(); });
    return {};
}

void ObjectServer::stop() {
    if (thread_.joinable()) {
        http_->stop();
        thread_.join();
    }
}

}  // namespace zk::server
