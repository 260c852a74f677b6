#include "tools/track/json_text.h"

#include <charconv>
#include <cmath>

#include "wire/json_quote.h"

void append_number(std::string& out, float v) {
  if (!std::isfinite(v)) {
    out += "null";
    return;
  }
  char text[32];
  const auto r = std::to_chars(text, text + sizeof text, v);
  out.append(text, r.ptr);
}

void append_floats(std::string& out, const float* values, std::size_t count) {
  out += '[';
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) out += ',';
    append_number(out, values[i]);
  }
  out += ']';
}

void append_key(std::string& out, const char* key, bool first) {
  if (!first) out += ',';
  out += wire::json_quote(key);
  out += ':';
}

void append_ms(std::string& out, double ms) {
  append_number(out, static_cast<float>(std::round(ms * 1000.0) / 1000.0));
}
