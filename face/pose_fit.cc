#include "face/pose_fit.h"

#include <cassert>
#include <cmath>
#include <cstddef>

namespace {

using Matrix4 = std::array<std::array<double, 4>, 4>;

// Weighted cross-covariance sums S[i][j] = sum w * a_i * b_j of the centred
// points, and the weighted spread of the centred model points.
struct Moments {
  Vec3 model_centroid = {0.0, 0.0, 0.0};
  Vec3 target_centroid = {0.0, 0.0, 0.0};
  std::array<Vec3, 3> cross = {};
  double model_spread = 0.0;
};

Moments weighted_moments(std::span<const VertexWeight> weights,
                         std::span<const std::array<float, 3>> model_points,
                         std::span<const Vec3> targets) {
  Moments m;
  double weight_sum = 0.0;
  for (const VertexWeight& e : weights) {
    const auto k = static_cast<std::size_t>(e.index);
    assert(k < model_points.size() && k < targets.size());
    const double w = e.weight;
    weight_sum += w;
    for (int i = 0; i < 3; ++i) {
      // The model product is formed in single precision, as the canonical
      // vertices and weights are floats.
      m.model_centroid[i] += static_cast<double>(e.weight * model_points[k][i]);
      m.target_centroid[i] += w * targets[k][i];
    }
  }
  for (int i = 0; i < 3; ++i) {
    m.model_centroid[i] /= weight_sum;
    m.target_centroid[i] /= weight_sum;
  }

  for (const VertexWeight& e : weights) {
    const auto k = static_cast<std::size_t>(e.index);
    const double w = e.weight;
    Vec3 a;
    Vec3 b;
    for (int i = 0; i < 3; ++i) {
      a[i] = static_cast<double>(model_points[k][i]) - m.model_centroid[i];
      b[i] = targets[k][i] - m.target_centroid[i];
    }
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) m.cross[i][j] += w * a[i] * b[j];
    }
    m.model_spread += w * (a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
  }
  return m;
}

// The symmetric matrix whose eigenvector of the largest eigenvalue is the
// rotation that best maps the model onto the targets (rows w, x, y, z).
Matrix4 orientation_matrix(const std::array<Vec3, 3>& s) {
  const double xx = s[0][0], xy = s[0][1], xz = s[0][2];
  const double yx = s[1][0], yy = s[1][1], yz = s[1][2];
  const double zx = s[2][0], zy = s[2][1], zz = s[2][2];
  return Matrix4{{
      {xx + yy + zz, yz - zy, zx - xz, xy - yx},
      {yz - zy, xx - yy - zz, xy + yx, zx + xz},
      {zx - xz, xy + yx, -xx + yy - zz, yz + zy},
      {xy - yx, zx + xz, yz + zy, -xx - yy + zz},
  }};
}

// One Jacobi rotation in the plane (p, q), zeroing n[p][q].
void jacobi_rotate(Matrix4& n, Matrix4& v, int p, int q) {
  const double theta = (n[q][q] - n[p][p]) / (2.0 * n[p][q]);
  const double sign = theta >= 0.0 ? 1.0 : -1.0;
  const double t = sign / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
  const double c = 1.0 / std::sqrt(t * t + 1.0);
  const double s = t * c;
  for (int k = 0; k < 4; ++k) {
    const double kp = n[k][p];
    const double kq = n[k][q];
    n[k][p] = c * kp - s * kq;
    n[k][q] = s * kp + c * kq;
  }
  for (int k = 0; k < 4; ++k) {
    const double pk = n[p][k];
    const double qk = n[q][k];
    n[p][k] = c * pk - s * qk;
    n[q][k] = s * pk + c * qk;
  }
  for (int k = 0; k < 4; ++k) {
    const double kp = v[k][p];
    const double kq = v[k][q];
    v[k][p] = c * kp - s * kq;
    v[k][q] = s * kp + c * kq;
  }
}

// Cyclic Jacobi eigen-decomposition; returns the (unnormalised) eigenvector
// of the largest eigenvalue, the lower index winning a tie.
Quaternion largest_eigenvector(Matrix4 n) {
  constexpr int kPairs[6][2] = {{0, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 3}};
  Matrix4 v = {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
  for (int sweep = 0; sweep < 50; ++sweep) {
    double off = 0.0;
    for (const auto& pq : kPairs) off += n[pq[0]][pq[1]] * n[pq[0]][pq[1]];
    if (off < 1e-18) break;
    for (const auto& pq : kPairs) {
      if (std::fabs(n[pq[0]][pq[1]]) < 1e-30) continue;
      jacobi_rotate(n, v, pq[0], pq[1]);
    }
  }
  int best = 0;
  for (int i = 1; i < 4; ++i) {
    if (n[i][i] > n[best][best]) best = i;
  }
  return Quaternion{v[0][best], v[1][best], v[2][best], v[3][best]};
}

}  // namespace

Vec3 rotate(const Quaternion& q, const Vec3& v) {
  const double w = q[0], x = q[1], y = q[2], z = q[3];
  return Vec3{
      (1 - 2 * (y * y + z * z)) * v[0] + 2 * (x * y - w * z) * v[1] + 2 * (x * z + w * y) * v[2],
      2 * (x * y + w * z) * v[0] + (1 - 2 * (x * x + z * z)) * v[1] + 2 * (y * z - w * x) * v[2],
      2 * (x * z - w * y) * v[0] + 2 * (y * z + w * x) * v[1] + (1 - 2 * (x * x + y * y)) * v[2],
  };
}

bool fit(std::span<const VertexWeight> weights, std::span<const std::array<float, 3>> model_points,
         std::span<const Vec3> targets, Fit& out) {
  const Moments m = weighted_moments(weights, model_points, targets);
  Quaternion q = largest_eigenvector(orientation_matrix(m.cross));
  const double length = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
  // Written to fail on not-a-number as well as on zero.
  if (!(length > 0.0) || !(m.model_spread > 0.0)) return false;
  for (double& c : q) c /= length;

  double projection = 0.0;
  for (const VertexWeight& e : weights) {
    const auto k = static_cast<std::size_t>(e.index);
    Vec3 a;
    Vec3 b;
    for (int i = 0; i < 3; ++i) {
      a[i] = static_cast<double>(model_points[k][i]) - m.model_centroid[i];
      b[i] = targets[k][i] - m.target_centroid[i];
    }
    const Vec3 ra = rotate(q, a);
    projection += static_cast<double>(e.weight) * (ra[0] * b[0] + ra[1] * b[1] + ra[2] * b[2]);
  }
  const double scale = projection / m.model_spread;
  const Vec3 rc = rotate(q, m.model_centroid);

  out.rotation = q;
  out.scale = scale;
  for (int i = 0; i < 3; ++i) out.translation[i] = m.target_centroid[i] - scale * rc[i];
  return scale > 0.0;
}
