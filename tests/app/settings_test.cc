#include "app/settings.h"

#include <gtest/gtest.h>

#include "app/models_dir.h"

namespace {

const std::string kToken = "0123456789abcdef0123456789ABCDEF";

// The message a command line fails with, or "" when it parses and validates.
std::string failure(const std::vector<std::string>& args) {
  try {
    validate_settings(parse_command_line(args));
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

std::vector<std::string> valid_plus(std::vector<std::string> extra) {
  extra.insert(extra.begin(), {"--port", "5000", "--token", kToken});
  return extra;
}

TEST(CommandLine, FailuresInWalkAndValidationOrder) {
  const std::string port_token = "Port and 32-digit token required";
  const std::string camera = "Invalid camera size, field of view or device";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, port_token},
      {{"--port"}, "Unknown/missing argument: --port"},
      {{"--verbose", "1"}, "Unknown/missing argument: --verbose"},
      {{"-p", "5000"}, "Unknown/missing argument: -p"},
      {{"--port=5000", "x"}, "Unknown/missing argument: --port=5000"},
      {{"--discover", "--bogus"}, "Unknown/missing argument: --bogus"},
      {{"--width", "abc"}, "stoi"},
      {{"--port", "99999999999"}, "stoi"},
      {{"--fov", "x"}, "stof"},
      {{"--fov", "1e40"}, "stof"},
      {{"--port", "0", "--token", kToken}, port_token},
      {{"--port", "65536", "--token", kToken}, port_token},
      {{"--port", "-1", "--token", kToken}, port_token},
      {{"--port", "5000", "--token", kToken.substr(1)}, port_token},
      {{"--port", "5000", "--token", "0x" + kToken.substr(2)}, port_token},
      {{"--port", "0", "--token", kToken, "--width", "10"}, port_token},  // port checked first
      {{"--token", "--face", "--port", "5"}, port_token},  // the token is "--face"
      {valid_plus({"--width", "63"}), camera},
      {valid_plus({"--height", "4097"}), camera},
      {valid_plus({"--fov", "19.99"}), camera},
      {valid_plus({"--fov", "150.01"}), camera},
      {valid_plus({"--fov", "nan"}), camera},
      {valid_plus({"--device", std::string(257, 'd')}), camera},
      {valid_plus({"--width", "64", "--height", "4096", "--fov", "20"}), ""},
      {valid_plus({"--fov", "150", "--device", std::string(256, 'd')}), ""},
  };
  for (const auto& [args, message] : cases) {
    EXPECT_EQ(failure(args), message) << (args.empty() ? "" : args.back());
  }
}

TEST(CommandLine, ValuesFlagsAndDefaults) {
  Settings s = parse_command_line(
      {"--width", "800x", "--height", " 1e2", "--fov", "1e2", "--port", "+7", "--hands-lite"});
  EXPECT_EQ(s.width, 800);
  EXPECT_EQ(s.height, 1);
  EXPECT_FLOAT_EQ(s.fov, 100.0f);
  EXPECT_EQ(s.port, 7);
  EXPECT_EQ(s.option_bits, 4u);  // lite alone does not switch hand tracking on
  s = parse_command_line({"--face", "--hands", "--face", "--width", "100", "--width", "200"});
  EXPECT_EQ(s.option_bits, 3u);
  EXPECT_EQ(s.width, 200);
  EXPECT_EQ(s.device, "/dev/video0");
  EXPECT_EQ(s.height, 480);
  EXPECT_FLOAT_EQ(s.fov, 60.0f);
}

TEST(ModelsDir, SitsBesideTheExecutable) {
  EXPECT_EQ(models_dir_beside("/opt/x/bin/bridge"), "/opt/x/bin/models");
  EXPECT_EQ(models_dir_beside("/bridge"), "/models");
  EXPECT_EQ(models_dir_beside("."), "./models");
}

}  // namespace
