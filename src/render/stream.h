// Binary streams of chunks {type u32, flags u32, length u32, bytes}, all
// little-endian, on files and on memory; and the 'CLUM' (clump hierarchy
// with materials and texture names) and 'TEXU' (texture with raster and
// mask) payloads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "render/clump.h"
#include "render/texture.h"

namespace zk {

constexpr uint32_t kChunkClump = 0x434C554D;    // 'CLUM'
constexpr uint32_t kChunkTexture = 0x54455855;  // 'TEXU'
// Largest chunk accepted from a stream.
constexpr uint32_t kChunkMaxLength = 256u * 1024 * 1024;

struct RwStream;

enum class RwStreamMode { read, write };

// A file stream for writing (created or truncated) or reading.
RwStream* rw_stream_open_file(const std::string& path, RwStreamMode mode);
// A stream reading `size` bytes at `data` (not copied; they must outlive it).
RwStream* rw_stream_open_memory(const void* data, size_t size);
// A stream writing into memory; `rw_stream_bytes` gives what was written.
RwStream* rw_stream_open_memory_write();
const std::vector<uint8_t>& rw_stream_bytes(const RwStream* stream);
// False when a write failed on the way or the file could not be completed.
bool rw_stream_close(RwStream* stream);

bool rw_stream_write_chunk(RwStream* stream, uint32_t type, uint32_t flags, const void* bytes, size_t length);
// The next chunk's header without consuming it; false at the end or when
// the header is damaged.
bool rw_stream_peek_chunk(RwStream* stream, uint32_t* type, uint32_t* flags, uint32_t* length);
// Reads the next chunk whole; false when truncated or too long.
bool rw_stream_read_chunk(RwStream* stream, uint32_t* type, uint32_t* flags, std::vector<uint8_t>& bytes);
// Skips chunks up to one of `type` and reads it.
bool rw_stream_find_chunk(RwStream* stream, uint32_t type, uint32_t* flags, std::vector<uint8_t>& bytes);

// Payloads. Encoding never fails on a valid object; decoding answers none
// for anything damaged, never a partial object. Decoded textures of the
// materials are resolved by name (already loaded, or from the search path).
std::vector<uint8_t> rw_clump_encode(const RwClump* clump);
RwClump* rw_clump_decode(const uint8_t* data, size_t size);
std::vector<uint8_t> rw_texture_encode(const RwTexture* texture);
RwTexture* rw_texture_decode(const uint8_t* data, size_t size);

bool rw_stream_write_clump(RwStream* stream, const RwClump* clump, uint32_t flags);
// Reads the next chunk, which must be a clump.
RwClump* rw_stream_read_clump(RwStream* stream);
bool rw_stream_write_texture(RwStream* stream, const RwTexture* texture, uint32_t flags);
RwTexture* rw_stream_read_texture(RwStream* stream);

}  // namespace zk
