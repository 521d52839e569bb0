#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "net/peer.h"
#include "net/tcp.h"

using namespace zk;
using zk::test::TestClock;

namespace {

// A listening socket on 127.0.0.1 that the test accepts from itself.
struct Listener {
    explicit Listener(int backlog = 4) {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(::listen(fd, backlog), 0);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = a.sin_port;
    }
    ~Listener() { ::close(fd); }
    int fd;
    uint16_t port;  // network order
};

const uint32_t kLoopback = htonl(INADDR_LOOPBACK);

// Polls until the connection is writable or a second passes.
bool connect_done(tcp_connection* c) {
    for (int i = 0; i < 100 && !tcp_connected(c); ++i) tcp_wait(c, true, 10);
    return tcp_connected(c) == 1;
}

int receive_some(tcp_connection* c, uint8_t* buf, size_t max, size_t* count) {
    int rc = tcp_ok;
    for (int i = 0; i < 100; ++i) {
        rc = tcp_receive(c, buf, max, count);
        if (rc != tcp_ok || *count) break;
        tcp_wait(c, false, 10);
    }
    return rc;
}

// A connection to a listener of the test, with the far end in `peer_`.
class Tcp : public ::testing::Test {
protected:
    void SetUp() override {
        // Just before the tick count wraps at 2^32: every time-out below is
        // measured across the wrap.
        TestClock::advance(0xFFFFF000u - 1000000u);
        ASSERT_EQ(tcp_connect(kLoopback, server_.port, &c_), tcp_ok);
        peer_ = ::accept(server_.fd, nullptr, nullptr);
        ASSERT_GE(peer_, 0);
        ASSERT_TRUE(connect_done(c_));
    }
    void TearDown() override {
        ::close(peer_);
        EXPECT_EQ(tcp_close(c_), tcp_ok);
    }

    TestClock clock_;
    Listener server_;
    tcp_connection* c_ = nullptr;
    int peer_ = -1;
    uint8_t buf_[16];
    size_t n_ = 0;
};

}  // namespace

TEST_F(Tcp, RoundTripCountsBytesAndKeepsTheAddressInNetworkOrder) {
    EXPECT_EQ(c_->address, kLoopback);
    EXPECT_EQ(c_->port, server_.port);
    static uint64_t counted;
    counted = 0;
    net_set_byte_counter([](uint32_t bytes) { counted += bytes; });
    EXPECT_EQ(tcp_send(c_, "hello", 5), tcp_ok);
    char got[8] = {};
    ASSERT_EQ(::recv(peer_, got, sizeof got, 0), 5);
    EXPECT_STREQ(got, "hello");

    ASSERT_EQ(::send(peer_, "abc", 3, 0), 3);
    EXPECT_EQ(receive_some(c_, buf_, sizeof buf_, &n_), tcp_ok);
    EXPECT_EQ(std::string(buf_, buf_ + n_), "abc");
    EXPECT_EQ(counted, 8u) << "sent and received bytes both reach the meter";
    net_set_byte_counter(nullptr);
}

TEST_F(Tcp, OneReceiveReadsAtMost4096Bytes) {
    std::vector<uint8_t> big(10000, 0x5a);
    ASSERT_EQ(::send(peer_, big.data(), big.size(), 0), static_cast<ssize_t>(big.size()));
    std::vector<uint8_t> buf(20000);
    size_t total = 0;
    for (int i = 0; i < 200 && total < big.size(); ++i) {
        size_t n = 0;
        ASSERT_EQ(receive_some(c_, buf.data(), buf.size(), &n), tcp_ok);
        EXPECT_LE(n, tcp_receive_chunk);
        total += n;
    }
    EXPECT_EQ(total, big.size());
}

TEST_F(Tcp, IdleReceiveAnswersNothingUntil45SecondsThenTimeOut) {
    n_ = 99;
    EXPECT_EQ(tcp_receive(c_, buf_, sizeof buf_, &n_), tcp_ok);
    EXPECT_EQ(n_, 0u);
    TestClock::advance(44000);
    EXPECT_EQ(tcp_receive(c_, buf_, sizeof buf_, &n_), tcp_ok);
    TestClock::advance(1500);
    EXPECT_EQ(tcp_receive(c_, buf_, sizeof buf_, &n_), tcp_timeout);

    // A byte restarts the idle time.
    ASSERT_EQ(::send(peer_, "x", 1, 0), 1);
    EXPECT_EQ(receive_some(c_, buf_, sizeof buf_, &n_), tcp_ok);
    EXPECT_EQ(n_, 1u);
    EXPECT_EQ(tcp_receive(c_, buf_, sizeof buf_, &n_), tcp_ok);
}

TEST_F(Tcp, PeerThatClosesAnswers5) {
    ::close(peer_);
    peer_ = -1;
    EXPECT_EQ(receive_some(c_, buf_, sizeof buf_, &n_), tcp_closed);
}

TEST(TcpConnect, SendWhileStillConnectingAnswers2ThenTimeOutAfter20Seconds) {
    TestClock clock;
    // A full accept queue leaves the next connection waiting for its answer.
    Listener server(0);
    tcp_connection* first = nullptr;
    ASSERT_EQ(tcp_connect(kLoopback, server.port, &first), tcp_ok);
    ASSERT_TRUE(connect_done(first));
    tcp_connection* c = nullptr;
    ASSERT_EQ(tcp_connect(kLoopback, server.port, &c), tcp_ok);
    usleep(50000);
    if (tcp_connected(c)) {
        tcp_close(c);
        tcp_close(first);
        GTEST_SKIP() << "this network stack accepts beyond the backlog";
    }
    EXPECT_EQ(tcp_send(c, "x", 1), tcp_not_connected);
    TestClock::advance(19000);
    EXPECT_EQ(tcp_send(c, "x", 1), tcp_not_connected);
    TestClock::advance(1500);
    EXPECT_EQ(tcp_send(c, "x", 1), tcp_timeout);
    tcp_close(c);
    tcp_close(first);
}

TEST(TcpConnect, RefusedConnectionReportsTheSystemErrorAbove10000) {
    TestClock clock;
    uint16_t port;
    {
        Listener gone;
        port = gone.port;
    }
    tcp_connection* c = nullptr;
    int rc = tcp_connect(kLoopback, port, &c);
    if (rc != tcp_ok) {
        EXPECT_EQ(rc, tcp_system_error_base + ECONNREFUSED);
        EXPECT_EQ(c, nullptr);
        return;
    }
    ASSERT_TRUE(connect_done(c)) << "a refused connection shows as writable";
    EXPECT_EQ(tcp_send(c, "x", 1), tcp_system_error_base + ECONNREFUSED);
    tcp_close(c);
}
