// File helpers.
#pragma once

namespace zk {

void file_term();

}  // namespace zk
