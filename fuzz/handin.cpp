// The teleport hand-in: a file named on the command line or handed over by a
// second start, whose first line may be a teleport for the behavior language.
#include <fcntl.h>
#include <stdlib.h>
#include <strings.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "net/cgi.h"

namespace {

// A private directory for the handed-in file, removed at exit.
struct Dir {
    std::string path;
    Dir() {
        char name[] = "/tmp/zk-fuzz-handin-XXXXXX";
        path = mkdtemp(name) ? name : "/tmp";
    }
    ~Dir() { rmdir(path.c_str()); }
} g_dir;
const std::string g_file = g_dir.path + "/visit.txt";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int fd = open(g_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return 0;
    bool whole = write(fd, data, size) == static_cast<ssize_t>(size);
    close(fd);
    if (!whole) return 0;
    zk::cgi_hand_in(g_file);
    zk::cgi_update();
    std::string command;
    if (zk::cgi_take_command(command)) {
        // One line, up to its first comma, beginning with the word.
        if (command.size() > zk::kCgiLineLimit || strncasecmp(command.c_str(), "teleport", 8) != 0 ||
            command.find_first_of(std::string(",\n\0", 3)) != std::string::npos)
            __builtin_trap();
    }
    if (zk::cgi_take_command(command)) __builtin_trap();  // one file, one command
    zk::cgi_term();
    unlink(g_file.c_str());
    return 0;
}
