#include "tools/bridge-host/vmc_rotation.h"

#include <cmath>

Vec3 operator-(const Vec3& a, const Vec3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 operator+(const Vec3& a, const Vec3& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 operator*(const Vec3& a, float s) { return {a.x * s, a.y * s, a.z * s}; }
float dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

Vec3 cross(const Vec3& a, const Vec3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

Vec3 normalized(const Vec3& a) {
  const float n = std::sqrt(dot(a, a));
  return n > 0 && std::isfinite(n) ? a * (1.0f / n) : Vec3{};
}

Quat operator*(const Quat& a, const Quat& b) {
  return {a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
          a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x,
          a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w,
          a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z};
}

Quat conjugate(const Quat& q) { return {-q.x, -q.y, -q.z, q.w}; }

Vec3 rotate(const Quat& q, const Vec3& v) {
  const Vec3 u{q.x, q.y, q.z};
  const Vec3 t = cross(u, v) * 2.0f;
  return v + t * q.w + cross(u, t);
}

Quat normalized(const Quat& q) {
  const float n = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
  if (!(n > 0) || !std::isfinite(n)) return {};
  const float s = (q.w < 0 ? -1.0f : 1.0f) / n;
  return {q.x * s, q.y * s, q.z * s, q.w * s};
}

Quat from_to(const Vec3& from, const Vec3& to) {
  const float c = dot(from, to);
  if (c < -0.999999f) {
    // Half a turn about any axis normal to `from`.
    Vec3 axis = cross(from, Vec3{1, 0, 0});
    if (dot(axis, axis) < 1e-6f) axis = cross(from, Vec3{0, 1, 0});
    axis = normalized(axis);
    return {axis.x, axis.y, axis.z, 0};
  }
  const Vec3 a = cross(from, to);
  return normalized(Quat{a.x, a.y, a.z, 1.0f + c});
}

Quat scaled(const Quat& q, float share) {
  const Quat u = normalized(q);
  const float s = std::sqrt(u.x * u.x + u.y * u.y + u.z * u.z);
  if (s < 1e-9f) return {};
  const float half = std::atan2(s, u.w) * share;
  const float k = std::sin(half) / s;
  return {u.x * k, u.y * k, u.z * k, std::cos(half)};
}

float angle_degrees(const Quat& q) {
  const Quat u = normalized(q);
  const float s = std::sqrt(u.x * u.x + u.y * u.y + u.z * u.z);
  return 2.0f * std::atan2(s, u.w) * 57.29578f;
}
