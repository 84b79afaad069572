// Files and directories through POSIX calls: whole-file reads, descriptors
// opened for writing, directory listings, stat, mkdir, unlink, rmdir, rename
// and chdir. Paths are UTF-8 bytes as the OS takes them; every call here
// closes what it opened before returning, on failure too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

// Opens [path] for reading: the descriptor, or -1 when it cannot be opened or
// is a directory. [*size] gets a regular file's size, else -1 (pipes and
// devices).
int os_open_for_read(const std::string& path, int64_t* size);
// Reads up to [n] bytes of [fd] from byte [offset] into [out], repeating until
// [n] are read or the file ends; [*got] gets the count. False when a read fails.
bool os_read_at(int fd, int64_t offset, uint8_t* out, size_t n, size_t* got);
// Reads [fd] (from os_open_for_read, with the [size] it gave) from byte
// [seek] (0 when negative) to its end, or at most [part] bytes when [part] >=
// 0, into [out]: a file of known size in one piece, anything else (a size of
// -1 or 0: pipes, /proc) to its end. False when a read fails.
bool os_read_from(int fd, int64_t size, int64_t seek, int64_t part, std::string* out);

// Opens [path] for writing, creating it (mode 0666 less the umask): with
// [keep] an existing file keeps its content, else it is truncated. With
// [append] the position moves to the end, else with [seek] > 0 to that byte.
// The descriptor, or -1.
int os_open_for_write(const std::string& path, bool keep, bool append, int64_t seek);
// Closes [fd]; false when the close reports a failure (data not stored).
bool os_close(int fd);

struct DirEntry {
  std::string name;
  bool directory;  // a directory, or a link to one
};
// The entries of the directory [path] without "." and "..", sorted by their
// bytes. False when it cannot be opened as a directory.
bool os_list_dir(const std::string& path, std::vector<DirEntry>* out);

struct FileStat {
  int64_t modified_seconds;  // last write, since the Unix epoch (UTC)
  int32_t modified_nanoseconds;
  bool directory;
};
// The status of what [path] names (links followed); false when there is nothing.
bool os_stat(const std::string& path, FileStat* out);

// Makes the directory [path] (mode 0777 less the umask); 0, or the errno.
int os_make_dir(const std::string& path);
// Makes the directory [path] (its parent stands), open to the user alone
// (mode 0700); true when it stands there as a directory.
bool os_make_private_dir(const std::string& path);
// Removes the file (not a directory) [path]; false on failure.
bool os_remove_file(const std::string& path);
// Removes the empty directory [path]; false on failure.
bool os_remove_dir(const std::string& path);
// Renames [from] to [to] without replacing anything already named [to];
// false on failure or when [to] exists.
bool os_rename(const std::string& from, const std::string& to);
// Renames [from] to [to] in one step, replacing what [to] named; false on
// failure.
bool os_replace_file(const std::string& from, const std::string& to);
// Makes [path] the current directory; false on failure.
bool os_set_current_dir(const std::string& path);

}  // namespace kiv
