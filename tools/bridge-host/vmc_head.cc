#include "tools/bridge-host/vmc_head.h"

Quat avatar_head_rotation(const std::array<float, 4>& r, bool mirrored) {
  const Quat q{r[0], r[1], r[2], r[3]};
  return normalized(mirrored ? q : Quat{q.x, -q.y, -q.z, q.w});
}

HeadBones split_head(const Quat& rotation, float neck_share) {
  HeadBones bones;
  bones.neck = scaled(rotation, neck_share);
  bones.head = normalized(conjugate(bones.neck) * rotation);
  return bones;
}
