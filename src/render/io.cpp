#include "render/io.h"

#include <cstdio>
#include <sys/stat.h>

namespace zk {

bool rw_read_file(const std::string& path, std::string& out, size_t max_bytes) {
    out.clear();
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (size_t(st.st_size) > max_bytes) return false;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    out.resize(size_t(st.st_size));
    size_t got = out.empty() ? 0 : std::fread(out.data(), 1, out.size(), f);
    // A file that grew since stat is read no further than the limit.
    bool ok = got == out.size() && std::fgetc(f) == EOF;
    std::fclose(f);
    if (!ok) out.clear();
    return ok;
}

}  // namespace zk
