// One frame of the avatar channel with its area full: 18 other users of the
// demo worlds' avatar types walking, reported once a second by a world
// server on a loopback socket, the browser's avatar_update run every 16 ms
// (receiving, moving and posing the figures, the draw order; no display, so
// drawing itself is not counted). Prints the median and worst frame.
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "art/chunk.h"
#include "art/database.h"
#include "art/download.h"
#include "art/http.h"
#include "art/model.h"
#include "common/bytes.h"
#include "core/settings.h"
#include "people/avatar.h"
#include "people/registry.h"
#include "render/camera.h"
#include "results.h"
#include "server/assets/avatars.h"
#include "support/temp_dir.h"

using namespace zk;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kAvatars = 18;
uint32_t g_now = 1000;
uint16_t g_port = 0;  // network order

std::string update(uint32_t now) {
    std::string d(1, '\2');
    append_be32(d, 0u), append_be32(d, 0u), append_be32(d, 0u);
    for (int i = 0; i < kAvatars; ++i) {
        append_be32(d, 0x7F000002u + static_cast<uint32_t>(i));
        append_be16(d, 3000);
        append_be16(d, static_cast<uint16_t>(i * 600 - 5000));
        append_be16(d, 0);
        append_be16(d, static_cast<uint16_t>(now % 20000 - 10000));  // walking on, 1 unit a second
        append_be16(d, 0);
        d += static_cast<char>(i % 3);
        d += '\0';
        d += '\0';
    }
    return d;
}

}  // namespace

int main() {
    test::TempDir dir;
    test::write_file(dir.file("zelnik.ini"), "[proxy]\n");
    settings_set_directory(dir.path());
    // Nothing is fetched: the demo avatars are already in the art directory.
    if (!database_init() || http_init() != 0 || !download_init() || !model_init()) return 1;
    download_set_path("127.0.0.1:9/zk");
    chunk_reset();
    test::write_file(art_dir() + "/avatars/avatars.dat", server::avatar_registry());
    for (const auto& [name, rwx] : server::avatar_figures()) test::write_file(art_dir() + "/avatars/" + name + ".rwx", rwx);
    for (const auto& [name, seq] : server::avatar_sequences()) test::write_file(art_dir() + "/seqs/" + name + ".seq", seq);

    const int world = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof at;
    bind(world, reinterpret_cast<sockaddr*>(&at), sizeof at);
    getsockname(world, reinterpret_cast<sockaddr*>(&at), &length);
    g_port = at.sin_port;
    AvatarPorts& p = avatar_ports();
    p.frame_now = p.now = [] { return g_now; };
    p.server_address = [] { return htonl(INADDR_LOOPBACK); };
    p.server_port = [] { return g_port; };
    p.world_entered = [] { return true; };
    p.whos_at = [](const uint8_t*) { return 0; };
    avatar_set_port_range(0, 0);
    if (avatar_init() != 0) return 1;
    avatar_drop_all();  // the registry and the sequencer take the art directory
    avatar_reload_list();
    at.sin_port = htons(avatar_local_port());

    std::vector<double> frames;
    for (int frame = 0; frame < 4000; ++frame) {
        g_now += 16;
        if (frame % 62 == 0) {
            const std::string d = update(g_now);
            sendto(world, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&at), sizeof at);
        }
        const auto t0 = Clock::now();
        avatar_update();
        if (frame >= 200) frames.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    int figures = 0;
    for (const AvatarInfo& a : avatar_list()) figures += a.figure;
    // Posed models in the scenes change the view from one frame to the next.
    RwCamera* camera = rw_camera_create(64, 64);
    const uint64_t before = avatar_view_signature(camera);
    g_now += 16;
    avatar_update();
    const bool moving = avatar_view_signature(camera) != before;
    rw_camera_destroy(camera);
    const int types = registry_count();
    avatar_term();
    model_term();
    close(world);
    if (figures != kAvatars || types < 3 || !moving) {
        std::fprintf(stderr, "%d figures of %d avatar types, %s\n", figures, types, moving ? "moving" : "still");
        return 1;
    }
    std::sort(frames.begin(), frames.end());
    const double median = frames[frames.size() / 2], worst = frames.back();
    std::printf("avatar_update with %d walking avatars: %.1f us a frame (median), %.1f us worst\n", kAvatars, median,
                worst);
    bench_result("avatar_update, 18 walking avatars, a frame", median, "us", "", 0, "<= 1000");
    return 0;
}
