// Textures and masks.
#pragma once

namespace zk {

void texture_reset();

}  // namespace zk
