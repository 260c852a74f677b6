// Loaded with LD_PRELOAD into a whole process, this makes the device paths of
// the script named by FAKE_V4L2_SCRIPT behave as V4L2 capture devices:
// opening one gives a memfd (so mmap and munmap work unchanged), and ioctl,
// poll and close on it are answered by a FakeDriver. Listing "/dev" shows the
// scripted devices and hides any real video* node, so a machine with a camera
// gives the same results. Events go to the file named by FAKE_V4L2_LOG, one a
// line. Every other call passes through to the next definition.
//
// A preloaded library has no owner to hand its state to: it lives in one
// process-wide record, created on first use and never destroyed, so calls
// made while the process exits still find it.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>

#include "tests/support/fake_v4l2/driver.h"

namespace {

template <typename F>
F next(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

struct FakeProcess {
  bool loading = false, loaded = false;
  std::vector<FakeDeviceScript> devices;
  std::map<int, FakeDriver> drivers;  // by descriptor
  int log_fd = -1;
  DIR* dev_dir = nullptr;  // the listing of "/dev" in progress
  std::vector<dirent> dev_entries;
  size_t dev_cursor = 0;
};

void log_line(FakeProcess& p, const std::string& line) {
  if (p.log_fd < 0) return;
  const std::string text = line + "\n";
  (void)!write(p.log_fd, text.data(), text.size());
}

void load(FakeProcess& p) {
  const char* log_path = std::getenv("FAKE_V4L2_LOG");
  if (log_path != nullptr) {
    p.log_fd = next<int (*)(const char*, int, ...)>("open")(
        log_path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  }
  const char* script_path = std::getenv("FAKE_V4L2_SCRIPT");
  if (script_path == nullptr) return;
  std::ifstream in(script_path);
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::string error;
  if (!in || !parse_script(text, p.devices, error)) {
    // A test with a broken script must fail loudly, not run without devices.
    log_line(p, error.empty() ? std::string("fake_v4l2: cannot read ") + script_path : error);
    _exit(97);
  }
}

FakeProcess& process() {
  static FakeProcess* p = new FakeProcess;
  if (!p->loaded && !p->loading) {
    p->loading = true;  // the loading itself opens files: those pass through
    load(*p);
    p->loading = false;
    p->loaded = true;
  }
  return *p;
}

const FakeDeviceScript* scripted(FakeProcess& p, const char* path) {
  for (const FakeDeviceScript& d : p.devices) {
    if (path != nullptr && d.path == path) return &d;
  }
  return nullptr;
}

FakeDriver* driver(int fd) {
  FakeProcess& p = process();
  const auto it = p.drivers.find(fd);
  return it == p.drivers.end() ? nullptr : &it->second;
}

// -1 with errno for a scripted path that refuses, the descriptor of a new
// simulated device, or -2 for a path that is not scripted.
int open_scripted(const char* path) {
  FakeProcess& p = process();
  const FakeDeviceScript* script = scripted(p, path);
  if (script == nullptr) return -2;
  log_line(p, std::string("open ") + path);
  if (script->busy == FakeBusy::kOpen) {
    errno = EBUSY;
    return -1;
  }
  const int fd = memfd_create("fake_v4l2", MFD_CLOEXEC);
  if (fd < 0) return -1;
  FakeDriver& d = p.drivers[fd];
  d = FakeDriver{};
  d.script = script;
  d.memfd = fd;
  d.exposure_priority = script->exposure_priority;
  d.log = [&p](const std::string& line) { log_line(p, line); };
  return fd;
}

}  // namespace

// Each entry point takes its own variable arguments, so each is spelled out.
// The bridge opens devices with open() alone.
extern "C" {

int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? mode_t(va_arg(args, int)) : 0;
  va_end(args);
  const int fd = open_scripted(path);
  return fd != -2 ? fd : next<int (*)(const char*, int, ...)>("open")(path, flags, mode);
}

int close(int fd) {
  FakeProcess& p = process();
  if (p.drivers.erase(fd) > 0) log_line(p, "close");
  return next<int (*)(int)>("close")(fd);
}

int ioctl(int fd, unsigned long request, ...) noexcept {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  if (FakeDriver* d = driver(fd)) return fake_ioctl(*d, request, arg);
  return next<int (*)(int, unsigned long, ...)>("ioctl")(fd, request, arg);
}

// The C library declares the array write-only, so reading it looks uninitialised.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
int poll(pollfd* fds, nfds_t count, int timeout) {
  FakeDriver* d = count == 1 ? driver(fds[0].fd) : nullptr;
  if (d == nullptr) return next<int (*)(pollfd*, nfds_t, int)>("poll")(fds, count, timeout);
  fds[0].revents = 0;
  return fake_poll(*d, timeout, fds[0].revents);
}
#pragma GCC diagnostic pop

DIR* opendir(const char* name) noexcept {
  FakeProcess& p = process();
  DIR* dir = next<DIR* (*)(const char*)>("opendir")(name);
  if (dir == nullptr || p.devices.empty() || std::strcmp(name, "/dev") != 0) return dir;
  p.dev_dir = dir;
  p.dev_cursor = 0;
  p.dev_entries.clear();
  for (const FakeDeviceScript& s : p.devices) {
    if (s.path.rfind("/dev/", 0) != 0) continue;
    dirent e{};
    std::strncpy(e.d_name, s.path.c_str() + 5, sizeof e.d_name - 1);
    p.dev_entries.push_back(e);
  }
  return dir;
}

dirent* readdir(DIR* dir) noexcept {
  FakeProcess& p = process();
  auto real = next<dirent* (*)(DIR*)>("readdir");
  if (dir != p.dev_dir) return real(dir);
  if (p.dev_cursor < p.dev_entries.size()) return &p.dev_entries[p.dev_cursor++];
  dirent* e = real(dir);
  while (e != nullptr && std::strncmp(e->d_name, "video", 5) == 0) e = real(dir);  // real cameras
  return e;
}

int closedir(DIR* dir) noexcept {
  FakeProcess& p = process();
  if (dir == p.dev_dir) p.dev_dir = nullptr;
  return next<int (*)(DIR*)>("closedir")(dir);
}

}  // extern "C"
