#include "upgrade/kit.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>

namespace zk {

const char kKitJournal[] = "upgrade.journal";
const char kKitStaged[] = ".kit-new";

namespace {

constexpr char kManifest[] = "kit.txt";
constexpr char kMagic[] = "zelnik kit 1";
constexpr size_t kMaxFiles = 20000;
constexpr uint64_t kMaxFile = 512ull << 20;   // one installed file
constexpr uint64_t kMaxTotal = 1536ull << 20; // everything a kit decodes to
constexpr int kWindowLogMax = 30;

// Tests stop an apply after this many changes to the disk, as a kill would.
int g_interrupt_after = -1;
bool g_killed = false;
bool interrupted() {
    if (g_interrupt_after >= 0 && g_interrupt_after-- == 0) g_killed = true;
    return g_killed;
}

// --- zip container: stored members only; the members are zstd frames already.

void put16(std::string& s, uint32_t v) {
    s += static_cast<char>(v & 0xff);
    s += static_cast<char>((v >> 8) & 0xff);
}
void put32(std::string& s, uint32_t v) {
    put16(s, v & 0xffff);
    put16(s, v >> 16);
}
uint32_t get16(const uint8_t* p) { return p[0] | (p[1] << 8); }
uint32_t get32(const uint8_t* p) { return get16(p) | (static_cast<uint32_t>(get16(p + 2)) << 16); }

struct Member {
    std::string name;
    std::string_view data;
};

std::string zip_write(const std::vector<std::pair<std::string, std::string>>& members) {
    std::string out, central;
    for (const auto& member : members) {
        const std::string& name = member.first;
        const std::string& data = member.second;
        const uint32_t offset = static_cast<uint32_t>(out.size());
        const uint32_t crc = static_cast<uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
        auto header = [&](std::string& s, bool central_entry) {
            put32(s, central_entry ? 0x02014b50 : 0x04034b50);
            if (central_entry) put16(s, 0x0314);  // made by: Unix, 2.0
            put16(s, 20);
            put16(s, 0x0800);  // names are UTF-8
            put16(s, 0);       // stored
            put16(s, 0);
            put16(s, 0x21);  // 1980-01-01
            put32(s, crc);
            put32(s, static_cast<uint32_t>(data.size()));
            put32(s, static_cast<uint32_t>(data.size()));
            put16(s, static_cast<uint32_t>(name.size()));
            put16(s, 0);
            if (central_entry) {
                put16(s, 0);
                put16(s, 0);
                put16(s, 0);
                put32(s, 0100644u << 16);
                put32(s, offset);
            }
            s += name;
        };
        header(out, false);
        out += data;
        header(central, true);
    }
    const uint32_t cd_offset = static_cast<uint32_t>(out.size());
    out += central;
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, static_cast<uint32_t>(members.size()));
    put16(out, static_cast<uint32_t>(members.size()));
    put32(out, static_cast<uint32_t>(central.size()));
    put32(out, cd_offset);
    put16(out, 0);
    return out;
}

int zip_read(const uint8_t* d, size_t n, std::vector<Member>& out) {
    if (n < 22) return kKitDamaged;
    size_t eocd = n - 22;  // no archive comment in our kits
    if (get32(d + eocd) != 0x06054b50 || get16(d + eocd + 20) != 0) return kKitDamaged;
    const uint32_t count = get16(d + eocd + 10), cd_size = get32(d + eocd + 12), cd_off = get32(d + eocd + 16);
    if (get16(d + eocd + 4) != 0 || get16(d + eocd + 6) != 0 || get16(d + eocd + 8) != count) return kKitDamaged;
    if (count > kMaxFiles + 1) return kKitTooLarge;
    if (cd_off > eocd || cd_size != eocd - cd_off) return kKitDamaged;
    size_t p = cd_off;
    for (uint32_t i = 0; i < count; ++i) {
        if (eocd - p < 46 || get32(d + p) != 0x02014b50) return kKitDamaged;
        const uint32_t method = get16(d + p + 10), crc = get32(d + p + 16), csize = get32(d + p + 20),
                       usize = get32(d + p + 24), name_len = get16(d + p + 28), extra = get16(d + p + 30),
                       comment = get16(d + p + 32), local = get32(d + p + 42);
        if (method != 0 || csize != usize || (get16(d + p + 8) & 1)) return kKitDamaged;
        if (eocd - p - 46 < static_cast<size_t>(name_len) + extra + comment) return kKitDamaged;
        std::string name(reinterpret_cast<const char*>(d + p + 46), name_len);
        p += 46 + name_len + extra + comment;
        // The local header must agree, and its data lie before the directory.
        if (local > cd_off || cd_off - local < 30 || get32(d + local) != 0x04034b50) return kKitDamaged;
        const uint32_t lname = get16(d + local + 26), lextra = get16(d + local + 28);
        const size_t start = static_cast<size_t>(local) + 30 + lname + lextra;
        if (start > cd_off || cd_off - start < csize || lname != name_len ||
            std::memcmp(d + local + 30, name.data(), name_len) != 0 || get16(d + local + 8) != 0)
            return kKitDamaged;
        if (static_cast<uint32_t>(crc32(0, d + start, csize)) != crc) return kKitDamaged;
        out.push_back({std::move(name), std::string_view(reinterpret_cast<const char*>(d + start), csize)});
    }
    return kKitOk;
}

// --- manifest

bool hex_to_hash(std::string_view hex, Sha256& h) {
    if (hex.size() != 64) return false;
    for (size_t i = 0; i < 32; ++i) {
        unsigned v = 0;
        for (int k = 0; k < 2; ++k) {
            const char c = hex[2 * i + k];
            v <<= 4;
            if (c >= '0' && c <= '9') v |= c - '0';
            else if (c >= 'a' && c <= 'f') v |= c - 'a' + 10;
            else return false;
        }
        h[i] = static_cast<uint8_t>(v);
    }
    return true;
}

// Splits off the next blank-ended word.
std::string_view word(std::string_view& line) {
    const size_t b = line.find(' ');
    std::string_view w = line.substr(0, b);
    line = b == std::string_view::npos ? std::string_view() : line.substr(b + 1);
    return w;
}

bool parse_number(std::string_view s, uint64_t& v) {
    if (s.empty() || s.size() > 12) return false;
    v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
}

// --- files

std::string join(const std::string& dir, const std::string& path) { return dir + "/" + path; }

int read_file(const std::string& path, std::string& out) {
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return kKitIo;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return kKitIo;
    }
    if (static_cast<uint64_t>(st.st_size) > kMaxFile) {
        close(fd);
        return kKitTooLarge;
    }
    out.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t r = read(fd, out.data() + done, out.size() - done);
        if (r <= 0) {
            close(fd);
            return kKitIo;
        }
        done += static_cast<size_t>(r);
    }
    close(fd);
    return kKitOk;
}

bool write_synced(const std::string& path, std::string_view data, mode_t mode) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t w = write(fd, data.data() + done, data.size() - done);
        if (w <= 0) {
            close(fd);
            return false;
        }
        done += static_cast<size_t>(w);
    }
    const bool ok = fchmod(fd, mode) == 0 && fsync(fd) == 0;
    return close(fd) == 0 && ok;
}

void sync_dir(const std::string& dir) {
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

std::string parent_of(const std::string& path) {
    const size_t s = path.rfind('/');
    return s == std::string::npos ? std::string() : path.substr(0, s);
}

// Every directory on the way to `path` must be a real directory (or not
// exist yet, listed in `missing`), and the file itself a regular file or
// absent. Links are refused: one pointing outside would let a kit write there.
int check_location(const std::string& dir, const std::string& path, bool& exists, std::vector<std::string>& missing) {
    size_t from = 0;
    exists = false;
    for (;;) {
        const size_t slash = path.find('/', from);
        const std::string prefix = path.substr(0, slash);
        struct stat st {};
        if (lstat(join(dir, prefix).c_str(), &st) != 0) {
            if (errno != ENOENT) return kKitIo;
            for (size_t s = slash; s != std::string::npos; s = path.find('/', s + 1))
                missing.push_back(path.substr(0, s));
            return kKitOk;
        }
        if (S_ISLNK(st.st_mode)) return kKitUnsafePath;
        if (slash == std::string::npos) {
            if (!S_ISREG(st.st_mode)) return kKitMismatch;
            exists = true;
            return kKitOk;
        }
        if (!S_ISDIR(st.st_mode)) return kKitMismatch;
        from = slash + 1;
    }
}

// --- journal

struct Journal {
    bool commit = false;
    std::vector<std::string> dirs, puts, removes;
};

std::string journal_text(const Journal& j) {
    std::string t = std::string("zelnik kit journal\n") + (j.commit ? "commit\n" : "stage\n");
    for (const auto& d : j.dirs) t += "dir " + d + "\n";
    for (const auto& p : j.puts) t += "put " + p + "\n";
    for (const auto& r : j.removes) t += "del " + r + "\n";
    return t;
}

bool journal_write(const std::string& dir, const Journal& j) {
    const std::string path = join(dir, kKitJournal), temp = path + ".tmp";
    if (interrupted()) return false;
    if (!write_synced(temp, journal_text(j), 0644) || rename(temp.c_str(), path.c_str()) != 0) return false;
    sync_dir(dir);
    return true;
}

int journal_read(const std::string& dir, Journal& j, bool& present) {
    std::string text;
    const std::string path = join(dir, kKitJournal);
    present = access(path.c_str(), F_OK) == 0;
    if (!present) return kKitOk;
    if (int rc = read_file(path, text)) return rc;
    size_t pos = 0;
    int line_no = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) return kKitDamaged;
        std::string_view line(text.data() + pos, end - pos);
        pos = end + 1;
        if (line_no++ == 0) {
            if (line != "zelnik kit journal") return kKitDamaged;
            continue;
        }
        if (line_no == 2) {
            if (line != "commit" && line != "stage") return kKitDamaged;
            j.commit = line == "commit";
            continue;
        }
        const std::string_view kind = word(line);
        const std::string p(line);
        if (!kit_path_ok(p)) return kKitDamaged;
        if (kind == "dir") j.dirs.push_back(p);
        else if (kind == "put") j.puts.push_back(p);
        else if (kind == "del") j.removes.push_back(p);
        else return kKitDamaged;
    }
    return line_no >= 2 ? kKitOk : kKitDamaged;
}

int journal_finish(const std::string& dir, const Journal& j) {
    for (const auto& p : j.puts) sync_dir(parent_of(join(dir, p)));
    if (interrupted()) return kKitIo;
    if (unlink(join(dir, kKitJournal).c_str()) != 0 && errno != ENOENT) return kKitIo;
    sync_dir(dir);
    return kKitOk;
}

int roll_forward(const std::string& dir, const Journal& j) {
    for (const auto& p : j.puts) {
        const std::string target = join(dir, p), staged = target + kKitStaged;
        if (access(staged.c_str(), F_OK) != 0) continue;  // renamed before the interruption
        if (interrupted() || rename(staged.c_str(), target.c_str()) != 0) return kKitIo;
    }
    for (const auto& r : j.removes) {
        if (interrupted()) return kKitIo;
        if (unlink(join(dir, r).c_str()) != 0 && errno != ENOENT) return kKitIo;
    }
    return journal_finish(dir, j);
}

int roll_back(const std::string& dir, const Journal& j) {
    for (const auto& p : j.puts) {
        if (interrupted()) return kKitIo;
        if (unlink((join(dir, p) + kKitStaged).c_str()) != 0 && errno != ENOENT) return kKitIo;
    }
    for (auto it = j.dirs.rbegin(); it != j.dirs.rend(); ++it) rmdir(join(dir, *it).c_str());
    return journal_finish(dir, j);
}

int fail(KitCallback cb, void* user, int rc, const std::string& text, int reason = 0) {
    if (cb) {
        errno = reason;
        cb(2, text.c_str(), user);
    }
    return rc;
}

}  // namespace

void kit_test_interrupt_after(int changes) {
    g_interrupt_after = changes;
    g_killed = false;
}

Sha256 sha256(const void* data, size_t size) {
    Sha256 h{};
    unsigned int n = 0;
    EVP_Digest(data, size, h.data(), &n, EVP_sha256(), nullptr);
    return h;
}

std::string sha256_hex(const Sha256& h) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (uint8_t b : h) {
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

bool kit_path_ok(const std::string& path) {
    if (path.empty() || path.size() > 1024 || path.front() == '/' || path.back() == '/') return false;
    for (unsigned char c : path)
        if (c < 0x20 || c == 0x7f || c == '\\') return false;
    size_t from = 0;
    for (;;) {
        const size_t slash = path.find('/', from);
        const std::string_view seg(path.data() + from, (slash == std::string::npos ? path.size() : slash) - from);
        if (seg.empty() || seg == "." || seg == "..") return false;
        if (slash == std::string::npos) break;
        from = slash + 1;
    }
    // The journal and files waiting to be renamed are the apply's own.
    const size_t n = std::strlen(kKitStaged);
    if (path.size() >= n && path.compare(path.size() - n, n, kKitStaged) == 0) return false;
    return path.compare(0, std::strlen(kKitJournal), kKitJournal) != 0;
}

std::string kit_write(const Kit& kit) {
    std::vector<std::pair<std::string, std::string>> members;
    std::string manifest = std::string(kMagic) + "\n";
    for (size_t i = 0; i < kit.files.size(); ++i) {
        const KitFile& f = kit.files[i];
        const char* op = f.op == KitOp::whole ? "whole" : f.op == KitOp::delta ? "delta" : "remove";
        // Built piece by piece: GCC 12 warns falsely on "d" + to_string here.
        std::string entry = "-";
        if (f.op != KitOp::remove) entry.assign(1, 'd').append(std::to_string(i));
        for (const std::string& field :
             {std::string(op), std::string(f.executable ? "755" : "644"), std::to_string(f.size),
              f.has_before ? sha256_hex(f.before) : std::string("-"),
              f.op == KitOp::remove ? std::string("-") : sha256_hex(f.after), entry}) {
            manifest.append(field);
            manifest.push_back(' ');
        }
        manifest.append(f.path);
        manifest.push_back('\n');
        if (f.op != KitOp::remove) members.emplace_back(entry, f.data);
    }
    members.insert(members.begin(), {kManifest, manifest});
    return zip_write(members);
}

int kit_read(const uint8_t* data, size_t size, Kit& kit) {
    kit.files.clear();
    std::vector<Member> members;
    if (int rc = zip_read(data, size, members)) return rc;
    if (members.empty() || members[0].name != kManifest) return kKitDamaged;
    std::map<std::string_view, std::string_view> by_name;
    for (size_t i = 1; i < members.size(); ++i)
        if (!by_name.emplace(members[i].name, members[i].data).second) return kKitDamaged;
    std::string_view text = members[0].data;
    std::set<std::string> paths;
    std::set<std::string_view> used;
    uint64_t total = 0;
    bool first = true;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        if (end == std::string_view::npos) return kKitDamaged;
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        if (first) {
            if (line != kMagic) return kKitDamaged;
            first = false;
            continue;
        }
        if (kit.files.size() >= kMaxFiles) return kKitTooLarge;
        KitFile f;
        const std::string_view op = word(line), mode = word(line), size_text = word(line), before = word(line),
                               after = word(line), entry = word(line);
        f.path = std::string(line);
        if (op == "whole") f.op = KitOp::whole;
        else if (op == "delta") f.op = KitOp::delta;
        else if (op == "remove") f.op = KitOp::remove;
        else return kKitDamaged;
        if (mode != "755" && mode != "644") return kKitDamaged;
        f.executable = mode == "755";
        if (!parse_number(size_text, f.size)) return kKitDamaged;
        if (f.size > kMaxFile || (total += f.size) > kMaxTotal) return kKitTooLarge;
        f.has_before = before != "-";
        if (f.has_before && !hex_to_hash(before, f.before)) return kKitDamaged;
        if (f.op == KitOp::remove) {
            if (after != "-" || entry != "-" || !f.has_before) return kKitDamaged;
        } else {
            if (!hex_to_hash(after, f.after)) return kKitDamaged;
            if (f.op == KitOp::delta && !f.has_before) return kKitDamaged;
            auto it = by_name.find(entry);
            if (it == by_name.end() || !used.insert(entry).second) return kKitDamaged;
            f.data = std::string(it->second);
        }
        if (!kit_path_ok(f.path)) return kKitUnsafePath;
        if (!paths.insert(f.path).second) return kKitDamaged;
        kit.files.push_back(std::move(f));
    }
    if (first || used.size() != by_name.size()) return kKitDamaged;
    // A path that is also another's directory could never be applied whole.
    for (auto it = paths.begin(); it != paths.end(); ++it) {
        auto next = std::next(it);
        if (next != paths.end() && next->size() > it->size() && next->compare(0, it->size(), *it) == 0 &&
            (*next)[it->size()] == '/')
            return kKitDamaged;
    }
    return kKitOk;
}

namespace {

int list_tree(const std::string& root, const std::string& rel, std::map<std::string, bool>& out, std::string* error) {
    DIR* d = opendir((rel.empty() ? root : join(root, rel)).c_str());
    if (!d) {
        if (error) *error = "cannot read " + join(root, rel) + ": " + std::strerror(errno);
        return kKitIo;
    }
    int rc = kKitOk;
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        const std::string path = rel.empty() ? name : rel + "/" + name;
        if (rel.empty() && (name == "zelnik.ini" || name == "cache" || name.compare(0, 15, kKitJournal) == 0)) continue;
        struct stat st {};
        if (lstat(join(root, path).c_str(), &st) != 0 || S_ISLNK(st.st_mode) || !kit_path_ok(path)) {
            if (error) *error = "cannot ship " + join(root, path) + " (a link, or a name a kit cannot carry)";
            rc = kKitUnsafePath;
            break;
        }
        if (S_ISDIR(st.st_mode)) {
            if ((rc = list_tree(root, path, out, error))) break;
        } else if (S_ISREG(st.st_mode)) {
            out[path] = (st.st_mode & 0111) != 0;
        }
    }
    closedir(d);
    return rc;
}

std::string compress(const std::string& data, const std::string* prefix) {
    ZSTD_CCtx* c = ZSTD_createCCtx();
    // The strongest level costs minutes on a large (debug) build.
    ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, data.size() > (8u << 20) ? 9 : 19);
    ZSTD_CCtx_setParameter(c, ZSTD_c_checksumFlag, 1);
    if (prefix) {
        // As zstd --patch-from: a window that spans the old file, and long
        // matches so that unchanged stretches far apart are found.
        const size_t span = std::max(prefix->size(), data.size()) + 1;
        int log = 10;
        while (log < kWindowLogMax && (size_t{1} << log) < span) ++log;
        ZSTD_CCtx_setParameter(c, ZSTD_c_windowLog, log);
        ZSTD_CCtx_setParameter(c, ZSTD_c_enableLongDistanceMatching, 1);
        ZSTD_CCtx_refPrefix(c, prefix->data(), prefix->size());
    }
    std::string out(ZSTD_compressBound(data.size()), '\0');
    const size_t n = ZSTD_compress2(c, out.data(), out.size(), data.data(), data.size());
    ZSTD_freeCCtx(c);
    out.resize(ZSTD_isError(n) ? 0 : n);
    return out;
}

// Decodes one file and checks it against what the kit promises.
int decode(const KitFile& f, const std::string* old, std::string& out) {
    const unsigned long long n = ZSTD_getFrameContentSize(f.data.data(), f.data.size());
    if (n == ZSTD_CONTENTSIZE_ERROR || n == ZSTD_CONTENTSIZE_UNKNOWN || n != f.size) return kKitDamaged;
    out.assign(static_cast<size_t>(n), '\0');
    ZSTD_DCtx* d = ZSTD_createDCtx();
    if (!d) return kKitTooLarge;
    ZSTD_DCtx_setParameter(d, ZSTD_d_windowLogMax, kWindowLogMax);
    if (old) ZSTD_DCtx_refPrefix(d, old->data(), old->size());
    const size_t r = ZSTD_decompressDCtx(d, out.data(), out.size(), f.data.data(), f.data.size());
    ZSTD_freeDCtx(d);
    if (ZSTD_isError(r) || r != n) return kKitDamaged;
    return sha256(out.data(), out.size()) == f.after ? kKitOk : kKitBadResult;
}

}  // namespace

int kit_build(const std::string& old_dir, const std::string& new_dir, std::string& out, std::string* error) {
    std::map<std::string, bool> old_files, new_files;
    if (int rc = list_tree(old_dir, "", old_files, error)) return rc;
    if (int rc = list_tree(new_dir, "", new_files, error)) return rc;
    Kit kit;
    for (const auto& [path, exec] : new_files) {
        KitFile f;
        std::string now, before;
        if (read_file(join(new_dir, path), now)) {
            if (error) *error = "cannot read " + join(new_dir, path);
            return kKitIo;
        }
        f.path = path;
        f.executable = exec;
        f.size = now.size();
        f.after = sha256(now.data(), now.size());
        if (old_files.count(path)) {
            if (read_file(join(old_dir, path), before)) {
                if (error) *error = "cannot read " + join(old_dir, path);
                return kKitIo;
            }
            f.has_before = true;
            f.before = sha256(before.data(), before.size());
            if (f.before == f.after && old_files[path] == exec) continue;
        }
        // A delta an eighth of the file or less beats any whole copy worth
        // the time to make it.
        if (f.has_before) {
            f.op = KitOp::delta;
            f.data = compress(now, &before);
        }
        if (f.data.empty() || f.data.size() > now.size() / 8) {
            std::string whole = compress(now, nullptr);
            if (f.data.empty() || (!whole.empty() && whole.size() <= f.data.size())) {
                f.op = KitOp::whole;
                f.data = std::move(whole);
            }
        }
        if (f.data.empty()) {
            if (error) *error = "cannot compress " + path;
            return kKitIo;
        }
        kit.files.push_back(std::move(f));
    }
    for (const auto& [path, exec] : old_files) {
        if (new_files.count(path)) continue;
        KitFile f;
        std::string before;
        if (read_file(join(old_dir, path), before)) return kKitIo;
        f.op = KitOp::remove;
        f.path = path;
        f.has_before = true;
        f.before = sha256(before.data(), before.size());
        kit.files.push_back(std::move(f));
    }
    out = kit_write(kit);
    return kKitOk;
}

int kit_recover(const std::string& dir, bool* rolled_forward) {
    if (rolled_forward) *rolled_forward = false;
    unlink((join(dir, kKitJournal) + ".tmp").c_str());
    Journal j;
    bool present = false;
    if (int rc = journal_read(dir, j, present)) return rc;
    if (!present) return kKitOk;
    if (rolled_forward) *rolled_forward = j.commit;
    return j.commit ? roll_forward(dir, j) : roll_back(dir, j);
}

int kit_apply(const uint8_t* data, size_t size, const std::string& dir, KitCallback cb, void* user) {
    auto go_on = [&](int message, const void* arg) { return !cb || cb(message, arg, user) != nullptr; };
    if (int rc = kit_recover(dir)) return fail(cb, user, rc, "Unable to finish an earlier upgrade", errno);
    if (!go_on(22, nullptr)) return kKitAborted;
    Kit kit;
    if (int rc = kit_read(data, size, kit)) return fail(cb, user, rc, "The upgrade kit is damaged");

    // Every check before the first change.
    Journal j;
    std::set<std::string> new_dirs;
    std::vector<std::string> results(kit.files.size());
    uint64_t total = 0, done = 0;
    for (const KitFile& f : kit.files) total += f.size + 1;
    for (size_t i = 0; i < kit.files.size(); ++i) {
        const KitFile& f = kit.files[i];
        bool exists = false;
        std::vector<std::string> missing;
        int rc = check_location(dir, f.path, exists, missing);
        if (rc == kKitUnsafePath) return fail(cb, user, rc, "The upgrade kit names an unsafe file: " + f.path);
        if (rc) return fail(cb, user, rc, "Unable to check " + f.path, errno);
        std::string old;
        if (exists != f.has_before) rc = kKitMismatch;
        else if (exists && (rc = read_file(join(dir, f.path), old)) == kKitOk &&
                 sha256(old.data(), old.size()) != f.before)
            rc = kKitMismatch;
        if (rc == kKitMismatch)
            return fail(cb, user, rc, "This upgrade is not for the installed version of " + f.path);
        if (rc) return fail(cb, user, rc, "Unable to read " + f.path, errno);
        if (f.op == KitOp::remove) {
            j.removes.push_back(f.path);
            continue;
        }
        if (!go_on(7, f.path.c_str())) return kKitAborted;
        rc = decode(f, f.op == KitOp::delta ? &old : nullptr, results[i]);
        if (rc) return fail(cb, user, rc, "The upgrade kit is damaged at " + f.path);
        j.puts.push_back(f.path);
        for (const auto& m : missing)
            if (new_dirs.insert(m).second) j.dirs.push_back(m);
        done += f.size + 1;
        const uint16_t progress = static_cast<uint16_t>(done * kKitProgressFull / (2 * total));
        if (!go_on(5, &progress)) return kKitAborted;
    }
    std::sort(j.dirs.begin(), j.dirs.end());  // parents before children

    // Stage the new files beside their targets; until the commit an
    // interruption rolls back.
    auto abandon = [&](int rc, const std::string& text, int reason) {
        if (!g_killed) roll_back(dir, j);
        return text.empty() ? rc : fail(cb, user, rc, text, reason);
    };
    if (!journal_write(dir, j)) return abandon(kKitIo, "Unable to write the upgrade journal", errno);
    for (const auto& d : j.dirs)
        if (interrupted() || (mkdir(join(dir, d).c_str(), 0755) != 0 && errno != EEXIST))
            return abandon(kKitIo, "Unable to create " + d, errno);
    for (size_t i = 0; i < kit.files.size(); ++i) {
        const KitFile& f = kit.files[i];
        if (f.op == KitOp::remove) continue;
        if (!go_on(7, f.path.c_str())) return abandon(kKitAborted, "", 0);
        if (interrupted() || !write_synced(join(dir, f.path) + kKitStaged, results[i], f.executable ? 0755 : 0644))
            return abandon(kKitIo, "Unable to write " + f.path, errno);
        std::string().swap(results[i]);
        done += f.size + 1;
        const uint16_t progress = static_cast<uint16_t>(std::min<uint64_t>(done * kKitProgressFull / (2 * total), kKitProgressFull));
        if (!go_on(5, &progress)) return abandon(kKitAborted, "", 0);
    }
    for (const auto& p : j.puts) sync_dir(parent_of(join(dir, p)));

    // The commit: from here on the new version is the one that stands.
    j.commit = true;
    if (!journal_write(dir, j)) return abandon(kKitIo, "Unable to write the upgrade journal", errno);
    if (int rc = roll_forward(dir, j)) return fail(cb, user, rc, "Unable to install the upgrade", errno);
    const uint16_t full = kKitProgressFull;
    go_on(5, &full);
    return kKitOk;
}

int kit_apply_file(const std::string& kit_path, const std::string& dir, KitCallback cb, void* user) {
    std::string bytes;
    if (int rc = read_file(kit_path, bytes)) return fail(cb, user, rc, "Unable to read " + kit_path, errno);
    return kit_apply(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), dir, cb, user);
}

}  // namespace zk
