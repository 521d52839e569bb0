// A temporary directory removed with everything in it at the end of a test.
#pragma once

#include <string>
#include <vector>

namespace zk::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& content);
// The messages of the program's log at `path`, one a line, without their ticks.
std::vector<std::string> log_messages(const std::string& path);

}  // namespace zk::test
