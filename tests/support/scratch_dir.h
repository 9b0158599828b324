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
// Mounts a tmpfs of `bytes` on the folder (read-only when asked): a full
// or read-only disk for real.  False where mounting is not allowed (not
// root, no mount program); the caller skips that case then.
bool scratch_mount_tmpfs(const std::string &dir, size_t bytes, bool read_only);
// Unmounts what scratch_mount_tmpfs mounted.
void scratch_unmount(const std::string &dir);
// Files this process writes may grow to `bytes` at most (0: no limit), and
// a write past that fails as on a full disk (SIGXFSZ ignored) until
// scratch_file_size_unlimit.  True when the limit was set.
bool scratch_file_size_limit(size_t bytes);
void scratch_file_size_unlimit(void);
