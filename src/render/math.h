// Vectors and 4x4 transforms of the rendering library. Matrices are column
// major and act on column vectors (p' = M p), as OpenGL expects them.
#pragma once

#include <cmath>

namespace zk {

struct RwV3 {
    float x = 0, y = 0, z = 0;
};

inline RwV3 operator+(RwV3 a, RwV3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline RwV3 operator-(RwV3 a, RwV3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline RwV3 operator*(RwV3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
inline float dot(RwV3 a, RwV3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline RwV3 cross(RwV3 a, RwV3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline float length(RwV3 a) { return std::sqrt(dot(a, a)); }
inline RwV3 normalize(RwV3 a) {
    float l = length(a);
    return l > 1e-20f ? a * (1.0f / l) : RwV3{0, 0, 0};
}

struct RwMatrix {
    float m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    float& at(int row, int col) { return m[col * 4 + row]; }
    float at(int row, int col) const { return m[col * 4 + row]; }
};

RwMatrix operator*(const RwMatrix& a, const RwMatrix& b);
RwV3 transform_point(const RwMatrix& m, RwV3 p);
RwV3 transform_vector(const RwMatrix& m, RwV3 v);

RwMatrix matrix_translation(float x, float y, float z);
RwMatrix matrix_scale(float x, float y, float z);
// Right-handed rotation about an axis through the origin, in degrees.
RwMatrix matrix_rotation(RwV3 axis, float degrees);
// General inverse; the identity when the matrix is singular.
RwMatrix matrix_inverse(const RwMatrix& m);
bool matrix_finite(const RwMatrix& m);

// A transform that puts an object at `eye` with its +z axis towards
// `target` and its +y axis as close to `up` as possible.
RwMatrix matrix_look_at(RwV3 eye, RwV3 target, RwV3 up);

}  // namespace zk
