#include "app/status_report.h"

#include "app/send.h"
#include "wire/json_quote.h"
#include "wire/status.h"

namespace {

// The free texts of a document: the only parts whose length is unbounded.
struct FreeTexts {
  std::string message;
  std::string camera;
  std::string hands_message;
};

std::string bool_text(bool b) { return b ? "true" : "false"; }

std::string build(const BridgeState& s, const std::string& state_name, const std::string& code,
                  const FreeTexts& t) {
  std::string d = "{";
  d += "\"state\":" + wire::json_quote(state_name);
  d += ",\"code\":" + wire::json_quote(code);
  d += ",\"message\":" + wire::json_quote(t.message);
  d += ",\"camera\":" + wire::json_quote(t.camera);
  d += ",\"width\":" + std::to_string(s.frame_width);
  d += ",\"height\":" + std::to_string(s.frame_height);
  d += ",\"fps\":" + std::to_string(s.fps);
  d += ",\"inference_ms\":" + std::to_string(s.inference_ms);
  d += ",\"face\":" + bool_text(s.option_bits & 1);
  d += ",\"hands\":" + bool_text(s.option_bits & 2);
  d += ",\"hands_available\":" + bool_text(s.hands_available);
  d += ",\"hands_message\":" + wire::json_quote(t.hands_message);
  d += ",\"frame_luma\":" + std::to_string(s.frame_luma);
  d += ",\"face_luma\":" + std::to_string(s.face_luma);
  d += ",\"hand_luma\":" + std::to_string(s.hand_luma);
  d += ",\"face_found\":" + std::to_string(s.face_found);
  d += ",\"hand_model\":" + wire::json_quote(!s.hand_tracker ? "" : s.hand_model_lite ? "lite" : "full");
  d += "}";
  return d;
}

// Bytes that `byte` takes inside a quoted JSON string.
size_t quoted_size(unsigned char byte) {
  return byte < 0x20 ? 6 : (byte == '"' || byte == '\\') ? 2 : 1;
}

// Shortens `text` so that its quoted form loses at least `excess` bytes,
// keeping the longest prefix that allows, cut at a UTF-8 character boundary
// and marked with an ellipsis.
void shorten(std::string& text, size_t excess) {
  static const std::string kEllipsis = "\xE2\x80\xA6";
  size_t quoted = 0;
  for (const char c : text) quoted += quoted_size(static_cast<unsigned char>(c));
  if (quoted <= excess + kEllipsis.size()) {
    text.clear();
    return;
  }
  const size_t budget = quoted - excess - kEllipsis.size();
  size_t keep = 0;
  for (size_t used = 0; keep < text.size(); ++keep) {
    used += quoted_size(static_cast<unsigned char>(text[keep]));
    if (used > budget) break;
  }
  while (keep > 0 && (static_cast<unsigned char>(text[keep]) & 0xC0) == 0x80) --keep;
  text.resize(keep);
  text += kEllipsis;
}

}  // namespace

std::string status_document(const BridgeState& state, const std::string& state_name,
                            const std::string& code, const std::string& message) {
  FreeTexts texts{message, state.camera_name, state.hands_message};
  std::string doc = build(state, state_name, code, texts);
  while (doc.size() > wire::kMaxStatusDocument) {
    std::string* longest = &texts.message;
    for (std::string* t : {&texts.camera, &texts.hands_message}) {
      if (wire::json_quote(*t).size() > wire::json_quote(*longest).size()) longest = t;
    }
    if (longest->empty()) break;  // unreachable: the fixed part is far below the bound
    shorten(*longest, doc.size() - wire::kMaxStatusDocument);
    doc = build(state, state_name, code, texts);
  }
  return doc;
}

void send_status(BridgeState& state, const std::string& state_name, const std::string& code,
                 const std::string& message) {
  const std::string doc = status_document(state, state_name, code, message);
  state.sequence += 1;
  send_datagram(state, wire::status(state.token, state.sequence, doc));
}
