// The engine's math records.  Their memory layout is that of the Direct3D 9
// and D3DX records they derive from, so they are handed to the device and to
// D3DX as they are.  Row vectors are multiplied on the left of a matrix
// (v' = v * M), A * B applies A first, coordinates are left-handed.
// Arithmetic is done in double precision and stored as float.
//
// Default construction gives zeros (an all-zero Matrix, a zero Quaternion).
#pragma once

#include <cstdint>

#include "zvd3dx9math.h"

struct Matrix;
struct Quaternion;

struct Vector2 : public D3DXVECTOR2 {
    Vector2() { x = y = 0.0f; }
    Vector2(float vx, float vy) { x = vx; y = vy; }

    double LengthSq() const { return (double)x * x + (double)y * y; }
    Vector2& operator*=(float s) {
        x = (float)((double)x * s);
        y = (float)((double)y * s);
        return *this;
    }
    Vector2 operator+(const Vector2& v) const {
        return Vector2((float)((double)x + v.x), (float)((double)y + v.y));
    }
};

struct Vector3 : public D3DXVECTOR3 {
    Vector3() { x = y = z = 0.0f; }
    Vector3(float vx, float vy, float vz) { x = vx; y = vy; z = vz; }

    double LengthSq() const { return (double)x * x + (double)y * y + (double)z * z; }
    double Length() const;
    double Dot(const Vector3& v) const { return (double)x * v.x + (double)y * v.y + (double)z * v.z; }
    // this = a x b
    Vector3& Cross(const Vector3& a, const Vector3& b);
    // this = a + (b - a) * t
    Vector3& Lerp(const Vector3& a, const Vector3& b, float t);
    // Lower corner of a box: each component becomes the smaller of the two.
    Vector3& Minimize(const Vector3& v) {
        if (x > v.x) x = v.x;
        if (y > v.y) y = v.y;
        if (z > v.z) z = v.z;
        return *this;
    }
    // Upper corner of a box: each component becomes the larger of the two.
    Vector3& Maximize(const Vector3& v) {
        if (x < v.x) x = v.x;
        if (y < v.y) y = v.y;
        if (z < v.z) z = v.z;
        return *this;
    }
    Vector3& operator+=(const Vector3& v) {
        x = (float)((double)x + v.x);
        y = (float)((double)y + v.y);
        z = (float)((double)z + v.z);
        return *this;
    }
    Vector3& operator-=(const Vector3& v) {
        x = (float)((double)x - v.x);
        y = (float)((double)y - v.y);
        z = (float)((double)z - v.z);
        return *this;
    }
    Vector3& operator*=(float s) {
        x = (float)((double)x * s);
        y = (float)((double)y * s);
        z = (float)((double)z * s);
        return *this;
    }
    // Multiplies by the reciprocal of s.
    Vector3& operator/=(float s) {
        double r = 1.0 / (double)s;
        x = (float)(x * r);
        y = (float)(y * r);
        z = (float)(z * r);
        return *this;
    }
    bool operator!=(const Vector3& v) const { return x != v.x || y != v.y || z != v.z; }
    bool operator==(const Vector3& v) const { return !(*this != v); }
    // A zero vector stays zero.
    Vector3& Normalize();
    // The point (x, y, z, 1) times m, first three results (no division by w).
    Vector3& operator*=(const Matrix& m);
    // Rotation by q as q * (v * conj(q)): the opposite turn of the matrix that
    // D3DXMatrixRotationQuaternion builds from q.
    Vector3& operator*=(const Quaternion& q);
    Vector3 operator-() const { return Vector3(-x, -y, -z); }
    Vector3 operator+(const Vector3& v) const { return Vector3(*this) += v; }
    Vector3 operator-(const Vector3& v) const { return Vector3(*this) -= v; }
    Vector3 operator*(float s) const { return Vector3(*this) *= s; }
};

inline Vector3 operator*(float s, const Vector3& v) { return v * s; }

struct Vector4 : public D3DXVECTOR4 {
    Vector4() { x = y = z = w = 0.0f; }
    Vector4(float vx, float vy, float vz, float vw) { x = vx; y = vy; z = vz; w = vw; }

    Vector4& operator+=(const Vector4& v) {
        x = (float)((double)x + v.x);
        y = (float)((double)y + v.y);
        z = (float)((double)z + v.z);
        w = (float)((double)w + v.w);
        return *this;
    }
    Vector4& operator*=(float s) {
        x = (float)((double)x * s);
        y = (float)((double)y * s);
        z = (float)((double)z * s);
        w = (float)((double)w * s);
        return *this;
    }
    Vector4& operator/=(float s) {
        double r = 1.0 / (double)s;
        x = (float)(x * r);
        y = (float)(y * r);
        z = (float)(z * r);
        w = (float)(w * r);
        return *this;
    }
    // this = this * m as a full 4-component row vector (D3DXVec4Transform).
    Vector4& operator*=(const Matrix& m);
    double Length() const;
    Vector4& Normalize();
    Vector4 operator+(const Vector4& v) const { return Vector4(*this) += v; }
    Vector4 operator-(const Vector4& v) const {
        return Vector4((float)((double)x - v.x), (float)((double)y - v.y), (float)((double)z - v.z),
                       (float)((double)w - v.w));
    }
    Vector4 operator*(float s) const { return Vector4(*this) *= s; }
};

// w is the real part.
struct Quaternion : public D3DXQUATERNION {
    Quaternion() { x = y = z = w = 0.0f; }
    Quaternion(float qx, float qy, float qz, float qw) { x = qx; y = qy; z = qz; w = qw; }

    // this = a + (b - a) * t, component-wise, not renormalised.
    Quaternion& Lerp(const Quaternion& a, const Quaternion& b, float t);
    // this = D3DXQuaternionMultiply(this, q): rotation this, then q.
    Quaternion& operator*=(const Quaternion& q);
    Quaternion operator*(const Quaternion& q) const;
};

// 16 floats row by row; _41, _42, _43 hold the translation.
struct Matrix : public D3DXMATRIX {
    Matrix();  // all zero
    explicit Matrix(const float* values);  // 16 floats in order

    Matrix& SetIdentity();
    Matrix& SetRotationX(float angle);  // radians
    Matrix& SetRotationY(float angle);
    Matrix& SetRotationZ(float angle);
    Matrix& SetRotationAxis(const Vector3& axis, float angle);
    Matrix& SetScaling(float s);  // uniform
    // Rotation from q (D3DXMatrixRotationQuaternion), translation p.
    Matrix& SetRotationTranslation(const Quaternion& q, const Vector3& p);
    Matrix& operator*=(const Matrix& m);  // this = this * m
    Matrix operator*(const Matrix& m) const;
    // Gauss-Jordan with partial pivoting in double precision; a singular
    // matrix gives a copy of itself.
    Matrix GetInverse() const;
};

static_assert(sizeof(Vector2) == 8, "Vector2 layout");
static_assert(sizeof(Vector3) == 12, "Vector3 layout");
static_assert(sizeof(Vector4) == 16, "Vector4 layout");
static_assert(sizeof(Quaternion) == 16, "Quaternion layout");
static_assert(sizeof(Matrix) == 64, "Matrix layout");

// The value cut toward zero to an int, as the cast gives wherever the cast
// is defined; beyond the int range the nearest end of it, and 0 for NaN.  A
// number from a file, the clock or the input never makes it undefined.
inline int32_t TruncToInt(double value) {
    if (value != value) return 0;
    if (value <= -2147483648.0) return INT32_MIN;
    if (value >= 2147483647.0) return INT32_MAX;
    return (int32_t)value;
}
