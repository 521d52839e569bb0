#include "server/demo.h"

#include <cmath>
#include <cstdlib>
#include <ctime>

#include "common/pkcipher.h"
#include "platform/files.h"
#include "server/assets/demo_worlds.h"
#include "server/service.h"
#include "server/world_server.h"
#include "server/world_store.h"

namespace zk::server {

namespace {

constexpr size_t kMaxLine = 1024;
constexpr size_t kMaxText = 255;
constexpr size_t kMaxFile = 4 * 1024 * 1024;

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> words(std::string_view s) {
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
        size_t j = i;
        while (j < s.size() && s[j] != ' ' && s[j] != '\t') ++j;
        if (j > i) out.push_back(s.substr(i, j - i));
        i = j;
    }
    return out;
}

bool number(std::string_view word, double& out) {
    if (word.empty() || word.size() > 32) return false;
    std::string copy(word);
    char* end = nullptr;
    out = std::strtod(copy.c_str(), &end);
    return end && *end == '\0' && std::isfinite(out);
}

}  // namespace

int demo_parse_line(std::string_view line, DemoObject& out, std::string& reason) {
    if (line.size() > kMaxLine) {
        reason = "line too long";
        return -1;
    }
    line = trim(line);
    if (line.empty() || line.front() == '#') return 0;
    for (char c : line)
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
            reason = "control character";
            return -1;
        }
    const size_t bar1 = line.find('|');
    const size_t bar2 = bar1 == std::string_view::npos ? bar1 : line.find('|', bar1 + 1);
    const std::string_view head = line.substr(0, bar1);
    const std::string_view description =
        bar1 == std::string_view::npos ? std::string_view{} : trim(line.substr(bar1 + 1, bar2 - bar1 - 1));
    const std::string_view action = bar2 == std::string_view::npos ? std::string_view{} : trim(line.substr(bar2 + 1));
    const auto w = words(head);
    if (w.size() != 5) {
        reason = "expected x y z yaw model";
        return -1;
    }
    double x, y, z, yaw;
    if (!number(w[0], x) || !number(w[1], y) || !number(w[2], z) || !number(w[3], yaw)) {
        reason = "x, y, z and yaw must be numbers";
        return -1;
    }
    // Cells are 16-bit on the wire; heights are 16-bit thousandths.
    if (std::fabs(x) > 32000 || std::fabs(z) > 32000) {
        reason = "position beyond the world's edge";
        return -1;
    }
    if (std::fabs(y) > 32.767) {
        reason = "height out of range";
        return -1;
    }
    if (std::fabs(yaw) > 1e6) {
        reason = "yaw out of range";
        return -1;
    }
    // Model names become file names on the object server.
    if (w[4].find_first_of("/\\") != std::string_view::npos || w[4].find("..") != std::string_view::npos) {
        reason = "a model name is a plain file name";
        return -1;
    }
    if (w[4].size() > kMaxText || description.size() > kMaxText || action.size() > kMaxText) {
        reason = "model, description or action longer than 255 bytes";
        return -1;
    }
    out.x = static_cast<int32_t>(std::lround(x * 1000));
    out.y = static_cast<int32_t>(std::lround(y * 1000));
    out.z = static_cast<int32_t>(std::lround(z * 1000));
    long tenths = std::lround(yaw * 10) % 3600;
    if (tenths < 0) tenths += 3600;
    out.yaw = static_cast<int16_t>(tenths);
    out.model.assign(w[4]);
    out.description.assign(description);
    out.action.assign(action);
    return 1;
}

std::vector<DemoObject> demo_parse(std::string_view text, std::vector<DemoProblem>& problems) {
    std::vector<DemoObject> out;
    int number = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        ++number;
        DemoObject o;
        std::string reason;
        const int r = demo_parse_line(text.substr(start, end - start), o, reason);
        if (r > 0) out.push_back(std::move(o));
        if (r < 0) problems.push_back({number, reason});
        start = end + 1;
    }
    return out;
}

std::string demo_encipher_password(std::string_view plain) {
    PkCipher cipher(secret_key());
    std::string out;
    out.reserve(plain.size());
    for (char c : plain) out.push_back(static_cast<char>(cipher.encrypt(static_cast<uint8_t>(c))));
    return out;
}

namespace {

// The object password, the ground and the backdrop of a demo world, each
// unless the owner has set one (an owner who cleared one keeps it cleared).
void seed_attributes(WorldStore& store, const std::string& world, DemoSeedResult& result) {
    for (const DemoWorld& w : kDemoWorlds) {
        if (w.name != world) continue;
        auto attrs = store.attributes();
        bool changed = false;
        if (!w.object_password.empty() && !attrs.count(attr_object_password)) {
            attrs[attr_object_password] = demo_encipher_password(w.object_password);
            changed = true;
        }
        if (!w.ground.empty() && !attrs.count(attr_ground)) {
            attrs[attr_ground] = std::string(w.ground);
            changed = true;
        }
        if (!w.backdrop.empty() && !attrs.count(attr_backdrop)) {
            attrs[attr_backdrop] = std::string(w.backdrop);
            changed = true;
        }
        if (changed && !store.set_attributes(attrs))
            result.error = "world " + world + ": its attributes could not be stored";
        return;
    }
}

}  // namespace

DemoSeedResult demo_seed(WorldStore& store, const std::string& path, const std::string& world, uint32_t owner) {
    DemoSeedResult result;
    // Before the objects: a world seeded by an older server gains what it lacks.
    seed_attributes(store, world, result);
    if (store.object_count() > 0) return result;
    std::string text;
    if (!file_read_all(path, text, kMaxFile)) {
        result.error = path + ": cannot read the demo objects";
        return result;
    }
    std::vector<DemoProblem> problems;
    const std::vector<DemoObject> objects = demo_parse(text, problems);
    for (const DemoProblem& p : problems) server_log("%s:%d: skipped: %s", path.c_str(), p.line, p.reason.c_str());
    result.skipped = static_cast<long>(problems.size());

    if (!store.begin()) {
        result.error = path + ": the world database is busy";
        return result;
    }
    const auto built = static_cast<uint32_t>(std::time(nullptr));
    for (const DemoObject& d : objects) {
        const int cx = cell_of_milli(d.x), cz = cell_of_milli(d.z);
        WorldObject o;
        o.owner = owner;
        o.built = built;
        o.x = static_cast<int16_t>(d.x - cx * 1000);
        o.y = static_cast<int16_t>(d.y);
        o.z = static_cast<int16_t>(d.z - cz * 1000);
        o.yaw = d.yaw;
        o.model = d.model;
        o.description = d.description;
        o.action = d.action;
        const auto c16x = static_cast<int16_t>(cx), c16z = static_cast<int16_t>(cz);
        // The same limit as a builder meets, so every cell stays loadable.
        if (store.cell_bytes(c16x, c16z) + o.record_size() > WorldServer::kMaxCellBytes) {
            server_log("%s: skipped %s: cell %d,%d is full", path.c_str(), d.model.c_str(), cx, cz);
            ++result.skipped;
            continue;
        }
        if (store.add(c16x, c16z, o) < 0) {
            server_log("%s: skipped %s: cell %d,%d has no free object number", path.c_str(), d.model.c_str(), cx, cz);
            ++result.skipped;
            continue;
        }
        ++result.added;
    }
    if (!store.commit()) {
        result.error = path + ": the demo objects could not be stored";
        result.added = 0;
        return result;
    }

    server_log("world %s: %ld demo objects from %s, %ld skipped", world.c_str(), result.added, path.c_str(),
               result.skipped);
    return result;
}

}  // namespace zk::server
