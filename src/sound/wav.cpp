#include "sound/wav.h"

#include <cstring>

namespace zk {

namespace {

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// Files with more chunks than this are not sound files worth walking.
constexpr int kChunkLimit = 64;

bool format_ok(const WavFormat& f) {
    if (f.channels < 1 || f.channels > 2 || f.rate < 4000 || f.rate > 192000) return false;
    if (f.encoding == 1) return f.bits == 8 || f.bits == 16 || f.bits == 24 || f.bits == 32;
    return f.encoding == 3 && f.bits == 32;
}

}  // namespace

bool wav_check(const uint8_t* data, size_t size, uint32_t out_rate, WavFormat* format) {
    if (!data || size < 12 || size > kSoundFileLimit) return false;
    if (std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVE", 4) != 0) return false;
    // The RIFF size may overstate a cut file; the file's end bounds the walk.
    size_t end = size;
    if (uint64_t riff_end = uint64_t{le32(data + 4)} + 8; riff_end < end) end = static_cast<size_t>(riff_end);
    if (end < 12) return false;
    WavFormat f;
    bool have_format = false;
    size_t at = 12;
    for (int n = 0; n < kChunkLimit && end - at >= 8; ++n) {
        const uint8_t* chunk = data + at;
        const uint32_t length = le32(chunk + 4);
        const size_t body = at + 8;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (length < 16 || length > end - body) return false;
            f.encoding = le16(chunk + 8);
            f.channels = le16(chunk + 10);
            f.rate = le32(chunk + 12);
            f.bits = le16(chunk + 22);
            const uint32_t block = le16(chunk + 20);
            if (!format_ok(f) || block != f.channels * f.bits / 8u) return false;
            have_format = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!have_format || length == 0 || length > end - body) return false;
            f.data_bytes = length;
            const uint64_t frames = length / (f.channels * f.bits / 8u);
            const uint64_t out_frames = frames * (out_rate ? out_rate : f.rate) / f.rate + 1;
            if (out_frames * 4 > kSoundDecodedLimit) return false;
            if (format) *format = f;
            return true;
        }
        if (length > end - body) return false;
        at = body + length + (length & 1);
        if (at > end) return false;
    }
    return false;
}

bool midi_check(const uint8_t* data, size_t size) {
    if (!data || size < 14 + 8 || size > kSoundFileLimit) return false;
    if (std::memcmp(data, "MThd", 4) != 0 || data[4] || data[5] || data[6] || data[7] != 6) return false;
    const unsigned format = data[8] << 8 | data[9];
    const unsigned tracks = data[10] << 8 | data[11];
    const unsigned division = data[12] << 8 | data[13];
    return format <= 2 && tracks >= 1 && division != 0 && std::memcmp(data + 14, "MTrk", 4) == 0;
}

}  // namespace zk
