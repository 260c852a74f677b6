#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tools/bridge-host/datagram_json.h"
#include "tools/bridge-host/json_member.h"
#include "tools/bridge-host/live_view.h"
#include "tools/bridge-host/run_summary.h"
#include "wire/face.h"
#include "wire/hands.h"
#include "wire/status.h"

namespace {

const wire::Token kToken{};

wire::Bytes face_datagram(uint8_t found) {
  wire::Face f;
  f.found = found;
  return wire::face(kToken, 4, 99, f);
}

wire::Bytes running(double fps, double inference_ms) {
  const std::string document = "{\"state\":\"running\",\"message\":\"\\\"fps\\\":9\",\"fps\":" +
                               std::to_string(fps) +
                               ",\"inference_ms\":" + std::to_string(inference_ms) + "}";
  return wire::status(kToken, 1, document);
}

TEST(DatagramJson, FaceLineCarriesExactFloatsAndNamedBlendshapes) {
  wire::Face f;
  f.found = 1;
  f.translation = {1.5f, -0.1f, std::numeric_limits<float>::quiet_NaN()};
  f.rotation = {0, 0, 0, 1};
  f.blendshapes[0] = 0.1f;
  f.blendshapes[1] = 1e-7f;
  f.blendshapes[50] = std::numeric_limits<float>::infinity();
  const std::string line = datagram_json(wire::face(kToken, 4, 99, f));
  EXPECT_EQ(line.rfind("{\"type\":\"face\",\"sequence\":4,\"value\":99,\"payload_length\":236,"
                       "\"found\":true,\"translation\":[1.5,-0.1,null],\"rotation\":[0,0,0,1],"
                       "\"blendshapes\":{\"browDownLeft\":0.1,\"browDownRight\":1e-07,"
                       "\"browInnerUp\":0,",
                       0),
            0u)
      << line;
  EXPECT_NE(line.find(",\"noseSneerRight\":null}}"), std::string::npos) << line;
  EXPECT_NE(datagram_json(face_datagram(0)).find("\"found\":false"), std::string::npos);
}

wire::Bytes hands_datagram(size_t count) {
  return wire::hands(kToken, 5, 99, std::vector<wire::Hand>(count));
}

TEST(DatagramJson, HandsLineCarriesEachHandWithExactFloats) {
  wire::Hand right;
  right.handedness = 1;
  right.handedness_score = 0.75f;
  right.center_x = -0.1f;
  right.center_y = std::numeric_limits<float>::infinity();
  right.scale = 1e-7f;
  right.landmarks[0] = 1.5f;
  right.landmarks[2] = std::numeric_limits<float>::quiet_NaN();
  right.landmarks[62] = -2;
  std::string landmarks = "[[1.5,0,null]";
  for (int j = 1; j < 20; ++j) landmarks += ",[0,0,0]";
  landmarks += ",[0,0,-2]]";
  const std::string right_text =
      "{\"handedness\":1,\"handedness_score\":0.75,\"center\":[-0.1,null],\"scale\":1e-07,"
      "\"landmarks\":" + landmarks + "}";
  const std::string header = "{\"type\":\"hands\",\"sequence\":5,\"value\":99,";
  EXPECT_EQ(datagram_json(wire::hands(kToken, 5, 99, {right})),
            header + "\"payload_length\":276,\"hands\":[" + right_text + "]}");
  EXPECT_EQ(datagram_json(hands_datagram(0)), header + "\"payload_length\":4,\"hands\":[]}");

  const std::string two = datagram_json(wire::hands(kToken, 5, 99, {right, wire::Hand{}}));
  EXPECT_EQ(two.rfind(header + "\"payload_length\":548,\"hands\":[" + right_text +
                          ",{\"handedness\":0,\"handedness_score\":0,\"center\":[0,0],"
                          "\"scale\":0,\"landmarks\":[[0,0,0],",
                      0),
            0u)
      << two;
  EXPECT_EQ(two.substr(two.size() - 12), ",[0,0,0]]}]}") << two;
}

// What the decoders refuse (their own tests say what) is marked, not shown.
TEST(DatagramJson, WhatDoesNotDecodeIsMalformed) {
  wire::Bytes truncated = hands_datagram(2);
  truncated.pop_back();
  for (const wire::Bytes& d : {truncated, wire::header(kToken, 4, 99, wire::kFace, 0)}) {
    const std::string line = datagram_json(d);
    EXPECT_NE(line.find("\"malformed\":true"), std::string::npos) << line;
    EXPECT_EQ(line.find("\"hands\":"), std::string::npos) << line;
    EXPECT_EQ(line.find("found"), std::string::npos) << line;
  }
}

TEST(RunSummary, CountsFacesAndHandsAndTakesTheMedianOfBusyWindows) {
  RunSummary s;
  EXPECT_EQ(summary_json(s),
            "{\"summary\":{\"frames\":0,\"faces_found\":0,\"hand_frames\":0,\"hands\":0,"
            "\"median_inference_ms\":null}}");
  for (const uint8_t found : {1, 0, 1}) add_to_summary(s, face_datagram(found));
  for (const size_t count : {2, 0, 2}) add_to_summary(s, hands_datagram(count));
  wire::Bytes truncated = face_datagram(1);
  truncated.pop_back();
  add_to_summary(s, truncated);  // not counted
  add_to_summary(s, running(0, 50));  // a window without frames says nothing
  const std::string starting = "{\"state\":\"starting\",\"fps\":1,\"inference_ms\":7}";
  add_to_summary(s, wire::status(kToken, 1, starting));
  EXPECT_EQ(summary_json(s),
            "{\"summary\":{\"frames\":3,\"faces_found\":2,\"hand_frames\":3,\"hands\":4,"
            "\"median_inference_ms\":null}}");
  for (const double ms : {10.0, 1.0, 3.0}) add_to_summary(s, running(30, ms));
  EXPECT_NE(summary_json(s).find("\"median_inference_ms\":3}"), std::string::npos);
  add_to_summary(s, running(30, 2));
  EXPECT_NE(summary_json(s).find("\"median_inference_ms\":2.5}"), std::string::npos);
}

// A quarter turn about the vertical axis, then half a radian about x and about -z.
TEST(LiveView, AnglesOfTheHeadInDegrees) {
  const float h = std::sqrt(0.5f), s = std::sin(0.25f), c = std::cos(0.25f);
  const std::pair<std::array<float, 4>, std::array<double, 3>> cases[] = {
      {{0, h, 0, h}, {90, 0, 0}}, {{s, 0, 0, c}, {0, 28.6479, 0}}, {{0, 0, -s, c}, {0, 0, -28.6479}}};
  for (const auto& [q, yaw_pitch_roll] : cases) {
    std::array<double, 3> got{};
    quaternion_angles(q, got[0], got[1], got[2]);
    for (size_t k = 0; k < 3; ++k) EXPECT_NEAR(got[k], yaw_pitch_roll[k], 1e-3) << k;
  }
}

TEST(LiveView, LineShowsTheLatestFaceHandsAndStatus) {
  LiveView view;
  EXPECT_EQ(view_line(view, 0.4), "   0 s  face off");
  wire::Face f;
  f.found = 1;
  f.rotation = {0, 0, 0, 1};
  f.blendshapes[24] = 0.9f;  // jawOpen
  f.blendshapes[8] = 0.5f;   // eyeBlinkLeft
  f.blendshapes[9] = 0.7f;   // eyeBlinkRight
  add_to_view(view, wire::face(kToken, 4, 99, f));
  std::vector<wire::Hand> hands(2);
  hands[1].handedness = 1;
  add_to_view(view, wire::hands(kToken, 5, 99, hands));
  add_to_view(view, running(29.5, 7.25));
  const std::string line = view_line(view, 3.0);
  EXPECT_NE(line.find("29.5 fps"), std::string::npos) << line;
  EXPECT_NE(line.find("yaw    0.0 pitch    0.0 roll    0.0"), std::string::npos) << line;
  EXPECT_NE(line.find("jawOpen 0.90 eyeBlinkRight 0.70 eyeBlinkLeft 0.50"), std::string::npos) << line;
  EXPECT_NE(line.find("hands L R  inference 7.2 ms"), std::string::npos) << line;
  add_to_view(view, face_datagram(0));
  add_to_view(view, hands_datagram(0));
  EXPECT_NE(view_line(view, 4.0).find("no face  hands none"), std::string::npos) << view_line(view, 4.0);
}

TEST(JsonMember, FindsOnlyTopLevelMembers) {
  const std::vector<std::tuple<std::string, std::optional<std::string>>> cases = {
      {" { \"a\" : {\"fps\":1,\"b\":[\"}\"]} , \"fps\" : 3 } ", "3"},
      {"{\"s\":\"\\\"fps\\\":9\",\"fps\":\"x\"}", "\"x\""},
      {"{\"a\":{\"fps\":1}}", std::nullopt},
      {"{\"fps\":", std::nullopt},
      {"[{\"fps\":1}]", std::nullopt},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(json_member(text, "fps"), value) << text;
}

}  // namespace
