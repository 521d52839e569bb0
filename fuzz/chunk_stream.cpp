// A stream of chunks as the chunk store reads a record: one chunk after the
// other, 'CLUM' read as a clump and 'TEXU' as a texture (which later clumps
// of the stream find by name), others passed over. Whatever decodes must
// encode to the same bytes again once decoded, and nothing may outlive it.
#include <cstdint>
#include <vector>

#include "render/stream.h"

namespace {

template <class T, class Encode, class Decode, class Destroy>
void round_trip(const T* object, Encode encode, Decode decode, Destroy destroy) {
    const std::vector<uint8_t> once = encode(object);
    T* back = decode(once.data(), once.size());
    if (!back || encode(back) != once) __builtin_trap();
    destroy(back);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zk;
    rw_texture_set_search_path("");  // names resolve only to textures of the stream
    const int64_t clumps = rw_clump_count();
    std::vector<RwTexture*> textures;
    RwStream* s = rw_stream_open_memory(data, size);
    uint32_t type = 0;
    while (rw_stream_peek_chunk(s, &type, nullptr, nullptr)) {
        if (type == kChunkClump) {
            RwClump* c = rw_stream_read_clump(s);
            if (!c) break;
            // Decoded again from its own encoding, the texture names it kept
            // are the ones written.
            const std::vector<uint8_t> bytes = rw_clump_encode(c);
            RwClump* again = rw_clump_decode(bytes.data(), bytes.size());
            if (!again) __builtin_trap();
            round_trip<RwClump>(again, rw_clump_encode, rw_clump_decode, rw_clump_destroy);
            rw_clump_destroy(again);
            rw_clump_destroy(c);
        } else if (type == kChunkTexture) {
            RwTexture* t = rw_stream_read_texture(s);
            if (!t) break;
            textures.push_back(t);
        } else {
            std::vector<uint8_t> skipped;
            if (!rw_stream_read_chunk(s, nullptr, nullptr, skipped)) break;
        }
    }
    rw_stream_close(s);
    // Last, as a decoded copy takes over the name.
    for (RwTexture* t : textures) {
        round_trip<RwTexture>(t, rw_texture_encode, rw_texture_decode, rw_texture_destroy);
        rw_texture_destroy(t);
    }
    if (rw_clump_count() != clumps || rw_texture_count() != 0) __builtin_trap();
    return 0;
}
