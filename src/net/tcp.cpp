#include "net/tcp.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <new>

#include "platform/os.h"

namespace zk {

namespace {

std::atomic<NetClock> g_clock{nullptr};
std::atomic<ByteCounter> g_counter{nullptr};

void count_bytes(ssize_t n) {
    if (ByteCounter counter = g_counter.load()) counter(static_cast<uint32_t>(n));
}

int system_error(int err) { return tcp_system_error_base + err; }

// One poll on the socket; -1 on error.
int poll_socket(int fd, short events, int ms) {
    pollfd p{fd, events, 0};
    for (;;) {
        int n = ::poll(&p, 1, ms);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n;
        return p.revents;
    }
}

}  // namespace

void net_set_clock(NetClock clock) { g_clock.store(clock); }

void net_set_byte_counter(ByteCounter counter) { g_counter.store(counter); }

uint32_t net_now() {
    NetClock clock = g_clock.load();
    return clock ? clock() : os_tick_count();
}

int tcp_connect(uint32_t address, uint16_t port, tcp_connection** out) {
    *out = nullptr;
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return system_error(errno);
    // Requests are small and answered at once; do not hold them back.
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = port;
    peer.sin_addr.s_addr = address;
    int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer);
    if (rc != 0 && errno != EINPROGRESS && errno != EINTR) {
        int err = errno;
        ::close(fd);
        return system_error(err);
    }
    auto* c = new (std::nothrow) tcp_connection;
    if (!c) {
        ::close(fd);
        return tcp_no_memory;
    }
    c->socket = fd;
    c->address = address;
    c->port = port;
    c->last_activity = net_now();
    *out = c;
    return tcp_ok;
}

int tcp_close(tcp_connection* connection) {
    if (!connection) return tcp_ok;
    int rc = tcp_ok;
    if (connection->socket >= 0 && ::close(connection->socket) != 0) rc = system_error(errno);
    delete connection;
    return rc;
}

int tcp_connected(tcp_connection* connection) {
    if (connection->connected) return 1;
    int ev = poll_socket(connection->socket, POLLOUT, 0);
    // A refused connection also shows as writable; the send that follows
    // reports its error.
    if (ev > 0 && (ev & (POLLOUT | POLLERR | POLLHUP))) connection->connected = true;
    return connection->connected ? 1 : 0;
}

int tcp_readable(tcp_connection* connection) {
    int ev = poll_socket(connection->socket, POLLIN, 0);
    return ev > 0 && (ev & (POLLIN | POLLERR | POLLHUP)) ? 1 : 0;
}

bool tcp_wait(tcp_connection* connection, bool write, int ms) {
    int ev = poll_socket(connection->socket, write ? POLLOUT : POLLIN, ms);
    return ev > 0;
}

int tcp_send(tcp_connection* connection, const void* buffer, size_t length) {
    if (!tcp_connected(connection)) {
        if (net_now() - connection->last_activity > tcp_connect_timeout_ms) return tcp_timeout;
        return tcp_not_connected;
    }
    ssize_t n;
    do {
        n = ::send(connection->socket, buffer, length, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return system_error(errno);
    connection->last_activity = net_now();
    count_bytes(n);
    return static_cast<size_t>(n) == length ? tcp_ok : tcp_partial;
}

int tcp_receive(tcp_connection* connection, void* buffer, size_t maximum, size_t* count) {
    *count = 0;
    if (maximum > tcp_receive_chunk) maximum = tcp_receive_chunk;
    ssize_t n;
    do {
        n = ::recv(connection->socket, buffer, maximum, 0);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        *count = static_cast<size_t>(n);
        connection->last_activity = net_now();
        count_bytes(n);
        return tcp_ok;
    }
    if (n == 0) return maximum == 0 ? tcp_ok : tcp_closed;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
        if (net_now() - connection->last_activity > tcp_idle_timeout_ms) return tcp_timeout;
        return tcp_ok;
    }
    return system_error(errno);
}

}  // namespace zk
