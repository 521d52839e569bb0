// The link to the external web browser.
#pragma once

#include <string>

namespace zk {

void url_init(const std::string& service);
void url_term();

}  // namespace zk
