// Operating-system facts the program asks for.
#pragma once

#include <cstdint>
#include <string>

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

}  // namespace zk
