#include "art/files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

#include "core/log.h"
#include "common/keyed_table.h"
#include "common/text.h"

namespace zk {

namespace {

constexpr uint32_t kKnownBuckets = 503;
constexpr size_t kReadPiece = 16384;
// Cache files are models, textures and sounds; anything near this is not one.
constexpr uint64_t kReadLimit = uint64_t{1} << 30;

std::unique_ptr<KeyedTable> g_known;
unsigned g_store_serial = 0;

// The helpers' lines belong to both the general trace and the disk trace.
bool trace_on() { return log_on(Trace::disk) || log_on(Trace::trace); }

KeyedTable* known() {
    if (!g_known) g_known = std::make_unique<KeyedTable>(kKnownBuckets, 1);
    return g_known.get();
}

bool write_all(int fd, const uint8_t* p, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

int file_exists(const std::string& path) {
    if (trace_on()) log_write("file_exists (%s)", path.c_str());
    if (known()->find(path.data(), path.size())) return 1;
    if (access(path.c_str(), F_OK) != 0) return 0;
    known()->find_or_add(path.data(), path.size());
    return 1;
}

int file_delete(const std::string& path) {
    if (trace_on()) log_write("file_delete (%s)", path.c_str());
    if (unlink(path.c_str()) != 0) return 1;
    if (g_known) g_known->remove(path.data(), path.size());
    return 0;
}

int file_store(const std::string& path, const void* data, size_t size) {
    if (trace_on()) log_write("file_store (%s)", path.c_str());
    if (!data && size > 0) return 3;
    const std::string temp = path + ".~" + std::to_string(getpid()) + "." + std::to_string(++g_store_serial);
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return 1;
    bool whole = write_all(fd, static_cast<const uint8_t*>(data), size);
    if (close(fd) != 0) whole = false;
    if (!whole) {
        unlink(temp.c_str());
        return 3;
    }
    if (rename(temp.c_str(), path.c_str()) != 0) {
        unlink(temp.c_str());
        return 1;
    }
    return 0;
}

int file_read(const std::string& path, std::vector<uint8_t>& data) {
    if (trace_on()) log_write("file_read (%s)", path.c_str());
    data.clear();
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 1;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return 1;
    }
    const off_t end = lseek(fd, 0, SEEK_END);
    if (end < 0 || lseek(fd, 0, SEEK_SET) != 0 || static_cast<uint64_t>(end) > kReadLimit) {
        close(fd);
        return 2;
    }
    const size_t size = static_cast<size_t>(end);
    try {
        data.resize(size);
    } catch (const std::bad_alloc&) {
        close(fd);
        return 2;
    }
    size_t got = 0;
    while (got < size) {
        ssize_t n = read(fd, data.data() + got, std::min(kReadPiece, size - got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    if (got != size) {
        data.clear();
        data.shrink_to_fit();
        return 2;
    }
    return 0;
}

int file_touch(const std::string& path) {
    if (trace_on()) log_write("file_touch (%s)", path.c_str());
    return utimensat(AT_FDCWD, path.c_str(), nullptr, 0) == 0 ? 0 : 1;
}

std::string file_name_from_url(std::string_view text) {
    std::string name(text);
    if (trace_on()) log_write("file_name_from_url (%s)", name.c_str());
    bool only_dots = !name.empty();
    for (char& c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (std::strchr("\"*/:;<>?\\|", c) && c != '\0')
            c = '-';
        else if (u < 0x20 || u == 0x7f)
            c = '-';
        else
            c = ascii_lower(c);
        if (c != '.') only_dots = false;
    }
    if (only_dots) name.assign(name.size(), '-');
    return name;
}

const char* file_basename(std::string_view name) {
    static std::string buffer;
    buffer.assign(name);
    if (trace_on()) log_write("file_basename (%s)", buffer.c_str());
    buffer.resize(std::min(buffer.size(), name.find('.')));
    return buffer.c_str();
}

void file_term() {
    if (trace_on()) log_write("file_term");
    g_known.reset();
}

}  // namespace zk
