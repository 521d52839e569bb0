// The object server: each world's object path tree over HTTP/1.1, with
// Last-Modified and 304 answers to conditional requests.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace zk::server {

class ObjectServer {
public:
    // Serves `root`/<world>/<path> as /<world>/<path>; with `upgrades` set,
    // /upgrade/<path> comes from `upgrades`/<path> instead (upgrade kits,
    // which may be larger than any object).
    explicit ObjectServer(std::string root, std::string upgrades = {});
    ~ObjectServer();
    ObjectServer(const ObjectServer&) = delete;
    ObjectServer& operator=(const ObjectServer&) = delete;

    // Binds (port 0 picks one) and starts serving on a thread of its own;
    // answers an error text, empty on success.
    std::string start(const std::string& address, uint16_t port);
    void stop();
    uint16_t port() const { return port_; }

    static constexpr size_t kMaxFile = 64 * 1024 * 1024;
    static constexpr size_t kMaxKit = 256 * 1024 * 1024;

private:
    std::string root_, upgrades_;
    std::unique_ptr<httplib::Server> http_;
    std::thread thread_;
    uint16_t port_ = 0;
};

// A request path made safe, or empty when it must be refused: no "..", no
// backslashes, no control characters, no empty segments.
std::string object_path_clean(const std::string& path);
std::string http_date(int64_t seconds);
// Seconds since the epoch of an HTTP date, or -1.
int64_t http_date_parse(const std::string& text);

}  // namespace zk::server
