// A small HTTP/1.1 server on 127.0.0.1 for the client's tests and
// benchmarks. Each connection runs on a thread of its own and may carry
// several requests (keep-alive); a handler answers each request by writing
// raw bytes, so it can also misbehave: stall, stop half-way, close early.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace zk::test {

struct HttpRequestSeen {
    std::string method;
    std::string target;  // as on the request line
    std::map<std::string, std::string> headers;  // names in lower case
    std::string header(const std::string& name) const {
        auto it = headers.find(name);
        return it == headers.end() ? std::string() : it->second;
    }
};

class HttpServer;

// One client connection as a handler sees it.
class HttpConn {
public:
    // False once the peer is gone or the server stops.
    bool send(std::string_view bytes);
    // Ends the connection after this response.
    void close() { closing_ = true; }
    // Sends nothing more until the peer hangs up or the server stops.
    void stall();
    // Waits until the server's gate reaches `value` (or the peer hangs up,
    // or the server stops).
    void wait_gate(int value);

private:
    friend class HttpServer;
    HttpConn(HttpServer& server, int fd) : server_(server), fd_(fd) {}
    bool peer_gone();
    HttpServer& server_;
    int fd_;
    bool closing_ = false;
};

class HttpServer {
public:
    using Handler = std::function<void(const HttpRequestSeen&, HttpConn&)>;
    explicit HttpServer(Handler handler);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    int port() const { return port_; }
    std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
    int connections() const { return accepted_.load(); }
    int requests() const { return requests_.load(); }
    HttpRequestSeen last_request();

    // Releases handlers waiting in wait_gate.
    void set_gate(int value);

    // Closes the listening socket and every connection; joins the threads.
    void stop();

private:
    friend class HttpConn;
    void accept_loop();
    void serve(int fd);

    Handler handler_;
    int listen_fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> accepted_{0};
    std::atomic<int> requests_{0};
    std::atomic<int> gate_{0};
    std::mutex lock_;
    std::condition_variable gate_changed_;
    HttpRequestSeen last_;
    std::vector<int> fds_;
    std::vector<std::thread> threads_;
    std::thread acceptor_;
};

// A complete answer: status line, Content-Length (unless `length` is
// false), the extra header lines, then the body.
std::string http_response(int status, const std::string& body, const std::string& extra = "", bool length = true);

// Deterministic bytes for bodies: byte i is a function of i and `seed`.
std::string pattern_bytes(size_t n, unsigned seed = 1);

}  // namespace zk::test
