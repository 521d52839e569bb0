// The Settings sheet.
#pragma once

namespace zk {

void options_register();

}  // namespace zk
