#include "sound/mixer.h"

#include <SDL.h>
#include <SDL_mixer.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "art/files.h"
#include "sound/wav.h"

namespace zk {

namespace {

constexpr int kLoopChannel = 0;
constexpr int kEffectChannel = 1;
constexpr const char* kSoundFont = "/usr/share/sounds/sf2/FluidR3_GM.sf2";

struct Mixer {
    bool open = false;
    int rate = 0;
    Mix_Chunk* loop = nullptr;
    Mix_Chunk* effect = nullptr;
    Mix_Music* music = nullptr;
    std::vector<uint8_t> music_bytes;  // the music reads its file from here while it plays
    std::string error;
} g;

// Set on SDL's audio thread, read and cleared on the main thread.
std::atomic<bool> g_effect_done{false};

void channel_finished(int channel) {
    if (channel == kEffectChannel) g_effect_done.store(true);
}

int fail(const char* why) {
    g.error = why;
    return 1;
}

// The whole file, when it exists and is not larger than sound files may be.
int read_bounded(const std::string& path, std::vector<uint8_t>& bytes) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return fail("file not found");
    if (static_cast<uint64_t>(st.st_size) > kSoundFileLimit) return fail("file too large");
    if (file_read(path, bytes) != 0 || bytes.size() > kSoundFileLimit) return fail("file cannot be read");
    return 0;
}

Mix_Chunk* load_wav(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (read_bounded(path, bytes) != 0) return nullptr;
    if (!wav_check(bytes.data(), bytes.size(), static_cast<uint32_t>(g.rate))) {
        fail("not a WAV file that can be played");
        return nullptr;
    }
    Mix_Chunk* chunk = Mix_LoadWAV_RW(SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size())), 1);
    if (!chunk) g.error = Mix_GetError();
    return chunk;
}

}  // namespace

bool mixer_open() {
    if (g.open) return true;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    const char* driver = SDL_GetCurrentAudioDriver();
    if (!driver || std::strcmp(driver, "dummy") == 0 ||
        Mix_OpenAudio(44100, AUDIO_S16SYS, 2, 2048) != 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    if (!std::getenv("SDL_SOUNDFONTS")) Mix_SetSoundFonts(kSoundFont);
    Mix_Init(MIX_INIT_MID);
    Mix_AllocateChannels(2);
    Mix_ChannelFinished(channel_finished);
    Mix_QuerySpec(&g.rate, nullptr, nullptr);
    g.open = true;
    return true;
}

void mixer_close() {
    if (!g.open) return;
    mixer_effect_close();
    mixer_loop_stop();
    mixer_music_close();
    Mix_ChannelFinished(nullptr);
    Mix_CloseAudio();
    Mix_Quit();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    g = Mixer{};
}

bool mixer_is_open() { return g.open; }
int mixer_rate() { return g.rate; }

int mixer_effect_open(const std::string& path) {
    if (!g.open) return fail("no device");
    mixer_effect_close();
    g.effect = load_wav(path);
    return g.effect ? 0 : 1;
}

int mixer_effect_play() {
    if (!g.open || !g.effect) return fail("no effect open");
    g_effect_done.store(false);
    Mix_Volume(kEffectChannel, MIX_MAX_VOLUME);
    if (Mix_PlayChannel(kEffectChannel, g.effect, 0) < 0) {
        g.error = Mix_GetError();
        return 2;
    }
    return 0;
}

void mixer_effect_close() {
    if (!g.open) return;
    Mix_HaltChannel(kEffectChannel);
    // Halting reports a finish of its own; only a natural end counts.
    g_effect_done.store(false);
    if (g.effect) Mix_FreeChunk(g.effect);
    g.effect = nullptr;
}

bool mixer_effect_finished() { return g_effect_done.exchange(false); }

int mixer_loop_start(const std::string& path) {
    if (!g.open) return fail("no device");
    mixer_loop_stop();
    g.loop = load_wav(path);
    if (!g.loop) return 1;
    if (Mix_PlayChannel(kLoopChannel, g.loop, -1) < 0) {
        g.error = Mix_GetError();
        mixer_loop_stop();
        return 2;
    }
    return 0;
}

void mixer_loop_stop() {
    if (!g.open) return;
    Mix_HaltChannel(kLoopChannel);
    if (g.loop) Mix_FreeChunk(g.loop);
    g.loop = nullptr;
}

void mixer_loop_volume(uint32_t word) {
    if (!g.open) return;
    const uint32_t left = word & 0xffff, right = word >> 16;
    const uint32_t loud = std::max(left, right);
    // The louder side sets the channel volume, the balance the other side.
    Mix_Volume(kLoopChannel, static_cast<int>((loud * MIX_MAX_VOLUME + 32767) / 65535));
    if (loud == 0) return;
    Mix_SetPanning(kLoopChannel, static_cast<Uint8>(left * 255 / loud), static_cast<Uint8>(right * 255 / loud));
}

int mixer_music_open(const std::string& path) {
    if (!g.open) return fail("no device");
    mixer_music_close();
    if (read_bounded(path, g.music_bytes) != 0) return 1;
    if (!midi_check(g.music_bytes.data(), g.music_bytes.size())) {
        g.music_bytes.clear();
        return fail("not a MIDI file");
    }
    g.music = Mix_LoadMUSType_RW(SDL_RWFromConstMem(g.music_bytes.data(), static_cast<int>(g.music_bytes.size())),
                                 MUS_MID, 1);
    if (!g.music) {
        g.error = Mix_GetError();
        g.music_bytes.clear();
        return 2;
    }
    return 0;
}

int mixer_music_play() {
    if (!g.open || !g.music) return fail("no music open");
    if (Mix_PlayMusic(g.music, 0) != 0) {
        g.error = Mix_GetError();
        return 2;
    }
    return 0;
}

void mixer_music_close() {
    if (!g.open) return;
    Mix_HaltMusic();
    if (g.music) Mix_FreeMusic(g.music);
    g.music = nullptr;
    g.music_bytes.clear();
}

void mixer_music_volume(uint16_t volume) {
    if (g.open) Mix_VolumeMusic(static_cast<int>((volume * MIX_MAX_VOLUME + 32767u) / 65535u));
}

const char* mixer_error() { return g.error.c_str(); }

}  // namespace zk
