// zelnik-assets: builds the demo worlds' object path trees at build time.
#include <cstdio>
#include <cstring>
#include <string>

#include "server/assets/generate.h"

int main(int argc, char** argv) {
    std::string assets, out;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--assets") == 0 && i + 1 < argc) {
            assets = argv[++i];
        } else if (std::strcmp(argv[i], "--out") == 0 && i + 1 < argc) {
            out = argv[++i];
        } else {
            std::fprintf(stderr, "usage: zelnik-assets --assets DIR --out DIR\n");
            return 2;
        }
    }
    if (assets.empty() || out.empty()) {
        std::fprintf(stderr, "usage: zelnik-assets --assets DIR --out DIR\n");
        return 2;
    }
    if (std::string e = zk::server::generate_demo_objects(assets, out); !e.empty()) {
        std::fprintf(stderr, "zelnik-assets: %s\n", e.c_str());
        return 1;
    }
    return 0;
}
