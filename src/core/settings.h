// The settings file zelnik.ini in the program directory, and the accessors
// through which every module reads and writes it.
#pragma once

#include <string>

namespace zk {

// Sets the program directory; the settings file is zelnik.ini inside it.
void settings_set_directory(const std::string& program_dir);
const std::string& program_directory();
const std::string& settings_path();
bool settings_file_exists();

// -1 when the key is missing; each caller maps -1 to its own default.
int settings_get_int(const char* section, const char* key);
bool settings_put_int(const char* section, const char* key, int value);

// At most 127 characters; empty when missing.
std::string settings_get_string(const char* section, const char* key);
bool settings_put_string(const char* section, const char* key, const std::string& text);

// The stored password: hex pairs of the enciphered text. Empty when missing
// or unreadable.
std::string settings_get_secret(const char* section, const char* key);
bool settings_put_secret(const char* section, const char* key, const std::string& text);

// Decimal text ("0.68"), `missing` when absent or not a number.
double settings_get_decimal(const char* section, const char* key, double missing);

}  // namespace zk
