// Throw-away folders for tests that write files.
#pragma once

#include <string>

// A fresh folder under the system temp folder; empty string on failure.
std::string scratch_dir_new();
// Removes the folder and everything below it (symlinks are not followed).
void scratch_dir_remove(const std::string &dir);
// Whole file as bytes; *ok tells whether it could be read.
std::string scratch_read(const std::string &path, bool *ok = nullptr);
// Writes bytes to a file; true on success.
bool scratch_write(const std::string &path, const std::string &data);
// Names of the entries of a folder, sorted.
std::string scratch_list(const std::string &dir);
