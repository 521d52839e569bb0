#include "render/math.h"

namespace zk {

RwMatrix operator*(const RwMatrix& a, const RwMatrix& b) {
    RwMatrix r;
    for (int c = 0; c < 4; ++c)
        for (int row = 0; row < 4; ++row) {
            float s = 0;
            for (int k = 0; k < 4; ++k) s += a.at(row, k) * b.at(k, c);
            r.at(row, c) = s;
        }
    return r;
}

RwV3 transform_point(const RwMatrix& m, RwV3 p) {
    return {m.at(0, 0) * p.x + m.at(0, 1) * p.y + m.at(0, 2) * p.z + m.at(0, 3),
            m.at(1, 0) * p.x + m.at(1, 1) * p.y + m.at(1, 2) * p.z + m.at(1, 3),
            m.at(2, 0) * p.x + m.at(2, 1) * p.y + m.at(2, 2) * p.z + m.at(2, 3)};
}

RwV3 transform_vector(const RwMatrix& m, RwV3 v) {
    return {m.at(0, 0) * v.x + m.at(0, 1) * v.y + m.at(0, 2) * v.z,
            m.at(1, 0) * v.x + m.at(1, 1) * v.y + m.at(1, 2) * v.z,
            m.at(2, 0) * v.x + m.at(2, 1) * v.y + m.at(2, 2) * v.z};
}

RwMatrix matrix_translation(float x, float y, float z) {
    RwMatrix r;
    r.at(0, 3) = x;
    r.at(1, 3) = y;
    r.at(2, 3) = z;
    return r;
}

RwMatrix matrix_scale(float x, float y, float z) {
    RwMatrix r;
    r.at(0, 0) = x;
    r.at(1, 1) = y;
    r.at(2, 2) = z;
    return r;
}

RwMatrix matrix_rotation(RwV3 axis, float degrees) {
    RwV3 a = normalize(axis);
    RwMatrix r;
    if (a.x == 0 && a.y == 0 && a.z == 0) return r;
    const float rad = degrees * 0.017453292519943295f;
    const float c = std::cos(rad), s = std::sin(rad), t = 1 - c;
    r.at(0, 0) = t * a.x * a.x + c;
    r.at(0, 1) = t * a.x * a.y - s * a.z;
    r.at(0, 2) = t * a.x * a.z + s * a.y;
    r.at(1, 0) = t * a.x * a.y + s * a.z;
    r.at(1, 1) = t * a.y * a.y + c;
    r.at(1, 2) = t * a.y * a.z - s * a.x;
    r.at(2, 0) = t * a.x * a.z - s * a.y;
    r.at(2, 1) = t * a.y * a.z + s * a.x;
    r.at(2, 2) = t * a.z * a.z + c;
    return r;
}

RwMatrix matrix_inverse(const RwMatrix& mat) {
    const float* m = mat.m;
    float inv[16];
    inv[0] = m[5] * m[10] * m[15] - m[5] * m[11] * m[14] - m[9] * m[6] * m[15] + m[9] * m[7] * m[14] +
             m[13] * m[6] * m[11] - m[13] * m[7] * m[10];
    inv[4] = -m[4] * m[10] * m[15] + m[4] * m[11] * m[14] + m[8] * m[6] * m[15] - m[8] * m[7] * m[14] -
             m[12] * m[6] * m[11] + m[12] * m[7] * m[10];
    inv[8] = m[4] * m[9] * m[15] - m[4] * m[11] * m[13] - m[8] * m[5] * m[15] + m[8] * m[7] * m[13] +
             m[12] * m[5] * m[11] - m[12] * m[7] * m[9];
    inv[12] = -m[4] * m[9] * m[14] + m[4] * m[10] * m[13] + m[8] * m[5] * m[14] - m[8] * m[6] * m[13] -
              m[12] * m[5] * m[10] + m[12] * m[6] * m[9];
    inv[1] = -m[1] * m[10] * m[15] + m[1] * m[11] * m[14] + m[9] * m[2] * m[15] - m[9] * m[3] * m[14] -
             m[13] * m[2] * m[11] + m[13] * m[3] * m[10];
    inv[5] = m[0] * m[10] * m[15] - m[0] * m[11] * m[14] - m[8] * m[2] * m[15] + m[8] * m[3] * m[14] +
             m[12] * m[2] * m[11] - m[12] * m[3] * m[10];
    inv[9] = -m[0] * m[9] * m[15] + m[0] * m[11] * m[13] + m[8] * m[1] * m[15] - m[8] * m[3] * m[13] -
             m[12] * m[1] * m[11] + m[12] * m[3] * m[9];
    inv[13] = m[0] * m[9] * m[14] - m[0] * m[10] * m[13] - m[8] * m[1] * m[14] + m[8] * m[2] * m[13] +
              m[12] * m[1] * m[10] - m[12] * m[2] * m[9];
    inv[2] = m[1] * m[6] * m[15] - m[1] * m[7] * m[14] - m[5] * m[2] * m[15] + m[5] * m[3] * m[14] +
             m[13] * m[2] * m[7] - m[13] * m[3] * m[6];
    inv[6] = -m[0] * m[6] * m[15] + m[0] * m[7] * m[14] + m[4] * m[2] * m[15] - m[4] * m[3] * m[14] -
             m[12] * m[2] * m[7] + m[12] * m[3] * m[6];
    inv[10] = m[0] * m[5] * m[15] - m[0] * m[7] * m[13] - m[4] * m[1] * m[15] + m[4] * m[3] * m[13] +
              m[12] * m[1] * m[7] - m[12] * m[3] * m[5];
    inv[14] = -m[0] * m[5] * m[14] + m[0] * m[6] * m[13] + m[4] * m[1] * m[14] - m[4] * m[2] * m[13] -
              m[12] * m[1] * m[6] + m[12] * m[2] * m[5];
    inv[3] = -m[1] * m[6] * m[11] + m[1] * m[7] * m[10] + m[5] * m[2] * m[11] - m[5] * m[3] * m[10] -
             m[9] * m[2] * m[7] + m[9] * m[3] * m[6];
    inv[7] = m[0] * m[6] * m[11] - m[0] * m[7] * m[10] - m[4] * m[2] * m[11] + m[4] * m[3] * m[10] +
             m[8] * m[2] * m[7] - m[8] * m[3] * m[6];
    inv[11] = -m[0] * m[5] * m[11] + m[0] * m[7] * m[9] + m[4] * m[1] * m[11] - m[4] * m[3] * m[9] -
              m[8] * m[1] * m[7] + m[8] * m[3] * m[5];
    inv[15] = m[0] * m[5] * m[10] - m[0] * m[6] * m[9] - m[4] * m[1] * m[10] + m[4] * m[2] * m[9] +
              m[8] * m[1] * m[6] - m[8] * m[2] * m[5];
    float det = m[0] * inv[0] + m[1] * inv[4] + m[2] * inv[8] + m[3] * inv[12];
    RwMatrix r;
    if (!(std::fabs(det) > 1e-30f)) return r;
    det = 1.0f / det;
    for (int i = 0; i < 16; ++i) r.m[i] = inv[i] * det;
    return r;
}

bool matrix_finite(const RwMatrix& m) {
    for (float v : m.m)
        if (!std::isfinite(v)) return false;
    return true;
}

RwMatrix matrix_look_at(RwV3 eye, RwV3 target, RwV3 up) {
    RwV3 z = normalize(target - eye);
    if (length(z) == 0) z = {0, 0, 1};
    RwV3 x = normalize(cross(up, z));
    if (length(x) == 0) x = normalize(cross(RwV3{0, 0, 1}, z));
    if (length(x) == 0) x = {1, 0, 0};
    RwV3 y = cross(z, x);
    RwMatrix r;
    r.at(0, 0) = x.x; r.at(1, 0) = x.y; r.at(2, 0) = x.z;
    r.at(0, 1) = y.x; r.at(1, 1) = y.y; r.at(2, 1) = y.z;
    r.at(0, 2) = z.x; r.at(1, 2) = z.y; r.at(2, 2) = z.z;
    r.at(0, 3) = eye.x; r.at(1, 3) = eye.y; r.at(2, 3) = eye.z;
    return r;
}

}  // namespace zk
