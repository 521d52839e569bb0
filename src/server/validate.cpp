#include "server/validate.h"

#include <cctype>

namespace zk::server {

namespace {
bool alnum(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }
}  // namespace

int validate_name(const std::string& name) {
    if (name.size() < 2) return 113;
    if (name.front() == ' ') return 109;
    for (char c : name)
        if (!alnum(c) && c != ' ') return 108;
    if (name.find("  ") != std::string::npos) return 109;
    if (name.back() == ' ') return 111;
    if (name.size() > 16) return 110;
    return 0;
}

int validate_password(const std::string& password) {
    if (password.size() < 4) return 116;
    if (password.size() > 12) return 112;
    for (char c : password)
        if (static_cast<unsigned char>(c) < 32 || c == 127) return 114;
    return 0;
}

int validate_email(const std::string& email) {
    if (email.size() < 8) return 106;
    if (email.size() > 50) return 105;
    if (email.front() == ' ') return 104;
    if (email.back() == ' ') return 101;
    for (char c : email)
        if (!alnum(c) && std::string("._%+-@'").find(c) == std::string::npos) return 100;
    if (email.find('@') == std::string::npos) return 103;
    if (email.find('.') == std::string::npos) return 102;
    return 0;
}

}  // namespace zk::server
