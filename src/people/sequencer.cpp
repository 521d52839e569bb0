#include "people/sequencer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <unordered_map>

#include "art/download.h"
#include "art/files.h"
#include "art/model.h"
#include "art/zip.h"
#include "common/text.h"
#include "core/log.h"
#include "people/registry.h"
#include "platform/files.h"
#include "render/clump.h"
#include "render/math.h"

namespace zk {

namespace {

constexpr const char* kJoints[kJointCount] = {
    "pelvis",     "back",   "neck",    "head",     "rtsternum", "rtshoulder", "rtelbow", "rtwrist",
    "rtfingers",  "lfsternum", "lfshoulder", "lfelbow", "lfwrist", "lffingers", "rthip", "rtknee",
    "rtankle",    "rttoes", "lfhip",   "lfknee",   "lfankle",   "lftoes",     "neck2",   "tail",
    "tail2",      "tail3",  "tail4",   "obj",      "obj2",      "obj3",
};

// Keys are clamped to this: a pose always makes finite matrices.
constexpr float kMaxKeyValue = 1e4f;

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : p_(data), n_(size) {}
    size_t left() const { return n_ - at_; }
    bool u32(uint32_t& v) {
        if (left() < 4) return false;
        v = uint32_t(p_[at_]) << 24 | uint32_t(p_[at_ + 1]) << 16 | uint32_t(p_[at_ + 2]) << 8 | p_[at_ + 3];
        at_ += 4;
        return true;
    }
    bool u16(uint16_t& v) {
        if (left() < 2) return false;
        v = uint16_t(p_[at_] << 8 | p_[at_ + 1]);
        at_ += 2;
        return true;
    }
    bool f32(float& v) {
        uint32_t bits;
        if (!u32(bits)) return false;
        std::memcpy(&v, &bits, sizeof v);
        if (!std::isfinite(v)) v = 0;
        v = std::clamp(v, -kMaxKeyValue, kMaxKeyValue);
        return true;
    }
    bool string(std::string& s) {
        uint16_t len;
        if (!u16(len) || left() < len) return false;
        s.assign(reinterpret_cast<const char*>(p_ + at_), std::min<size_t>(len, 255));
        at_ += len;
        return true;
    }

private:
    const uint8_t* p_;
    size_t n_, at_ = 0;
};

bool read_keys(Reader& r, SequenceTrack& t) {
    uint32_t count;
    if (!r.u32(t.key_size) || !r.u32(count)) return false;
    if (t.key_size != 4 && t.key_size != 12 && t.key_size != 16) return false;
    // The count is checked against the bytes there before anything is kept.
    if (count > kSequenceMaxKeys || size_t(count) * (4 + t.key_size) > r.left()) return false;
    t.keys.resize(count);
    const int floats = int(t.key_size / 4), first = floats == 3 ? 1 : 0;
    uint32_t before = 0;
    for (SequenceKey& k : t.keys) {
        r.u32(k.time);
        k.time = before = std::max(k.time, before);
        for (int i = 0; i < floats; ++i) r.f32(k.value[first + i]);
    }
    return true;
}

void unit_quaternion(const float v[4], float q[4]) {
    const float n = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2] + v[3] * v[3]);
    if (!(n > 1e-12f)) {
        q[0] = 1, q[1] = q[2] = q[3] = 0;
        return;
    }
    for (int i = 0; i < 4; ++i) q[i] = v[i] / n;
}

void slerp(const float a[4], const float b_in[4], float t, float out[4]) {
    float b[4] = {b_in[0], b_in[1], b_in[2], b_in[3]};
    float d = a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
    if (d < 0) {  // the shorter way round
        for (float& c : b) c = -c;
        d = -d;
    }
    float wa = 1 - t, wb = t;
    if (d < 0.9995f) {
        const float theta = std::acos(d), s = std::sin(theta);
        wa = std::sin((1 - t) * theta) / s;
        wb = std::sin(t * theta) / s;
    }
    float v[4];
    for (int i = 0; i < 4; ++i) v[i] = wa * a[i] + wb * b[i];
    unit_quaternion(v, out);
}

// The track's value at `ms`: the quaternion or the translation.
void sample(const SequenceTrack& track, uint32_t ms, JointPose& pose, bool rotation) {
    const auto& keys = track.keys;
    if (keys.empty()) return;
    auto after = std::upper_bound(keys.begin(), keys.end(), ms,
                                  [](uint32_t t, const SequenceKey& k) { return t < k.time; });
    const SequenceKey& k1 = after == keys.end() ? keys.back() : *after;
    const SequenceKey& k0 = after == keys.begin() ? keys.front() : *(after - 1);
    const float f = &k0 == &k1 || k1.time == k0.time ? 0.0f : float(ms - k0.time) / float(k1.time - k0.time);
    if (rotation) {
        float a[4], b[4];
        unit_quaternion(k0.value, a);
        unit_quaternion(k1.value, b);
        slerp(a, b, std::clamp(f, 0.0f, 1.0f), pose.q);
    } else {
        for (int i = 0; i < 3; ++i) pose.t[i] = k0.value[i + 1] + (k1.value[i + 1] - k0.value[i + 1]) * f;
    }
}

RwMatrix quaternion_matrix(const float q[4]) {
    const float w = q[0], x = q[1], y = q[2], z = q[3];
    RwMatrix m;
    m.at(0, 0) = 1 - 2 * (y * y + z * z), m.at(0, 1) = 2 * (x * y - w * z), m.at(0, 2) = 2 * (x * z + w * y);
    m.at(1, 0) = 2 * (x * y + w * z), m.at(1, 1) = 1 - 2 * (x * x + z * z), m.at(1, 2) = 2 * (y * z - w * x);
    m.at(2, 0) = 2 * (x * z - w * y), m.at(2, 1) = 2 * (y * z + w * x), m.at(2, 2) = 1 - 2 * (x * x + y * y);
    return m;
}

// ---- The sequence cache ----

constexpr size_t kMaxSequences = 256;
constexpr size_t kMaxCachedBytes = 16u << 20;  // of sequence files held at once
constexpr uint32_t kRetryMs = 3000;
constexpr size_t kMaxSequenceName = 200;

uint32_t clock_ms() {
    using namespace std::chrono;
    return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

struct CacheEntry {
    uint64_t id = 0;
    std::string name;
    std::shared_ptr<const Sequence> seq;
    size_t bytes = 0;
    bool failed = false;
    bool requested = false;  // a download request is out
    uint32_t last_try = 0;
};

struct Cache {
    std::string dir;
    std::unordered_map<std::string, std::unique_ptr<CacheEntry>> by_name;
    std::unordered_map<uint64_t, CacheEntry*> by_id;
    uint64_t next_id = 1;
    uint64_t generation = 1;
    size_t bytes = 0;
};
Cache g_cache;

std::string seq_path(const CacheEntry& e) { return g_cache.dir + "/seqs/" + e.name + ".seq"; }

// Reads the entry's file; false when it is not there to read.
bool load_file(CacheEntry& e) {
    if (g_cache.dir.empty()) return false;
    const std::string path = seq_path(e);
    std::string bytes;
    if (!file_read_all(path, bytes, kSequenceMaxFile)) {
        std::error_code ec;
        if (std::filesystem::exists(path, ec)) e.failed = true;  // there, but over the bound
        return false;
    }
    auto s = std::make_shared<Sequence>();
    g_cache.bytes -= e.bytes;
    e.bytes = 0;
    e.seq.reset();
    if (g_cache.bytes + bytes.size() > kMaxCachedBytes ||
        !sequence_parse(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), s.get())) {
        if (log_on(Trace::trace)) log_write("sequence %s refused", e.name.c_str());
        e.failed = true;
        return true;
    }
    e.failed = false;
    e.bytes = bytes.size();
    g_cache.bytes += e.bytes;
    e.seq = std::move(s);
    return true;
}

void sequence_callback(void* data, int result, const uint8_t* buffer, uint32_t size) {
    auto it = g_cache.by_id.find(reinterpret_cast<uintptr_t>(data));
    if (it == g_cache.by_id.end()) return;  // asked for before a reset
    CacheEntry& e = *it->second;
    e.requested = false;
    if (result == kDownloadFetched) {
        if (zip_extract(buffer, size, seq_path(e)) == kZipOk) load_file(e);
        else e.failed = !e.seq;
    } else if (result == kDownloadUpToDate) {
        if (!e.seq) load_file(e);
    } else if (!e.seq) {
        e.failed = true;
    }
}

void try_load(CacheEntry& e) {
    e.last_try = clock_ms();
    const bool on_disk = load_file(e);
    if (e.failed || e.requested) return;
    // Asked for even when on disk, so that a newer version replaces it.
    download* d = download_file("seqs", e.name + ".zip", kDownloadModel, sequence_callback,
                                reinterpret_cast<void*>(uintptr_t(e.id)));
    e.requested = d != nullptr;
    if (!on_disk) download_force(d);
}

// ---- Action nodes ----

enum class NodeType { placeholder, sequence, shiftto, doaction };

struct Node {
    NodeType type = NodeType::placeholder;
    // A sequence: its name, play mode and start time; the loaded sequence.
    std::string name;
    int mode = 1;
    uint32_t start = 0;
    std::shared_ptr<const Sequence> seq;
    uint64_t generation = 0;
    // A timed node: elapsed and duration, the time up to which elapsed is
    // counted, its two actions. A gesture's duration is its sequence's
    // length, unknown until that is loaded.
    SeqTime elapsed, duration;
    uint32_t clock = 0;
    std::shared_ptr<Node> a, b;
    bool waiting = false;
};
using Action = std::shared_ptr<Node>;

constexpr uint32_t kTransitionMs = 250;
constexpr uint32_t kMaxMoveMs = 10000;
constexpr uint32_t kGestureWaitMs = 10000;  // for its sequence to arrive, else dropped
constexpr int kMaxShiftDepth = 3;
constexpr size_t kMaxJointClumps = 64;

Action placeholder() { return std::make_shared<Node>(); }

Action sequence_action(const std::string& name, int mode, uint32_t start) {
    auto n = std::make_shared<Node>();
    n->type = NodeType::sequence;
    n->name = name;
    n->mode = mode;
    n->start = start;
    return n;
}

const Sequence* resolve(Node& n);

// A timed node from `now`; its sequence starts loading at once.
Action timed(NodeType type, Action a, Action b, uint32_t duration_ms, uint32_t now) {
    auto n = std::make_shared<Node>();
    n->type = type;
    n->a = std::move(a);
    n->b = std::move(b);
    n->duration = SeqTime::of(duration_ms);
    n->clock = now;
    if (n->b->type == NodeType::sequence) resolve(*n->b);
    return n;
}

const Sequence* resolve(Node& n) {
    if (n.generation != g_cache.generation) {
        n.seq.reset();
        n.generation = g_cache.generation;
    }
    if (!n.seq) n.seq = sequence_find(n.name);
    return n.seq.get();
}

// The loop length: the header's, else the last key's time.
uint32_t loop_length(const Sequence& s) {
    if (s.length_ms) return s.length_ms;
    uint32_t last = 0;
    for (const SequenceTrack& t : s.joints)
        if (!t.keys.empty()) last = std::max(last, t.keys.back().time);
    return last;
}

struct Pose {
    JointPose joint[kJointCount + 1];
    uint32_t driven = 0;  // bit n: joint n has a track
};

void blend(Pose& a, const Pose& b, float w, bool only_driven) {
    for (int j = 1; j <= kJointCount; ++j) {
        if (only_driven && !(b.driven >> j & 1)) continue;
        JointPose& p = a.joint[j];
        const JointPose& q = b.joint[j];
        slerp(p.q, q.q, w, p.q);
        for (int i = 0; i < 3; ++i) p.t[i] += (q.t[i] - p.t[i]) * w;
    }
    a.driven |= b.driven;
}

}  // namespace

// ---- Figures ----

struct JointClump {
    RwClump* clump;
    int joint;
    RwMatrix rest;
};

struct Figure {
    RwScene* scene = nullptr;
    int kind = 0;
    bool animated = false;
    model_ref* model = nullptr;
    int type = -1;
    RwClump* posed = nullptr;  // the instance whose joints are listed
    uint64_t posed_serial = 0;
    std::vector<JointClump> joints;
    // The last target, and the move toward it.
    bool has_target = false;
    RwV3 target;
    int target_yaw = 0;
    uint32_t target_ms = 0;
    RwV3 from, to, pos;
    float yaw_from = 0, yaw_to = 0, yaw = 0;
    uint32_t move_start = 0, move_ms = 0;
    float move_distance = 0;
    MotionState motion;
    uint32_t clock_origin = 0;  // mode 1 sequences run on the figure's clock
    Action base = placeholder();
    Action gesture;  // a doaction over `base`, while one plays
    int last_gesture = 0;
};

namespace {

float wrap_degrees(float d) {
    d = std::fmod(d, 360.0f);
    return d < 0 ? d + 360.0f : d;
}

// Where the move puts the figure at `ms`.
void move_at(const Figure& f, uint32_t ms, RwV3& p, float& yaw) {
    float u = 1;
    if (f.move_ms) {
        const int32_t since = int32_t(ms - f.move_start);
        u = std::clamp(float(since) / float(f.move_ms), 0.0f, 1.0f);
    }
    p = f.from + (f.to - f.from) * u;
    yaw = f.yaw_from + (f.yaw_to - f.yaw_from) * u;
}

Action state_action(const Figure& f, int state, uint32_t now) {
    if (state == 1 || state == 2) return placeholder();
    const AvatarEntry* e = registry_entry(f.type);
    const size_t slot = size_t(state - 3);
    if (!e || slot >= e->implicit_sequences.size() || e->implicit_sequences[slot].empty()) return nullptr;
    return sequence_action(e->implicit_sequences[slot], state == 3 ? 2 : 1, now);
}

// Keeps the tree of cross-fades shallow when states change faster than
// they fade: the oldest unfinished fades are cut short.
void trim(Action& n, int depth) {
    if (!n || n->type != NodeType::shiftto) return;
    if (depth >= kMaxShiftDepth) {
        n = n->b;
        return;
    }
    trim(n->a, depth + 1);
}

void shift_to(Figure& f, Action next, uint32_t now) {
    f.base = timed(NodeType::shiftto, f.base, std::move(next), kTransitionMs, now);
    trim(f.base, 0);
}

// Brings a timed node's elapsed time up to `now`; true when it has ended.
bool count(Node& n, uint32_t now) {
    const uint32_t d = now - n.clock;
    if (int32_t(d) > 0) {
        n.elapsed = n.elapsed + SeqTime::of(d);
        n.clock = now;
    }
    return !(n.elapsed < n.duration);
}

// Advances the fades and drops those that have ended.
void tick(Action& n, uint32_t now) {
    if (!n || n->type != NodeType::shiftto) return;
    if (count(*n, now)) {
        n = n->b;
        return;
    }
    tick(n->a, now);
}

void tick_gesture(Figure& f, uint32_t now) {
    Node* g = f.gesture.get();
    if (!g) return;
    if (g->waiting) {
        const Sequence* s = resolve(*g->b);
        const uint32_t length = s ? loop_length(*s) : 0;
        if (s && length) {
            // It plays from when it arrived.
            g->waiting = false;
            g->duration = SeqTime::of(length);
            g->b->start = g->clock = now;
        } else if (s || int32_t(now - g->clock) >= int32_t(kGestureWaitMs)) {
            f.gesture.reset();
        }
        return;
    }
    if (count(*g, now)) f.gesture.reset();
}

void evaluate(Figure& f, Node& n, uint32_t now, Pose& out) {
    switch (n.type) {
    case NodeType::placeholder: return;
    case NodeType::sequence: {
        const Sequence* s = resolve(n);
        if (!s) return;
        const uint32_t length = loop_length(*s);
        uint32_t t = now - (n.mode == 2 ? n.start : f.clock_origin);
        if (int32_t(t) < 0) t = 0;
        if (length) t %= length;
        sequence_sample(*s, t, out.joint);
        out.driven |= s->driven;
        return;
    }
    case NodeType::shiftto: {
        Pose b;
        evaluate(f, *n.a, now, out);
        evaluate(f, *n.b, now, b);
        blend(out, b, shiftto_weight(n.elapsed, n.duration), false);
        return;
    }
    case NodeType::doaction: return;  // a gesture is played over the base in `pose`
    }
}

void list(const Node* n, std::string& out) {
    if (!n) return;
    char t[48];
    switch (n->type) {
    case NodeType::placeholder: out += "(placeholder)"; return;
    case NodeType::sequence: out += "(sequence " + n->name + " " + std::to_string(n->mode) + ")"; return;
    case NodeType::shiftto:
    case NodeType::doaction:
        std::snprintf(t, sizeof t, "(%s t=%.3f ", n->type == NodeType::shiftto ? "shiftto" : "doaction",
                      n->elapsed.seconds());
        out += t;
        list(n->a.get(), out);
        out += " ";
        list(n->b.get(), out);
        out += ")";
        return;
    }
}

// The joints of a newly shown instance and their rest matrices. An
// outermost clump tagged as a joint has its geometry in the model's space
// (its matrix is the figure's place): it turns about the model's origin,
// after the placement.
void find_joints(Figure& f, RwClump* root) {
    f.joints.clear();
    f.posed = root;
    f.posed_serial = root ? root->serial : 0;
    if (!root || f.kind == 0) return;
    rw_clump_for_all(root, [&](RwClump* c) {
        if (c->tag >= 1 && c->tag <= kJointCount) f.joints.push_back({c, c->tag, c == root ? RwMatrix{} : c->matrix});
        return f.joints.size() < kMaxJointClumps;
    });
}

void pose(Figure& f, uint32_t now) {
    RwClump* root = model_clump(f.model);
    if (root != f.posed || (root && root->serial != f.posed_serial)) find_joints(f, root);
    if (f.joints.empty()) return;
    Pose p;
    evaluate(f, *f.base, now, p);
    if (Node* g = f.gesture.get(); g && !g->waiting) {
        Pose b;
        const Sequence* s = resolve(*g->b);
        if (s) {
            uint32_t t = now - g->b->start;
            if (int32_t(t) < 0) t = 0;
            sequence_sample(*s, std::min(t, loop_length(*s)), b.joint);
            b.driven = s->driven;
            blend(p, b, doaction_weight(g->elapsed, g->duration), true);
        }
    }
    for (const JointClump& j : f.joints) {
        const JointPose& jp = p.joint[j.joint];
        const RwMatrix m = matrix_translation(jp.t[0], jp.t[1], jp.t[2]) * j.rest * quaternion_matrix(jp.q);
        // The root was placed afresh by this advance.
        rw_clump_transform(j.clump, m, j.clump == root ? RwCombine::preconcat : RwCombine::replace);
    }
}

void load_model(Figure& f, int type) {
    model_dereference(f.model);
    f.model = nullptr;
    f.joints.clear();
    f.posed = nullptr;
    f.type = type;
    const std::string file = registry_model_file(type);
    if (!file.empty()) f.model = model_reference("avatars", file, f.scene);
}

}  // namespace

int joint_number(std::string_view name) {
    for (int i = 0; i < kJointCount; ++i)
        if (equal_ignoring_case(name, kJoints[i])) return i + 1;
    return 0;
}

const char* joint_name(int number) { return number >= 1 && number <= kJointCount ? kJoints[number - 1] : ""; }

bool sequence_parse(const uint8_t* data, size_t size, Sequence* out) {
    if (!data || !out || size > kSequenceMaxFile) return false;
    Reader r(data, size);
    Sequence& s = *out;
    uint32_t tracks;
    uint16_t rate = 0;
    const bool head = r.u32(s.length_ms) && r.u16(rate);
    s.rate = int16_t(rate);
    if (!head || s.rate <= 0 || !r.u32(tracks) || tracks == 0 ||
        tracks > kSequenceMaxTracks || !r.string(s.name) || !r.string(s.skeleton))
        return false;
    s.joints.assign(tracks, {});
    for (SequenceTrack& t : s.joints) {
        if (!r.string(t.joint) || !read_keys(r, t)) return false;
        t.joint_number = joint_number(t.joint);
    }
    if (!r.u32(s.extra_tracks) || s.extra_tracks > kSequenceMaxTracks) return false;
    for (uint32_t i = 0; i < s.extra_tracks; ++i) {
        SequenceTrack ignored;
        if (!read_keys(r, ignored)) return false;
    }
    std::stable_sort(s.joints.begin(), s.joints.end(),
                     [](const SequenceTrack& a, const SequenceTrack& b) { return a.joint_number < b.joint_number; });
    std::fill(std::begin(s.rotation), std::end(s.rotation), int8_t(-1));
    std::fill(std::begin(s.translation), std::end(s.translation), int8_t(-1));
    for (size_t i = 0; i < s.joints.size(); ++i) {
        const SequenceTrack& t = s.joints[i];
        int8_t* slot = t.key_size == 16 ? s.rotation : t.key_size == 12 ? s.translation : nullptr;
        if (slot && t.joint_number > 0 && slot[t.joint_number] < 0) slot[t.joint_number] = int8_t(i);
        if (slot && t.joint_number > 0) s.driven |= 1u << t.joint_number;
    }
    return true;
}

void sequence_sample(const Sequence& s, uint32_t ms, JointPose pose[kJointCount + 1]) {
    for (int j = 0; j <= kJointCount; ++j) {
        pose[j] = JointPose{};
        if (j == 0) continue;
        if (s.rotation[j] >= 0) sample(s.joints[size_t(s.rotation[j])], ms, pose[j], true);
        if (s.translation[j] >= 0) sample(s.joints[size_t(s.translation[j])], ms, pose[j], false);
    }
}

float shiftto_weight(SeqTime elapsed, SeqTime duration) {
    const double d = duration.seconds();
    return d <= 0 ? 1.0f : float(std::clamp(elapsed.seconds() / d, 0.0, 1.0));
}

float doaction_weight(SeqTime elapsed, SeqTime duration) {
    const double d = duration.seconds();
    if (d <= 0) return 0;
    const double u = std::clamp(elapsed.seconds() / d, 0.0, 1.0);
    return float(std::clamp(8 * u * (1 - u), 0.0, 1.0));
}

bool motion_step(MotionState& m, Motion input, uint32_t now) {
    const uint32_t since = now - m.since;
    int next = m.state;
    if (input == Motion::moving) {
        next = 3;
    } else if (input == Motion::turning) {
        next = 2;
    } else {
        switch (m.state) {
        case 1: next = since >= 10000 ? 4 : 1; break;
        case 2: next = 1; break;
        case 3: next = 4; break;
        case 4: next = since >= 30000 ? 5 : 4; break;
        case 5: next = since >= 10000 ? 4 : 5; break;
        default: break;
        }
    }
    if (next == m.state) return false;
    m.state = next;
    m.since = now;
    return true;
}

void sequencer_reset(const std::string& art_directory) {
    g_cache.by_name.clear();
    g_cache.by_id.clear();
    g_cache.bytes = 0;
    ++g_cache.generation;
    g_cache.dir = art_directory;
}

std::shared_ptr<const Sequence> sequence_find(const std::string& given) {
    const std::string name = lower_case(given);
    auto it = g_cache.by_name.find(name);
    if (it == g_cache.by_name.end()) {
        // The name becomes a file name and a URL: refused unless it is its own cache file name.
        if (name.empty() || name.size() > kMaxSequenceName || file_name_from_url(name) != name ||
            g_cache.by_name.size() >= kMaxSequences)
            return nullptr;
        auto e = std::make_unique<CacheEntry>();
        e->id = g_cache.next_id++;
        e->name = name;
        g_cache.by_id[e->id] = e.get();
        it = g_cache.by_name.emplace(name, std::move(e)).first;
        try_load(*it->second);
    } else if (!it->second->seq && !it->second->failed && !it->second->requested &&
               clock_ms() - it->second->last_try >= kRetryMs) {
        try_load(*it->second);
    }
    return it->second->seq;
}

size_t sequence_cache_size() { return g_cache.by_name.size(); }

Figure* figure_create(RwScene* scene, int kind, bool animated) {
    auto* f = new Figure;
    f->scene = scene;
    f->kind = kind;
    f->animated = animated;
    return f;
}

void figure_destroy(Figure* f) {
    if (!f) return;
    model_dereference(f->model);
    delete f;
}

void figure_set_target(Figure* f, float x, float y, float z, int yaw_degrees, uint32_t ms, int avatar_type,
                       int gesture) {
    if (!f || !std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) return;
    const bool new_type = avatar_type != f->type;
    if (new_type) load_model(*f, avatar_type);
    const RwV3 p{x, y, z};
    const int yaw = int(wrap_degrees(float(yaw_degrees % 360)));
    Motion input = Motion::still;
    if (!f->has_target) {
        f->has_target = true;
        f->from = f->to = f->pos = p;
        f->yaw_from = f->yaw_to = f->yaw = float(yaw);
        f->move_start = ms;
        f->move_ms = 0;
        f->clock_origin = ms;
    } else {
        const bool moved = p.x != f->target.x || p.y != f->target.y || p.z != f->target.z;
        input = moved ? Motion::moving : yaw != f->target_yaw ? Motion::turning : Motion::still;
        if (input != Motion::still) {
            // From where the figure is along its current move, straight on
            // to the new place, the turn the short way round.
            move_at(*f, ms, f->from, f->yaw_from);
            const uint32_t d = ms - f->target_ms;
            f->move_ms = int32_t(d) < 0 ? 0 : std::min(d, kMaxMoveMs);
            f->move_start = ms;
            f->to = p;
            float turn = std::fmod(float(yaw) - f->yaw_from, 360.0f);
            if (turn > 180) turn -= 360;
            if (turn <= -180) turn += 360;
            f->yaw_to = f->yaw_from + turn;
            f->move_distance = length(f->to - f->from);
        }
    }
    f->target = p;
    f->target_yaw = yaw;
    f->target_ms = ms;
    if (!f->animated) {
        f->last_gesture = gesture;
        return;
    }
    // The first target finds the figure standing, as it was made.
    bool changed = false;
    if (f->motion.state == 0) f->motion = {1, ms};
    else changed = motion_step(f->motion, input, ms);
    // A new type's actions replace the old type's at once.
    if (changed || (new_type && f->motion.state >= 3))
        if (Action next = state_action(*f, f->motion.state, ms)) shift_to(*f, std::move(next), ms);
    if (gesture != f->last_gesture) {
        f->last_gesture = gesture;
        const AvatarEntry* e = registry_entry(f->type);
        if (gesture > 0 && e && size_t(gesture) <= e->explicit_sequences.size() &&
            !e->explicit_sequences[size_t(gesture - 1)].empty()) {
            f->gesture = timed(NodeType::doaction, nullptr,
                               sequence_action(e->explicit_sequences[size_t(gesture - 1)], 1, ms), 0, ms);
            f->gesture->waiting = true;
            tick_gesture(*f, ms);
        }
    }
}

void figure_advance(Figure* f, uint32_t ms) {
    if (!f || !f->has_target) return;
    move_at(*f, ms, f->pos, f->yaw);
    tick(f->base, ms);
    tick_gesture(*f, ms);
    model_place(f->model, f->pos.x, f->pos.y, f->pos.z, wrap_degrees(f->yaw));
    pose(*f, ms);
}

void figure_position(const Figure* f, float* x, float* y, float* z) {
    const RwV3 p = f ? f->pos : RwV3{};
    if (x) *x = p.x;
    if (y) *y = p.y;
    if (z) *z = p.z;
}

float figure_yaw(const Figure* f) { return f ? wrap_degrees(f->yaw) : 0; }
model_ref* figure_model(const Figure* f) { return f ? f->model : nullptr; }
RwClump* figure_clump(const Figure* f) { return f ? model_clump(f->model) : nullptr; }
int figure_state(const Figure* f) { return f ? f->motion.state : 0; }

std::string figure_actions(const Figure* f) {
    if (!f) return {};
    std::string out;
    if (f->gesture) {
        char t[48];
        std::snprintf(t, sizeof t, "(doaction t=%.3f ", f->gesture->elapsed.seconds());
        out += t;
        list(f->base.get(), out);
        out += " ";
        list(f->gesture->b.get(), out);
        out += ")";
    } else {
        list(f->base.get(), out);
    }
    return out;
}

}  // namespace zk
