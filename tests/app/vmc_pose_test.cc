// From frame to frame: the One Euro filter, holding and easing a lost face or
// hand, and the avatar pose that puts them together.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/app/vmc_hand_fixture.h"
#include "tools/bridge-host/one_euro.h"
#include "tools/bridge-host/vmc_fade.h"
#include "tools/bridge-host/vmc_pose.h"

namespace {

constexpr float kDt = 1.0f / 30;

TEST(OneEuro, SmoothsTrembleFollowsMovesAndRecoversFromBadSamples) {
  const OneEuroParams params{1.0f, 1.0f, 1.0f};
  OneEuro f;
  EXPECT_EQ(one_euro(f, params, 0.5f, 0), 0.5f);  // the first sample passes
  // A tremble of +-0.01 around 0.5 comes out far smaller.
  float widest = 0;
  for (int i = 0; i < 60; ++i) {
    const float out = one_euro(f, params, 0.5f + (i % 2 ? 0.01f : -0.01f), kDt);
    widest = std::max(widest, std::fabs(out - 0.5f));
  }
  EXPECT_LT(widest, 0.004f);
  // A step is followed monotonically, and faster with a larger beta.
  OneEuro slow = f, fast = f;
  float last_slow = one_euro(slow, {1.0f, 0.0f, 1.0f}, 1.0f, kDt);
  float last_fast = one_euro(fast, {1.0f, 5.0f, 1.0f}, 1.0f, kDt);
  EXPECT_GT(last_fast, last_slow);
  for (int i = 0; i < 30; ++i) {
    const float s = one_euro(slow, {1.0f, 0.0f, 1.0f}, 1.0f, kDt);
    EXPECT_GE(s, last_slow);
    EXPECT_LE(s, 1.0f);
    last_slow = s;
  }
  EXPECT_GT(last_slow, 0.95f);
  // A repeated timestamp keeps the output; a NaN does not stick.
  EXPECT_EQ(one_euro(slow, params, 0.0f, 0.0f), last_slow);
  one_euro(slow, params, NAN, kDt);
  EXPECT_EQ(one_euro(slow, params, 0.25f, kDt), 0.25f);
  reset_one_euro(slow);
  EXPECT_EQ(one_euro(slow, params, 0.75f, kDt), 0.75f);
}

TEST(OneEuro, RotationNearHalfATurnKeepsItsAngle) {
  // 179 degrees about y, then 181: the same axis, but normalised with w >= 0
  // the second comes out as 179 degrees about -y, all components flipped.
  const auto about_y = [](float degrees) {
    const float h = degrees * 3.1415927f / 360.0f;
    return normalized(Quat{0, std::sin(h), 0, std::cos(h)});
  };
  QuatFilter f{};
  for (int i = 0; i < 30; ++i) {
    const Quat out = filter_rotation(f, {1.0f, 1.0f, 1.0f}, about_y(i % 2 ? 181.0f : 179.0f), kDt);
    EXPECT_GT(angle_degrees(out), 175.0f) << i;
  }
}

TEST(Fade, HoldsThenEasesSmoothlyToNothing) {
  const Fade fade{1.0f, 1.0f};
  EXPECT_EQ(held_share(fade, 0.0), 1.0f);
  EXPECT_EQ(held_share(fade, 1.0), 1.0f);
  EXPECT_NEAR(held_share(fade, 1.5), 0.5f, 1e-6f);
  EXPECT_EQ(held_share(fade, 2.0), 0.0f);
  EXPECT_EQ(held_share(fade, 100.0), 0.0f);
  float previous = 1.0f;
  for (double t = 1.0; t <= 2.0; t += 0.05) {
    const float share = held_share(fade, t);
    EXPECT_LE(share, previous);
    EXPECT_LT(previous - share, 0.1f);  // no jump
    previous = share;
  }
  EXPECT_EQ(held_share(Fade{0.5f, 0.0f}, 0.6), 0.0f);
}

Quat about_y(float degrees) {
  const float h = degrees * 3.1415927f / 360.0f;
  return {0, std::sin(h), 0, std::cos(h)};
}

wire::Face face_turned(float degrees, float blink = 0) {
  wire::Face face;
  face.found = 1;
  const Quat q = about_y(degrees);
  face.rotation = {q.x, q.y, q.z, q.w};
  face.blendshapes[8] = blink;  // eyeBlinkLeft
  return face;
}

float head_degrees(const AvatarPose& pose) { return angle_degrees(pose.head.neck * pose.head.head); }

TEST(VmcPose, NoFaceYetIsTheRestPose) {
  VmcState s = make_vmc_state({});
  wire::Face none;
  none.rotation = {0, 0, 0, 1};
  step_vmc(s, 0.0, &none, nullptr);
  step_vmc(s, 0.1, nullptr, nullptr);
  EXPECT_FALSE(s.pose.face_found);
  EXPECT_EQ(head_degrees(s.pose), 0.0f);
  for (float b : s.pose.blendshapes) EXPECT_EQ(b, 0.0f);
  for (const auto& side : s.pose.fingers)
    for (const Quat& q : side) EXPECT_EQ(angle_degrees(q), 0.0f);
}

TEST(VmcPose, LostFaceHoldsForASecondThenEasesToNeutral) {
  VmcSettings settings;
  settings.smoothing = false;
  VmcState s = make_vmc_state(settings);
  const wire::Face seen = face_turned(40, 0.8f);
  step_vmc(s, 0.0, &seen, nullptr);
  EXPECT_TRUE(s.pose.face_found);
  EXPECT_NEAR(head_degrees(s.pose), 40.0f, 1e-2f);
  EXPECT_NEAR(angle_degrees(s.pose.head.neck), 12.0f, 1e-2f);
  wire::Face lost;
  lost.rotation = {0, 0, 0, 1};
  step_vmc(s, 0.9, &lost, nullptr);
  EXPECT_FALSE(s.pose.face_found);
  EXPECT_NEAR(head_degrees(s.pose), 40.0f, 1e-2f);
  // Mirrored: the user's left eye is the avatar's right one.
  EXPECT_FLOAT_EQ(s.pose.blendshapes[9], 0.8f);
  EXPECT_FLOAT_EQ(s.pose.presets[kBlinkR], 0.8f);
  step_vmc(s, 1.5, &lost, nullptr);
  EXPECT_NEAR(head_degrees(s.pose), 20.0f, 1e-2f);
  EXPECT_NEAR(s.pose.blendshapes[9], 0.4f, 1e-5f);
  step_vmc(s, 2.1, &lost, nullptr);
  EXPECT_EQ(head_degrees(s.pose), 0.0f);
  EXPECT_EQ(s.pose.blendshapes[9], 0.0f);
  // Found again: the new pose at once (no smoothing), the clock restarted.
  const wire::Face back = face_turned(-10);
  step_vmc(s, 2.2, &back, nullptr);
  step_vmc(s, 3.0, &lost, nullptr);
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
    if (i > 30) {
      raw_change += std::fabs(r - raw_prev);
      smooth_change += std::fabs(m - smooth_prev);
    }
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
  std::vector<wire::Hand> hands{vmc_test::open_right_hand({1})};
  step_vmc(s, 0.0, nullptr, &hands);
  // Mirrored: the user's right hand is the avatar's left.
  EXPECT_NEAR(finger_angle_degrees(s.pose.fingers[kAvatarLeft], 1), 180.0f, 1.0f);
  EXPECT_EQ(finger_angle_degrees(s.pose.fingers[kAvatarRight], 1), 0.0f);
  const std::vector<wire::Hand> none;
  step_vmc(s, 0.5, nullptr, &none);
  EXPECT_NEAR(finger_angle_degrees(s.pose.fingers[kAvatarLeft], 1), 180.0f, 1.0f);
  step_vmc(s, 1.5, nullptr, &none);
  const float halfway = finger_angle_degrees(s.pose.fingers[kAvatarLeft], 1);
  EXPECT_GT(halfway, 45.0f);
  EXPECT_LT(halfway, 135.0f);
  step_vmc(s, 2.5, nullptr, nullptr);
  EXPECT_EQ(finger_angle_degrees(s.pose.fingers[kAvatarLeft], 1), 0.0f);
}

TEST(VmcPose, TwoHandsOnOneSideTheSurerWins) {
  VmcState s = make_vmc_state(vmc_test::unsmoothed(false));
  wire::Hand sure = vmc_test::open_right_hand({2});
  wire::Hand unsure = vmc_test::open_right_hand({1});
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
