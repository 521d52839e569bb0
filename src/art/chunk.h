// The chunk store: models converted once from their text shapes into the
// renderer's binary stream form, kept with a small header (the textures and
// masks the model needs) in the keyed database "<art dir>/models", and
// converted textures kept in "<art dir>/textures".
//
// A model record is [header length h, 2 bytes little-endian][h header
// bytes][a stream holding one 'CLUM' chunk]; its key is the prefix (the model
// directory, or the directory followed by "flat" for the untextured
// substitute) followed by the model name. A texture record is a stream
// holding one 'TEXU' chunk under the texture name. Keys hold 32 characters:
// a longer one is refused, never cut, so two models or textures never share
// a record.
//
// Records that do not read back (damaged on disk, or from an older form) are
// deleted when read, so the model or texture is converted again later.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zk {

struct RwClump;
struct RwTexture;

constexpr size_t kChunkKeyLength = 32;
// The stream flag values written with each chunk.
constexpr uint32_t kChunkClumpFlags = 18;
constexpr uint32_t kChunkTextureFlags = 8;

// Results of chunk_create.
enum ChunkResult {
    chunk_ok = 0,
    chunk_no_shape = 1,      // the shape file could not be read
    chunk_no_stream = 2,     // the stream could not be opened
    chunk_write_failed = 3,  // the clump could not be written
    chunk_close_failed = 4,  // the stream could not be completed
    chunk_no_bytes = 5,      // the stream left nothing to store
    chunk_key_too_long = 6,  // prefix and name exceed the key
    chunk_no_record = 7,     // the record could not be built or stored
};

// Closes and reopens both databases for the current art directory (world
// reset, after the object path is set).
void chunk_reset();
// Closes both.
void chunk_term();

// Reads the shape file and stores it with `header` under prefix + name.
// A ChunkResult; on any failure nothing is stored.
int chunk_create(const std::string& rwx_path, std::span<const uint8_t> header, const std::string& prefix,
                 const std::string& name);
bool chunk_exists(const std::string& prefix, const std::string& name);
void chunk_delete(const std::string& prefix, const std::string& name);
// A copy of the record's header; false when there is no (sound) record.
bool chunk_header(const std::string& prefix, const std::string& name, std::vector<uint8_t>& header);
// The stored clump (the caller owns it), or none.
RwClump* chunk_load(const std::string& prefix, const std::string& name);

// Textures, under their name (1 to 32 characters). A loaded texture is
// found by name again under the name the texture itself carried when saved
// (rw_texture_decode); the caller owns its reference.
bool chunk_save_texture(const RwTexture* texture, const std::string& name);
RwTexture* chunk_load_texture(const std::string& name);
void chunk_delete_texture(const std::string& name);
// The same texture stream in a file of its own.
bool chunk_save_texture_to_file(const RwTexture* texture, const std::string& path);
RwTexture* chunk_load_texture_from_file(const std::string& path);

// Splits a model record into its header and stream. False unless the whole
// header and at least one stream byte lie within the record.
bool chunk_record_split(std::span<const uint8_t> record, std::span<const uint8_t>& header,
                        std::span<const uint8_t>& stream);

}  // namespace zk
