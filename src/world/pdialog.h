// The object dialog.
#pragma once

namespace zk {

void pdialog_init();

}  // namespace zk
