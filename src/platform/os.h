// Operating-system facts the program asks for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zk {

// Directory of the running executable (symbolic links resolved), without a
// trailing slash. Empty when it cannot be found.
std::string os_executable_directory();

// Installed physical memory in bytes (0 when unknown).
uint64_t os_physical_memory();

// The login name of the user, or empty.
std::string os_user_name();

// Milliseconds of a monotonic clock, wrapping at 2^32 like a tick counter.
uint32_t os_tick_count();

// Starts `program` (looked up in PATH unless it holds a '/') with `args`,
// each one argument, and no shell between; does not wait for it. False when
// it could not be started.
bool os_spawn(const std::string& program, const std::vector<std::string>& args);

}  // namespace zk
