// The demo worlds' sounds, made by code: ambient WAV loops, the teleport
// effects, a chime and a short MIDI tune.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace zk::server {

// A mono 16-bit PCM WAV file of the samples at `rate` Hz.
std::string wav_file(const std::vector<int16_t>& samples, uint32_t rate);
// `seconds` of a sine tone at `hz`, at a quarter of full scale.
std::vector<int16_t> tone(double hz, double seconds, uint32_t rate);

// File name ("hum.wav", "tune.mid") -> bytes.
std::map<std::string, std::string> demo_sounds();

}  // namespace zk::server
