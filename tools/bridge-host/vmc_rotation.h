#pragma once

// Vectors and unit quaternions for the avatar's bones. The formulas are the
// plain algebraic ones, so they hold in any axis convention: the same
// numbers mean the same rotation matrix in Unity's left-handed frame as in
// the camera's right-handed one.
struct Vec3 {
  float x = 0, y = 0, z = 0;
};

// x, y, z, w as Unity and the face datagram order them.
struct Quat {
  float x = 0, y = 0, z = 0, w = 1;
};

Vec3 operator-(const Vec3& a, const Vec3& b);
Vec3 operator+(const Vec3& a, const Vec3& b);
Vec3 operator*(const Vec3& a, float s);
float dot(const Vec3& a, const Vec3& b);
Vec3 cross(const Vec3& a, const Vec3& b);
// a / |a|, or (0, 0, 0) for a zero vector.
Vec3 normalized(const Vec3& a);

Quat operator*(const Quat& a, const Quat& b);
Quat conjugate(const Quat& q);
Vec3 rotate(const Quat& q, const Vec3& v);
// q / |q| with w >= 0; the identity for a zero or non-finite quaternion.
Quat normalized(const Quat& q);
// The shortest rotation that turns unit vector `from` onto unit vector `to`
// (about any axis normal to `from` when they are opposite).
Quat from_to(const Vec3& from, const Vec3& to);
// The same axis, `share` of the angle (0 the identity, 1 q itself).
Quat scaled(const Quat& q, float share);
// The rotation angle of q in degrees, 0 to 180.
float angle_degrees(const Quat& q);
