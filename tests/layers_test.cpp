// Keeps the layer order of src/ true: a file includes only its own layer and
// the layers below it. Start-up binds the hooks that let a lower module call
// up, so an upward include is always a mistake.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// art/ spans two layers: the transport and storage below, the content above.
const std::set<std::string> kArtTransport = {"http", "zip", "files", "database", "download", "disk"};

// The layer of a path relative to src/, or -1 for a folder the order does not
// know (which is itself a failure: a new folder must be placed).
int layer_of(const std::string& relative) {
    // The server is a program of its own beside start-up; no browser module uses it.
    static const std::map<std::string, int> kLayers = {
        {"common", 0}, {"platform", 0}, {"render", 0}, {"isam", 0}, {"core", 1},    {"net", 2},    {"world", 3},
        {"people", 3}, {"view", 3},     {"sound", 3},  {"upgrade", 3}, {"app", 4}, {"server", 4}};
    const fs::path path(relative);
    auto it = path.begin();
    if (it == path.end()) return -1;
    const std::string folder = it->string();
    if (folder == "art") return kArtTransport.count(path.stem().string()) ? 2 : 3;
    if (folder == "shell") {
        ++it;
        return it != path.end() && it->string() == "qt" && ++it != path.end() ? 5 : 3;
    }
    const auto layer = kLayers.find(folder);
    return layer == kLayers.end() ? -1 : layer->second;
}

struct Violation {
    std::string file, include;
};

std::vector<Violation> layer_violations(const fs::path& src) {
    static const std::regex kInclude(R"re(^\s*#\s*include\s*"([^"]+)")re");
    std::vector<Violation> found;
    for (const auto& entry : fs::recursive_directory_iterator(src)) {
        const std::string ext = entry.path().extension().string();
        if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h" && ext != ".inc")) continue;
        const std::string file = fs::relative(entry.path(), src).generic_string();
        const int own = layer_of(file);
        if (own < 0) {
            found.push_back({file, "(folder has no layer)"});
            continue;
        }
        std::ifstream in(entry.path());
        std::string line;
        std::smatch m;
        while (std::getline(in, line)) {
            if (!std::regex_search(line, m, kInclude)) continue;
            const std::string included = m[1];
            if (included.find('/') == std::string::npos) continue;  // beside the file
            if (!fs::exists(src / included)) continue;              // a system header
            const int theirs = layer_of(included);
            if (theirs < 0 || theirs > own) found.push_back({file, included});
        }
    }
    return found;
}

TEST(Layers, SourceIncludesOnlyDownward) {
    const auto found = layer_violations(fs::path(ZELNIK_SOURCE_DIR) / "src");
    for (const auto& v : found) ADD_FAILURE() << v.file << " includes " << v.include;
}

TEST(Layers, CheckerFindsUpwardIncludes) {
    zk::test::TempDir dir;
    const fs::path src = fs::path(dir.path()) / "src";
    const auto write = [&](const std::string& file, const std::string& text) {
        fs::create_directories((src / file).parent_path());
        std::ofstream(src / file) << text;
    };
    write("core/log.h", "#pragma once\n");
    write("net/tcp.cpp", "#include \"core/log.h\"\n#include \"shell/bps.h\"\n");
    write("shell/bps.h", "#include <string>\n");
    write("shell/qt/window.cpp", "#include \"shell/bps.h\"\n#include \"app/startup.h\"\n");
    write("app/startup.h", "#include \"shell/qt/window.h\"\n");
    write("shell/qt/window.h", "");
    write("art/http.cpp", "#include \"art/model.h\"\n");
    write("art/model.h", "#include \"art/http.h\"\n");
    write("art/http.h", "");
    write("extra/thing.cpp", "");

    std::set<std::string> got;
    for (const auto& v : layer_violations(src)) got.insert(v.file + " -> " + v.include);
    EXPECT_EQ(got, (std::set<std::string>{"net/tcp.cpp -> shell/bps.h",
                                          "app/startup.h -> shell/qt/window.h",
                                          "art/http.cpp -> art/model.h",
                                          "extra/thing.cpp -> (folder has no layer)"}));
}

}  // namespace
