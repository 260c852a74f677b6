// The avatar's bones and expressions from tracking results: head rotation in
// Unity's frame, finger bends with their direction, the VRM presets and the
// Left/Right exchange of a mirrored avatar.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/app/vmc_hand_fixture.h"
#include "tools/bridge-host/vmc_fingers.h"
#include "tools/bridge-host/vmc_head.h"
#include "tools/bridge-host/vmc_presets.h"
#include "wire/blendshape_names.h"

namespace {

constexpr float kPi = 3.1415927f;

Quat about(Vec3 axis, float degrees) {
  const float h = degrees * kPi / 360.0f;
  axis = normalized(axis);
  return {axis.x * std::sin(h), axis.y * std::sin(h), axis.z * std::sin(h), std::cos(h)};
}

void expect_near(const Vec3& a, const Vec3& b, float tolerance = 1e-4f) {
  EXPECT_NEAR(a.x, b.x, tolerance);
  EXPECT_NEAR(a.y, b.y, tolerance);
  EXPECT_NEAR(a.z, b.z, tolerance);
}

int index_of(const char* name) {
  for (int i = 0; i < wire::kFaceBlendshapeCount; ++i)
    if (std::string(name) == wire::kBlendshapeNames[i]) return i;
  ADD_FAILURE() << name;
  return 0;
}

TEST(VmcRotation, FromToScaledAndAngle) {
  const Vec3 x{1, 0, 0}, y{0, 1, 0};
  expect_near(rotate(from_to(x, y), x), y);
  expect_near(rotate(from_to(x, Vec3{-1, 0, 0}), x), Vec3{-1, 0, 0});  // opposite: half a turn
  EXPECT_NEAR(angle_degrees(from_to(x, y)), 90.0f, 1e-3f);
  const Quat q = about({0, 1, 1}, 80);
  EXPECT_NEAR(angle_degrees(scaled(q, 0.25f)), 20.0f, 1e-3f);
  expect_near(rotate(scaled(q, 1.0f), x), rotate(q, x));
  EXPECT_EQ(angle_degrees(scaled(q, 0.0f)), 0.0f);
  // A rotation and its negation are one rotation.
  EXPECT_NEAR(angle_degrees(Quat{-q.x, -q.y, -q.z, -q.w}), 80.0f, 1e-3f);
  const Quat bad = normalized(Quat{NAN, 0, 0, 1});
  EXPECT_EQ(bad.w, 1.0f);
}

TEST(VmcHead, MirroredTurnsWithTheReflectionUnmirroredWithTheUser) {
  // The user turns to their own left: in the camera's frame the face's
  // forward (+z) swings towards +x.
  const Quat turn = about({0, 1, 0}, 30);
  const std::array<float, 4> face{turn.x, turn.y, turn.z, turn.w};
  // The avatar faces the viewer along +Z; +X is on the viewer's left.
  const Vec3 mirrored = rotate(avatar_head_rotation(face, true), Vec3{0, 0, 1});
  const Vec3 unmirrored = rotate(avatar_head_rotation(face, false), Vec3{0, 0, 1});
  EXPECT_NEAR(mirrored.x, 0.5f, 1e-4f);
  EXPECT_NEAR(unmirrored.x, -0.5f, 1e-4f);
  // Nodding (about x) looks the same either way.
  const Quat nod = about({1, 0, 0}, 20);
  const Vec3 a = rotate(avatar_head_rotation({nod.x, nod.y, nod.z, nod.w}, true), Vec3{0, 0, 1});
  const Vec3 b = rotate(avatar_head_rotation({nod.x, nod.y, nod.z, nod.w}, false), Vec3{0, 0, 1});
  expect_near(a, b);
}

TEST(VmcHead, NeckTakesItsShareAndTogetherTheyMakeTheWhole) {
  const Quat q = about({0.3f, 1, -0.2f}, 50);
  const HeadBones bones = split_head(q, 0.3f);
  EXPECT_NEAR(angle_degrees(bones.neck), 15.0f, 1e-2f);
  EXPECT_NEAR(angle_degrees(bones.head), 35.0f, 1e-2f);
  const Vec3 v{0.2f, 0.5f, 0.8f};
  expect_near(rotate(bones.neck * bones.head, v), rotate(q, v));
  EXPECT_EQ(angle_degrees(split_head(q, 0.0f).neck), 0.0f);
}

TEST(VmcFingers, StraightHandRestsAndSidesFollowHandednessAndMirror) {
  const wire::Hand right = vmc_test::open_right_hand();
  for (bool mirrored : {false, true}) {
    for (const wire::Hand& hand : {right, vmc_test::mirrored_hand(right)}) {
      const FingerBones bones = finger_bones(hand, mirrored, 0);
      const bool users_right = hand.handedness == 1;
      EXPECT_EQ(bones.side, users_right != mirrored ? kAvatarRight : kAvatarLeft);
      for (int f = 1; f < kFingerCount; ++f) EXPECT_LT(bones.bend[static_cast<size_t>(f)], 1.0f) << f;
      // The thumb stands 50 degrees from the axis, its rest 40.
      EXPECT_NEAR(bones.bend[static_cast<size_t>(0)], 10.0f, 1.5f);
    }
  }
}

TEST(VmcFingers, CurledFingersBendTowardsThePalmOnEitherAvatarHand) {
  const wire::Hand right = vmc_test::open_right_hand({1, 3});
  for (bool mirrored : {false, true}) {
    for (const wire::Hand& hand : {right, vmc_test::mirrored_hand(right)}) {
      const FingerBones bones = finger_bones(hand, mirrored, 0);
      const float outward = bones.side == kAvatarRight ? 1.0f : -1.0f;
      for (int f : {1, 3}) {
        EXPECT_NEAR(bones.bend[static_cast<size_t>(f)], 180.0f, 1.0f) << f;
        const Quat proximal = bones.bones[3 * f];
        const Quat middle = proximal * bones.bones[3 * f + 1];
        const Quat last = middle * bones.bones[3 * f + 2];
        // Palm down: the middle segment points down (-Y), the last one back
        // along the arm.
        expect_near(rotate(middle, Vec3{outward, 0, 0}), Vec3{0, -1, 0});
        expect_near(rotate(last, Vec3{outward, 0, 0}), Vec3{-outward, 0, 0});
      }
      EXPECT_LT(bones.bend[static_cast<size_t>(2)], 1.0f);
      // The thumb points out along the arm and to the front (+Z).
      const Vec3 thumb =
          rotate(bones.bones[0], Vec3{outward * std::cos(0.6981317f), 0, std::sin(0.6981317f)});
      EXPECT_GT(thumb.x * outward, 0.5f);
      EXPECT_GT(thumb.z, 0.5f);
    }
  }
}

TEST(VmcFingers, BaseJointsCountFromTheOpenHandsBendAndSpreadAtMost30Degrees) {
  wire::Hand hand = vmc_test::open_right_hand();
  // The little finger's base segment swings 60 degrees towards the image's
  // left, away from the thumb.
  vmc_test::put(hand, 18, -0.5f - 0.4f * 0.866f, -1.0f - 0.4f * 0.5f, 0);
  const FingerBones bones = finger_bones(hand, false, 30);
  ASSERT_EQ(bones.side, kAvatarRight);
  for (int f = 1; f < kFingerCount; ++f) {
    EXPECT_NEAR(bones.bend[static_cast<size_t>(f)], -30.0f, 0.5f) << f;
    // Less bent than the open hand: the base bone lifts the finger (+Y).
    EXPECT_GT(rotate(bones.bones[static_cast<size_t>(3 * f)], Vec3{1, 0, 0}).y, 0.4f) << f;
  }
  const Vec3 little = rotate(finger_bones(hand, false, 0).bones[12], Vec3{1, 0, 0});
  EXPECT_NEAR(std::asin(-little.z) * 57.29578f, 30.0f, 0.5f);  // spread away from the thumb, clamped
}

TEST(VmcFingers, PalmNormalPointsOutOfThePalm) {
  // Palm towards the camera: +z in the camera's frame, for either hand.
  EXPECT_GT(palm_normal(vmc_test::open_right_hand()).z, 0.99f);
  EXPECT_GT(palm_normal(vmc_test::mirrored_hand(vmc_test::open_right_hand())).z, 0.99f);
}

TEST(VmcFingers, CollapsedLandmarksGiveFiniteRotations) {
  wire::Hand hand;  // every landmark on one point
  hand.handedness = 1;
  const FingerBones bones = finger_bones(hand, true);
  for (float bend : bones.bend) EXPECT_TRUE(std::isfinite(bend));
  for (const Quat& q : bones.bones) {
    EXPECT_TRUE(std::isfinite(q.x) && std::isfinite(q.y) && std::isfinite(q.z) && std::isfinite(q.w));
    EXPECT_NEAR(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w, 1.0f, 1e-4f);
  }
}

TEST(VmcPresets, EachPresetFollowsItsCoefficients) {
  const auto with = [](std::initializer_list<std::pair<const char*, float>> values) {
    Blendshapes b{};
    for (const auto& [name, v] : values) b[static_cast<size_t>(index_of(name))] = v;
    return vrm_presets(b);
  };
  Presets p = with({{"eyeBlinkLeft", 0.8f}});
  EXPECT_FLOAT_EQ(p[kBlinkL], 0.8f);
  EXPECT_FLOAT_EQ(p[kBlinkR], 0.0f);
  EXPECT_FLOAT_EQ(with({{"eyeBlinkRight", 0.6f}})[kBlinkR], 0.6f);
  p = with({{"jawOpen", 1.0f}});
  EXPECT_FLOAT_EQ(p[kVowelA], 1.0f);
  EXPECT_FLOAT_EQ(p[kVowelU], 0.0f);
  EXPECT_FLOAT_EQ(p[kVowelE], 0.0f);
  p = with({{"jawOpen", 0.5f}, {"mouthStretchLeft", 0.8f}, {"mouthStretchRight", 0.4f}});
  EXPECT_FLOAT_EQ(p[kVowelE], 0.3f);
  EXPECT_FLOAT_EQ(p[kVowelI], 0.3f);
  p = with({{"mouthPucker", 0.9f}});
  EXPECT_FLOAT_EQ(p[kVowelU], 0.9f);
  EXPECT_FLOAT_EQ(with({{"mouthFunnel", 0.7f}, {"jawOpen", 1.0f}})[kVowelO], 0.7f);
  EXPECT_NEAR(with({{"mouthFunnel", 0.7f}, {"jawOpen", 1.0f}})[kVowelA], 0.3f, 1e-6f);
  EXPECT_FLOAT_EQ(with({{"mouthSmileLeft", 1.0f}, {"mouthSmileRight", 0.5f}})[kJoy], 0.75f);
  EXPECT_FLOAT_EQ(with({{"browDownLeft", 0.4f}, {"browDownRight", 0.4f}})[kAngry], 0.4f);
  EXPECT_FLOAT_EQ(with({{"mouthFrownLeft", 0.2f}, {"mouthFrownRight", 0.6f}})[kSorrow], 0.4f);
  // Out-of-range coefficients are clamped.
  p = with({{"jawOpen", 7.0f}, {"eyeBlinkLeft", -1.0f}});
  EXPECT_FLOAT_EQ(p[kVowelA], 1.0f);
  EXPECT_FLOAT_EQ(p[kBlinkL], 0.0f);
  EXPECT_STREQ(kPresetNames[kBlinkL], "Blink_L");
  EXPECT_STREQ(kPresetNames[kSorrow], "Sorrow");
}

TEST(VmcPresets, MirroringExchangesEveryLeftAndRightPair) {
  const auto mirror = mirror_permutation();
  int swapped = 0;
  for (int i = 0; i < wire::kFaceBlendshapeCount; ++i) {
    const int j = mirror[static_cast<size_t>(i)];
    EXPECT_EQ(mirror[static_cast<size_t>(j)], i);
    std::string name = wire::kBlendshapeNames[i];
    if (j != i) ++swapped;
    const bool sided = name.ends_with("Left") || name.ends_with("Right");
    EXPECT_EQ(j != i, sided) << name;
  }
  EXPECT_EQ(swapped, 40);  // 20 pairs
  EXPECT_EQ(mirror[static_cast<size_t>(index_of("jawLeft"))], index_of("jawRight"));
  Blendshapes user{};
  user[static_cast<size_t>(index_of("eyeBlinkLeft"))] = 1.0f;
  user[static_cast<size_t>(index_of("jawOpen"))] = 0.5f;
  const Blendshapes avatar = avatar_blendshapes(user, mirror, true);
  EXPECT_EQ(avatar[static_cast<size_t>(index_of("eyeBlinkRight"))], 1.0f);
  EXPECT_EQ(avatar[static_cast<size_t>(index_of("eyeBlinkLeft"))], 0.0f);
  EXPECT_EQ(avatar[static_cast<size_t>(index_of("jawOpen"))], 0.5f);
  EXPECT_EQ(avatar_blendshapes(user, mirror, false), user);
}

}  // namespace
