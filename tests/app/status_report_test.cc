#include "app/status_report.h"

#include <gtest/gtest.h>

#include "app/main_loop.h"
#include "wire/status.h"

namespace {

// A bridge started with only --port and --token, in camera mode, before any frame.
struct FreshState : BridgeState {
  FreshState() { camera_name = "/dev/video0"; }
};

TEST(StatusDocument, StartingDocumentByteForByte) {
  const std::string doc =
      status_document(FreshState(), "starting", "", "Loading models\xE2\x80\xA6");
  EXPECT_EQ(doc,
            "{\"state\":\"starting\",\"code\":\"\",\"message\":\"Loading models\xE2\x80\xA6\","
            "\"camera\":\"/dev/video0\",\"width\":0,\"height\":0,\"fps\":0.000000,"
            "\"inference_ms\":0.000000,\"face\":false,\"hands\":false,\"hands_available\":false,"
            "\"hands_message\":\"\",\"frame_luma\":-1.000000,\"face_luma\":-1.000000,"
            "\"hand_luma\":-1.000000,\"face_found\":-1.000000,\"hand_model\":\"\"}");
  EXPECT_EQ(doc.size(), 319u);
}

TEST(StatusDocument, EscapesFreeTextsAndReportsOptionBits) {
  FreshState s;
  s.option_bits = 2;  // hands only
  s.hands_message = "bad \"file\"\\\n";
  const std::string doc = status_document(s, "running", "", "");
  EXPECT_NE(doc.find("\"face\":false,\"hands\":true"), std::string::npos);
  EXPECT_NE(doc.find("\"hands_message\":\"bad \\\"file\\\"\\\\\\u000a\""), std::string::npos);
}

// The longest free text loses what the document is too long by, keeping the
// longest prefix of whole UTF-8 characters that fits, marked with an ellipsis.
TEST(StatusDocument, OverlongTextsAreShortenedToFitTheDatagram) {
  const std::string ellipsis = "\xE2\x80\xA6", euro = "\xE2\x82\xAC";
  const auto message_of = [](const std::string& doc) {
    const size_t from = doc.find("\"message\":\"") + 11;
    return doc.substr(from, doc.find("\",\"camera\"") - from);
  };
  FreshState s;
  s.hands_message = std::string(300, 'h');
  std::string doc = status_document(s, "error", "models_missing", std::string(5000, 'm'));
  EXPECT_EQ(doc.size(), wire::kMaxStatusDocument);
  std::string kept = message_of(doc);
  EXPECT_EQ(kept, std::string(kept.size() - 3, 'm') + ellipsis);
  EXPECT_NE(doc.find("\"hands_message\":\"" + std::string(300, 'h') + "\""), std::string::npos);
  for (size_t n : {1400, 1401, 1402}) {  // the cut falls on each byte of a character
    std::string message;
    for (size_t k = 0; k < n; ++k) message += euro;
    doc = status_document(s, "error", "x", message);
    kept = message_of(doc);
    EXPECT_LE(doc.size(), wire::kMaxStatusDocument);
    EXPECT_GT(doc.size(), wire::kMaxStatusDocument - euro.size()) << n;
    EXPECT_EQ(kept, message.substr(0, kept.size() - 3) + ellipsis) << n;
    EXPECT_EQ(kept.size() % 3, 0u) << n;
  }
  // Control bytes quote to six characters each.
  doc = status_document(s, "error", "x", std::string(5000, '\n'));
  EXPECT_LE(doc.size(), wire::kMaxStatusDocument);
  EXPECT_GT(doc.size(), wire::kMaxStatusDocument - 6);
  s.hands_message = std::string(6000, 'h');
  s.camera_name = std::string(5000, 'c');
  doc = status_document(s, "error", "x", std::string(7000, 'm'));
  EXPECT_LE(doc.size(), wire::kMaxStatusDocument);
  EXPECT_NO_THROW(wire::status(s.token, 1, doc));
}

TEST(RunningStatus, WindowStatisticsArePlainAverages) {
  FreshState s;
  s.window_start = 0;
  s.window.frame_count = 40;
  s.window.inference_ms_sum = 80.0;
  s.window.frame_luma_sum = 4000.0;
  s.window.face_frames = 30;
  s.window.faces_found = 12;
  s.window.face_luma_sum = 1200.0;
  send_running_status(s, 1'000'123'000);  // the socket is closed: the send is lost silently
  EXPECT_NEAR(s.fps, 39.99508, 1e-4);
  EXPECT_DOUBLE_EQ(s.inference_ms, 2.0);
  EXPECT_DOUBLE_EQ(s.frame_luma, 100.0);
  EXPECT_DOUBLE_EQ(s.face_found, 0.4);
  EXPECT_DOUBLE_EQ(s.face_luma, 100.0);
  EXPECT_DOUBLE_EQ(s.hand_luma, -1.0);
  EXPECT_EQ(s.sequence, 1u);
  EXPECT_EQ(s.window.frame_count, 0);
  EXPECT_EQ(s.status_due, 2'000'123'000);

  send_running_status(s, 1'500'123'000);  // an empty window
  EXPECT_EQ(s.fps, 0.0);
  EXPECT_EQ(s.inference_ms, 0.0);
  EXPECT_EQ(s.frame_luma, -1.0);
  EXPECT_EQ(s.face_found, -1.0);
  EXPECT_NE(status_document(s, "running", "", "").find("\"fps\":0.000000,\"inference_ms\":0.000000"),
            std::string::npos);
}

}  // namespace
