// Host-name resolution with a cache. Look-ups run on one worker thread; their
// answers are written into the callers' variables on the main thread, by
// resolve_poll between task passes, never in the middle of a caller's work.
#pragma once

#include <cstdint>
#include <string>

namespace zk {

// The value of an address variable whose name could not be resolved.
constexpr uint32_t resolve_failed = 0xFFFFFFFFu;
// A name that fails is tried this many times in all.
constexpr int resolve_tries = 4;

// Starts the look-up worker. 0, or 1 when it cannot be started.
int resolve_init();

// Stores the IPv4 address of `name` (network byte order) in `*address`.
// Answers 0 when `*address` is already final (a dotted address, a cached
// answer, or all ones when no look-up could be started), or a non-zero
// handle when the answer will be written later: until then `*address`
// reads 0. The variable must outlive the look-up (or resolve_term).
int resolve(const std::string& name, uint32_t* address);

// Hands finished look-ups to their waiters (retrying failures). Called once
// a pass by the universe task and by any loop that waits for an address
// outside the task loop.
void resolve_poll();

// Cancels every outstanding look-up and forgets the cache.
void resolve_term();

// Look-ups handed to the worker since resolve_init (retries included).
int resolve_lookups_started();

}  // namespace zk
