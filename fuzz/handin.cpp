// The teleport hand-in: a file named on the command line or handed over by a
// second start, whose first line may be a teleport for the behavior language.
#include <fcntl.h>
#include <stdlib.h>
#include <strings.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "fuzz_dir.h"
#include "net/cgi.h"

namespace {

zk::fuzz::FuzzDir g_dir("handin");
const std::string g_file = g_dir.file("visit.txt");

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zk::fuzz::fuzz_put(g_file, data, size);
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
