#include "tools/bridge-host/vmc_relay.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "wire/face.h"
#include "wire/hands.h"

namespace {

void send_frame(VmcRelay& r, uint64_t timestamp, const wire::Face* face,
                const std::vector<wire::Hand>* hands) {
  const auto begin = std::chrono::steady_clock::now();
  if (!r.started) {
    r.started = true;
    r.start_timestamp = timestamp;
  }
  const double seconds = static_cast<double>(timestamp - std::min(timestamp, r.start_timestamp)) * 1e-6;
  step_vmc(r.state, seconds, face, hands);
  send_vmc(r.sender, r.state.pose, static_cast<float>(seconds));
  r.frame_us[static_cast<size_t>(r.frames) % r.frame_us.size()] =
      std::chrono::duration<float, std::micro>(std::chrono::steady_clock::now() - begin).count();
  ++r.frames;
}

}  // namespace

void relay_frame_cost(const VmcRelay& r, float& median_us, float& p90_us) {
  const size_t n = std::min(static_cast<size_t>(r.frames), r.frame_us.size());
  std::vector<float> us(r.frame_us.begin(), r.frame_us.begin() + static_cast<std::ptrdiff_t>(n));
  std::sort(us.begin(), us.end());
  median_us = n ? us[n / 2] : 0.0f;
  p90_us = n ? us[n * 9 / 10] : 0.0f;
}

void flush_relay(VmcRelay& r) {
  if (!r.face_pending) return;
  r.face_pending = false;
  send_frame(r, r.face_timestamp, &r.face, nullptr);
}

void relay_datagram(VmcRelay& r, const wire::Bytes& datagram) {
  if (auto face = wire::decode_face(datagram)) {
    flush_relay(r);
    r.face = *face;
    r.face_pending = true;
    r.face_timestamp = wire::get_u64(datagram.data() + 32);
  } else if (auto hands = wire::decode_hands(datagram)) {
    const uint64_t timestamp = wire::get_u64(datagram.data() + 32);
    if (r.face_pending && r.face_timestamp == timestamp) {
      r.face_pending = false;
      send_frame(r, timestamp, &r.face, &*hands);
    } else {
      flush_relay(r);
      send_frame(r, timestamp, nullptr, &*hands);
    }
  }
}
