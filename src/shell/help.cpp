#include "shell/help.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "core/log.h"
#include "core/message.h"
#include "core/settings.h"
#include "platform/os.h"
#include "shell/url.h"
#include "shell/web.h"

namespace zk {

namespace {

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Whether `name` in `dir` holds exactly `page` (a link or anything but a
// plain file never does).
bool same_content(int dir, const HelpPage& page) {
    Fd fd(openat(dir, page.name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (fd.get() < 0 || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || size_t(st.st_size) != page.size)
        return false;
    std::string have(page.size + 1, '\0');
    size_t got = 0;
    while (got < have.size()) {
        const ssize_t n = read(fd.get(), have.data() + got, have.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += size_t(n);
    }
    return got == page.size && std::string_view(have.data(), got) == std::string_view(reinterpret_cast<const char*>(page.bytes), page.size);
}

// Writes beside the page and renames over it, so a reader never sees half
// a page and a link in the page's place is replaced, not followed.
bool write_page(int dir, const HelpPage& page) {
    const std::string temp = std::string(".") + page.name + "." + std::to_string(getpid()) + ".tmp";
    unlinkat(dir, temp.c_str(), 0);
    Fd fd(openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (fd.get() < 0) return false;
    size_t done = 0;
    while (done < page.size) {
        const ssize_t n = write(fd.get(), page.bytes + done, page.size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += size_t(n);
    }
    if (done != page.size || renameat(dir, temp.c_str(), dir, page.name) != 0) {
        unlinkat(dir, temp.c_str(), 0);
        return false;
    }
    return true;
}

// A path as the path of a file: address.
std::string file_address(const std::string& path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string a = "file://";
    for (unsigned char c : path) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (plain || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
            a += char(c);
        } else {
            a += '%';
            a += hex[c >> 4];
            a += hex[c & 15];
        }
    }
    return a;
}

}  // namespace

std::string help_write_pages(const std::string& program_dir) {
    if (program_dir.empty()) return {};
    const std::string path = program_dir + "/help";
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) return {};
    // O_NOFOLLOW: a link named help is refused rather than written through,
    // and every page is then written relative to the directory opened here.
    Fd dir(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (dir.get() < 0) return {};
    for (const HelpPage& page : help_pages())
        if (!same_content(dir.get(), page) && !write_page(dir.get(), page)) return {};
    return file_address(path + "/index.html");
}

void help_show() {
    if (log_on(Trace::trace)) log_write("help_show");
    std::string dir = program_directory();
    if (dir.empty()) dir = os_executable_directory();
    const std::string address = help_write_pages(dir);
    if (address.empty()) {
        message_box("The help pages could not be written to %s/help.", dir.c_str());
        return;
    }
    if (web_show_local(address)) return;
    if (!url_open(address, true)) message_box("No web browser could be started to show the help (%s).", address.c_str());
}

}  // namespace zk
