#include "wire/status.h"

#include <stdexcept>

namespace wire {

Bytes status(const Token& token, uint64_t sequence, const std::string& document) {
  if (document.size() > kMaxStatusDocument) throw std::invalid_argument("status bounds");
  Bytes out = header(token, sequence, 0, kStatus, static_cast<uint32_t>(document.size()));
  out.insert(out.end(), document.begin(), document.end());
  return out;
}

}  // namespace wire
