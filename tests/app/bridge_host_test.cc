#include <gtest/gtest.h>

#include <limits>

#include "tools/bridge-host/datagram_json.h"
#include "tools/bridge-host/json_member.h"
#include "tools/bridge-host/run_summary.h"
#include "wire/face.h"
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

TEST(DatagramJson, FaceWithAnyOtherPayloadLengthIsMalformed) {
  wire::Bytes truncated = face_datagram(1);
  truncated.pop_back();  // header still claims 236
  wire::Bytes short_payload = wire::header(kToken, 4, 99, wire::kFace, 235);
  short_payload.resize(wire::kHeaderSize + 235);  // consistent, but not a face
  for (const wire::Bytes& d : {truncated, short_payload}) {
    const std::string line = datagram_json(d);
    EXPECT_NE(line.find("\"malformed\":true"), std::string::npos) << line;
    EXPECT_EQ(line.find("found"), std::string::npos) << line;
  }
}

TEST(RunSummary, CountsFacesAndTakesTheMedianOfBusyWindows) {
  RunSummary s;
  EXPECT_EQ(summary_json(s),
            "{\"summary\":{\"frames\":0,\"faces_found\":0,\"median_inference_ms\":null}}");
  for (const uint8_t found : {1, 0, 1}) add_to_summary(s, face_datagram(found));
  wire::Bytes truncated = face_datagram(1);
  truncated.pop_back();
  add_to_summary(s, truncated);
  add_to_summary(s, running(0, 50));  // a window without frames says nothing
  const std::string starting = "{\"state\":\"starting\",\"fps\":1,\"inference_ms\":7}";
  add_to_summary(s, wire::status(kToken, 1, starting));
  EXPECT_EQ(summary_json(s),
            "{\"summary\":{\"frames\":3,\"faces_found\":2,\"median_inference_ms\":null}}");
  for (const double ms : {10.0, 1.0, 3.0}) add_to_summary(s, running(30, ms));
  EXPECT_NE(summary_json(s).find("\"median_inference_ms\":3}"), std::string::npos);
  add_to_summary(s, running(30, 2));
  EXPECT_NE(summary_json(s).find("\"median_inference_ms\":2.5}"), std::string::npos);
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
