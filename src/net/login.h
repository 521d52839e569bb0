// Login and identity.
#pragma once

namespace zk {

bool login_init();

}  // namespace zk
