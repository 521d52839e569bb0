// World entry, options and rights.
#pragma once

#include <string>

namespace zk {

bool world_init();
int world_enter(const std::string& name, int mode);
void world_term();

}  // namespace zk
