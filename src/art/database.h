// The local database.
#pragma once

namespace zk {

bool database_init();

}  // namespace zk
