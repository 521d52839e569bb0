// zelnik-kit: builds the upgrade kit that turns one installation folder into
// another, or applies one (for testing a kit before publishing it).
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/files.h"
#include "upgrade/kit.h"

namespace {

const char kUsage[] =
    "usage: zelnik-kit OLD-DIR NEW-DIR KIT-FILE   build the kit from OLD-DIR to NEW-DIR\n"
    "       zelnik-kit --list KIT-FILE            show what a kit changes\n"
    "       zelnik-kit --apply KIT-FILE DIR       apply a kit to an installation\n"
    "       zelnik-kit --recover DIR              finish or roll back an interrupted apply\n"
    "Publish the kit as upgrade/kit<BUILD>.rtp (or upgrade/beta/kit<BUILD>.rtp) on the\n"
    "object server, where BUILD is the build of the browsers it upgrades.\n";

const char* report(int message, const void* arg, void*) {
    if (message == 2 || message == 4) std::fprintf(stderr, "zelnik-kit: %s\n", static_cast<const char*>(arg));
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    using namespace zk;
    if (argc == 2 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 3 && !std::strcmp(argv[1], "--recover")) return kit_recover(argv[2]) == kKitOk ? 0 : 1;
    if (argc == 4 && !std::strcmp(argv[1], "--apply")) return kit_apply_file(argv[2], argv[3], report) ? 1 : 0;
    if (argc == 3 && !std::strcmp(argv[1], "--list")) {
        std::string bytes;
        Kit kit;
        if (!file_read_all(argv[2], bytes, 1u << 30) ||
            kit_read(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), kit) != kKitOk) {
            std::fprintf(stderr, "zelnik-kit: %s is not a readable kit\n", argv[2]);
            return 1;
        }
        for (const KitFile& f : kit.files)
            std::printf("%-6s %10zu %s\n", f.op == KitOp::whole ? "whole" : f.op == KitOp::delta ? "delta" : "remove",
                        f.data.size(), f.path.c_str());
        return 0;
    }
    if (argc != 4 || argv[1][0] == '-') {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::string kit, error;
    if (kit_build(argv[1], argv[2], kit, &error) != kKitOk) {
        std::fprintf(stderr, "zelnik-kit: %s\n", error.c_str());
        return 1;
    }
    if (!file_replace(argv[3], kit)) {
        std::fprintf(stderr, "zelnik-kit: cannot write %s\n", argv[3]);
        return 1;
    }
    std::printf("zelnik-kit: %s, %zu bytes\n", argv[3], kit.size());
    return 0;
}
