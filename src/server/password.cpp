#include "server/password.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace zk::server {

namespace {

constexpr size_t kSaltBytes = 16;
constexpr size_t kHashBytes = 32;

std::string hex(const unsigned char* p, size_t n) {
    static const char d[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s.push_back(d[p[i] >> 4]);
        s.push_back(d[p[i] & 15]);
    }
    return s;
}

bool unhex(const std::string& s, std::vector<unsigned char>& out) {
    if (s.size() % 2) return false;
    out.clear();
    for (size_t i = 0; i < s.size(); i += 2) {
        unsigned v = 0;
        if (std::sscanf(s.c_str() + i, "%2x", &v) != 1) return false;
        out.push_back(static_cast<unsigned char>(v));
    }
    return true;
}

bool derive(const std::string& password, const unsigned char* salt, size_t salt_len, int iterations,
            unsigned char* out) {
    return PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt, static_cast<int>(salt_len),
                             iterations, EVP_sha256(), static_cast<int>(kHashBytes), out) == 1;
}

}  // namespace

std::string password_hash(const std::string& password, int iterations) {
    unsigned char salt[kSaltBytes];
    unsigned char hash[kHashBytes];
    if (iterations < 1000) iterations = 1000;  // password_verify takes no fewer
    if (RAND_bytes(salt, sizeof salt) != 1) std::abort();  // no randomness: refuse to store weak hashes
    if (!derive(password, salt, sizeof salt, iterations, hash)) std::abort();
    return "pbkdf2-sha256$" + std::to_string(iterations) + "$" + hex(salt, sizeof salt) + "$" +
           hex(hash, sizeof hash);
}

bool password_verify(const std::string& password, const std::string& stored) {
    const std::string prefix = "pbkdf2-sha256$";
    if (stored.compare(0, prefix.size(), prefix) != 0) return false;
    size_t a = prefix.size();
    size_t b = stored.find('$', a);
    if (b == std::string::npos) return false;
    size_t c = stored.find('$', b + 1);
    if (c == std::string::npos) return false;
    int iterations = std::atoi(stored.substr(a, b - a).c_str());
    if (iterations < 1000 || iterations > 10000000) return false;
    std::vector<unsigned char> salt, want;
    if (!unhex(stored.substr(b + 1, c - b - 1), salt) || !unhex(stored.substr(c + 1), want)) return false;
    if (want.size() != kHashBytes) return false;
    unsigned char got[kHashBytes];
    if (!derive(password, salt.data(), salt.size(), iterations, got)) return false;
    return CRYPTO_memcmp(got, want.data(), kHashBytes) == 0;
}

}  // namespace zk::server
