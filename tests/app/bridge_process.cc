#include "tests/app/bridge_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

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

Finished run_to_end(const std::vector<std::string>& args, const std::string& stdout_path) {
  char dir_template[] = "/tmp/bridge-run-XXXXXX";
  const std::string dir = mkdtemp(dir_template);
  const std::string out_path = dir + "/out", err_path = dir + "/err";

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, stdout_path.empty() ? out_path.c_str() : stdout_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<std::string> text = {bridge_path()};
  text.insert(text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : text) argv.push_back(s.data());
  argv.push_back(nullptr);

  Finished f;
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    HostSession waiter;
    waiter.child = pid;
    f.status = wait_bridge(waiter, 10000);
    if (f.status < 0) close_host(waiter);
  }
  posix_spawn_file_actions_destroy(&actions);
  f.out = read_all(out_path);
  f.err = read_all(err_path);
  unlink(out_path.c_str());
  unlink(err_path.c_str());
  rmdir(dir.c_str());
  return f;
}

}  // namespace bridge_test
