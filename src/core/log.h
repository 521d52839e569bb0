// The developer's trace log "zelnik.log", switched per category in [debug].
#pragma once

namespace zk {

enum class Trace { trace, tasks, database, sound, disk, download, visible, texture, chunk, universe, count };

// Reads the switches once: each is on only when its value is 1; all=1 turns
// every one on.
void log_init();

// Whether a category is on. Callers test it before formatting a line.
bool log_on(Trace category);

// Writes "%5d: %s\n" (system tick count, message cut at 1023 bytes) to
// zelnik.log in the working directory, truncated by the first line of a run.
// A file that cannot be opened is tried again at the next line.
void log_write(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Closes the log so that the next line starts a new file (tests).
void log_close();

}  // namespace zk
