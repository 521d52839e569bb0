#include "server/assets/sounds.h"

#include <cmath>

namespace zk::server {

namespace {

constexpr uint32_t kRate = 22050;
constexpr double kTau = 6.283185307179586;

void put16(std::string& s, uint32_t v) { s += static_cast<char>(v & 0xff), s += static_cast<char>(v >> 8 & 0xff); }
void put32(std::string& s, uint32_t v) { put16(s, v & 0xffff), put16(s, v >> 16); }
void put32be(std::string& s, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) s += static_cast<char>(v >> shift & 0xff);
}

int16_t clip(double v) { return static_cast<int16_t>(std::lround(std::fmax(-32767.0, std::fmin(32767.0, v)))); }

// Water falling: white noise through two one-pole filters, swelling slowly;
// the swell has whole cycles in the loop so that it joins without a click.
std::vector<int16_t> fountain() {
    std::vector<int16_t> out(kRate * 3);
    uint32_t seed = 12345;
    double low = 0, band = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        const double white = static_cast<int32_t>(seed) / 2147483648.0;
        low += (white - low) * 0.35;
        band += (low - band) * 0.05;
        const double swell = 0.75 + 0.25 * std::sin(kTau * static_cast<double>(i) / out.size() * 2);
        out[i] = clip((low - band) * 14000 * swell);
    }
    // Fade the ends into each other over 20 ms.
    const size_t fade = kRate / 50;
    for (size_t i = 0; i < fade; ++i) {
        const double w = static_cast<double>(i) / fade;
        out[i] = clip(out[i] * w + out[out.size() - fade + i] * (1 - w));
    }
    out.resize(out.size() - fade);
    return out;
}

// A machine hum: 100 Hz with its second and third harmonics, whole cycles.
std::vector<int16_t> hum() {
    std::vector<int16_t> out(kRate * 2);
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        out[i] = clip(6000 * std::sin(kTau * 100 * t) + 3000 * std::sin(kTau * 200 * t) + 1500 * std::sin(kTau * 300 * t));
    }
    return out;
}

// A sweep from `from` to `to` Hz over `seconds`, fading out.
std::vector<int16_t> sweep(double from, double to, double seconds) {
    std::vector<int16_t> out(static_cast<size_t>(kRate * seconds));
    double phase = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        const double f = static_cast<double>(i) / out.size();
        phase += kTau * (from + (to - from) * f) / kRate;
        out[i] = clip(9000 * std::sin(phase) * (1 - f) * std::fmin(1.0, i / 200.0));
    }
    return out;
}

// A bell-like chime: two partials that die away.
std::vector<int16_t> chime() {
    std::vector<int16_t> out(kRate);
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        out[i] = clip(std::exp(-4 * t) * (8000 * std::sin(kTau * 880 * t) + 4000 * std::sin(kTau * 2217 * t)));
    }
    return out;
}

// A Standard MIDI File of one track: a short tune on a music box.
std::string tune() {
    std::string track;
    auto event = [&](uint8_t delta, std::initializer_list<uint8_t> bytes) {
        track += static_cast<char>(delta);
        for (uint8_t b : bytes) track += static_cast<char>(b);
    };
    event(0, {0xc0, 10});  // program: music box
    const uint8_t notes[] = {72, 76, 79, 84, 79, 76, 74, 77, 81, 77, 72};
    for (uint8_t n : notes) {
        event(0, {0x90, n, 90});
        event(96, {0x80, n, 0});  // an eighth at 192 ticks a quarter
    }
    event(0, {0xff, 0x2f, 0});
    std::string midi = "MThd";
    put32be(midi, 6);
    midi += std::string("\0\0\0\1\0\xc0", 6);  // format 0, one track, 192 ticks a quarter
    midi += "MTrk";
    put32be(midi, static_cast<uint32_t>(track.size()));
    return midi + track;
}

}  // namespace

std::string wav_file(const std::vector<int16_t>& samples, uint32_t rate) {
    const auto bytes = static_cast<uint32_t>(samples.size() * 2);
    std::string s = "RIFF";
    put32(s, 36 + bytes);
    s += "WAVEfmt ";
    put32(s, 16);
    put16(s, 1), put16(s, 1), put32(s, rate), put32(s, rate * 2), put16(s, 2), put16(s, 16);
    s += "data";
    put32(s, bytes);
    for (int16_t v : samples) put16(s, static_cast<uint16_t>(v));
    return s;
}

std::vector<int16_t> tone(double hz, double seconds, uint32_t rate) {
    std::vector<int16_t> out(static_cast<size_t>(rate * seconds));
    for (size_t i = 0; i < out.size(); ++i) out[i] = clip(8192 * std::sin(kTau * hz * static_cast<double>(i) / rate));
    return out;
}

std::map<std::string, std::string> demo_sounds() {
    return {
        {"fountain.wav", wav_file(fountain(), kRate)},
        {"hum.wav", wav_file(hum(), kRate)},
        {"chime.wav", wav_file(chime(), kRate)},
        {"deport1.wav", wav_file(sweep(900, 200, 0.8), kRate)},
        {"warp1.wav", wav_file(sweep(200, 1200, 0.6), kRate)},
        {"tune.mid", tune()},
    };
}

}  // namespace zk::server
