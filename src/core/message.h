// The program's modal stop box for messages the user must see, and the flag
// that holds the task loop while one is up.
#pragma once

namespace zk {

// Formats up to 1 KB and shows it in a stop box captioned with the product's
// name; no pass runs while it is up.
void message_box(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace zk
