#include "art/chunk.h"

#include <algorithm>
#include <cstddef>
#include <new>

#include "art/database.h"
#include "art/download.h"
#include "art/files.h"
#include "common/bytes.h"
#include "core/log.h"
#include "render/clump.h"
#include "render/io.h"
#include "render/library.h"
#include "render/rwx.h"
#include "render/stream.h"
#include "render/texture.h"

namespace zk {

namespace {

constexpr int kDataExtension = 16384;
constexpr int kIndexExtension = 4096;
// Type, flags and length in front of every chunk.
constexpr size_t kChunkHead = 12;
// What the 2-byte header length can state.
constexpr size_t kMaxHeader = 0xFFFF;

Database* g_models = nullptr;
Database* g_textures = nullptr;

bool model_key_fits(const std::string& prefix, const std::string& name) {
    return prefix.size() + name.size() <= kChunkKeyLength;
}

bool texture_key_fits(const std::string& name) { return !name.empty() && name.size() <= kChunkKeyLength; }

void drop_damaged(Database* db, const std::string& key) {
    if (log_on(Trace::trace)) log_write("chunk: damaged record %s deleted", key.c_str());
    database_store(db, key, nullptr, 0);
}

// The one chunk of `type` that the bytes must hold, read by `read`. Bytes
// behind the chunk count as damage too: the record is not what was stored.
template <class T>
T* read_one(std::span<const uint8_t> bytes, uint32_t type, T* (*read)(RwStream*)) {
    if (bytes.size() < kChunkHead) return nullptr;
    RwStream* s = rw_stream_open_memory(bytes.data(), bytes.size());
    uint32_t found = 0, length = 0;
    T* object = nullptr;
    if (rw_stream_peek_chunk(s, &found, nullptr, &length) && found == type && bytes.size() - kChunkHead == length)
        object = read(s);
    rw_stream_close(s);
    return object;
}

// A texture as its stream bytes, written into memory.
bool texture_bytes(const RwTexture* texture, std::vector<uint8_t>& bytes) {
    RwStream* s = rw_stream_open_memory_write();
    bool ok = rw_stream_write_texture(s, texture, kChunkTextureFlags);
    if (ok) bytes = rw_stream_bytes(s);
    return rw_stream_close(s) && ok;
}

// [header length][header][stream]; false when the header is longer than
// its length can state or memory runs out.
bool build_record(std::span<const uint8_t> header, const std::vector<uint8_t>& stream, std::vector<uint8_t>& record) {
    if (header.size() > kMaxHeader) return false;
    try {
        record.resize(2 + header.size() + stream.size());
    } catch (const std::bad_alloc&) {
        return false;
    }
    store_le16(record.data(), static_cast<uint16_t>(header.size()));
    std::copy(header.begin(), header.end(), record.begin() + 2);
    std::copy(stream.begin(), stream.end(), record.begin() + 2 + static_cast<std::ptrdiff_t>(header.size()));
    return true;
}

void close_databases() {
    database_close(g_models);
    database_close(g_textures);
    g_models = g_textures = nullptr;
}

}  // namespace

bool chunk_record_split(std::span<const uint8_t> record, std::span<const uint8_t>& header,
                        std::span<const uint8_t>& stream) {
    if (record.size() < 2) return false;
    const size_t length = load_le16(record.data());
    if (record.size() - 2 <= length) return false;
    header = record.subspan(2, length);
    stream = record.subspan(2 + length);
    return true;
}

void chunk_reset() {
    if (log_on(Trace::trace)) log_write("chunk_reset");
    close_databases();
    if (art_dir().empty()) return;
    g_models = database_open(art_dir() + "/models", kChunkKeyLength, 0, kDataExtension, kIndexExtension, true, true);
    g_textures =
        database_open(art_dir() + "/textures", kChunkKeyLength, 0, kDataExtension, kIndexExtension, false, true);
}

void chunk_term() {
    if (log_on(Trace::trace)) log_write("chunk_term");
    close_databases();
}

int chunk_create(const std::string& rwx_path, std::span<const uint8_t> header, const std::string& prefix,
                 const std::string& name) {
    const bool trace = log_on(Trace::chunk);
    if (trace) log_write("chunk_create: RwReadShape (%s)", rwx_path.c_str());
    RwClump* clump = rw_read_shape(rwx_path);
    if (!clump) {
        if (trace) log_write("ERROR: RwReadShape failed, reason %d", render_last_error());
        return chunk_no_shape;
    }
    // Written into memory rather than a temporary file, so that two
    // conversions (or two programs) never write over each other's.
    if (trace) log_write("RwOpenStream");
    RwStream* stream = rw_stream_open_memory_write();
    if (!stream) {
        if (trace) log_write("ERROR: RwOpenStream failed, reason %d", render_last_error());
        rw_clump_destroy(clump);
        return chunk_no_stream;
    }
    if (trace) log_write("RwWriteStreamChunk");
    if (!rw_stream_write_clump(stream, clump, kChunkClumpFlags)) {
        if (trace) log_write("ERROR: RwWriteStreamChunk failed, reason %d", render_last_error());
        rw_stream_close(stream);
        rw_clump_destroy(clump);
        return chunk_write_failed;
    }
    std::vector<uint8_t> bytes;
    bool copied = true;
    try {
        bytes = rw_stream_bytes(stream);
    } catch (const std::bad_alloc&) {
        copied = false;
    }
    if (trace) log_write("RwCloseStream");
    const bool closed = rw_stream_close(stream);
    rw_clump_destroy(clump);
    if (!closed) {
        if (trace) log_write("ERROR: RwCloseStream failed, reason %d", render_last_error());
        return chunk_close_failed;
    }
    if (!copied || bytes.empty()) {
        if (trace) log_write("ERROR: Could not read temp file");
        return chunk_no_bytes;
    }
    if (!model_key_fits(prefix, name)) {
        if (trace) log_write("ERROR: filename too large for key");
        return chunk_key_too_long;
    }
    std::vector<uint8_t> record;
    if (!build_record(header, bytes, record)) {
        if (trace) log_write("ERROR: unable to allocate new record");
        return chunk_no_record;
    }
    // A record that did not reach the store must not be reported as stored.
    if (database_store(g_models, prefix + name, record.data(), static_cast<int>(record.size())) != 1) {
        if (trace) log_write("ERROR: unable to store record");
        return chunk_no_record;
    }
    if (trace) log_write("chunk_create complete");
    return chunk_ok;
}

bool chunk_exists(const std::string& prefix, const std::string& name) {
    return model_key_fits(prefix, name) && database_key_exists(g_models, prefix + name) == 1;
}

void chunk_delete(const std::string& prefix, const std::string& name) {
    if (model_key_fits(prefix, name)) database_store(g_models, prefix + name, nullptr, 0);
}

bool chunk_header(const std::string& prefix, const std::string& name, std::vector<uint8_t>& header) {
    header.clear();
    std::vector<uint8_t> record;
    if (!model_key_fits(prefix, name) || !database_fetch_unknown(g_models, prefix + name, record)) return false;
    std::span<const uint8_t> head, stream;
    if (!chunk_record_split(record, head, stream)) {
        drop_damaged(g_models, prefix + name);
        return false;
    }
    header.assign(head.begin(), head.end());
    return true;
}

RwClump* chunk_load(const std::string& prefix, const std::string& name) {
    std::vector<uint8_t> record;
    if (!model_key_fits(prefix, name) || !database_fetch_unknown(g_models, prefix + name, record)) return nullptr;
    std::span<const uint8_t> head, stream;
    RwClump* clump = nullptr;
    if (chunk_record_split(record, head, stream)) clump = read_one(stream, kChunkClump, rw_stream_read_clump);
    if (!clump) drop_damaged(g_models, prefix + name);
    return clump;
}

bool chunk_save_texture(const RwTexture* texture, const std::string& name) {
    std::vector<uint8_t> bytes;
    return texture_key_fits(name) && texture_bytes(texture, bytes) &&
           database_store(g_textures, name, bytes.data(), static_cast<int>(bytes.size())) == 1;
}

RwTexture* chunk_load_texture(const std::string& name) {
    std::vector<uint8_t> record;
    if (!texture_key_fits(name) || !database_fetch_unknown(g_textures, name, record)) return nullptr;
    RwTexture* texture = read_one(std::span<const uint8_t>(record), kChunkTexture, rw_stream_read_texture);
    if (!texture) drop_damaged(g_textures, name);
    return texture;
}

void chunk_delete_texture(const std::string& name) {
    if (texture_key_fits(name)) database_store(g_textures, name, nullptr, 0);
}

bool chunk_save_texture_to_file(const RwTexture* texture, const std::string& path) {
    std::vector<uint8_t> bytes;
    return texture_bytes(texture, bytes) && file_store(path, bytes.data(), bytes.size()) == 0;
}

RwTexture* chunk_load_texture_from_file(const std::string& path) {
    std::string bytes;
    if (!rw_read_file(path, bytes, size_t{kChunkMaxLength} + kChunkHead)) return nullptr;
    return read_one(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
                    kChunkTexture, rw_stream_read_texture);
}

}  // namespace zk
