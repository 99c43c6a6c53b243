// The D3DX matrix, quaternion and vector routines.  Every routine computes
// its result into locals first, so the output may be one of the inputs.
#include "zvd3dx9math.h"

#include <cmath>
#include <cstring>

namespace {

inline void Store(D3DXMATRIX* out, const float (&r)[4][4]) { std::memcpy(out->m, r, sizeof(r)); }

inline void SetRows(D3DXMATRIX* out, float a11, float a12, float a13, float a14, float a21, float a22,
                    float a23, float a24, float a31, float a32, float a33, float a34, float a41, float a42,
                    float a43, float a44) {
    const float r[4][4] = {
        {a11, a12, a13, a14}, {a21, a22, a23, a24}, {a31, a32, a33, a34}, {a41, a42, a43, a44}};
    Store(out, r);
}

struct V3 {
    float x, y, z;
};

inline V3 Sub(const D3DXVECTOR3& a, const D3DXVECTOR3& b) { return V3{a.x - b.x, a.y - b.y, a.z - b.z}; }
inline V3 Cross(const V3& a, const V3& b) {
    return V3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline float Dot(const V3& a, const D3DXVECTOR3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
// A zero vector stays zero.
inline V3 Normalized(const V3& v) {
    const float len = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    if (len == 0.0f) return V3{0.0f, 0.0f, 0.0f};
    return V3{v.x / len, v.y / len, v.z / len};
}

}  // namespace

D3DXMATRIX* D3DXMatrixIdentity(D3DXMATRIX* out) {
    SetRows(out, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
    return out;
}

D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* a, const D3DXMATRIX* b) {
    float r[4][4];
    for (int i = 0; i < 4; ++i) {
        const float ai0 = a->m[i][0], ai1 = a->m[i][1], ai2 = a->m[i][2], ai3 = a->m[i][3];
        for (int j = 0; j < 4; ++j)
            r[i][j] = ai0 * b->m[0][j] + ai1 * b->m[1][j] + ai2 * b->m[2][j] + ai3 * b->m[3][j];
    }
    Store(out, r);
    return out;
}

D3DXMATRIX* D3DXMatrixScaling(D3DXMATRIX* out, float sx, float sy, float sz) {
    SetRows(out, sx, 0, 0, 0, 0, sy, 0, 0, 0, 0, sz, 0, 0, 0, 0, 1);
    return out;
}

D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* out, float x, float y, float z) {
    SetRows(out, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1);
    return out;
}

// Rotations turn clockwise when looking down the axis towards the origin
// (left-handed); for a row vector the sine sits above the diagonal.
D3DXMATRIX* D3DXMatrixRotationX(D3DXMATRIX* out, float angle) {
    const float c = std::cos(angle), s = std::sin(angle);
    SetRows(out, 1, 0, 0, 0, 0, c, s, 0, 0, -s, c, 0, 0, 0, 0, 1);
    return out;
}

D3DXMATRIX* D3DXMatrixRotationY(D3DXMATRIX* out, float angle) {
    const float c = std::cos(angle), s = std::sin(angle);
    SetRows(out, c, 0, -s, 0, 0, 1, 0, 0, s, 0, c, 0, 0, 0, 0, 1);
    return out;
}

D3DXMATRIX* D3DXMatrixRotationZ(D3DXMATRIX* out, float angle) {
    const float c = std::cos(angle), s = std::sin(angle);
    SetRows(out, c, s, 0, 0, -s, c, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
    return out;
}

// The axis is normalised first; about a coordinate axis this equals the
// matching RotationX/Y/Z.
D3DXMATRIX* D3DXMatrixRotationAxis(D3DXMATRIX* out, const D3DXVECTOR3* axis, float angle) {
    const V3 v = Normalized(V3{axis->x, axis->y, axis->z});
    const float c = std::cos(angle), s = std::sin(angle), t = 1.0f - c;
    SetRows(out,
            t * v.x * v.x + c, t * v.x * v.y + s * v.z, t * v.x * v.z - s * v.y, 0,
            t * v.x * v.y - s * v.z, t * v.y * v.y + c, t * v.y * v.z + s * v.x, 0,
            t * v.x * v.z + s * v.y, t * v.y * v.z - s * v.x, t * v.z * v.z + c, 0,
            0, 0, 0, 1);
    return out;
}

// The quaternion is taken as it is (not normalised).
D3DXMATRIX* D3DXMatrixRotationQuaternion(D3DXMATRIX* out, const D3DXQUATERNION* q) {
    const float x = q->x, y = q->y, z = q->z, w = q->w;
    SetRows(out,
            1.0f - 2.0f * (y * y + z * z), 2.0f * (x * y + z * w), 2.0f * (x * z - y * w), 0,
            2.0f * (x * y - z * w), 1.0f - 2.0f * (x * x + z * z), 2.0f * (y * z + x * w), 0,
            2.0f * (x * z + y * w), 2.0f * (y * z - x * w), 1.0f - 2.0f * (x * x + y * y), 0,
            0, 0, 0, 1);
    return out;
}

// View matrix: the camera's right, up and forward axes in the columns, the
// eye moved to the origin.
D3DXMATRIX* D3DXMatrixLookAtLH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at,
                               const D3DXVECTOR3* up) {
    const V3 zaxis = Normalized(Sub(*at, *eye));
    const V3 xaxis = Normalized(Cross(V3{up->x, up->y, up->z}, zaxis));
    const V3 yaxis = Cross(zaxis, xaxis);
    SetRows(out,
            xaxis.x, yaxis.x, zaxis.x, 0,
            xaxis.y, yaxis.y, zaxis.y, 0,
            xaxis.z, yaxis.z, zaxis.z, 0,
            -Dot(xaxis, *eye), -Dot(yaxis, *eye), -Dot(zaxis, *eye), 1);
    return out;
}

// Depth maps the near plane to 0 and the far plane to 1; w' = view z.
D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* out, float fovy, float aspect, float zn, float zf) {
    const float yscale = 1.0f / std::tan(fovy * 0.5f);
    const float xscale = yscale / aspect;
    const float q = zf / (zf - zn);
    SetRows(out, xscale, 0, 0, 0, 0, yscale, 0, 0, 0, 0, q, 1, 0, 0, -zn * q, 0);
    return out;
}

D3DXMATRIX* D3DXMatrixTranspose(D3DXMATRIX* out, const D3DXMATRIX* m) {
    float r[4][4];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) r[i][j] = m->m[j][i];
    Store(out, r);
    return out;
}

// Inverse by cofactors in double precision.  A zero determinant leaves *out
// untouched and returns null.
D3DXMATRIX* D3DXMatrixInverse(D3DXMATRIX* out, float* determinant, const D3DXMATRIX* m) {
    double a[16];
    for (int i = 0; i < 16; ++i) a[i] = m->m[i / 4][i % 4];

    // 2x2 minors of the lower two rows and of the upper two rows.
    const double s0 = a[0] * a[5] - a[4] * a[1];
    const double s1 = a[0] * a[6] - a[4] * a[2];
    const double s2 = a[0] * a[7] - a[4] * a[3];
    const double s3 = a[1] * a[6] - a[5] * a[2];
    const double s4 = a[1] * a[7] - a[5] * a[3];
    const double s5 = a[2] * a[7] - a[6] * a[3];
    const double c5 = a[10] * a[15] - a[14] * a[11];
    const double c4 = a[9] * a[15] - a[13] * a[11];
    const double c3 = a[9] * a[14] - a[13] * a[10];
    const double c2 = a[8] * a[15] - a[12] * a[11];
    const double c1 = a[8] * a[14] - a[12] * a[10];
    const double c0 = a[8] * a[13] - a[12] * a[9];

    const double det = s0 * c5 - s1 * c4 + s2 * c3 + s3 * c2 - s4 * c1 + s5 * c0;
    if (determinant) *determinant = (float)det;
    if (det == 0.0 || !std::isfinite(det)) return nullptr;
    const double inv = 1.0 / det;

    float r[4][4];
    r[0][0] = (float)((a[5] * c5 - a[6] * c4 + a[7] * c3) * inv);
    r[0][1] = (float)((-a[1] * c5 + a[2] * c4 - a[3] * c3) * inv);
    r[0][2] = (float)((a[13] * s5 - a[14] * s4 + a[15] * s3) * inv);
    r[0][3] = (float)((-a[9] * s5 + a[10] * s4 - a[11] * s3) * inv);
    r[1][0] = (float)((-a[4] * c5 + a[6] * c2 - a[7] * c1) * inv);
    r[1][1] = (float)((a[0] * c5 - a[2] * c2 + a[3] * c1) * inv);
    r[1][2] = (float)((-a[12] * s5 + a[14] * s2 - a[15] * s1) * inv);
    r[1][3] = (float)((a[8] * s5 - a[10] * s2 + a[11] * s1) * inv);
    r[2][0] = (float)((a[4] * c4 - a[5] * c2 + a[7] * c0) * inv);
    r[2][1] = (float)((-a[0] * c4 + a[1] * c2 - a[3] * c0) * inv);
    r[2][2] = (float)((a[12] * s4 - a[13] * s2 + a[15] * s0) * inv);
    r[2][3] = (float)((-a[8] * s4 + a[9] * s2 - a[11] * s0) * inv);
    r[3][0] = (float)((-a[4] * c3 + a[5] * c1 - a[6] * c0) * inv);
    r[3][1] = (float)((a[0] * c3 - a[1] * c1 + a[2] * c0) * inv);
    r[3][2] = (float)((-a[12] * s3 + a[13] * s1 - a[14] * s0) * inv);
    r[3][3] = (float)((a[8] * s3 - a[9] * s1 + a[10] * s0) * inv);
    Store(out, r);
    return out;
}

// Rotation a followed by rotation b: the Hamilton product b * a.
D3DXQUATERNION* D3DXQuaternionMultiply(D3DXQUATERNION* out, const D3DXQUATERNION* a,
                                       const D3DXQUATERNION* b) {
    const float ax = a->x, ay = a->y, az = a->z, aw = a->w;
    const float bx = b->x, by = b->y, bz = b->z, bw = b->w;
    out->x = bw * ax + bx * aw + by * az - bz * ay;
    out->y = bw * ay - bx * az + by * aw + bz * ax;
    out->z = bw * az + bx * ay - by * ax + bz * aw;
    out->w = bw * aw - bx * ax - by * ay - bz * az;
    return out;
}

D3DXVECTOR4* D3DXVec4Transform(D3DXVECTOR4* out, const D3DXVECTOR4* v, const D3DXMATRIX* m) {
    const float x = v->x, y = v->y, z = v->z, w = v->w;
    out->x = x * m->_11 + y * m->_21 + z * m->_31 + w * m->_41;
    out->y = x * m->_12 + y * m->_22 + z * m->_32 + w * m->_42;
    out->z = x * m->_13 + y * m->_23 + z * m->_33 + w * m->_43;
    out->w = x * m->_14 + y * m->_24 + z * m->_34 + w * m->_44;
    return out;
}

// (x, y, z, 1) times m.
D3DXVECTOR4* D3DXVec3Transform(D3DXVECTOR4* out, const D3DXVECTOR3* v, const D3DXMATRIX* m) {
    const float x = v->x, y = v->y, z = v->z;
    const float rx = x * m->_11 + y * m->_21 + z * m->_31 + m->_41;
    const float ry = x * m->_12 + y * m->_22 + z * m->_32 + m->_42;
    const float rz = x * m->_13 + y * m->_23 + z * m->_33 + m->_43;
    const float rw = x * m->_14 + y * m->_24 + z * m->_34 + m->_44;
    out->x = rx;
    out->y = ry;
    out->z = rz;
    out->w = rw;
    return out;
}

// (x, y, z, 1) times m, divided by the resulting w.
D3DXVECTOR3* D3DXVec3TransformCoord(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m) {
    const float x = v->x, y = v->y, z = v->z;
    const float rx = x * m->_11 + y * m->_21 + z * m->_31 + m->_41;
    const float ry = x * m->_12 + y * m->_22 + z * m->_32 + m->_42;
    const float rz = x * m->_13 + y * m->_23 + z * m->_33 + m->_43;
    const float rw = x * m->_14 + y * m->_24 + z * m->_34 + m->_44;
    out->x = rx / rw;
    out->y = ry / rw;
    out->z = rz / rw;
    return out;
}

// (x, y, z, 0) times m: a direction, unaffected by the translation.
D3DXVECTOR3* D3DXVec3TransformNormal(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m) {
    const float x = v->x, y = v->y, z = v->z;
    out->x = x * m->_11 + y * m->_21 + z * m->_31;
    out->y = x * m->_12 + y * m->_22 + z * m->_32;
    out->z = x * m->_13 + y * m->_23 + z * m->_33;
    return out;
}
