// Writes the host decoding fuzz seeds into the folder given: well-formed
// face, hands and status datagrams, so that mutation reaches the decoders'
// inner checks and not only the header's.
#include <cstdio>
#include <string>
#include <vector>

#include "wire/face.h"
#include "wire/hands.h"
#include "wire/status.h"

namespace {

bool write(const std::string& path, const wire::Bytes& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  return f != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() &&
         std::fclose(f) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return std::fprintf(stderr, "usage: host_decode_seeds FOLDER\n"), 2;
  const std::string dir = argv[1];
  const wire::Token token{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  wire::Face face;
  face.found = 1;
  face.rotation = {0.1f, -0.2f, 0.05f, 0.97f};
  face.blendshapes[24] = 0.5f;
  wire::Hand hand;
  hand.handedness = 1;
  hand.handedness_score = 0.9f;
  hand.landmarks[5] = -0.02f;
  const bool ok =
      write(dir + "/face.bin", wire::face(token, 7, 123456, face)) &&
      write(dir + "/hands0.bin", wire::hands(token, 8, 123456, {})) &&
      write(dir + "/hands2.bin", wire::hands(token, 9, 123456, {hand, hand})) &&
      write(dir + "/status.bin",
            wire::status(token, 10, "{\"state\":\"running\",\"fps\":29.5,\"inference_ms\":6.1}"));
  return ok ? 0 : 1;
}
