// Raw byte-order loads and stores: the one place that spells out big-endian
// (network messages, object records) and little-endian (zip, bitmaps, model
// streams) layouts. Callers bound the pointer; these only touch 2 or 4 bytes.
#pragma once

#include <cstdint>

namespace zk {

inline uint16_t load_be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t load_be32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}
inline uint16_t load_le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t load_le32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// Signed fields are two's complement in either order.
inline int16_t load_be16s(const uint8_t* p) { return static_cast<int16_t>(load_be16(p)); }
inline int32_t load_be32s(const uint8_t* p) { return static_cast<int32_t>(load_be32(p)); }
inline int16_t load_le16s(const uint8_t* p) { return static_cast<int16_t>(load_le16(p)); }

inline void store_be16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
inline void store_be32(uint8_t* p, uint32_t v) {
    store_be16(p, static_cast<uint16_t>(v >> 16));
    store_be16(p + 2, static_cast<uint16_t>(v));
}
inline void store_le16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void store_le32(uint8_t* p, uint32_t v) {
    store_le16(p, static_cast<uint16_t>(v));
    store_le16(p + 2, static_cast<uint16_t>(v >> 16));
}

// Appending forms for messages and files built in a std::string or a
// std::vector<uint8_t>.
template <class Bytes>
void append_be16(Bytes& out, uint16_t v) {
    uint8_t b[2];
    store_be16(b, v);
    out.insert(out.end(), b, b + 2);
}
template <class Bytes>
void append_be32(Bytes& out, uint32_t v) {
    uint8_t b[4];
    store_be32(b, v);
    out.insert(out.end(), b, b + 4);
}
template <class Bytes>
void append_le16(Bytes& out, uint16_t v) {
    uint8_t b[2];
    store_le16(b, v);
    out.insert(out.end(), b, b + 2);
}
template <class Bytes>
void append_le32(Bytes& out, uint32_t v) {
    uint8_t b[4];
    store_le32(b, v);
    out.insert(out.end(), b, b + 4);
}

}  // namespace zk
