#include "tests/app/bridge_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>

extern char** environ;

namespace bridge_test {

namespace {

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

BridgeScript::BridgeScript(const std::string& command) {
  char name[] = "/tmp/bridge-script-XXXXXX";
  const int fd = mkstemp(name);
  path = name;
  const std::string text = "#!/bin/sh\n" + command + " || exit 99\nexec " + bridge_path() + " \"$@\"\n";
  EXPECT_EQ(write(fd, text.data(), text.size()), ssize_t(text.size()));
  fchmod(fd, 0700);
  close(fd);
}

BridgeScript::~BridgeScript() { unlink(path.c_str()); }

pid_t spawn(std::vector<std::string> command, const std::string& out, const std::string& err) {
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (!err.empty()) {
    posix_spawn_file_actions_addopen(&files, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  }
  std::vector<char*> argv;
  for (std::string& word : command) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &files, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&files);
  return pid;
}

int wait_child(pid_t pid, int timeout_ms) {
  HostSession waiter;
  waiter.child = pid;
  const int status = wait_bridge(waiter, timeout_ms);
  close_host(waiter);
  return status;
}

Finished run_to_end(const std::vector<std::string>& args, const std::string& stdout_path) {
  char dir_template[] = "/tmp/bridge-run-XXXXXX";
  const std::string dir = mkdtemp(dir_template);
  const std::string out_path = dir + "/out", err_path = dir + "/err";
  std::vector<std::string> command = {bridge_path()};
  command.insert(command.end(), args.begin(), args.end());
  Finished f;
  const pid_t pid = spawn(command, stdout_path.empty() ? out_path : stdout_path, err_path);
  if (pid > 0) f.status = wait_child(pid, 10000);
  f.out = read_all(out_path);
  f.err = read_all(err_path);
  unlink(out_path.c_str());
  unlink(err_path.c_str());
  rmdir(dir.c_str());
  return f;
}

}  // namespace bridge_test
