// The program's entry, start-up in its fixed order, and shutdown.
#pragma once

#include <string>

#include "core/message.h"

namespace zk {

// Runs the browser: start-up, the event loop, shutdown. Answers the process
// exit code. The window-system port must be set.
int zelnik_main(int argc, char** argv);
// The same for a given program directory and command line.
int zelnik_run(const std::string& directory, const std::string& command_line);

// Binds the hooks and ports through which lower modules call the ones above
// them (the task table, the bandwidth meter, the menus, the splash, the
// world reset). zelnik_run does it first; tests that drive those modules
// without it call it themselves.
void startup_bind_hooks();

// Shuts every module down in order; with a message, shows it in a stop box
// captioned "Error" first. Answers 0, the exit code.
int terminate(const char* message);

// Resets the world-bound modules in their fixed order before another world
// is entered; answers the cell cache's reset (0 when it cannot be opened).
int world_reset();

// Set once the scene exists; layout and painting do nothing before it.
bool three_d_ready();

// The command line as one text, as the hand-in receives it.
std::string startup_command_line(int argc, char** argv);

}  // namespace zk
