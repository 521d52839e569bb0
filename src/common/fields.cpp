#include "common/fields.h"

#include <cstring>

#include "common/bytes.h"

namespace zk {

bool FieldPacker::reserve(size_t n) {
    if (!ok_ || n > cap_ - len_) {
        ok_ = false;
        return false;
    }
    return true;
}

void FieldPacker::put_byte(uint8_t v) {
    if (reserve(1)) buf_[len_++] = v;
}

void FieldPacker::put_u16(uint16_t v) {
    if (!reserve(2)) return;
    store_be16(buf_ + len_, v);
    len_ += 2;
}

void FieldPacker::put_u32(uint32_t v) {
    if (!reserve(4)) return;
    store_be32(buf_ + len_, v);
    len_ += 4;
}

void FieldPacker::put_string(std::string_view text) {
    if (text.size() > 255) {
        ok_ = false;
        return;
    }
    if (!reserve(1 + text.size())) return;
    buf_[len_++] = static_cast<uint8_t>(text.size());
    if (!text.empty()) std::memcpy(buf_ + len_, text.data(), text.size());
    len_ += text.size();
}

void FieldPacker::put_raw(const void* data, size_t length) {
    if (!reserve(length)) return;
    if (length) std::memcpy(buf_ + len_, data, length);
    len_ += length;
}

void FieldPacker::put_zeros(size_t count) {
    if (!reserve(count)) return;
    if (count) std::memset(buf_ + len_, 0, count);
    len_ += count;
}

void FieldPacker::patch_u16(size_t offset, uint16_t v) {
    if (offset > len_ || len_ - offset < 2) {
        ok_ = false;
        return;
    }
    store_be16(buf_ + offset, v);
}

bool FieldReader::take(size_t n) {
    if (!ok_ || n > len_ - pos_) {
        ok_ = false;
        return false;
    }
    return true;
}

uint8_t FieldReader::get_byte() {
    if (!take(1)) return 0;
    return data_[pos_++];
}

uint16_t FieldReader::get_u16() {
    if (!take(2)) return 0;
    uint16_t v = load_be16(data_ + pos_);
    pos_ += 2;
    return v;
}

uint32_t FieldReader::get_u32() {
    if (!take(4)) return 0;
    uint32_t v = load_be32(data_ + pos_);
    pos_ += 4;
    return v;
}

std::string FieldReader::get_string() {
    if (!take(1)) return {};
    size_t n = data_[pos_];
    // The length byte is only consumed with its text: a string that runs past
    // the end fails as a whole.
    if (n > len_ - pos_ - 1) {
        ok_ = false;
        return {};
    }
    std::string s(reinterpret_cast<const char*>(data_ + pos_ + 1), n);
    pos_ += 1 + n;
    return s;
}

bool FieldReader::get_raw(void* out, size_t length) {
    if (!take(length)) {
        if (length) std::memset(out, 0, length);
        return false;
    }
    if (length) std::memcpy(out, data_ + pos_, length);
    pos_ += length;
    return true;
}

bool FieldReader::skip(size_t count) {
    if (!take(count)) return false;
    pos_ += count;
    return true;
}

}  // namespace zk
