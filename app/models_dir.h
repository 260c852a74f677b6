#pragma once

#include <string>

// "models" in the directory of `executable_path`; a path without "/" is taken
// whole as the directory (so "." gives "./models").
std::string models_dir_beside(const std::string& executable_path);

// models_dir_beside the running executable (read from /proc/self/exe, "."
// when that cannot be read).
std::string default_models_root();
