// Checks of sound files that came from the network, made before a file is
// handed to the audio library: the structure of a WAV file and the header
// of a MIDI file, with bounds on the size and on what decoding may cost.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zk {

// Larger sound files are refused.
constexpr size_t kSoundFileLimit = 16u * 1024 * 1024;
// A WAV file whose samples would take more than this once converted to the
// output format is refused (a small file at a low rate grows many times).
constexpr uint64_t kSoundDecodedLimit = 64u * 1024 * 1024;

struct WavFormat {
    uint16_t encoding = 0;  // 1 integer PCM, 3 float
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint16_t bits = 0;
    uint32_t data_bytes = 0;
};

// True for a RIFF/WAVE file of PCM (8/16/24/32 bit) or 32-bit float
// samples, 1-2 channels at 4000-192000 Hz, with its format chunk before a
// data chunk that lies within the file, and whose samples converted to
// `out_rate` Hz 16-bit stereo stay within kSoundDecodedLimit.
bool wav_check(const uint8_t* data, size_t size, uint32_t out_rate, WavFormat* format = nullptr);

// True for a Standard MIDI File header of format 0-2 with at least one track.
bool midi_check(const uint8_t* data, size_t size);

}  // namespace zk
