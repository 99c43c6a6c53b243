// D3DX math routines against hand-computed results.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "zvd3dx9math.h"

namespace {

const float kHalfPi = 1.5707963705062866f;
const float kEps = 1e-5f;

D3DXVECTOR3 V3(float x, float y, float z) {
    D3DXVECTOR3 v;
    v.x = x;
    v.y = y;
    v.z = z;
    return v;
}

D3DXMATRIX Rows(std::initializer_list<float> values) {
    D3DXMATRIX m;
    int i = 0;
    for (float v : values) {
        m.m[i / 4][i % 4] = v;
        ++i;
    }
    return m;
}

D3DXVECTOR3 Transform(const D3DXVECTOR3& v, const D3DXMATRIX& m) {
    D3DXVECTOR3 r;
    D3DXVec3TransformCoord(&r, &v, &m);
    return r;
}

#define EXPECT_VEC3(v, ex, ey, ez)     \
    do {                               \
        const D3DXVECTOR3 r_ = (v);    \
        EXPECT_NEAR(r_.x, (ex), kEps); \
        EXPECT_NEAR(r_.y, (ey), kEps); \
        EXPECT_NEAR(r_.z, (ez), kEps); \
    } while (0)

void ExpectMatrixNear(const D3DXMATRIX& a, const D3DXMATRIX& b, float eps = kEps) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_NEAR(a.m[i][j], b.m[i][j], eps) << "element _" << i + 1 << j + 1;
}

D3DXQUATERNION AxisAngle(float x, float y, float z, float angle) {
    const float len = std::sqrt(x * x + y * y + z * z), s = std::sin(angle / 2) / len;
    return D3DXQUATERNION{x * s, y * s, z * s, std::cos(angle / 2)};
}

TEST(D3DXMath, QuarterTurnsAboutEachAxisAreLeftHanded) {
    D3DXMATRIX m;
    D3DXMatrixRotationX(&m, kHalfPi);
    EXPECT_VEC3(Transform(V3(0, 1, 0), m), 0, 0, 1);
    EXPECT_VEC3(Transform(V3(0, 0, 1), m), 0, -1, 0);
    D3DXMatrixRotationY(&m, kHalfPi);
    EXPECT_VEC3(Transform(V3(0, 0, 1), m), 1, 0, 0);
    EXPECT_VEC3(Transform(V3(1, 0, 0), m), 0, 0, -1);
    D3DXMatrixRotationZ(&m, kHalfPi);
    EXPECT_VEC3(Transform(V3(1, 0, 0), m), 0, 1, 0);
    EXPECT_VEC3(Transform(V3(0, 1, 0), m), -1, 0, 0);
    // The sine sits above the diagonal for row vectors.
    D3DXMatrixRotationZ(&m, 0.5f);
    EXPECT_FLOAT_EQ(m._12, std::sin(0.5f));
    EXPECT_FLOAT_EQ(m._21, -std::sin(0.5f));
    EXPECT_EQ(m._44, 1.0f);
}

TEST(D3DXMath, RotationAxisMatchesAxisRotationsAndNormalisesTheAxis) {
    D3DXMATRIX a, b;
    const D3DXVECTOR3 axes[3] = {V3(3, 0, 0), V3(0, 0.5f, 0), V3(0, 0, 7)};
    for (int i = 0; i < 3; ++i) {
        D3DXMatrixRotationAxis(&a, &axes[i], 0.7f);
        if (i == 0) D3DXMatrixRotationX(&b, 0.7f);
        if (i == 1) D3DXMatrixRotationY(&b, 0.7f);
        if (i == 2) D3DXMatrixRotationZ(&b, 0.7f);
        ExpectMatrixNear(a, b);
    }
    // A third of a turn about the diagonal cycles the axes x -> y -> z.
    const D3DXVECTOR3 diagonal = V3(1, 1, 1);
    D3DXMatrixRotationAxis(&a, &diagonal, 2.0943951f);
    EXPECT_VEC3(Transform(V3(1, 0, 0), a), 0, 1, 0);
    EXPECT_VEC3(Transform(V3(0, 1, 0), a), 0, 0, 1);
}

TEST(D3DXMath, RotationQuaternionAgreesWithRotationAxis) {
    D3DXMATRIX fromQ, fromAxis;
    const D3DXQUATERNION z90{0, 0, 0.70710678f, 0.70710678f};
    D3DXMatrixRotationQuaternion(&fromQ, &z90);
    EXPECT_VEC3(Transform(V3(1, 0, 0), fromQ), 0, 1, 0);

    const D3DXQUATERNION q = AxisAngle(1, -2, 0.5f, 1.1f);
    const D3DXVECTOR3 axis = V3(1, -2, 0.5f);
    D3DXMatrixRotationQuaternion(&fromQ, &q);
    D3DXMatrixRotationAxis(&fromAxis, &axis, 1.1f);
    ExpectMatrixNear(fromQ, fromAxis);
    EXPECT_EQ(fromQ._41, 0.0f);
    EXPECT_EQ(fromQ._44, 1.0f);
}

TEST(D3DXMath, QuaternionMultiplyAppliesTheFirstRotationFirst) {
    // (a, b) is the Hamilton product b a: with i, j, k the unit quaternions,
    // Multiply(j, i) = i j = k and Multiply(i, j) = j i = -k.
    const D3DXQUATERNION i{1, 0, 0, 0}, j{0, 1, 0, 0};
    D3DXQUATERNION r;
    D3DXQuaternionMultiply(&r, &j, &i);
    EXPECT_FLOAT_EQ(r.x, 0);
    EXPECT_FLOAT_EQ(r.y, 0);
    EXPECT_FLOAT_EQ(r.z, 1);
    EXPECT_FLOAT_EQ(r.w, 0);
    D3DXQuaternionMultiply(&r, &i, &j);
    EXPECT_FLOAT_EQ(r.z, -1);

    // The product's matrix is the first rotation's matrix times the second's.
    const D3DXQUATERNION a = AxisAngle(1, 0, 0, kHalfPi), b = AxisAngle(0, 0, 1, kHalfPi);
    D3DXQuaternionMultiply(&r, &a, &b);
    D3DXMATRIX ma, mb, mab, mr;
    D3DXMatrixRotationQuaternion(&ma, &a);
    D3DXMatrixRotationQuaternion(&mb, &b);
    D3DXMatrixMultiply(&mab, &ma, &mb);
    D3DXMatrixRotationQuaternion(&mr, &r);
    ExpectMatrixNear(mr, mab);
    // x about X stays x, then about Z becomes y.
    EXPECT_VEC3(Transform(V3(1, 0, 0), mr), 0, 1, 0);
    // y about X becomes z, which Z leaves alone.
    EXPECT_VEC3(Transform(V3(0, 1, 0), mr), 0, 0, 1);
}

TEST(D3DXMath, ConjugateSandwichTurnsOppositeToTheQuaternionMatrix) {
    // r = q * (p * conj(q)) with the engine's product order turns (1, 0, 0)
    // by a quarter turn about z to (0, -1, 0); the matrix of q gives (0, 1, 0).
    const D3DXQUATERNION q{0, 0, 0.70710678f, 0.70710678f};
    const D3DXQUATERNION p{1, 0, 0, 0}, c{-q.x, -q.y, -q.z, q.w};
    D3DXQUATERNION pc, r;
    D3DXQuaternionMultiply(&pc, &p, &c);
    D3DXQuaternionMultiply(&r, &q, &pc);
    EXPECT_NEAR(r.x, 0, kEps);
    EXPECT_NEAR(r.y, -1, kEps);
    EXPECT_NEAR(r.z, 0, kEps);
    EXPECT_NEAR(r.w, 0, kEps);
    D3DXMATRIX m;
    D3DXMatrixRotationQuaternion(&m, &q);
    EXPECT_VEC3(Transform(V3(1, 0, 0), m), 0, 1, 0);
}

TEST(D3DXMath, QuaternionMultiplyAllowsAliasedOutput) {
    const D3DXQUATERNION a0 = AxisAngle(1, 2, 3, 0.4f), b0 = AxisAngle(-1, 0, 2, 1.3f);
    D3DXQUATERNION expected;
    D3DXQuaternionMultiply(&expected, &a0, &b0);
    D3DXQUATERNION a = a0, b = b0;
    D3DXQuaternionMultiply(&a, &a, &b);
    EXPECT_EQ(std::memcmp(&a, &expected, sizeof(a)), 0);
    a = a0;
    D3DXQuaternionMultiply(&b, &a, &b);
    EXPECT_EQ(std::memcmp(&b, &expected, sizeof(b)), 0);
}

TEST(D3DXMath, MultiplyAppliesLeftMatrixFirstAndAllowsAliasing) {
    D3DXMATRIX s, t, st, ts;
    D3DXMatrixScaling(&s, 2, 3, 4);
    D3DXMatrixTranslation(&t, 10, 20, 30);
    D3DXMatrixMultiply(&st, &s, &t);
    EXPECT_VEC3(Transform(V3(1, 1, 1), st), 12, 23, 34);
    D3DXMatrixMultiply(&ts, &t, &s);
    EXPECT_VEC3(Transform(V3(1, 1, 1), ts), 22, 63, 124);

    const D3DXMATRIX a0 = Rows({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
    const D3DXMATRIX b0 = Rows({2, 0, 1, 0, 0, 1, 0, 3, 1, 0, 0, 0, 0, 2, 0, 1});
    D3DXMATRIX expected;
    D3DXMatrixMultiply(&expected, &a0, &b0);
    // Row 1 of a times b, by hand: (1*2+3*1, 2*1+4*2, 1*1, 2*3+4*1).
    EXPECT_FLOAT_EQ(expected._11, 5);
    EXPECT_FLOAT_EQ(expected._12, 10);
    EXPECT_FLOAT_EQ(expected._13, 1);
    EXPECT_FLOAT_EQ(expected._14, 10);
    D3DXMATRIX a = a0, b = b0;
    D3DXMatrixMultiply(&a, &a, &b);
    EXPECT_EQ(std::memcmp(&a, &expected, sizeof(a)), 0);
    a = a0;
    D3DXMatrixMultiply(&b, &a, &b);
    EXPECT_EQ(std::memcmp(&b, &expected, sizeof(b)), 0);
    // Squaring in place.
    D3DXMATRIX sq = a0, sqExpected;
    D3DXMatrixMultiply(&sqExpected, &a0, &a0);
    D3DXMatrixMultiply(&sq, &sq, &sq);
    EXPECT_EQ(std::memcmp(&sq, &sqExpected, sizeof(sq)), 0);
}

TEST(D3DXMath, IdentityScalingTranslationTranspose) {
    D3DXMATRIX m;
    D3DXMatrixIdentity(&m);
    ExpectMatrixNear(m, Rows({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}), 0);
    D3DXMatrixTranslation(&m, 10, 20, 30);
    EXPECT_VEC3(Transform(V3(1, 2, 3), m), 11, 22, 33);
    D3DXMatrixScaling(&m, 2, -1, 0.5f);
    EXPECT_VEC3(Transform(V3(1, 2, 4), m), 2, -2, 2);
    D3DXMATRIX t = Rows({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
    EXPECT_EQ(D3DXMatrixTranspose(&t, &t), &t);
    ExpectMatrixNear(t, Rows({1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15, 4, 8, 12, 16}), 0);
}

TEST(D3DXMath, LookAtLHKnownValues) {
    D3DXMATRIX v;
    // Looking down +z from z = -10: rotation identity, translation +10 in z.
    const D3DXVECTOR3 eye = V3(0, 0, -10), at = V3(0, 0, 0), up = V3(0, 1, 0);
    EXPECT_EQ(D3DXMatrixLookAtLH(&v, &eye, &at, &up), &v);
    ExpectMatrixNear(v, Rows({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 10, 1}));

    // From (1, 2, 3) looking down +x: forward x, right -z, up y.
    const D3DXVECTOR3 eye2 = V3(1, 2, 3), at2 = V3(5, 2, 3), up2 = V3(0, 3, 0);
    D3DXMatrixLookAtLH(&v, &eye2, &at2, &up2);
    ExpectMatrixNear(v, Rows({0, 0, 1, 0, 0, 1, 0, 0, -1, 0, 0, 0, 3, -2, -1, 1}));
    EXPECT_VEC3(Transform(V3(6, 2, 3), v), 0, 0, 5);    // straight ahead
    EXPECT_VEC3(Transform(V3(1, 2, 2), v), 1, 0, 0);    // to the right
    EXPECT_VEC3(Transform(V3(1, 4, 3), v), 0, 2, 0);    // above
}

TEST(D3DXMath, PerspectiveFovLHMapsDepthToZeroOne) {
    D3DXMATRIX p;
    // The engine's projection: 90 degrees, 4:3, near 2, far 100000.
    D3DXMatrixPerspectiveFovLH(&p, kHalfPi, 4.0f / 3.0f, 2.0f, 100000.0f);
    EXPECT_NEAR(p._11, 0.75f, kEps);
    EXPECT_NEAR(p._22, 1.0f, kEps);
    EXPECT_FLOAT_EQ(p._33, 100000.0f / 99998.0f);
    EXPECT_FLOAT_EQ(p._34, 1.0f);
    EXPECT_FLOAT_EQ(p._43, -2.0f * 100000.0f / 99998.0f);
    EXPECT_EQ(p._44, 0.0f);
    EXPECT_EQ(p._12, 0.0f);
    EXPECT_EQ(p._41, 0.0f);
    EXPECT_NEAR(Transform(V3(0, 0, 2), p).z, 0.0f, kEps);
    EXPECT_NEAR(Transform(V3(0, 0, 100000), p).z, 1.0f, kEps);
    // A point on the upper edge of the view at depth 10 lands at y = 1.
    EXPECT_NEAR(Transform(V3(0, 10, 10), p).y, 1.0f, kEps);
    EXPECT_NEAR(Transform(V3(10, 0, 10), p).x, 0.75f, kEps);

    D3DXMatrixPerspectiveFovLH(&p, 1.0f, 2.0f, 1.0f, 11.0f);
    EXPECT_NEAR(p._22, 1.0f / std::tan(0.5f), kEps);
    EXPECT_NEAR(p._11, 0.5f / std::tan(0.5f), kEps);
    EXPECT_NEAR(p._33, 1.1f, kEps);
    EXPECT_NEAR(p._43, -1.1f, kEps);
}

TEST(D3DXMath, InverseOfKnownMatrixAndDeterminant) {
    const D3DXMATRIX m = Rows({2, 0, 0, 0, 0, 4, 0, 0, 0, 0, 8, 0, 1, 2, 3, 1});
    D3DXMATRIX inv;
    float det = 0;
    ASSERT_EQ(D3DXMatrixInverse(&inv, &det, &m), &inv);
    EXPECT_FLOAT_EQ(det, 64.0f);
    ExpectMatrixNear(inv, Rows({0.5f, 0, 0, 0, 0, 0.25f, 0, 0, 0, 0, 0.125f, 0, -0.5f, -0.5f, -0.375f, 1}));

    // A row exchange is its own inverse; determinant -1.
    const D3DXMATRIX swap = Rows({0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
    ASSERT_NE(D3DXMatrixInverse(&inv, &det, &swap), nullptr);
    EXPECT_FLOAT_EQ(det, -1.0f);
    ExpectMatrixNear(inv, swap);

    // A general matrix times its inverse is the identity; in place too.
    D3DXMATRIX g = Rows({3, 1, -2, 0.5f, 0.2f, 4, 1, 0, -1, 2, 5, 0.3f, 7, -3, 2, 1});
    const D3DXMATRIX g0 = g;
    ASSERT_EQ(D3DXMatrixInverse(&g, nullptr, &g), &g);
    D3DXMATRIX product, identity;
    D3DXMatrixMultiply(&product, &g0, &g);
    D3DXMatrixIdentity(&identity);
    ExpectMatrixNear(product, identity, 1e-5f);
}

TEST(D3DXMath, InverseOfSingularMatrixIsNullAndLeavesOutput) {
    const D3DXMATRIX zeroColumn = Rows({0, 1, 2, 0, 0, 3, 4, 0, 0, 5, 6, 0, 0, 7, 8, 1});
    const D3DXMATRIX sentinel = Rows({9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9});
    D3DXMATRIX out = sentinel;
    float det = 123;
    EXPECT_EQ(D3DXMatrixInverse(&out, &det, &zeroColumn), nullptr);
    EXPECT_EQ(det, 0.0f);
    EXPECT_EQ(std::memcmp(&out, &sentinel, sizeof(out)), 0);
    // Two equal rows.
    const D3DXMATRIX twin = Rows({1, 2, 3, 4, 1, 2, 3, 4, 0, 1, 0, 0, 0, 0, 0, 1});
    EXPECT_EQ(D3DXMatrixInverse(&out, nullptr, &twin), nullptr);
    D3DXMATRIX zero = Rows({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(D3DXMatrixInverse(&zero, nullptr, &zero), nullptr);
}

TEST(D3DXMath, VectorTransforms) {
    const D3DXMATRIX m = Rows({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
    D3DXVECTOR4 v{1, 0, -1, 2};
    // (1*1 - 9 + 2*13, 2 - 10 + 28, 3 - 11 + 30, 4 - 12 + 32)
    EXPECT_EQ(D3DXVec4Transform(&v, &v, &m), &v);
    EXPECT_FLOAT_EQ(v.x, 18);
    EXPECT_FLOAT_EQ(v.y, 20);
    EXPECT_FLOAT_EQ(v.z, 22);
    EXPECT_FLOAT_EQ(v.w, 24);

    const D3DXVECTOR3 p = V3(1, 2, 3);
    D3DXVECTOR4 h;
    D3DXVec3Transform(&h, &p, &m);
    EXPECT_FLOAT_EQ(h.x, 1 + 10 + 27 + 13);
    EXPECT_FLOAT_EQ(h.w, 4 + 16 + 36 + 16);

    D3DXVECTOR3 c = p;
    D3DXVec3TransformCoord(&c, &c, &m);
    EXPECT_FLOAT_EQ(c.x, 51.0f / 72.0f);
    EXPECT_FLOAT_EQ(c.y, 58.0f / 72.0f);
    EXPECT_FLOAT_EQ(c.z, 65.0f / 72.0f);

    D3DXMATRIX t;
    D3DXMatrixTranslation(&t, 10, 20, 30);
    D3DXVECTOR3 n = V3(1, 2, 3);
    D3DXVec3TransformNormal(&n, &n, &t);
    EXPECT_VEC3(n, 1, 2, 3);
}

}  // namespace
