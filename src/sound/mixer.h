// The audio device through SDL2_mixer: one looping WAV channel with volume
// and balance, one channel for one-shot effects whose end is noticed on the
// main thread, and MIDI through the music player. Every file is checked
// (sound/wav.h) before the library sees it.
#pragma once

#include <cstdint>
#include <string>

namespace zk {

// Opens the device. False when there is none, or only SDL's dummy driver:
// the sound module then stays inert.
bool mixer_open();
void mixer_close();
bool mixer_is_open();
// The output rate of the open device.
int mixer_rate();

// Each command answers 0 or a failure number; mixer_error() tells why.
int mixer_effect_open(const std::string& path);
int mixer_effect_play();
void mixer_effect_close();
// True once after the playing effect reached its end (read by the main
// thread; the audio thread only sets a flag).
bool mixer_effect_finished();

int mixer_loop_start(const std::string& path);
void mixer_loop_stop();
// The device volume word: right in the high 16 bits, left in the low.
void mixer_loop_volume(uint32_t word);

int mixer_music_open(const std::string& path);
int mixer_music_play();
void mixer_music_close();
void mixer_music_volume(uint16_t volume);

const char* mixer_error();

}  // namespace zk
