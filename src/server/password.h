// Passwords are kept only as salted, slow hashes.
#pragma once

#include <string>

namespace zk::server {

// "pbkdf2-sha256$<iterations>$<salt hex>$<hash hex>"
std::string password_hash(const std::string& password);
bool password_verify(const std::string& password, const std::string& stored);

}  // namespace zk::server
