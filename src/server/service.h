// A TCP service on one listening socket: non-blocking connections driven by
// one poll loop shared by every service of the process.
#pragma once

#include <poll.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zk::server {

struct Client {
    int fd = -1;
    uint32_t peer_address = 0;  // host order
    uint16_t peer_port = 0;
    std::string in;             // bytes received and not yet consumed
    std::string out;            // bytes waiting to be sent
    int64_t last_activity_ms = 0;
    bool closing = false;       // close once `out` is flushed
    bool waiting = false;       // a reply is being prepared off the loop: later requests wait
    uint64_t id = 0;
    void* session = nullptr;    // owned by the service through its map
};

class Service {
public:
    Service(std::string name, std::string log_prefix);
    virtual ~Service();
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    // Binds and listens; answers an error text, empty on success.
    std::string listen_on(const std::string& address, uint16_t port);
    uint16_t port() const { return port_; }
    const std::string& name() const { return name_; }

    // Adds this service's descriptors to `fds`, then handles what poll found.
    void collect(std::vector<pollfd>& fds);
    void dispatch(const std::vector<pollfd>& fds, int64_t now_ms);

    // Takes a connected socket as a client (what accepting does).
    Client& adopt(int fd, uint32_t peer_address, uint16_t peer_port, int64_t now_ms);
    // Bytes that arrived from `c`, handled as if read from its socket.
    void receive(Client& c, std::string_view bytes, int64_t now_ms);

    void send(Client& c, const std::string& bytes);
    void close_client(Client& c, const char* why);
    // Calls `fn` for every open client.
    void each_client(const std::function<void(Client&)>& fn);
    size_t client_count() const { return clients_.size(); }
    // The open client with that id, or null.
    Client* find_client(uint64_t id);

    static constexpr size_t kMaxClients = 512;
    static constexpr size_t kMaxOutput = 4 * 1024 * 1024;
    static constexpr int64_t kIdleMs = 5 * 60 * 1000;
    // One busy client cannot keep the loop from the others: it is read again
    // on the next pass.
    static constexpr size_t kReadPerPass = 16 * 1024;

protected:
    // New bytes are in c.in; consume what forms whole requests.
    virtual void on_data(Client& c) = 0;
    virtual void on_open(Client&) {}
    virtual void on_close(Client&) {}
    // Called for every client on every pass of the loop.
    virtual void on_tick(Client&, int64_t) {}
    // Called first on every pass; `fd` (see watch) only wakes the loop for it.
    virtual void on_wake() {}
    void watch(int fd) { wake_fd_ = fd; }
    // The time of the pass (or of the bytes) being handled.
    int64_t now() const { return now_; }
    void log(const char* format, ...) __attribute__((format(printf, 2, 3)));

private:
    void accept_all(int64_t now_ms);
    void read_client(Client& c, int64_t now_ms);
    void write_client(Client& c);

    std::string name_;
    std::string log_prefix_;
    int listener_ = -1;
    uint16_t port_ = 0;
    uint64_t next_id_ = 1;
    std::vector<std::unique_ptr<Client>> clients_;
    size_t first_client_fd_ = 0;  // index in the poll array of our first client
    size_t listener_index_ = 0;
    int wake_fd_ = -1;
    int64_t now_ = 0;
};

int64_t now_ms();
std::string address_text(uint32_t address);

// One line per event on standard error, prefixed with the time.
void server_log(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Silences server_log (for fuzzing, where every request would print a line).
void server_log_quiet(bool quiet);

}  // namespace zk::server
