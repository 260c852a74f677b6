#include "app/settings.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "app/models_dir.h"

namespace {

const std::string kToken = "0123456789abcdef0123456789ABCDEF";

std::string walk_error(const std::vector<std::string>& args) {
  try {
    parse_command_line(args);
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

std::string validation_error(std::vector<std::string> args) {
  try {
    validate_settings(parse_command_line(args));
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

std::vector<std::string> with_port_token(std::vector<std::string> extra) {
  std::vector<std::string> args = {"--port", "5000", "--token", kToken};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

TEST(CommandLine, WalkFailuresNameTheArgument) {
  EXPECT_EQ(walk_error({}), "Port and 32-digit token required");
  EXPECT_EQ(walk_error({"--port"}), "Unknown/missing argument: --port");
  EXPECT_EQ(walk_error({"--verbose", "1"}), "Unknown/missing argument: --verbose");
  EXPECT_EQ(walk_error({"-p", "5000"}), "Unknown/missing argument: -p");
  EXPECT_EQ(walk_error({"--port=5000", "x"}), "Unknown/missing argument: --port=5000");
  EXPECT_EQ(walk_error({"--discover", "--bogus"}), "Unknown/missing argument: --bogus");
  EXPECT_EQ(walk_error({"--width", "abc"}), "stoi");
  EXPECT_EQ(walk_error({"--port", "99999999999"}), "stoi");
  EXPECT_EQ(walk_error({"--fov", "x"}), "stof");
  EXPECT_EQ(walk_error({"--fov", "1e40"}), "stof");
}

TEST(CommandLine, NumbersFollowTheStandardConversions) {
  const Settings s = parse_command_line(
      {"--width", "800x", "--height", " 1e2", "--fov", "1e2", "--port", "+7"});
  EXPECT_EQ(s.width, 800);
  EXPECT_EQ(s.height, 1);
  EXPECT_FLOAT_EQ(s.fov, 100.0f);
  EXPECT_EQ(s.port, 7);
}

TEST(CommandLine, FlagsAddBitsAndValuesAreTakenVerbatim) {
  Settings s = parse_command_line({"--hands-lite"});
  EXPECT_EQ(s.option_bits, 4u);  // lite alone does not switch hand tracking on
  s = parse_command_line({"--face", "--hands", "--face", "--discover"});
  EXPECT_EQ(s.option_bits, 3u);
  EXPECT_TRUE(s.discover);
  s = parse_command_line({"--token", "--face", "--width", "100", "--width", "200"});
  EXPECT_EQ(s.token, "--face");
  EXPECT_EQ(s.option_bits, 0u);
  EXPECT_EQ(s.width, 200);
  s = parse_command_line({"--port", "1"});
  EXPECT_EQ(s.device, "/dev/video0");
  EXPECT_EQ(s.width, 640);
  EXPECT_EQ(s.height, 480);
  EXPECT_FLOAT_EQ(s.fov, 60.0f);
}

TEST(CommandLine, ValidationOrderAndBounds) {
  const std::string port_token = "Port and 32-digit token required";
  const std::string camera = "Invalid camera size, field of view or device";
  for (const char* port : {"0", "65536", "-1"}) {
    EXPECT_EQ(validation_error({"--port", port, "--token", kToken}), port_token) << port;
  }
  EXPECT_EQ(validation_error({"--port", "5000", "--token", kToken.substr(1)}), port_token);
  EXPECT_EQ(validation_error({"--port", "5000", "--token", "0x" + kToken.substr(2)}), port_token);
  EXPECT_EQ(validation_error({"--port", "5000"}), port_token);
  EXPECT_EQ(validation_error({"--port", "0", "--token", kToken, "--width", "10"}), port_token);

  for (const char* size : {"63", "4097"}) {
    EXPECT_EQ(validation_error(with_port_token({"--width", size})), camera) << size;
    EXPECT_EQ(validation_error(with_port_token({"--height", size})), camera) << size;
  }
  for (const char* size : {"64", "4096"}) {
    EXPECT_EQ(validation_error(with_port_token({"--width", size, "--height", size})), "");
  }
  for (const char* fov : {"19.99", "150.01", "nan", "inf"}) {
    EXPECT_EQ(validation_error(with_port_token({"--fov", fov})), camera) << fov;
  }
  EXPECT_EQ(validation_error(with_port_token({"--fov", "20"})), "");
  EXPECT_EQ(validation_error(with_port_token({"--fov", "150"})), "");
  EXPECT_EQ(validation_error(with_port_token({"--device", std::string(257, 'd')})), camera);
  EXPECT_EQ(validation_error(with_port_token({"--device", std::string(256, 'd')})), "");
}

TEST(ModelsDir, SitsBesideTheExecutable) {
  EXPECT_EQ(models_dir_beside("/opt/x/bin/bridge"), "/opt/x/bin/models");
  EXPECT_EQ(models_dir_beside("/bridge"), "/models");
  EXPECT_EQ(models_dir_beside("."), "./models");
  EXPECT_EQ(default_models_root().substr(0, 1), "/");
}

}  // namespace
