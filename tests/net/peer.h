// A scripted server on 127.0.0.1 for the tests, for the universe and the
// world protocols alike: it cuts what the client sends into requests,
// records each one and lets the test answer with any bytes it likes
// (well-formed or hostile), close the connection or stay silent. Also a
// test clock that lets time-outs of tens of seconds pass in a moment.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/wire.h"

namespace zk::test {

// A universe reply frame: u16 length (payload + 2), rc, code, payload.
Bytes reply(int rc, int code, const Bytes& payload = {});
// The same with a length field that need not match the payload.
Bytes reply_claiming(uint16_t length, int rc, int code, const Bytes& payload);

struct Request {
    int connection;  // 1 for the first accepted connection
    int code;        // the type byte after the header, -1 when there is none
    Bytes payload;   // what follows the type byte
    Bytes frame;     // as it arrived, header included
};

// How many bytes the request at the front of `in` takes; 0 while unknown.
using Split = std::function<size_t(const Bytes&)>;
// Universe requests: a u16 length and that many bytes.
size_t universe_split(const Bytes& in);

class PeerLink {
public:
    void send(const Bytes& bytes);
    // One byte at a time, `gap_ms` apart; stops early when the client goes.
    void trickle(const Bytes& bytes, int gap_ms);
    void close();
    int fd = -1;
};

class ScriptedPeer {
public:
    using Respond = std::function<void(PeerLink&, const Request&)>;
    // `header` is the number of bytes before the type byte.
    explicit ScriptedPeer(Split split = universe_split, size_t header = 2);
    ~ScriptedPeer();

    uint16_t port() const { return port_; }
    void respond(Respond fn);
    std::vector<Request> requests();
    size_t request_count();
    int connections() const { return accepted_.load(); }
    // Waits until at least `n` requests have arrived.
    bool wait_requests(size_t n, int ms = 3000);
    // Closes the current connection from the server side.
    void drop();
    // Closes every accepted connection as soon as it opens.
    void refuse_all(bool on) { refuse_.store(on); }

private:
    void run();

    Split split_;
    size_t header_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<bool> refuse_{false};
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
