// The toolbar's button images, drawn by the program.
#pragma once

#include <QIcon>

namespace zk {

// The image of a command's button (an empty icon for a command without one).
QIcon toolbar_icon(int command);

}  // namespace zk
