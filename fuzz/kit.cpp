// The upgrade kit reader, and applying what it accepts to a small
// installation: a kit either installs whole or leaves every file as it was.
#include <cstdint>
#include <filesystem>
#include <string>

#include "fuzz_dir.h"
#include "platform/files.h"
#include "upgrade/kit.h"

namespace {

zk::fuzz::FuzzDir g_dir("kit");
const std::string g_install = g_dir.file("prog");

// The installation the seed kits were built against.
void install() {
    std::filesystem::remove_all(g_install);
    std::filesystem::create_directories(g_install + "/sub");
    std::string binary;
    for (int i = 0; i < 4000; ++i) binary += static_cast<char>((i * 7919) >> 3);
    zk::file_replace(g_install + "/zelnik", binary);
    zk::file_replace(g_install + "/sub/old.txt", "old text\n");
    zk::file_replace(g_install + "/gone.txt", "going\n");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zk::Kit kit;
    const int rc = zk::kit_read(data, size, kit);
    if (rc < zk::kKitOk || rc > zk::kKitTooLarge) __builtin_trap();
    if (rc != zk::kKitOk) return 0;
    // What was read writes back to a kit that reads the same.
    const std::string again = zk::kit_write(kit);
    zk::Kit kit2;
    if (zk::kit_read(reinterpret_cast<const uint8_t*>(again.data()), again.size(), kit2) != zk::kKitOk ||
        kit2.files.size() != kit.files.size())
        __builtin_trap();
    for (size_t i = 0; i < kit.files.size(); ++i)
        if (kit.files[i].path != kit2.files[i].path || kit.files[i].data != kit2.files[i].data) __builtin_trap();
    install();
    zk::kit_apply(data, size, g_install);
    // Never a journal or a half-written file left behind.
    for (const auto& e : std::filesystem::recursive_directory_iterator(g_install)) {
        const std::string name = e.path().filename().string();
        if (name == zk::kKitJournal || name.find(zk::kKitStaged) != std::string::npos) __builtin_trap();
    }
    return 0;
}
