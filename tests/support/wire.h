// Protocol fields in tests, packed and read with the program's own
// FieldPacker and FieldReader, so that a test speaks the wire as the code does.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/fields.h"

namespace zk::test {

using Bytes = std::vector<uint8_t>;

struct Wire {
    Bytes b;
    Wire& u8(int v) { return put(1, [&](FieldPacker& p) { p.put_byte(static_cast<uint8_t>(v)); }); }
    Wire& u16(int v) { return put(2, [&](FieldPacker& p) { p.put_u16(static_cast<uint16_t>(v)); }); }
    Wire& u32(uint32_t v) { return put(4, [&](FieldPacker& p) { p.put_u32(v); }); }
    // A string behind its length byte.
    Wire& str(std::string_view s) { return put(1 + s.size(), [&](FieldPacker& p) { p.put_string(s); }); }
    // Raw bytes, no length.
    Wire& text(std::string_view s) { return put(s.size(), [&](FieldPacker& p) { p.put_raw(s.data(), s.size()); }); }
    Wire& raw(const Bytes& bytes) { return put(bytes.size(), [&](FieldPacker& p) { p.put_raw(bytes.data(), bytes.size()); }); }
    Wire& zeros(size_t n) { return put(n, [&](FieldPacker& p) { p.put_zeros(n); }); }
    std::string s() const { return std::string(b.begin(), b.end()); }

private:
    template <class F>
    Wire& put(size_t n, F f) {
        const size_t at = b.size();
        b.resize(at + n);
        FieldPacker p(b.data() + at, n);
        f(p);
        return *this;
    }
};

// A reader over a string of received bytes.
inline FieldReader reader(const std::string& s) {
    return FieldReader(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

// A body behind its u16 length.
inline Bytes framed(const Bytes& body) { return Wire().u16(static_cast<int>(body.size())).raw(body).b; }

inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace zk::test
