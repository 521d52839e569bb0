// The checks a sound file from the network passes before the audio library
// sees it: a damaged WAV or MIDI file is refused, and whatever passes keeps
// its samples inside the file and its decoded size bounded.
#include <cstdint>
#include <cstddef>

#include "sound/wav.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zk::WavFormat f;
    if (zk::wav_check(data, size, 44100, &f)) {
        if (f.data_bytes == 0 || f.data_bytes > size || f.channels < 1 || f.channels > 2 || f.rate < 4000)
            __builtin_trap();
        if (uint64_t{f.data_bytes} / (f.channels * f.bits / 8u) * 44100 / f.rate * 4 > zk::kSoundDecodedLimit)
            __builtin_trap();
    }
    (void)zk::midi_check(data, size);
    return 0;
}
