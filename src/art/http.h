// The HTTP client.
#pragma once

namespace zk {

void proxy_init();
bool http_init();
void http_update();
void http_term();

}  // namespace zk
