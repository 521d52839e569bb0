// The colour-name table.
#pragma once

namespace zk {

bool colors_init();

}  // namespace zk
