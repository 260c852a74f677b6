#include "tests/support/fake_v4l2/driver.h"

#include <linux/videodev2.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace {

constexpr int64_t kSecondNs = 1'000'000'000;
constexpr uint32_t kCorruptBytes = 512;

int64_t now_ns() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return int64_t{t.tv_sec} * kSecondNs + t.tv_nsec;
}

int fail(int e) {
  errno = e;
  return -1;
}

// Frames stop once the unplug count is reached.
bool gone(const FakeDriver& d) {
  return d.script->unplug != FakeUnplug::kNever &&
         d.delivered >= static_cast<uint64_t>(d.script->unplug_after);
}

const FakeFormat* offered(const FakeDriver& d, uint32_t fourcc) {
  for (const FakeFormat& f : d.script->formats) {
    if (f.fourcc == fourcc) return &f;
  }
  return nullptr;
}

// One frame from the sensor into the oldest queued buffer; with none queued
// it is lost, as a real driver loses it.
void produce(FakeDriver& d, bool fresh) {
  if (d.queued.empty()) return;
  const uint32_t index = d.queued.front();
  d.queued.pop_front();
  const FakeDeviceScript& s = *d.script;
  const FakeBytes& frame =
      fresh ? d.frames.frames[d.delivered % d.frames.frames.size()] : d.frames.stale;
  const bool damaged = fresh && s.damage_every > 0 &&
                       d.delivered % uint64_t(s.damage_every) == uint64_t(s.damage_every) - 1;
  FakeBytes payload = frame;
  if (damaged && s.damage == FakeDamage::kCorrupt) payload = FakeBytes(kCorruptBytes, 0x5A);
  if (damaged && s.damage == FakeDamage::kEmpty) payload.clear();
  if (!payload.empty()) {
    (void)!pwrite(d.memfd, payload.data(), payload.size(), off_t(index * d.buffer_bytes));
  }
  const bool oversized = damaged && s.damage == FakeDamage::kOversized;
  d.filled.push_back({index, uint32_t(oversized ? d.buffer_bytes + 1 : payload.size())});
  if (!fresh) return;
  d.log("frame " + std::to_string(d.delivered) + " buffer " + std::to_string(index) +
        (damaged ? " damaged" : ""));
  d.delivered += 1;
}

// Delivers every tick that is due; a caller that stalled for long gets the
// last second's worth at most (the buffers hold fewer anyway).
void advance(FakeDriver& d, int64_t now) {
  if (!d.streaming || d.unplugged) return;
  const int64_t period = int64_t(kSecondNs / d.script->rate);
  d.next_tick_ns = std::max(d.next_tick_ns, now - kSecondNs);
  const int burst = d.script->burst;
  while (d.next_tick_ns <= now && !gone(d)) {
    // A burst that finds too few free buffers is lost whole, so the newest
    // frame waiting is a fresh one however far the caller fell behind.
    if (d.queued.size() >= size_t(burst)) {
      for (int k = 0; k < burst; ++k) produce(d, k + 1 == burst);
    }
    d.next_tick_ns += period;
  }
}

void unplug(FakeDriver& d) {
  if (!d.unplugged) d.log("unplug");
  d.unplugged = true;
}

bool capture_type(uint32_t type) { return type == V4L2_BUF_TYPE_VIDEO_CAPTURE; }

int set_format(FakeDriver& d, v4l2_format& f) {
  if (!capture_type(f.type)) return fail(EINVAL);
  if (d.streaming || d.buffer_count > 0) return fail(EBUSY);
  const FakeDeviceScript& s = *d.script;
  const FakeFormat* format = offered(d, f.fmt.pix.pixelformat);
  if (format == nullptr && (s.refuse_other_formats || s.formats.empty())) return fail(EINVAL);
  if (format == nullptr) format = &s.formats.front();
  v4l2_pix_format& pix = f.fmt.pix;
  pix.pixelformat = format->fourcc;
  if (s.grant) {
    pix.width = s.grant_width;
    pix.height = s.grant_height;
  }
  d.pixel_format = pix.pixelformat;
  d.width = pix.width;
  d.height = pix.height;
  return 0;
}

int request_buffers(FakeDriver& d, v4l2_requestbuffers& r) {
  if (d.script->busy == FakeBusy::kReqbufs) return fail(EBUSY);
  if (!capture_type(r.type) || r.memory != V4L2_MEMORY_MMAP) return fail(EINVAL);
  // The bridge asks once per open, so buffers are never given back or resized.
  if (d.buffer_count > 0) return fail(EBUSY);
  std::string error;
  if (!make_frames(*d.script, d.pixel_format == V4L2_PIX_FMT_MJPEG, d.width, d.height, d.frames,
                   error)) {
    d.log(error);
    return fail(EIO);
  }
  uint64_t largest = std::max<uint64_t>(d.frames.stale.size(), kCorruptBytes);
  for (const FakeBytes& f : d.frames.frames) largest = std::max<uint64_t>(largest, f.size());
  d.buffer_bytes = (largest + 4095) / 4096 * 4096;
  d.buffer_count = d.script->buffers > 0 ? d.script->buffers : r.count;
  if (ftruncate(d.memfd, off_t(d.buffer_count * d.buffer_bytes)) != 0) return fail(ENOMEM);
  r.count = d.buffer_count;
  return 0;
}

bool owned_by_caller(const FakeDriver& d, uint32_t index) {
  return index < d.buffer_count &&
         std::find(d.queued.begin(), d.queued.end(), index) == d.queued.end() &&
         std::none_of(d.filled.begin(), d.filled.end(),
                      [&](const FakeDriver::Filled& f) { return f.index == index; });
}

int dequeue(FakeDriver& d, v4l2_buffer& b) {
  if (!capture_type(b.type) || b.memory != V4L2_MEMORY_MMAP) return fail(EINVAL);
  advance(d, now_ns());
  if (d.filled.empty() && gone(d) && d.script->unplug == FakeUnplug::kDequeue) {
    unplug(d);
    return fail(ENODEV);
  }
  if (d.streaming && d.filled.empty() && d.script->flood) produce(d, true);
  if (!d.streaming || d.filled.empty()) return fail(d.streaming ? EAGAIN : EINVAL);
  const FakeDriver::Filled f = d.filled.front();
  d.filled.pop_front();
  d.dequeued += 1;
  const bool stray = d.script->stray_after > 0 && d.dequeued > uint64_t(d.script->stray_after);
  if (stray) d.log("stray index");
  b.index = stray ? d.buffer_count + 7 : f.index;
  b.bytesused = f.bytes;
  return 0;
}

void query_cap(const FakeDriver& d, v4l2_capability& c) {
  const FakeDeviceScript& s = *d.script;
  std::memcpy(c.card, s.card.data(), std::min(s.card.size(), sizeof c.card - 1));
  c.capabilities = s.legacy_caps ? s.device_caps : s.physical_caps | V4L2_CAP_DEVICE_CAPS;
  c.device_caps = s.legacy_caps ? 0 : s.device_caps;
}

int enum_size(const FakeDriver& d, v4l2_frmsizeenum& e) {
  const FakeFormat* f = offered(d, e.pixel_format);
  if (f == nullptr) return fail(EINVAL);
  if (f->stepwise) {
    if (e.index > 0) return fail(EINVAL);
    e.type = V4L2_FRMSIZE_TYPE_STEPWISE;
    e.stepwise = {160, 1920, 16, 120, 1080, 8};
    return 0;
  }
  const size_t i = d.script->endless && !f->sizes.empty() ? e.index % f->sizes.size() : e.index;
  if (i >= f->sizes.size()) return fail(EINVAL);
  e.type = V4L2_FRMSIZE_TYPE_DISCRETE;
  e.discrete = {f->sizes[i].first, f->sizes[i].second};
  return 0;
}

int control(FakeDriver& d, unsigned long request, v4l2_control& c) {
  if (c.id != V4L2_CID_EXPOSURE_AUTO_PRIORITY || d.exposure_priority < 0) return fail(EINVAL);
  if (request == VIDIOC_G_CTRL) {
    c.value = d.exposure_priority;
    return 0;
  }
  if (c.value < 0 || c.value > 1) return fail(ERANGE);  // a boolean control
  d.exposure_priority = c.value;
  d.log("exposure " + std::to_string(c.value));
  return 0;
}

int stream(FakeDriver& d, unsigned long request, const v4l2_buf_type& type) {
  if (!capture_type(type)) return fail(EINVAL);
  if (request == VIDIOC_STREAMOFF) {
    if (d.streaming) d.log("streamoff");
    d.streaming = false;
    d.queued.clear();  // every buffer goes back to the caller
    d.filled.clear();
    return 0;
  }
  if (d.script->busy == FakeBusy::kStreamon) return fail(EBUSY);
  if (d.buffer_count == 0) return fail(EINVAL);
  if (!d.streaming) d.log("streamon");
  d.streaming = true;
  d.next_tick_ns = now_ns() + int64_t(kSecondNs / d.script->rate);
  return 0;
}

}  // namespace

int fake_ioctl(FakeDriver& d, unsigned long request, void* arg) {
  if (d.script->interrupt_always) return fail(EINTR);
  if (d.script->interrupt) {
    d.interrupt_next = !d.interrupt_next;
    if (!d.interrupt_next) return fail(EINTR);
  }
  if (d.unplugged) return fail(ENODEV);
  switch (request) {
    case VIDIOC_QUERYCAP:
      query_cap(d, *static_cast<v4l2_capability*>(arg));
      return 0;
    case VIDIOC_ENUM_FMT: {
      auto& f = *static_cast<v4l2_fmtdesc*>(arg);
      const auto& formats = d.script->formats;
      const size_t i = d.script->endless && !formats.empty() ? f.index % formats.size() : f.index;
      if (!capture_type(f.type) || i >= formats.size()) return fail(EINVAL);
      f.pixelformat = formats[i].fourcc;
      return 0;
    }
    case VIDIOC_ENUM_FRAMESIZES:
      return enum_size(d, *static_cast<v4l2_frmsizeenum*>(arg));
    case VIDIOC_S_FMT:
      return set_format(d, *static_cast<v4l2_format*>(arg));
    case VIDIOC_G_CTRL:
    case VIDIOC_S_CTRL:
      return control(d, request, *static_cast<v4l2_control*>(arg));
    case VIDIOC_REQBUFS:
      return request_buffers(d, *static_cast<v4l2_requestbuffers*>(arg));
    case VIDIOC_QUERYBUF: {
      auto& b = *static_cast<v4l2_buffer*>(arg);
      if (!capture_type(b.type) || b.index >= d.buffer_count) return fail(EINVAL);
      b.length = uint32_t(d.buffer_bytes);
      b.m.offset = uint32_t(b.index * d.buffer_bytes);
      return 0;
    }
    case VIDIOC_QBUF: {
      auto& b = *static_cast<v4l2_buffer*>(arg);
      // A buffer the driver already holds cannot be queued twice.
      if (!capture_type(b.type) || b.memory != V4L2_MEMORY_MMAP || !owned_by_caller(d, b.index)) {
        return fail(EINVAL);
      }
      d.queued.push_back(b.index);
      return 0;
    }
    case VIDIOC_DQBUF:
      return dequeue(d, *static_cast<v4l2_buffer*>(arg));
    case VIDIOC_STREAMON:
    case VIDIOC_STREAMOFF:
      return stream(d, request, *static_cast<const v4l2_buf_type*>(arg));
    default:
      return fail(ENOTTY);
  }
}

int fake_poll(FakeDriver& d, int timeout_ms, short& revents) {
  if (d.script->interrupt_always) return fail(EINTR);
  if (d.script->interrupt) {
    d.interrupt_next = !d.interrupt_next;
    if (!d.interrupt_next) return fail(EINTR);
  }
  int64_t now = now_ns();
  const int64_t deadline = timeout_ms < 0 ? INT64_MAX : now + int64_t{timeout_ms} * 1'000'000;
  for (;;) {
    advance(d, now);
    if (gone(d) && d.script->unplug == FakeUnplug::kPoll) unplug(d);
    // A device that is gone or not streaming wakes its poller with an error.
    revents = 0;
    if (d.unplugged || !d.streaming) {
      revents = POLLERR | (d.unplugged ? POLLHUP : 0);
    } else if (!d.filled.empty() || gone(d)) {
      revents = POLLIN;  // the dequeue tells the rest
    }
    if (revents != 0) return 1;
    if (now >= deadline) return 0;
    const int64_t wake = std::min(deadline, d.next_tick_ns);
    const timespec pause{time_t((wake - now) / kSecondNs), long((wake - now) % kSecondNs)};
    if (wake > now && nanosleep(&pause, nullptr) != 0) return fail(EINTR);
    now = now_ns();
  }
}
