// End-to-end: the folder `cmake --install` puts together is what a host
// application ships. Moved elsewhere and started from another directory, it
// must find its runtime library and its models inside itself.
#include <filesystem>
#include <fstream>

#include "tests/app/bridge_process.h"
#include "wire/control.h"

namespace bridge_test {
namespace {

namespace fs = std::filesystem;

TEST(InstalledBridge, RunsFromAMovedFolderWithItsOwnRuntimeAndModels) {
  SKIP_WITHOUT_MODELS();
  const ScratchDir scratch("bridge-install");
  const fs::path& dir = scratch.path;
  const std::string install =
      "cmake --install '" BRIDGE_BINARY_DIR "' --prefix '" + (dir / "installed").string() + "' >/dev/null";
  ASSERT_EQ(std::system(install.c_str()), 0) << install;
  fs::rename(dir / "installed", dir / "moved");
  const fs::path folder = dir / "moved";
  for (const char* part : {"bridge", "lib/libLiteRt.so", "models/face/face_landmarks_detector.tflite",
                           "models/hand/hand_landmarks_detector.tflite"})
    EXPECT_TRUE(fs::exists(folder / part)) << part;

  const fs::path before = fs::current_path();
  fs::current_path("/");  // the child starts elsewhere than the build
  RunningBridge b;
  b.start({"--frames", BRIDGE_SHARED_DIR "/frames", "--face"}, (folder / "bridge").string());
  fs::current_path(before);
  int found = 0;
  for (const wire::Bytes& d : b.record([](auto& got) { return count_of(got, wire::kFace) >= 3; }, 20)) {
    EXPECT_EQ(payload(d).find("\"error\""), std::string::npos) << payload(d);
    found += type_of(d) == wire::kFace && d[wire::kHeaderSize] == 1;
  }
  EXPECT_EQ(found, 3) << "a face tracked with the folder's own models";
  // The runtime library mapped into the child is the folder's, not the build's.
  std::ifstream maps("/proc/" + std::to_string(b.host.child) + "/maps");
  const std::string mapped((std::istreambuf_iterator<char>(maps)), std::istreambuf_iterator<char>());
  EXPECT_NE(mapped.find((folder / "lib/libLiteRt.so").string()), std::string::npos);
  EXPECT_EQ(mapped.find(BRIDGE_BINARY_DIR "/runtime/libLiteRt.so"), std::string::npos);
  b.stop();
}

}  // namespace
}  // namespace bridge_test
