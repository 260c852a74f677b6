// What the bridge sends is decoded by hosts: whatever the bytes, the face and
// hands decoders and the reference host's JSON line must not crash or
// over-read, and any datagram a decoder accepts must re-encode to the very
// same bytes.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/bridge-host/datagram_json.h"
#include "wire/face.h"
#include "wire/hands.h"

namespace {

wire::Token token_of(const wire::Bytes& d) {
  wire::Token token{};
  std::copy(d.begin() + 8, d.begin() + 24, token.begin());
  return token;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const wire::Bytes datagram(data, data + size);
  const std::string line = datagram_json(datagram);
  if (line.empty() || line.front() != '{' || line.back() != '}') std::abort();
  if (const auto face = wire::decode_face(datagram)) {
    if (wire::face(token_of(datagram), wire::get_u64(data + 24), wire::get_u64(data + 32), *face) !=
        datagram) {
      std::abort();
    }
  }
  if (const auto hands = wire::decode_hands(datagram)) {
    if (wire::hands(token_of(datagram), wire::get_u64(data + 24), wire::get_u64(data + 32),
                    *hands) != datagram) {
      std::abort();
    }
  }
  return 0;
}
