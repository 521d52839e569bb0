// Models.
#pragma once

namespace zk {

bool model_init();
void advanced_init();
void model_empty_cache();

}  // namespace zk
