#include "tools/bridge-host/json_number.h"

#include <charconv>
#include <cmath>

std::string json_number(float v) {
  if (!std::isfinite(v)) return "null";
  char text[32];
  const auto r = std::to_chars(text, text + sizeof text, v);
  return std::string(text, r.ptr);
}
