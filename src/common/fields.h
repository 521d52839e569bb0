// Message fields shared by the universe, world-server and avatar protocols:
// byte, big-endian u16/u32, string with a one-byte length, raw bytes and
// reserved zeros, packed back to back. Both sides are bounded: the packer
// never writes past its capacity and the reader never reads past its input;
// either records a sticky failure instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zk {

class FieldPacker {
public:
    // Packs into `buffer` of `capacity` bytes (owned by the caller).
    FieldPacker(uint8_t* buffer, size_t capacity) : buf_(buffer), cap_(capacity) {}

    void put_byte(uint8_t v);
    void put_u16(uint16_t v);
    void put_u32(uint32_t v);
    // A text longer than 255 bytes does not fit the length byte: it fails
    // the packer rather than sending a silently cut field.
    void put_string(std::string_view text);
    void put_raw(const void* data, size_t length);
    void put_zeros(size_t count);
    // Writes a big-endian u16 at an earlier offset (for length prefixes).
    void patch_u16(size_t offset, uint16_t v);

    size_t size() const { return len_; }
    bool ok() const { return ok_; }
    const uint8_t* data() const { return buf_; }

private:
    bool reserve(size_t n);
    uint8_t* buf_;
    size_t cap_;
    size_t len_ = 0;
    bool ok_ = true;
};

class FieldReader {
public:
    FieldReader(const uint8_t* data, size_t length) : data_(data), len_(length) {}

    // Each getter answers 0 / empty once the input is exhausted and sets the
    // sticky failure; nothing outside [data, data + length) is ever read.
    uint8_t get_byte();
    uint16_t get_u16();
    uint32_t get_u32();
    std::string get_string();
    bool get_raw(void* out, size_t length);
    bool skip(size_t count);

    size_t remaining() const { return len_ - pos_; }
    size_t position() const { return pos_; }
    bool ok() const { return ok_; }

private:
    bool take(size_t n);
    const uint8_t* data_;
    size_t len_;
    size_t pos_ = 0;
    bool ok_ = true;
};

}  // namespace zk
