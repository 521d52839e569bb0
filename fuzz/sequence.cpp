// A sequence file as the sequencer reads it; what it accepts must sample to
// finite poses anywhere in it and past it.
#include <cmath>
#include <cstdint>

#include "people/sequencer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zk::Sequence s;
    if (!zk::sequence_parse(data, size, &s)) return 0;
    if (s.joints.empty() || s.joints.size() > zk::kSequenceMaxTracks || s.rate <= 0) __builtin_trap();
    for (size_t i = 0; i < s.joints.size(); ++i) {
        const zk::SequenceTrack& t = s.joints[i];
        if (i && t.joint_number < s.joints[i - 1].joint_number) __builtin_trap();
        for (size_t k = 1; k < t.keys.size(); ++k)
            if (t.keys[k].time < t.keys[k - 1].time) __builtin_trap();
    }
    zk::JointPose pose[zk::kJointCount + 1];
    for (uint32_t ms : {0u, 1u, s.length_ms / 2, s.length_ms, 0xffffffffu}) {
        zk::sequence_sample(s, ms, pose);
        for (const zk::JointPose& p : pose) {
            const float n = p.q[0] * p.q[0] + p.q[1] * p.q[1] + p.q[2] * p.q[2] + p.q[3] * p.q[3];
            if (!(std::fabs(n - 1) < 1e-3f)) __builtin_trap();
            for (float v : p.t)
                if (!std::isfinite(v)) __builtin_trap();
        }
    }
    return 0;
}
