// The chunk store.
#pragma once

namespace zk {

void chunk_reset();
void chunk_term();

}  // namespace zk
