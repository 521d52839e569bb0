// The universe's rules for names, passwords and e-mail addresses. Each
// answers 0 or the result code the browser turns into a message.
#pragma once

#include <string>

namespace zk::server {

int validate_name(const std::string& name);
int validate_password(const std::string& password);
int validate_email(const std::string& email);

constexpr int kNameInUse = 107;

}  // namespace zk::server
