// Whole-file helpers of the rendering library (it depends on nothing but
// the standard library).
#pragma once

#include <cstddef>
#include <string>

namespace zk {

// Reads a regular file of at most `max_bytes`; false otherwise.
bool rw_read_file(const std::string& path, std::string& out, size_t max_bytes);

}  // namespace zk
