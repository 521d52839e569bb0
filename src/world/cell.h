// Cells, sectors and the cell cache.
#pragma once

namespace zk {

bool cell_init();
int cell_reset();
void cell_term();

}  // namespace zk
