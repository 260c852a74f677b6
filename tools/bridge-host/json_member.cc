#include "tools/bridge-host/json_member.h"

namespace {

constexpr size_t kNone = std::string::npos;

size_t skip_space(const std::string& t, size_t i) {
  while (i < t.size() && (t[i] == ' ' || t[i] == '\t' || t[i] == '\n' || t[i] == '\r')) ++i;
  return i;
}

// `i` at an opening quote: the index after the closing one.
size_t string_end(const std::string& t, size_t i) {
  for (++i; i < t.size(); ++i) {
    if (t[i] == '\\') {
      ++i;
    } else if (t[i] == '"') {
      return i + 1;
    }
  }
  return kNone;
}

// `i` at the first character of a value: the index after its last one.
size_t value_end(const std::string& t, size_t i) {
  if (i >= t.size()) return kNone;
  if (t[i] == '"') return string_end(t, i);
  if (t[i] == '{' || t[i] == '[') {
    int depth = 0;
    while (i < t.size()) {
      if (t[i] == '"') {
        i = string_end(t, i);
        if (i == kNone) return kNone;
        continue;
      }
      if (t[i] == '{' || t[i] == '[') ++depth;
      if ((t[i] == '}' || t[i] == ']') && --depth == 0) return i + 1;
      ++i;
    }
    return kNone;
  }
  while (i < t.size() && t[i] != ',' && t[i] != '}' && t[i] != ']' && t[i] != ' ' &&
         t[i] != '\t' && t[i] != '\n' && t[i] != '\r') {
    ++i;
  }
  return i;
}

}  // namespace

std::optional<std::string> json_member(const std::string& text, const std::string& key) {
  size_t i = skip_space(text, 0);
  if (i >= text.size() || text[i] != '{') return std::nullopt;
  i = skip_space(text, i + 1);
  while (i < text.size() && text[i] == '"') {
    const size_t key_end = string_end(text, i);
    if (key_end == kNone) return std::nullopt;
    const bool wanted = text.compare(i + 1, key_end - i - 2, key) == 0;
    i = skip_space(text, key_end);
    if (i >= text.size() || text[i] != ':') return std::nullopt;
    const size_t start = skip_space(text, i + 1);
    const size_t end = value_end(text, start);
    if (end == kNone || end == start) return std::nullopt;
    if (wanted) return text.substr(start, end - start);
    i = skip_space(text, end);
    if (i >= text.size() || text[i] != ',') return std::nullopt;
    i = skip_space(text, i + 1);
  }
  return std::nullopt;
}
