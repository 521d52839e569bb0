// The 32 update operations of a pass in their fixed order; start-up binds
// them to the task runner.
#pragma once

#include "core/tasks.h"

namespace zk {

const Task* task_list();

}  // namespace zk
