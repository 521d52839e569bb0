// The animation sequencer: figures (the avatars on screen) moved smoothly
// from one reported place to the next and posed by sequences, the recorded
// motions of their joints.
//
// Sequence files ("seqs/<name>.seq" under the art directory, fetched when
// missing as "seqs/<name>.zip" holding the one member "<name>.seq") are
// big-endian throughout; strings are a u16 length and that many bytes:
//   u32 length        the sequence's length in milliseconds
//   i16 rate          keys a second it was sampled at (> 0, informative)
//   u32 tracks        joint tracks (> 0)
//   string name       the sequence's own name
//   string skeleton   the skeleton it was made for (informative)
//   tracks x { string joint; key list }
//   u32 extra         tracks without a joint (read and ignored)
//   extra x key list
// A key list is u32 key size (4, 12 or 16), u32 count, then count keys, each
// a u32 time (ms from the start, ascending; one out of order counts as the
// time before it) and 1, 3 or 4 floats. 16-byte keys are the joint's
// rotation from its rest pose as a quaternion (w, x, y, z), normalised when
// used (zero is no turn); 12-byte keys a translation (x, y, z) in world units
// added to the joint's rest position; 4-byte keys a scalar, read and ignored.
// Rotations are slerped between keys, translations interpolated linearly;
// before the first key the first holds, after the last the last.
// Bounds: 1 MiB a file, 64 joint and 64 extra tracks, 4,096 keys a track;
// a file over any of them, or cut short, is refused whole.
//
// Figure models are .rwx shapes in the "avatars" folder whose parts are
// nested clumps; a clump other than the outermost whose clump-level Tag is
// 1..30 is that joint, and turns about the pivot that its Translate before
// its geometry sets (see render/rwx.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zk {

struct RwScene;
struct RwClump;
struct model_ref;
struct Figure;

constexpr int kJointCount = 30;
// The joint a part of a figure is named after, 1..30; 0 for other names.
int joint_number(std::string_view name);
const char* joint_name(int number);  // "" outside 1..30

constexpr size_t kSequenceMaxFile = 1u << 20;
constexpr uint32_t kSequenceMaxTracks = 64;   // joint tracks, and extra tracks
constexpr uint32_t kSequenceMaxKeys = 4096;   // a track

struct SequenceKey {
    uint32_t time = 0;
    float value[4] = {0, 0, 0, 0};
};
struct SequenceTrack {
    std::string joint;
    int joint_number = 0;
    uint32_t key_size = 0;  // 4, 12 or 16
    std::vector<SequenceKey> keys;
};
struct Sequence {
    uint32_t length_ms = 0;
    int16_t rate = 0;
    std::string name, skeleton;
    std::vector<SequenceTrack> joints;  // by ascending joint number
    uint32_t extra_tracks = 0;
    // Per joint number, the first rotation and translation track (-1 none).
    int8_t rotation[kJointCount + 1], translation[kJointCount + 1];
    uint32_t driven = 0;  // bit n: joint n has a rotation or translation track
};

// Reads a whole sequence file; false (leaving `out` unspecified) when it is
// damaged, cut short or over a bound.
bool sequence_parse(const uint8_t* data, size_t size, Sequence* out);

// A joint's pose: rotation (w, x, y, z) from its rest pose and translation.
struct JointPose {
    float q[4] = {1, 0, 0, 0};
    float t[3] = {0, 0, 0};
};
// The pose of each joint (index = joint number) `ms` into the sequence,
// which is not wrapped here; joints without a track keep the rest pose.
void sequence_sample(const Sequence& s, uint32_t ms, JointPose pose[kJointCount + 1]);

// Time values of the action nodes: whole seconds and milliseconds.
struct SeqTime {
    uint32_t s = 0, ms = 0;
    static SeqTime of(uint32_t ms) { return {ms / 1000, ms % 1000}; }
    SeqTime operator+(SeqTime o) const {
        const uint32_t m = ms + o.ms;
        return {s + o.s + m / 1000, m % 1000};
    }
    bool operator<(SeqTime o) const { return s != o.s ? s < o.s : ms < o.ms; }
    double seconds() const { return s + ms / 1000.0; }
};
// The weight of a timed node's second action after `elapsed` of `duration`:
// a cross-fade from the first action, and a gesture that fades in and out.
float shiftto_weight(SeqTime elapsed, SeqTime duration);
float doaction_weight(SeqTime elapsed, SeqTime duration);

// The motion state machine, fed once a target: 1 standing, 2 turning,
// 3 walking, 4 waiting, 5 ending a wait; 0 before the first target.
enum class Motion { still, turning, moving };
struct MotionState {
    int state = 0;
    uint32_t since = 0;  // ms of the last change
};
// True when the state changed.
bool motion_step(MotionState& m, Motion input, uint32_t now);

// Forgets every loaded sequence and remembers the art directory.
void sequencer_reset(const std::string& art_directory);
// The named sequence once loaded, else null, starting its load: from the
// art directory, else through the download manager (retried every few
// seconds while no request can be made). Names are lower-cased; a name
// that is not a plain file name is refused.
std::shared_ptr<const Sequence> sequence_find(const std::string& name);
size_t sequence_cache_size();

// Figures. `kind` 3 for other users, 1 for the own figure; 0 is not jointed.
Figure* figure_create(RwScene* scene, int kind, bool animated);
void figure_destroy(Figure* f);
// A new place to be at `ms` (the time of the report), with the avatar type
// (its model and actions) and the gesture (0 none, n the type's n-th).
void figure_set_target(Figure* f, float x, float y, float z, int yaw_degrees, uint32_t ms, int avatar_type,
                       int gesture);
// Moves the figure along its move and its actions to `ms`, places its model
// and poses its joints.
void figure_advance(Figure* f, uint32_t ms);
void figure_position(const Figure* f, float* x, float* y, float* z);
float figure_yaw(const Figure* f);  // degrees, 0 <= yaw < 360
model_ref* figure_model(const Figure* f);
RwClump* figure_clump(const Figure* f);  // the posed model instance, for picking and drawing
int figure_state(const Figure* f);
// The action tree, e.g. "(doaction t=0.250 (sequence walk 2) (sequence wave 1))".
std::string figure_actions(const Figure* f);

}  // namespace zk
