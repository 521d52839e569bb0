// Sound effects and music: objects' ambient sounds (WAV loops and MIDI
// music, the nearest of each heard by distance and bearing) and one-shot
// effects played in turn. Sound files come from the world's object path
// ("sounds", as zip archives) or from absolute web addresses within the
// audio download option. Without an audio device every call does nothing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zk {

struct sound_instance;

// Reads the "sound" settings and applies them.
void sndoptions_init();
// The Sound page's Apply: takes both switches over and writes them.
void sndoptions_apply(bool music, bool sounds);
// Opens the audio device: 0, or 1 when there is none (the module is inert).
int sound_init();
// Closes the effect, the loop and the music.
void sound_term();
// Forgets every sound, instance and queued effect; the two teleport effects
// are fetched 30 seconds later.
void sound_reset();
// The "sound" task: pre-fetch, effect completions, ambient mixing.
void sound_update();

// Makes sure the sound exists and is being fetched.
void sound_download(const std::string& name);
// An ambient source at a position (the object keeps it); null when sound is
// off, the name is not a sound's, or it was never asked for.
sound_instance* sound_create(const std::string& name, float x, float y, float z);
void sound_destroy(sound_instance* instance);
// Plays a one-shot effect now, or after those playing and queued.
void sound_effect(const std::string& name);

void set_wav_enabled(bool enabled);
void set_midi_enabled(bool enabled);
bool wav_enabled();
bool midi_enabled();

// The name as the table keys it: "" when it names no sound. Bare names gain
// ".wav" and are lower-cased; addresses must end in .wav or .mid, "/..."
// is resolved against the object path and "http://" is dropped.
std::string sound_normalize(const std::string& name, const std::string& object_path);

// The device volume word for a source seen from a place with a heading in
// degrees: right in the high 16 bits, left in the low.
uint32_t sound_volume(float sx, float sy, float sz, double x, double y, double z, float heading);

// Where the listener stands; the own figure's place unless a test says
// otherwise.
struct SoundPorts {
    void (*position)(double* x, double* y, double* z) = nullptr;
    float (*heading)() = nullptr;
};
SoundPorts& sound_ports();

// What the module is doing (tests, status).
struct SoundState {
    bool available = false;
    bool effect_playing = false;
    std::string loop_path, midi_path, effect_path;
    std::vector<std::string> queued;  // paths of queued effects, in order
    uint32_t wav_volume = 0, midi_volume = 0;
};
SoundState sound_state();
// The local file of a sound ("" when it was never asked for).
std::string sound_path(const std::string& name);

}  // namespace zk
