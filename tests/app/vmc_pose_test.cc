// The avatar's pose from tracking results: head rotation in Unity's frame,
// finger bends with their direction, the VRM presets and the Left/Right
// exchange of a mirrored avatar; then from frame to frame: the One Euro
// filter, holding and easing a lost face or hand, and the surer of two hands.
#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <string>
#include <vector>

#include "tests/app/vmc_hand_fixture.h"
#include "wire/blendshape_names.h"

namespace {

using vmc_test::about;
constexpr float kDt = 1.0f / 30;

void expect_near(const Vec3& a, const Vec3& b) {
  EXPECT_NEAR(a.x, b.x, 1e-4f);
  EXPECT_NEAR(a.y, b.y, 1e-4f);
  EXPECT_NEAR(a.z, b.z, 1e-4f);
}

size_t index_of(const std::string& name) {
  for (int i = 0; i < wire::kFaceBlendshapeCount; ++i)
    if (name == wire::kBlendshapeNames[i]) return static_cast<size_t>(i);
  ADD_FAILURE() << name;
  return 0;
}

// The cases the other tests do not reach: opposite directions, a share of
// nothing, a negated quaternion, one that is not a number.
TEST(VmcRotation, EdgeCases) {
  const Vec3 x{1, 0, 0};
  expect_near(rotate(from_to(x, Vec3{-1, 0, 0}), x), Vec3{-1, 0, 0});
  const Quat q = about({0, 1, 1}, 80);
  EXPECT_NEAR(angle_degrees(scaled(q, 0.25f)), 20.0f, 1e-3f);
  EXPECT_EQ(angle_degrees(scaled(q, 0.0f)), 0.0f);
  EXPECT_NEAR(angle_degrees(Quat{-q.x, -q.y, -q.z, -q.w}), 80.0f, 1e-3f);
  EXPECT_EQ(normalized(Quat{NAN, 0, 0, 1}).w, 1.0f);
}

// The user turns to their own left: in the camera's frame the face's forward
// (+z) swings towards +x. The avatar faces the viewer along +Z, +X on the
// viewer's left. A nod looks the same either way.
TEST(VmcHead, MirroredTurnsWithTheReflectionUnmirroredWithTheUser) {
  const auto forward = [](const Quat& q, bool mirrored) {
    return rotate(avatar_head_rotation({q.x, q.y, q.z, q.w}, mirrored), Vec3{0, 0, 1});
  };
  EXPECT_NEAR(forward(about({0, 1, 0}, 30), true).x, 0.5f, 1e-4f);
  EXPECT_NEAR(forward(about({0, 1, 0}, 30), false).x, -0.5f, 1e-4f);
  expect_near(forward(about({1, 0, 0}, 20), true), forward(about({1, 0, 0}, 20), false));
}

// A right hand with the index and ring fingers curled, and its mirror image,
// on either avatar: the side follows handedness and mirroring; curled fingers
// bend 180 degrees towards the palm (palm down: the middle segment points
// down, -Y, the last one back along the arm), straight ones rest, and the
// thumb, 50 degrees from the axis against a rest of 40, points out along the
// arm and to the front (+Z).
TEST(VmcFingers, SidesBendsAndDirections) {
  const wire::Hand right = vmc_test::open_right_hand({1, 3});
  for (bool mirrored : {false, true}) {
    for (const wire::Hand& hand : {right, vmc_test::mirrored_hand(right)}) {
      SCOPED_TRACE(testing::Message() << "mirrored " << mirrored << ", right " << int(hand.handedness));
      EXPECT_GT(palm_normal(hand).z, 0.99f);  // towards the camera
      const FingerBones bones = finger_bones(hand, mirrored, 0);
      EXPECT_EQ(bones.side, (hand.handedness == 1) != mirrored ? kAvatarRight : kAvatarLeft);
      const float outward = bones.side == kAvatarRight ? 1.0f : -1.0f;
      EXPECT_NEAR(bones.bend[0], 10.0f, 1.5f);
      EXPECT_LT(bones.bend[2], 1.0f);
      EXPECT_LT(bones.bend[4], 1.0f);
      for (size_t f : {1, 3}) {
        EXPECT_NEAR(bones.bend[f], 180.0f, 1.0f) << f;
        const Quat middle = bones.bones[3 * f] * bones.bones[3 * f + 1];
        expect_near(rotate(middle, Vec3{outward, 0, 0}), Vec3{0, -1, 0});
        expect_near(rotate(middle * bones.bones[3 * f + 2], Vec3{outward, 0, 0}), Vec3{-outward, 0, 0});
      }
      const Vec3 thumb = rotate(bones.bones[0], Vec3{outward * std::cos(0.6981317f), 0, std::sin(0.6981317f)});
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
  for (size_t f = 1; f < kFingerCount; ++f) {
    EXPECT_NEAR(bones.bend[f], -30.0f, 0.5f) << f;
    // Less bent than the open hand: the base bone lifts the finger (+Y).
    EXPECT_GT(rotate(bones.bones[3 * f], Vec3{1, 0, 0}).y, 0.4f) << f;
  }
  const Vec3 little = rotate(finger_bones(hand, false, 0).bones[12], Vec3{1, 0, 0});
  EXPECT_NEAR(std::asin(-little.z) * 57.29578f, 30.0f, 0.5f);  // spread away from the thumb, clamped
}

TEST(VmcFingers, CollapsedLandmarksGiveFiniteRotations) {
  wire::Hand hand;  // every landmark on one point
  hand.handedness = 1;
  const FingerBones bones = finger_bones(hand, true);
  for (float bend : bones.bend) EXPECT_TRUE(std::isfinite(bend));
  for (const Quat& q : bones.bones) EXPECT_NEAR(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w, 1.0f, 1e-4f);
}

// Each preset from the coefficients it follows (values that tell any two
// apart), clamped into 0..1.
TEST(VmcPresets, EachPresetFollowsItsCoefficients) {
  const auto presets = [](std::initializer_list<std::pair<const char*, float>> values) {
    Blendshapes b{};
    for (const auto& [name, v] : values) b[index_of(name)] = v;
    return vrm_presets(b);
  };
  const Presets p = presets({{"eyeBlinkLeft", 0.8f}, {"eyeBlinkRight", 0.6f}, {"jawOpen", 0.25f},
                             {"mouthStretchLeft", 0.8f}, {"mouthStretchRight", 0.4f}, {"mouthPucker", 0.3f},
                             {"mouthFunnel", 0.2f}, {"mouthSmileLeft", 1.0f}, {"mouthSmileRight", 0.5f},
                             {"browDownLeft", 0.4f}, {"browDownRight", 0.2f}, {"mouthFrownLeft", 0.2f},
                             {"mouthFrownRight", 0.6f}});
  const float expected[kPresetCount] = {0.8f, 0.6f, 0.175f, 0.45f, 0.225f, 0.15f, 0.2f, 0.75f, 0.3f, 0.4f};
  for (size_t k = 0; k < static_cast<size_t>(kPresetCount); ++k) EXPECT_NEAR(p[k], expected[k], 1e-6f) << kPresetNames[k];
  const Presets clamped = presets({{"jawOpen", 7.0f}, {"eyeBlinkLeft", -1.0f}});
  EXPECT_EQ(clamped[kVowelA], 1.0f);
  EXPECT_EQ(clamped[kBlinkL], 0.0f);
}

TEST(VmcPresets, MirroringExchangesEveryLeftAndRightPair) {
  const auto mirror = mirror_permutation();
  int swapped = 0;
  for (int i = 0; i < wire::kFaceBlendshapeCount; ++i) {
    const int j = mirror[static_cast<size_t>(i)];
    const std::string name = wire::kBlendshapeNames[i];
    EXPECT_EQ(mirror[static_cast<size_t>(j)], i);
    EXPECT_EQ(j != i, name.ends_with("Left") || name.ends_with("Right")) << name;
    swapped += j != i;
  }
  EXPECT_EQ(swapped, 40);  // 20 pairs
  EXPECT_EQ(mirror[index_of("jawLeft")], static_cast<int>(index_of("jawRight")));
  Blendshapes user{};  // (mirrored: in VmcPose.LostFaceHoldsForASecondThenEasesToNeutral)
  user[index_of("eyeBlinkLeft")] = 1.0f;
  EXPECT_EQ(avatar_blendshapes(user, mirror, false), user);
}

TEST(OneEuro, SmoothsTrembleFollowsMovesAndRecoversFromBadSamples) {
  const OneEuroParams params{1.0f, 1.0f, 1.0f}, still{1.0f, 0.0f, 1.0f}, quick{1.0f, 5.0f, 1.0f};
  OneEuro f;
  EXPECT_EQ(one_euro(f, params, 0.5f, 0), 0.5f);  // the first sample passes
  float widest = 0;  // a tremble of +-0.01 around 0.5 comes out far smaller
  for (int i = 0; i < 60; ++i)
    widest = std::max(widest, std::fabs(one_euro(f, params, 0.5f + (i % 2 ? 0.01f : -0.01f), kDt) - 0.5f));
  EXPECT_LT(widest, 0.004f);
  // A step is followed monotonically, and faster with a larger beta.
  OneEuro slow = f, fast = f;
  float last = one_euro(slow, still, 1.0f, kDt);
  EXPECT_GT(one_euro(fast, quick, 1.0f, kDt), last);
  for (int i = 0; i < 30; ++i) {
    const float s = one_euro(slow, still, 1.0f, kDt);
    EXPECT_TRUE(s >= last && s <= 1.0f) << s;
    last = s;
  }
  EXPECT_GT(last, 0.95f);
  // A repeated timestamp keeps the output; a NaN does not stick.
  EXPECT_EQ(one_euro(slow, params, 0.0f, 0.0f), last);
  one_euro(slow, params, NAN, kDt);
  EXPECT_EQ(one_euro(slow, params, 0.25f, kDt), 0.25f);
  reset_one_euro(slow);
  EXPECT_EQ(one_euro(slow, params, 0.75f, kDt), 0.75f);
}

// 179 degrees about y, then 181: the same axis, but normalised with w >= 0
// the second comes out as 179 degrees about -y, all components flipped.
TEST(OneEuro, RotationNearHalfATurnKeepsItsAngle) {
  QuatFilter f{};
  for (int i = 0; i < 30; ++i) {
    const Quat q = normalized(about({0, 1, 0}, i % 2 ? 181.0f : 179.0f));
    EXPECT_GT(angle_degrees(filter_rotation(f, {1.0f, 1.0f, 1.0f}, q, kDt)), 175.0f) << i;
  }
}

wire::Face face_turned(float degrees, float blink = 0) {
  wire::Face face;
  face.found = 1;
  const Quat q = about({0, 1, 0}, degrees);
  face.rotation = {q.x, q.y, q.z, q.w};
  face.blendshapes[8] = blink;  // eyeBlinkLeft
  return face;
}

float head_degrees(const AvatarPose& pose) { return angle_degrees(pose.head.neck * pose.head.head); }

TEST(VmcPose, LostFaceHoldsForASecondThenEasesToNeutral) {
  VmcState s = make_vmc_state(vmc_test::unsmoothed());
  wire::Face lost;
  lost.rotation = {0, 0, 0, 1};
  step_vmc(s, 0.0, &lost, nullptr);  // no face yet: the rest pose
  EXPECT_EQ(head_degrees(s.pose), 0.0f);
  const wire::Face seen = face_turned(40, 0.8f);
  step_vmc(s, 0.1, &seen, nullptr);
  EXPECT_TRUE(s.pose.face_found);
  EXPECT_NEAR(head_degrees(s.pose), 40.0f, 1e-2f);
  EXPECT_NEAR(angle_degrees(s.pose.head.neck), 12.0f, 1e-2f);  // the neck's share
  step_vmc(s, 1.0, &lost, nullptr);
  EXPECT_FALSE(s.pose.face_found);
  EXPECT_NEAR(head_degrees(s.pose), 40.0f, 1e-2f);
  // Mirrored: the user's left eye is the avatar's right one.
  EXPECT_FLOAT_EQ(s.pose.blendshapes[9], 0.8f);
  EXPECT_FLOAT_EQ(s.pose.presets[kBlinkR], 0.8f);
  float previous = 40.0f;  // eased from 1.1 to 2.1 s without a jump, half way at 1.6
  for (int k = 3; k <= 20; ++k) {
    step_vmc(s, 1.0 + 0.05 * k, &lost, nullptr);
    const float degrees = head_degrees(s.pose);
    EXPECT_TRUE(degrees <= previous && previous - degrees < 4.0f) << k;
    previous = degrees;
    if (k == 12) {
      EXPECT_NEAR(degrees, 20.0f, 1e-2f);
      EXPECT_NEAR(s.pose.blendshapes[9], 0.4f, 1e-5f);
    }
  }
  step_vmc(s, 2.2, nullptr, nullptr);
  EXPECT_EQ(head_degrees(s.pose), 0.0f);
  EXPECT_EQ(s.pose.blendshapes[9], 0.0f);
  EXPECT_EQ(held_share(Fade{0.5f, 0.0f}, 0.6), 0.0f);  // no easing at all
  // Found again: the new pose at once (no smoothing), the clock restarted.
  const wire::Face back = face_turned(-10);
  step_vmc(s, 2.3, &back, nullptr);
  step_vmc(s, 3.1, &lost, nullptr);
  EXPECT_NEAR(head_degrees(s.pose), 10.0f, 1e-2f);
}

TEST(VmcPose, SmoothingCalmsATrembleWithoutLosingTheFinalPose) {
  VmcState raw = make_vmc_state(vmc_test::unsmoothed());
  VmcState smooth = make_vmc_state({});
  float raw_change = 0, smooth_change = 0, raw_prev = 0, smooth_prev = 0;
  std::vector<wire::Hand> hands{vmc_test::open_right_hand()};
  for (int i = 0; i < 90; ++i) {
    const wire::Face face = face_turned(20.0f + (i % 2 ? 1.0f : -1.0f), i % 2 ? 0.55f : 0.45f);
    hands[0].landmarks[3 * 8 + 2] = i % 2 ? 0.05f : -0.05f;  // the index tip trembles
    step_vmc(raw, i * kDt, &face, &hands);
    step_vmc(smooth, i * kDt, &face, &hands);
    const float r = head_degrees(raw.pose), m = head_degrees(smooth.pose);
    if (i > 30) raw_change += std::fabs(r - raw_prev), smooth_change += std::fabs(m - smooth_prev);
    raw_prev = r;
    smooth_prev = m;
  }
  EXPECT_LT(smooth_change, raw_change / 4);
  EXPECT_NEAR(smooth_prev, 20.0f, 1.0f);
  EXPECT_NEAR(smooth.pose.blendshapes[9], 0.5f, 0.03f);
  EXPECT_LT(std::fabs(angle_degrees(smooth.pose.fingers[kAvatarLeft][5])),
            std::fabs(angle_degrees(raw.pose.fingers[kAvatarLeft][5])) + 1.0f);
}

TEST(VmcPose, HandsDriveTheirSideAndEaseBackWhenGone) {
  VmcState s = make_vmc_state(vmc_test::unsmoothed());
  const std::vector<wire::Hand> hands{vmc_test::open_right_hand({1})}, none;
  step_vmc(s, 0.0, nullptr, &hands);
  // Mirrored: the user's right hand is the avatar's left.
  EXPECT_NEAR(finger_angle_degrees(s.pose.fingers[kAvatarLeft], 1), 180.0f, 1.0f);
  EXPECT_EQ(finger_angle_degrees(s.pose.fingers[kAvatarRight], 1), 0.0f);
  step_vmc(s, 0.5, nullptr, &none);
  EXPECT_NEAR(finger_angle_degrees(s.pose.fingers[kAvatarLeft], 1), 180.0f, 1.0f);
  step_vmc(s, 1.5, nullptr, &none);
  const float halfway = finger_angle_degrees(s.pose.fingers[kAvatarLeft], 1);
  EXPECT_TRUE(halfway > 45.0f && halfway < 135.0f) << halfway;
  step_vmc(s, 2.5, nullptr, nullptr);
  EXPECT_EQ(finger_angle_degrees(s.pose.fingers[kAvatarLeft], 1), 0.0f);
}

TEST(VmcPose, TwoHandsOnOneSideTheSurerWins) {
  VmcState s = make_vmc_state(vmc_test::unsmoothed(false));
  wire::Hand sure = vmc_test::open_right_hand({2}), unsure = vmc_test::open_right_hand({1});
  sure.handedness_score = 0.95f;
  unsure.handedness_score = 0.6f;
  for (const auto& hands : {std::vector<wire::Hand>{sure, unsure}, std::vector<wire::Hand>{unsure, sure}}) {
    step_vmc(s, 0.0, nullptr, &hands);
    EXPECT_NEAR(finger_angle_degrees(s.pose.fingers[kAvatarRight], 2), 180.0f, 1.0f);
    EXPECT_LT(finger_angle_degrees(s.pose.fingers[kAvatarRight], 1), 1.0f);
    EXPECT_EQ(finger_angle_degrees(s.pose.fingers[kAvatarLeft], 2), 0.0f);
  }
}

}  // namespace
