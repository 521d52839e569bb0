// Teleport history and remembered locations.
#pragma once

namespace zk {

void teleport_load();

}  // namespace zk
