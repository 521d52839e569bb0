#include "support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace zk::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zelnik-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::vector<std::string> log_messages(const std::string& path) {
    std::vector<std::string> out;
    std::istringstream log(read_file(path));
    for (std::string line; std::getline(log, line);) out.push_back(line.substr(line.find(": ") + 2));
    return out;
}

}  // namespace zk::test
