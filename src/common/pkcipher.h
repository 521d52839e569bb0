// The traditional PKWARE stream cipher of the zip application note. Used for
// the stored password, zip archives with traditional encryption and the
// world's object password.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zk {

class PkCipher {
public:
    // Keys set up from `password` (any bytes).
    explicit PkCipher(std::string_view password);

    uint8_t encrypt(uint8_t plain);
    uint8_t decrypt(uint8_t cipher);
    void decrypt(uint8_t* data, size_t length);

private:
    void update(uint8_t plain);
    uint8_t stream_byte() const;
    uint32_t k0_, k1_, k2_;
};

// The settings secret: the text enciphered with the built-in key, as
// lowercase hex pairs, and back. Decoding answers false on odd length or a
// non-hex digit (the caller treats that as no value).
std::string secret_encode(std::string_view text);
bool secret_decode(std::string_view hex, std::string& text);

// The built-in 24-byte key.
std::string_view secret_key();

}  // namespace zk
