// Host-name resolution.
#pragma once

namespace zk {

int resolve_init();
void resolve_term();

}  // namespace zk
