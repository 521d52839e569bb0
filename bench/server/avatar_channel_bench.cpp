// The avatar channel under load: 100 browsers on loopback sockets, all
// within sight of each other, each sending its state once a second for 5 s
// to a channel served by a loop of its own. Reports the loop's processor
// time per second and the bytes a second each browser sends and receives;
// then the time of one round of updates for 100 and for 1,024 users, the
// channel's limit, without sockets.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "common/bytes.h"
#include "results.h"
#include "server/avatar_channel.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kUsers = 100;
constexpr int kSeconds = 5;

double thread_cpu_ms() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

std::string state(int i) {
    std::string d(1, '\0');
    zk::append_be32(d, static_cast<uint32_t>(i % 10 * 800));
    zk::append_be32(d, 0u);
    zk::append_be32(d, static_cast<uint32_t>(i / 10 * 800));
    zk::append_be16(d, static_cast<uint16_t>(i * 36));
    d.push_back(1);  // avatar type, 0, gesture
    d.push_back(0);
    d.push_back(0);
    return d;
}

// A round of updates for `users` users, in microseconds (median of 21).
double round_us(int users) {
    zk::server::AvatarChannel channel;
    size_t bytes = 0;
    channel.set_sender([&](uint32_t, uint16_t, const std::string& b) { bytes += b.size(); });
    std::vector<double> times;
    for (int r = 1; r <= 21; ++r) {
        for (int i = 0; i < users; ++i) {
            const std::string d = state(i % 100);
            channel.receive(0x7F000001u + static_cast<uint32_t>(i / 1000), static_cast<uint16_t>(4000 + i % 1000),
                            reinterpret_cast<const uint8_t*>(d.data()), d.size(), r * 1000 - 1000);
        }
        const auto t0 = Clock::now();
        channel.tick(r * 1000);
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    std::sort(times.begin(), times.end());
    return bytes ? times[times.size() / 2] : -1;
}

}  // namespace

int main() {
    zk::server::AvatarChannel channel;
    if (!channel.open("127.0.0.1", 0).empty()) return 1;
    std::atomic<bool> stop{false};
    double server_ms = 0;
    std::thread loop([&] {
        const double start = thread_cpu_ms();
        pollfd p{channel.fd(), POLLIN, 0};
        const auto t0 = Clock::now();
        while (!stop) {
            poll(&p, 1, 50);
            channel.poll(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count());
        }
        server_ms = thread_cpu_ms() - start;
    });

    std::vector<int> browsers;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(channel.port());
    for (int i = 0; i < kUsers; ++i) {
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        sockaddr_in at = to;
        at.sin_port = 0;
        bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at);
        browsers.push_back(fd);
    }
    uint64_t sent = 0, received = 0, updates = 0, listed = 0;
    const auto start = Clock::now();
    for (int second = 0; second < kSeconds; ++second) {
        // Spread over the second, as browsers are.
        for (int i = 0; i < kUsers; ++i) {
            const std::string d = state(i);
            sent += static_cast<uint64_t>(
                sendto(browsers[size_t(i)], d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to));
            std::this_thread::sleep_until(start + std::chrono::milliseconds(second * 1000 + (i + 1) * 1000 / kUsers));
            char b[600];
            for (int fd : browsers)
                for (ssize_t n; (n = recv(fd, b, sizeof b, 0)) > 0;) {
                    received += static_cast<uint64_t>(n);
                    if (b[0] == 2) ++updates, listed += static_cast<uint64_t>((n - 13) / 17);
                }
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    stop = true;
    loop.join();
    for (int fd : browsers) close(fd);
    if (updates == 0) {
        std::fprintf(stderr, "no updates arrived\n");
        return 1;
    }
    const double cpu = server_ms / seconds, up = double(sent) / kUsers / seconds, down = double(received) / kUsers / seconds;
    std::printf("%d browsers for %.1f s: the channel's loop used %.2f ms of processor a second; %llu updates listing "
                "%.1f users each\n",
                kUsers, seconds, cpu, static_cast<unsigned long long>(updates), double(listed) / double(updates));
    std::printf("each browser sent %.1f and received %.1f bytes a second\n", up, down);
    const double r100 = round_us(100), r1024 = round_us(1024);
    std::printf("one round of updates: %.0f us for 100 users, %.0f us for 1024\n", r100, r1024);
    bench_result("avatar channel, 100 users: loop processor a second", cpu, "ms", "", 0, "<= 20");
    bench_result("avatar channel: bytes a second to each browser", down, "B/s");
    bench_result("avatar channel: bytes a second from each browser", up, "B/s");
    bench_result("avatar channel: one round of updates, 1024 users", r1024, "us", "the same for 100 users", r100);
    return 0;
}
