// Passwords are kept only as salted, slow hashes.
#pragma once

#include <string>

namespace zk::server {

constexpr int kPasswordIterations = 60000;

// "pbkdf2-sha256$<iterations>$<salt hex>$<hash hex>". Slow on purpose (about
// 15 ms): never call either on the loop that serves clients.
std::string password_hash(const std::string& password, int iterations = kPasswordIterations);
bool password_verify(const std::string& password, const std::string& stored);

}  // namespace zk::server
