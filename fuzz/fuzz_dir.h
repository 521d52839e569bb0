// A fuzz target's private directory: made once, removed with everything in it
// at exit, so that runs never write outside it.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace zk::fuzz {

class FuzzDir {
public:
    // In memory when there is a tmpfs: every run writes its input there.
    explicit FuzzDir(const char* name) {
        for (const char* root : {"/dev/shm", "/tmp"}) {
            std::string pattern = std::string(root) + "/zk-fuzz-" + name + "-XXXXXX";
            if (mkdtemp(pattern.data())) {
                path_ = pattern;
                return;
            }
        }
        __builtin_trap();
    }
    ~FuzzDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    FuzzDir(const FuzzDir&) = delete;
    FuzzDir& operator=(const FuzzDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Writes the bytes as the whole file; a failure stops the run, since every
// later check would be meaningless.
inline void fuzz_put(const std::string& path, const void* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) __builtin_trap();
    if (size && std::fwrite(data, 1, size, f) != size) __builtin_trap();
    std::fclose(f);
}

}  // namespace zk::fuzz
