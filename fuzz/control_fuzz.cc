// Control datagrams arrive from the network: whatever the bytes, decoding
// must not crash or over-read, and anything accepted must re-encode to the
// very same 48 bytes.
#include <cstdint>
#include <cstdlib>

#include "wire/control.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const wire::Bytes datagram(data, data + size);
  wire::Token token{};
  if (size >= 24) std::copy(data + 8, data + 24, token.begin());  // let some pass the token check
  const auto c = wire::decode_control(datagram, token);
  if (c && wire::control(token, c->sequence, c->type, c->value) != datagram) std::abort();
  return 0;
}
