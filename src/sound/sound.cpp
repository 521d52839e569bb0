#include "sound/sound.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <unordered_map>

#include "art/download.h"
#include "art/files.h"
#include "art/zip.h"
#include "common/keyed_table.h"
#include "core/log.h"
#include "core/settings.h"
#include "core/tasks.h"
#include "platform/files.h"
#include "sound/mixer.h"
#include "view/self.h"
#include "world/world.h"

namespace zk {

struct sound_entry;

struct sound_instance {
    sound_instance* next = nullptr;
    sound_entry* entry = nullptr;  // null once the sound table was reset
    float x = 0, y = 0, z = 0;
};

struct sound_entry {
    uint32_t id = 0;
    bool is_wav = true, present = false, relative = true;
    std::string path;
    download* fetch = nullptr;
    sound_instance* instances = nullptr;
};

namespace {

constexpr uint32_t kBuckets = 211;
constexpr uint32_t kPrefetchDelayMs = 30000;

struct State {
    bool available = false;
    bool wav_on = true, midi_on = true;
    bool effect_playing = false;
    // MIDI volume is always ours to drive here.
    bool midi_volume_control = true;
    std::string loop_path, midi_path, effect_path;
    std::unique_ptr<KeyedTable> table;  // normalised name -> sound_entry*
    std::unordered_map<uint32_t, sound_entry*> by_id;
    uint32_t next_id = 1;
    std::deque<sound_entry*> queue;
    bool prefetch = false;
    uint32_t prefetch_due = 0;
    uint32_t wav_volume = 0, midi_volume = 0;
} g;

SoundPorts g_ports;

bool tracing() { return log_on(Trace::sound); }

bool ends_with_sound_extension(const std::string& s) {
    if (s.size() < 4) return false;
    const char* e = s.c_str() + s.size() - 4;
    return strcasecmp(e, ".wav") == 0 || strcasecmp(e, ".mid") == 0;
}

void lower(std::string& s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
}

// The device's command strings, traced as they are sent and carried out by
// the mixer. 0 on success.
int mci(const char* format, ...) __attribute__((format(printf, 1, 2)));
int mci(const char* format, ...) {
    char command[1200];
    va_list args;
    va_start(args, format);
    std::vsnprintf(command, sizeof command, format, args);
    va_end(args);
    if (tracing()) log_write("mciSendString: %s", command);
    const std::string text = command;
    int rc = 1;
    if (text.rfind("open \"", 0) == 0) {
        const size_t close = text.rfind('"');
        const std::string path = text.substr(6, close - 6);
        if (text.compare(close, std::string::npos, "\" alias effect") == 0) rc = mixer_effect_open(path);
        else if (text.compare(close, std::string::npos, "\" alias midi") == 0) rc = mixer_music_open(path);
    } else if (text == "play effect notify") {
        rc = mixer_effect_play();
    } else if (text == "close effect") {
        mixer_effect_close();
        rc = 0;
    } else if (text == "play midi") {
        rc = mixer_music_play();
    } else if (text == "close midi") {
        mixer_music_close();
        rc = 0;
    }
    if (rc != 0 && tracing()) log_write("mciSendString FAILED (%d): %s", rc, mixer_error());
    return rc;
}

void stop_loop() {
    if (g.loop_path.empty()) return;
    mixer_loop_stop();
    g.loop_path.clear();
}

sound_entry* find_entry(const std::string& key) {
    if (!g.table || key.empty()) return nullptr;
    sound_entry** e = g.table->find_as<sound_entry*>(key.data(), key.size());
    return e ? *e : nullptr;
}

void download_callback(void* data, int result, const uint8_t* buffer, uint32_t size) {
    auto it = g.by_id.find(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(data)));
    if (it == g.by_id.end()) return;
    sound_entry* e = it->second;
    e->fetch = nullptr;
    if (result == kDownloadFailed) {
        if (tracing()) log_write("sound download failed for: %s", e->path.c_str());
        return;
    }
    if (tracing()) log_write("sound download callback: %s", e->path.c_str());
    if (g.loop_path == e->path) stop_loop();
    if (result == kDownloadFetched) {
        const bool stored = e->relative ? zip_extract(buffer, size, e->path) == kZipOk
                                        : file_store(e->path, buffer, size) == 0;
        if (!stored && tracing()) log_write("sound: cannot store %s", e->path.c_str());
    }
    e->present = file_exists(e->path) == 1;
}

// Starts the first effect that opens and plays; false when none did.
bool play_effect(sound_entry* e) {
    g.effect_path = e->path;
    if (mci("open \"%s\" alias effect", g.effect_path.c_str()) != 0) return false;
    stop_loop();
    if (mci("play effect notify") == 0) return true;
    mci("close effect");
    return false;
}

void effect_finished() {
    mci("close effect");
    while (!g.queue.empty()) {
        sound_entry* e = g.queue.front();
        g.queue.pop_front();
        if (play_effect(e)) return;
    }
    g.effect_playing = false;
}

void volume_parts(float sx, float sy, float sz, double x, double y, double z, float heading, uint16_t* v,
                  double* pan) {
    const double dx = sx - x, dy = sy - y, dz = sz - z;
    *v = static_cast<uint16_t>(static_cast<uint32_t>(1310700.0 / (dx * dx + dy * dy + dz * dz + 20.0)));
    *pan = dx == 0 && dz == 0 ? 0.0 : std::sin(std::atan2(dx, dz) - heading * 0.017453292) * 0.1;
}

// Detaches every instance (their objects own them) and frees every entry.
void free_entries() {
    if (g.table) {
        for (KeyedTable::Iterator it(*g.table); it.next();) {
            sound_entry* e = *static_cast<sound_entry**>(it.value());
            for (sound_instance* i = e->instances; i; i = i->next) i->entry = nullptr;
            delete e;
        }
    }
    g.by_id.clear();
    g.queue.clear();
}

}  // namespace

std::string sound_normalize(const std::string& name, const std::string& object_path) {
    if (name.empty()) return "";
    if (name.find('/') != std::string::npos) {
        if (!ends_with_sound_extension(name)) return "";
        std::string full = name[0] == '/' ? object_path + name : name;
        if (full.rfind("http://", 0) == 0) full.erase(0, 7);
        return full;
    }
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) return name + ".wav";
    if (!ends_with_sound_extension(name) || dot != name.size() - 4) return "";
    std::string bare = name;
    lower(bare);
    return bare;
}

uint32_t sound_volume(float sx, float sy, float sz, double x, double y, double z, float heading) {
    uint16_t v;
    double pan;
    volume_parts(sx, sy, sz, x, y, z, heading, &v, &pan);
    const auto left = static_cast<uint32_t>((pan + 0.9) * v);
    const auto right = static_cast<uint32_t>(v * (0.9 - pan));
    return right << 16 | left;
}

SoundPorts& sound_ports() { return g_ports; }

void sndoptions_init() {
    if (log_on(Trace::trace)) log_write("sndoptions_init");
    const int sounds = settings_get_int("sound", "sounds");
    const int music = settings_get_int("sound", "music");
    set_wav_enabled(sounds != 0);
    set_midi_enabled(music != 0);
}

void sndoptions_apply(bool music, bool sounds) {
    set_wav_enabled(sounds);
    set_midi_enabled(music);
    settings_put_int("sound", "sounds", sounds ? 1 : 0);
    settings_put_int("sound", "music", music ? 1 : 0);
}

int sound_init() {
    if (log_on(Trace::trace)) log_write("sound_init");
    g.available = mixer_open();
    if (!g.available) {
        if (tracing()) log_write("sound: no audio device, sound is off");
        return 1;
    }
    if (!g.table) sound_reset();
    return 0;
}

void sound_term() {
    if (log_on(Trace::trace)) log_write("sound_term");
    if (g.effect_playing) mci("close effect");
    g.effect_playing = false;
    stop_loop();
    if (!g.midi_path.empty()) mci("close midi");
    g.midi_path.clear();
    free_entries();
    g.table.reset();
    mixer_close();
    g.available = false;
}

void sound_reset() {
    if (log_on(Trace::trace)) log_write("sound_reset");
    free_entries();
    g.table = std::make_unique<KeyedTable>(kBuckets, sizeof(sound_entry*));
    g.prefetch = true;
    g.prefetch_due = tick_now() + kPrefetchDelayMs;
}

void sound_download(const std::string& name) {
    if (!g.available || !g.table) return;
    const std::string key = sound_normalize(name, world_attribute(attr_object_path));
    if (key.empty()) return;
    bool existed = false;
    sound_entry** slot = g.table->find_or_add_as<sound_entry*>(key.data(), key.size(), &existed);
    if (!slot) return;
    if (existed) {
        // A live download gains a reference; a finished or refused one stays so.
        if ((*slot)->fetch) download_reference((*slot)->fetch);
        return;
    }
    auto* e = new sound_entry;
    *slot = e;
    e->id = g.next_id++;
    g.by_id[e->id] = e;
    e->relative = name.find('/') == std::string::npos;
    e->is_wav = strcasecmp(key.c_str() + key.size() - 4, ".mid") != 0;
    uint32_t max_kb = 0;
    if (!e->relative) {
        const uint32_t audio = dloptions_audio();
        if (audio == 0) return;
        max_kb = audio == 1 ? 0 : audio;
    }
    const int kind = (e->is_wav ? g.wav_on : g.midi_on) ? kDownloadTexture : kDownloadIdleSound;
    if (e->relative) {
        e->path = art_dir() + "/sounds/" + key;
    } else {
        make_directory(program_directory() + "/cache/art/misc");
        e->path = program_directory() + "/cache/art/misc/" + file_name_from_url(key);
    }
    e->present = file_exists(e->path) == 1;
    if (e->present) file_touch(e->path);
    void* data = reinterpret_cast<void*>(static_cast<uintptr_t>(e->id));
    e->fetch = e->relative ? download_file("sounds", std::string(file_basename(key)) + ".zip", kind, download_callback, data)
                           : download_url(key, max_kb, download_callback, data);
    if (!e->present) download_force(e->fetch);
}

sound_instance* sound_create(const std::string& name, float x, float y, float z) {
    if (!g.available) return nullptr;
    sound_entry* e = find_entry(sound_normalize(name, world_attribute(attr_object_path)));
    if (!e) return nullptr;
    auto* i = new sound_instance;
    i->entry = e;
    i->x = x, i->y = y, i->z = z;
    i->next = e->instances;
    e->instances = i;
    return i;
}

void sound_destroy(sound_instance* instance) {
    if (!instance) return;
    if (sound_entry* e = instance->entry) {
        if (e->fetch) download_dereference(e->fetch);
        for (sound_instance** p = &e->instances; *p; p = &(*p)->next) {
            if (*p == instance) {
                *p = instance->next;
                break;
            }
        }
    }
    delete instance;
}

void sound_effect(const std::string& name) {
    if (!g.available) return;
    const std::string key = sound_normalize(name, world_attribute(attr_object_path));
    sound_entry* e = find_entry(key);
    if (!e) {
        sound_download(name);
        e = find_entry(key);
    }
    if (!e || !e->present) return;
    file_touch(e->path);
    if (!g.effect_playing) {
        g.effect_playing = play_effect(e);
    } else if (e->path != g.effect_path && (g.queue.empty() || g.queue.back() != e)) {
        g.queue.push_back(e);
    }
}

void sound_update() {
    if (!g.available) return;
    if (mixer_effect_finished() && g.effect_playing) effect_finished();
    if (g.prefetch && static_cast<int32_t>(tick_now() - g.prefetch_due) >= 0) {
        g.prefetch = false;
        sound_download("deport1.wav");
        sound_download("warp1.wav");
    }
    if ((!g.wav_on && !g.midi_on) || g.effect_playing || !g.table) return;

    double x = 0, y = 0, z = 0;
    (g_ports.position ? g_ports.position : self_position)(&x, &y, &z);
    const float heading = g_ports.heading ? g_ports.heading() : self_yaw();

    sound_instance* nearest[2] = {nullptr, nullptr};  // WAV, MIDI
    double best[2] = {1e10, 1e10};
    for (KeyedTable::Iterator it(*g.table); it.next();) {
        const sound_entry* e = *static_cast<sound_entry**>(it.value());
        if (!e->present || !(e->is_wav ? g.wav_on : g.midi_on)) continue;
        const int k = e->is_wav ? 0 : 1;
        for (sound_instance* i = e->instances; i; i = i->next) {
            const double dx = i->x - x, dy = i->y - y, dz = i->z - z;
            const double d2 = dx * dx + dy * dy + dz * dz;
            if (d2 < best[k]) best[k] = d2, nearest[k] = i;
        }
    }

    if (sound_instance* w = nearest[0]) {
        if (w->entry->path != g.loop_path) {
            g.loop_path = w->entry->path;
            if (mixer_loop_start(g.loop_path) != 0 && tracing())
                log_write("sound: cannot loop %s: %s", g.loop_path.c_str(), mixer_error());
        }
        g.wav_volume = sound_volume(w->x, w->y, w->z, x, y, z, heading);
        mixer_loop_volume(g.wav_volume);
    } else {
        stop_loop();
    }

    if (sound_instance* m = nearest[1]) {
        if (m->entry->path != g.midi_path) {
            if (!g.midi_path.empty()) mci("close midi");
            g.midi_path = m->entry->path;
            if (mci("open \"%s\" alias midi", g.midi_path.c_str()) == 0) mci("play midi");
        }
        if (g.midi_volume_control) {
            uint16_t v;
            double pan;
            volume_parts(m->x, m->y, m->z, x, y, z, heading, &v, &pan);
            g.midi_volume = v;
            mixer_music_volume(v);
        }
    }
}

void set_wav_enabled(bool enabled) {
    if (!enabled) stop_loop();
    g.wav_on = enabled;
}

void set_midi_enabled(bool enabled) {
    if (!enabled && !g.midi_path.empty()) {
        mci("close midi");
        g.midi_path.clear();
    }
    g.midi_on = enabled;
}

bool wav_enabled() { return g.wav_on; }
bool midi_enabled() { return g.midi_on; }

SoundState sound_state() {
    SoundState s;
    s.available = g.available;
    s.effect_playing = g.effect_playing;
    s.loop_path = g.loop_path;
    s.midi_path = g.midi_path;
    s.effect_path = g.effect_path;
    for (const sound_entry* e : g.queue) s.queued.push_back(e->path);
    s.wav_volume = g.wav_volume;
    s.midi_volume = g.midi_volume;
    return s;
}

std::string sound_path(const std::string& name) {
    const sound_entry* e = find_entry(sound_normalize(name, world_attribute(attr_object_path)));
    return e ? e->path : "";
}

}  // namespace zk
