#include "tools/bridge-host/run_summary.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>

#include "tools/bridge-host/json_member.h"
#include "wire/face.h"
#include "wire/hands.h"

std::optional<double> number_member(const std::string& document, const std::string& key) {
  const auto text = json_member(document, key);
  if (!text) return std::nullopt;
  double v = 0;
  const auto r = std::from_chars(text->data(), text->data() + text->size(), v);
  if (r.ec != std::errc() || r.ptr != text->data() + text->size() || !std::isfinite(v)) {
    return std::nullopt;
  }
  return v;
}

std::optional<std::string> running_document(const wire::Bytes& d) {
  if (d.size() < wire::kHeaderSize ||
      std::memcmp(d.data(), wire::kMagic, sizeof wire::kMagic) != 0 ||
      wire::get_u16(d.data() + 6) != wire::kStatus ||
      wire::get_u32(d.data() + 40) != d.size() - wire::kHeaderSize) {
    return std::nullopt;
  }
  std::string document(d.begin() + wire::kHeaderSize, d.end());
  if (json_member(document, "state") != "\"running\"") return std::nullopt;
  return document;
}

double median(std::vector<double> values) {
  const size_t half = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + half, values.end());
  const double upper = values[half];
  if (values.size() % 2) return upper;
  const double lower = *std::max_element(values.begin(), values.begin() + half);
  return lower + (upper - lower) / 2;
}

namespace {

// The statuses give milliseconds to six decimals; the median of an even count
// is written to the same precision, without trailing zeros.
std::string milliseconds_text(double ms) {
  char text[400];  // room for the largest double in fixed notation
  const auto r = std::to_chars(text, text + sizeof text, ms, std::chars_format::fixed, 6);
  std::string out(text, r.ptr);
  out.erase(out.find_last_not_of('0') + 1);
  if (out.back() == '.') out.pop_back();
  return out;
}

}  // namespace

void add_to_summary(RunSummary& summary, const wire::Bytes& datagram) {
  if (const auto face = wire::decode_face(datagram)) {
    summary.frames += 1;
    summary.faces_found += face->found;
  } else if (const auto hands = wire::decode_hands(datagram)) {
    summary.hand_frames += 1;
    summary.hands += hands->size();
  } else if (const auto document = running_document(datagram)) {
    const auto fps = number_member(*document, "fps");
    const auto ms = number_member(*document, "inference_ms");
    if (fps && *fps > 0 && ms) summary.inference_ms.push_back(*ms);
  }
}

std::string summary_json(const RunSummary& s) {
  const std::string median_text =
      s.inference_ms.empty() ? "null" : milliseconds_text(median(s.inference_ms));
  return "{\"summary\":{\"frames\":" + std::to_string(s.frames) +
         ",\"faces_found\":" + std::to_string(s.faces_found) +
         ",\"hand_frames\":" + std::to_string(s.hand_frames) +
         ",\"hands\":" + std::to_string(s.hands) +
         ",\"median_inference_ms\":" + median_text + "}}";
}
