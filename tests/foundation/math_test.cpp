// The math records against hand-computed values.
#include <gtest/gtest.h>

#include <cmath>

#include "zvstuff.h"

namespace {

const float kHalfPi = 1.57079632679f;
const float kS = 0.70710678f;  // sin 45 = cos 45

#define EXPECT_VEC3(v, ex, ey, ez)   \
    do {                             \
        EXPECT_NEAR((v).x, ex, 1e-5); \
        EXPECT_NEAR((v).y, ey, 1e-5); \
        EXPECT_NEAR((v).z, ez, 1e-5); \
    } while (0)

void ExpectMatrix(const Matrix& m, const float (&expected)[16]) {
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(m.m[i / 4][i % 4], expected[i], 1e-6) << "element " << i;
}

TEST(Math, VectorBasics) {
    Vector3 zero(0, 0, 0);
    zero.Normalize();
    EXPECT_VEC3(zero, 0, 0, 0);
    Vector3 v(3, 0, 4);
    EXPECT_DOUBLE_EQ(v.Length(), 5.0);
    EXPECT_DOUBLE_EQ(v.LengthSq(), 25.0);
    v.Normalize();
    EXPECT_VEC3(v, 0.6f, 0.0f, 0.8f);
    Vector3 lo(1, 5, 3), hi(1, 5, 3);
    lo.Minimize(Vector3(2, 4, 3));
    hi.Maximize(Vector3(2, 4, 3));
    EXPECT_VEC3(lo, 1, 4, 3);
    EXPECT_VEC3(hi, 2, 5, 3);
    Vector3 c;
    c.Cross(Vector3(1, 0, 0), Vector3(0, 1, 0));
    EXPECT_VEC3(c, 0, 0, 1);
    c.Cross(Vector3(0, 1, 0), Vector3(1, 0, 0));
    EXPECT_VEC3(c, 0, 0, -1);
    EXPECT_DOUBLE_EQ(Vector3(1, 2, 3).Dot(Vector3(4, -5, 6)), 12.0);
    Vector3 l;
    l.Lerp(Vector3(0, 10, -2), Vector3(10, 20, 2), 0.25f);
    EXPECT_VEC3(l, 2.5f, 12.5f, -1.0f);
    Vector3 d(2, 4, 8);
    d /= 4.0f;
    EXPECT_VEC3(d, 0.5f, 1.0f, 2.0f);
    EXPECT_VEC3(-d, -0.5f, -1.0f, -2.0f);
    EXPECT_VEC3(2.0f * d + Vector3(1, 1, 1) - Vector3(0, 0, 1), 2.0f, 3.0f, 4.0f);
    EXPECT_TRUE(Vector3(1, 2, 3) != Vector3(1, 2, 3.0001f));
    EXPECT_FALSE(Vector3(1, 2, 3) != Vector3(1, 2, 3));
    Vector2 p(3, 4);
    p *= 2.0f;
    EXPECT_DOUBLE_EQ(p.LengthSq(), 100.0);
    Vector2 q = p + Vector2(1, 1);
    EXPECT_FLOAT_EQ(q.x, 7.0f);
    Vector4 w(1, 2, 2, 4);
    EXPECT_DOUBLE_EQ(w.Length(), 5.0);
    w.Normalize();
    EXPECT_FLOAT_EQ(w.w, 0.8f);
    Vector4 z;
    z.Normalize();
    EXPECT_FLOAT_EQ(z.x, 0.0f);
}

TEST(Math, PointTransformIgnoresW) {
    Matrix t;
    t.SetIdentity();
    t._41 = 10;
    t._42 = 20;
    t._43 = 30;
    Vector3 p(1, 2, 3);
    p *= t;
    EXPECT_VEC3(p, 11, 22, 33);
    t._44 = 5;  // no division by w
    Vector3 q(1, 2, 3);
    q *= t;
    EXPECT_VEC3(q, 11, 22, 33);
    Vector4 v(1, 2, 3, 1);
    v *= t;
    EXPECT_FLOAT_EQ(v.x, 11);
    EXPECT_FLOAT_EQ(v.w, 5);
    Vector4 dir(1, 2, 3, 0);
    dir *= t;
    EXPECT_FLOAT_EQ(dir.x, 1);
    EXPECT_FLOAT_EQ(dir.z, 3);
    EXPECT_FLOAT_EQ(dir.w, 0);
}

TEST(Math, Rotations) {
    Matrix m;
    Vector3 v(1, 0, 0);
    v *= m.SetRotationZ(kHalfPi);
    EXPECT_VEC3(v, 0, 1, 0);
    v = Vector3(0, 1, 0);
    v *= m.SetRotationX(kHalfPi);
    EXPECT_VEC3(v, 0, 0, 1);
    v = Vector3(0, 0, 1);
    v *= m.SetRotationY(kHalfPi);
    EXPECT_VEC3(v, 1, 0, 0);
    Matrix axis;
    axis.SetRotationAxis(Vector3(0, 0, 1), kHalfPi);
    const float rz[16] = {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    ExpectMatrix(axis, rz);
    Matrix s;
    s.SetScaling(2);
    const float two[16] = {2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 1};
    ExpectMatrix(s, two);
}

TEST(Math, ProductsApplyLeftFirst) {
    Matrix rz, rx;
    rz.SetRotationZ(kHalfPi);
    rx.SetRotationX(kHalfPi);
    Vector3 v(1, 0, 0);
    v *= rz * rx;  // Z first: (0, 1, 0), then X: (0, 0, 1)
    EXPECT_VEC3(v, 0, 0, 1);
    Matrix acc = rz;
    acc *= rx;
    Vector3 w(1, 0, 0);
    w *= acc;
    EXPECT_VEC3(w, 0, 0, 1);
    Matrix t, s;
    t.SetIdentity();
    t._41 = 1;
    t._42 = 2;
    t._43 = 3;
    s.SetScaling(2);
    Vector3 origin(0, 0, 0);
    origin *= t * s;
    EXPECT_VEC3(origin, 2, 4, 6);
}

TEST(Math, QuaternionProductOrder) {
    Quaternion z90(0, 0, kS, kS), x90(kS, 0, 0, kS);
    // z90 followed by x90; as Hamilton's product x90 z90.
    Quaternion p = z90 * x90;
    EXPECT_NEAR(p.x, 0.5f, 1e-6);
    EXPECT_NEAR(p.y, -0.5f, 1e-6);
    EXPECT_NEAR(p.z, 0.5f, 1e-6);
    EXPECT_NEAR(p.w, 0.5f, 1e-6);
    Quaternion q = z90;
    q *= x90;
    EXPECT_NEAR(q.y, -0.5f, 1e-6);
    Matrix m;
    m.SetRotationTranslation(p, Vector3(0, 0, 0));
    Vector3 v(1, 0, 0);
    v *= m;
    EXPECT_VEC3(v, 0, 0, 1);
}

TEST(Math, VectorRotationTurnsOppositeToTheMatrix) {
    Quaternion q(0, 0, kS, kS);
    Vector3 byQuaternion(1, 0, 0);
    byQuaternion *= q;
    EXPECT_VEC3(byQuaternion, 0, -1, 0);
    Matrix m;
    m.SetRotationTranslation(q, Vector3(5, 6, 7));
    Vector3 byMatrix(1, 0, 0);
    byMatrix *= m;
    EXPECT_VEC3(byMatrix, 5, 7, 7);
    EXPECT_FLOAT_EQ(m._41, 5);
    EXPECT_FLOAT_EQ(m._43, 7);
}

TEST(Math, QuaternionLerpIsNotRenormalised) {
    Quaternion q;
    q.Lerp(Quaternion(0, 0, 0, 1), Quaternion(0, 0, 1, 0), 0.5f);
    EXPECT_FLOAT_EQ(q.x, 0.0f);
    EXPECT_FLOAT_EQ(q.z, 0.5f);
    EXPECT_FLOAT_EQ(q.w, 0.5f);
}

TEST(Math, Inverse) {
    const float in[16] = {2, 0, 0, 0, 0, 4, 0, 0, 0, 0, 8, 0, 1, 2, 3, 1};
    const float out[16] = {0.5f, 0, 0, 0, 0, 0.25f, 0, 0, 0, 0, 0.125f, 0, -0.5f, -0.5f, -0.375f, 1};
    ExpectMatrix(Matrix(in).GetInverse(), out);

    const float swap[16] = {0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    ExpectMatrix(Matrix(swap).GetInverse(), swap);

    // A general matrix: M * inverse(M) is the identity.
    Matrix r;
    r.SetRotationAxis(Vector3(1, 2, 3), 0.7f);
    r._41 = 4;
    r._42 = -5;
    r._43 = 6;
    Matrix s;
    s.SetScaling(3);
    Matrix m = r * s;
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    Matrix product = m * m.GetInverse();
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(product.m[i / 4][i % 4], identity[i], 1e-5);
}

TEST(Math, InverseOfASingularMatrixIsTheInput) {
    const float zeroColumn[16] = {0, 1, 2, 3, 0, 5, 6, 7, 0, 9, 10, 11, 0, 13, 14, 15};
    ExpectMatrix(Matrix(zeroColumn).GetInverse(), zeroColumn);
    const float equalRows[16] = {1, 2, 3, 4, 1, 2, 3, 4, 0, 0, 1, 0, 0, 0, 0, 1};
    ExpectMatrix(Matrix(equalRows).GetInverse(), equalRows);
    const float zero[16] = {0};
    ExpectMatrix(Matrix(zero).GetInverse(), zero);
}

}  // namespace
