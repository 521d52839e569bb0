// Upgrade kits. Size: a 20 MB binary-like file with a one-line change (an
// inserted line and the addresses after it moved) as a zstd delta, against
// the whole file zstd-compressed and raw. Time: applying a kit that changes
// every one of 200 files, against writing the same new files beside their
// targets with fsync and renaming them (the least any safe apply must do).
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/files.h"
#include "results.h"
#include "upgrade/kit.h"

namespace fs = std::filesystem;

namespace {

// Code-like bytes: short instruction-like runs drawn from a small
// vocabulary, with embedded 32-bit addresses.
std::string binary_like(size_t n, uint32_t seed) {
    std::string s;
    s.reserve(n + 16);
    uint32_t x = seed;
    auto next = [&] { return x = x * 1664525u + 1013904223u; };
    while (s.size() < n) {
        const uint32_t r = next();
        if (r % 5 == 0) {
            const uint32_t address = 0x400000 + (next() % (n / 4)) * 4;
            s.append(reinterpret_cast<const char*>(&address), 4);
        } else {
            static const char* ops[] = {"\x48\x89\xe5", "\x48\x83\xec\x10", "\xe8", "\x8b\x45\xfc", "\xc3",
                                        "\x55", "\x0f\x1f\x44\x00\x00", "\x89\x7d\xfc"};
            s += ops[r % 8];
        }
    }
    s.resize(n);
    return s;
}

double seconds_since(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

void put(const std::string& path, const std::string& data) {
    fs::create_directories(fs::path(path).parent_path());
    zk::file_replace(path, data);
}

}  // namespace

int main() {
    const std::string root = (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + std::string("/zk_kit_bench") +
                             std::to_string(getpid());
    fs::remove_all(root);

    // 1. One-line change in a 20 MB binary.
    std::string old_bin = binary_like(20u << 20, 162), new_bin = old_bin;
    new_bin.insert(new_bin.size() / 2, "call log_write(\"%s\", name)\n");
    for (size_t i = new_bin.size() / 2 + 64; i + 4 < new_bin.size(); i += new_bin.size() / 300)
        new_bin[i] = static_cast<char>(new_bin[i] + 1);  // moved addresses
    put(root + "/a/old/zelnik", old_bin);
    put(root + "/a/new/zelnik", new_bin);
    auto t = std::chrono::steady_clock::now();
    std::string kit;
    if (zk::kit_build(root + "/a/old", root + "/a/new", kit) != zk::kKitOk) return 1;
    const double build_s = seconds_since(t);
    // The whole binary as a kit: against an installation without it.
    fs::create_directories(root + "/a/empty");
    std::string whole;
    if (zk::kit_build(root + "/a/empty", root + "/a/new", whole) != zk::kKitOk) return 1;
    std::printf("one-line change in 20 MB: kit %zu bytes (built in %.2f s), whole file zstd %zu bytes, raw %zu bytes\n",
                kit.size(), build_s, whole.size(), new_bin.size());
    bench_result("kit size, one-line change in 20 MB", static_cast<double>(kit.size()), "bytes",
                 "whole file in a kit", static_cast<double>(whole.size()), "ratio <= 0.01");
    bench_result("kit size vs raw binary", static_cast<double>(kit.size()), "bytes", "raw file",
                 static_cast<double>(new_bin.size()), "");

    // 2. Apply a kit that changes each of 200 files of 100 KB.
    constexpr int kFiles = 200;
    for (int i = 0; i < kFiles; ++i) {
        std::string f = binary_like(100000, i);
        put(root + "/b/old/f" + std::to_string(i % 10) + "/" + std::to_string(i), f);
        f[f.size() / 3] ^= 1;
        put(root + "/b/new/f" + std::to_string(i % 10) + "/" + std::to_string(i), f);
    }
    std::string all;
    if (zk::kit_build(root + "/b/old", root + "/b/new", all) != zk::kKitOk) return 1;
    fs::copy(root + "/b/old", root + "/b/prog", fs::copy_options::recursive);
    t = std::chrono::steady_clock::now();
    const int rc = zk::kit_apply(reinterpret_cast<const uint8_t*>(all.data()), all.size(), root + "/b/prog");
    const double apply_s = seconds_since(t);
    if (rc != zk::kKitOk) return 1;
    // The reference: the same new files written beside and renamed over.
    t = std::chrono::steady_clock::now();
    for (const auto& e : fs::recursive_directory_iterator(root + "/b/new")) {
        if (!e.is_regular_file()) continue;
        std::string bytes;
        zk::file_read_all(e.path().string(), bytes, 1u << 30);
        zk::file_replace(root + "/b/prog/" + fs::relative(e.path(), root + "/b/new").string(), bytes);
    }
    const double copy_s = seconds_since(t);
    std::printf("apply of a kit changing %d files (%zu bytes): %.3f s; writing them with fsync and rename: %.3f s\n",
                kFiles, all.size(), apply_s, copy_s);
    bench_result("apply, every one of 200 files changed", apply_s * 1000, "ms", "write + fsync + rename",
                 copy_s * 1000, "ratio <= 3");
    fs::remove_all(root);
    return 0;
}
