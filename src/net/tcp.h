// Non-blocking TCP connections for the universe and world servers. Nothing
// here waits unless asked to: callers poll from their per-frame update and
// judge the time-outs through the results of their own calls.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zk {

// Results of the connection operations. System errors are errno + 10000 so
// that they never collide with 1-5 and stay apart from the callers' codes.
constexpr int tcp_ok = 0;
constexpr int tcp_no_memory = 1;
constexpr int tcp_not_connected = 2;
constexpr int tcp_partial = 3;
constexpr int tcp_timeout = 4;
constexpr int tcp_closed = 5;
constexpr int tcp_system_error_base = 10000;

// A connection must become writable within this time (judged on send)...
constexpr uint32_t tcp_connect_timeout_ms = 20000;
// ...and a receiver gives up after this long without any byte.
constexpr uint32_t tcp_idle_timeout_ms = 45000;
// At most this much is read by one tcp_receive.
constexpr size_t tcp_receive_chunk = 4096;

// Owned by the caller between tcp_connect and tcp_close.
struct tcp_connection {
    int socket = -1;
    uint32_t address = 0;  // IPv4, network byte order
    uint16_t port = 0;     // network byte order
    bool connected = false;  // latched once the socket has been seen writable
    uint32_t last_activity = 0;  // net_now() at opening and at every byte sent or received
};

// Starts connecting to `address`:`port` (both network byte order) without
// waiting. 0 with `*out` set, 1 when the record cannot be made, or the
// system error (the socket is then closed).
int tcp_connect(uint32_t address, uint16_t port, tcp_connection** out);

// Closes the socket and frees the record either way; 0 or the system error.
int tcp_close(tcp_connection* connection);

// Sends the whole buffer in one call once the connection is writable:
// 0 all sent, 2 still connecting, 4 still connecting 20 s after opening,
// 3 only part went, or the system error. Sent bytes go to the bandwidth
// counter. There is no queue: on 2 or 3 the caller retries or gives up.
int tcp_send(tcp_connection* connection, const void* buffer, size_t length);

// Reads at most min(maximum, 4096) bytes. 0 with `*count` bytes (possibly
// none); 5 when the peer closed; 4 when nothing arrived for 45 s since the
// last activity; or the system error.
int tcp_receive(tcp_connection* connection, void* buffer, size_t maximum, size_t* count);

// 1 when a read would not block, else 0.
int tcp_readable(tcp_connection* connection);

// 1 once the socket has been seen writable (latched), else 0.
int tcp_connected(tcp_connection* connection);

// Blocks up to `ms` until the socket is readable (or writable when `write`).
// Lets callers that must wait for a peer do so without spinning a core.
bool tcp_wait(tcp_connection* connection, bool write, int ms);

// The millisecond clock that last-activity times and every network time-out
// are measured with: the system tick count unless a test installs its own
// (so that 45 s can pass in a moment). Null restores the system clock.
using NetClock = uint32_t (*)();
void net_set_clock(NetClock clock);
uint32_t net_now();

// Where the bytes sent and received are counted (the bandwidth meter, bound
// by start-up). Null counts nothing.
using ByteCounter = void (*)(uint32_t bytes);
void net_set_byte_counter(ByteCounter counter);

}  // namespace zk
