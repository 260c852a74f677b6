#pragma once

#include <string>
#include <vector>

// The frames of one command-line path: the ".jpg" and ".jpeg" files of a
// directory in byte order of their names, or the path alone when it is not
// a directory (whether it exists is for the reader to find out).
std::vector<std::string> frame_files(const std::string& path);

// True when `dir` is the directory that `path` (a frame directory, or a
// file) reads its frames from: drawings written there could replace frames.
// False when either does not exist.
bool is_frame_directory_of(const std::string& dir, const std::string& path);

// The part of `path` after its last '/'.
std::string file_name(const std::string& path);

// `name` without its last extension ("a.b.jpg" gives "a.b"; a name that
// only starts with a dot keeps it).
std::string without_extension(const std::string& name);
