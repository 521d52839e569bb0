// A scripted universe server on 127.0.0.1 for the tests: it accepts one
// connection at a time, records every request frame and lets the test
// answer each with any bytes it likes (well-formed or hostile). Also a test
// clock that lets time-outs of tens of seconds pass in a moment.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zk::test {

using Bytes = std::vector<uint8_t>;

// Field builder for reply payloads.
struct Pack {
    Bytes b;
    Pack& u8(uint8_t v);
    Pack& u16(uint16_t v);
    Pack& u32(uint32_t v);
    Pack& str(const std::string& s);
    Pack& raw(const Bytes& bytes);
};

// A reply frame: u16 length (payload + 2), rc, code, payload.
Bytes reply(int rc, int code, const Bytes& payload = {});
// The same with a length field that need not match the payload.
Bytes reply_claiming(uint16_t length, int rc, int code, const Bytes& payload);
Bytes operator+(Bytes a, const Bytes& b);

struct Request {
    int connection;  // 1 for the first accepted connection
    int code;
    Bytes payload;
    Bytes frame;  // as it arrived, length field included
};

class PeerLink {
public:
    void send(const Bytes& bytes);
    // One byte at a time, `gap_ms` apart; stops early when the client goes.
    void trickle(const Bytes& bytes, int gap_ms);
    void close();
    int fd = -1;
};

class UniversePeer {
public:
    using Respond = std::function<void(PeerLink&, const Request&)>;
    UniversePeer();
    ~UniversePeer();

    uint16_t port() const { return port_; }
    void respond(Respond fn);
    std::vector<Request> requests();
    int connections() const { return accepted_.load(); }
    // Waits until at least `n` requests have arrived.
    bool wait_requests(size_t n, int ms = 3000);
    // Closes the current connection from the server side.
    void drop();

private:
    void run();
    bool read_frame(int fd, Request& out);

    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Request> requests_;
    Respond respond_;
    int current_ = -1;
    std::thread thread_;
};

// The network clock of the tests: real milliseconds times `speed`, plus
// whatever the test adds with `advance`. Installed by the constructor.
class TestClock {
public:
    explicit TestClock(uint32_t speed = 1);
    ~TestClock();
    static void advance(uint32_t ms);
    static void set_speed(uint32_t speed);
};

// Writes zelnik.ini with [universe] host/port into `dir` and points the
// settings at it.
void universe_settings(const std::string& dir, const std::string& host, int port,
                       const std::string& extra = {});

}  // namespace zk::test
