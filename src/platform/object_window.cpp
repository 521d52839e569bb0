#include "platform/object_window.h"

namespace zk {

namespace {
ObjectWindowPort g_none;
ObjectWindowPort* g_port = nullptr;
}  // namespace

void object_window_set_port(ObjectWindowPort* port) { g_port = port; }

ObjectWindowPort& object_window() { return g_port ? *g_port : g_none; }

}  // namespace zk
