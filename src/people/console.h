// The console.
#pragma once

namespace zk {

bool console_init();
void console_term();

}  // namespace zk
