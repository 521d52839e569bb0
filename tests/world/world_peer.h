// A scripted world server on 127.0.0.1 for the tests: it cuts the byte
// stream into requests by their type byte, records each one, and lets the
// test answer with any bytes it likes (well-formed or hostile), close the
// connection, or stay silent.
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

// Big-endian field builder for replies and expected requests.
struct Wire {
    Bytes b;
    Wire& u8(int v);
    Wire& u16(int v);
    Wire& u32(uint32_t v);
    Wire& text(const std::string& s);  // raw bytes, no length
    Wire& raw(const Bytes& bytes);
};

// A reply: u16 length and the body.
Bytes framed(const Bytes& body);
Bytes status_reply(int code);

struct WorldRequest {
    int connection;  // 1 for the first accepted connection
    Bytes bytes;
};

class WorldLink {
public:
    void send(const Bytes& bytes);
    void close();
    int fd = -1;
};

class WorldPeer {
public:
    using Respond = std::function<void(WorldLink&, const WorldRequest&)>;
    WorldPeer();
    ~WorldPeer();

    uint16_t port() const { return port_; }
    void respond(Respond fn);
    std::vector<WorldRequest> requests();
    size_t request_count();
    int connections() const { return accepted_.load(); }
    // Closes every accepted connection as soon as it opens.
    void refuse_all(bool on) { refuse_.store(on); }

private:
    void run();
    // Bytes the request at the front of `in` needs; 0 when not yet known.
    static size_t needed(const Bytes& in);

    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<bool> refuse_{false};
    std::atomic<int> accepted_{0};
    std::mutex mutex_;
    std::vector<WorldRequest> requests_;
    Respond respond_;
    std::thread thread_;
};

}  // namespace zk::test
