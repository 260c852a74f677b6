#include "wire/token.h"

namespace wire {
namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<Token> token_from_hex(const std::string& text) {
  Token token{};
  if (text.size() != 2 * token.size()) return std::nullopt;
  for (size_t i = 0; i < token.size(); ++i) {
    const int high = hex_value(text[2 * i]);
    const int low = hex_value(text[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    token[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return token;
}

}  // namespace wire
