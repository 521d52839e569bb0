// The user-interface font.
#pragma once

namespace zk {

bool font_init();

}  // namespace zk
