// POSIX file calls: open, read, pread, write, lseek, fstat, opendir, mkdir, unlink,
// rmdir, renameat2 and chdir. Interrupted calls are repeated.
#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace kiv {

namespace {

// A descriptor closed when the scope ends.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

int open_retrying(const char* path, int flags, mode_t mode) {
  int fd;
  do fd = open(path, flags | O_CLOEXEC, mode);
  while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

int os_open_for_read(const std::string& path, int64_t* size) {
  *size = -1;
  int fd = open_retrying(path.c_str(), O_RDONLY, 0);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(fd);
    return -1;
  }
  if (S_ISREG(st.st_mode)) *size = int64_t(st.st_size);
  return fd;
}

bool os_read_at(int fd, int64_t offset, uint8_t* out, size_t n, size_t* got) {
  *got = 0;
  while (*got < n) {
    ssize_t r = pread(fd, out + *got, n - *got, off_t(offset + int64_t(*got)));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return false;
    if (r == 0) break;
    *got += size_t(r);
  }
  return true;
}

bool os_read_from(int fd, int64_t size, int64_t seek, int64_t part, std::string* out) {
  out->clear();
  if (seek < 0) seek = 0;
  // Skip the first [seek] bytes: by moving on a seekable file, by reading on
  // anything else.
  int64_t skip = seek;
  if (skip > 0 && lseek(fd, off_t(skip), SEEK_SET) >= 0) skip = 0;
  int64_t want = part < 0 ? INT64_MAX : part;
  if (size > seek) {
    // A file of known size is read straight into the string; what it grew
    // by meanwhile is read by the loop below.
    const int64_t n = std::min<int64_t>(size - seek, want);
    out->resize(size_t(n));
    size_t got = 0;
    if (!os_read_at(fd, seek, reinterpret_cast<uint8_t*>(out->data()), size_t(n), &got)) return false;
    out->resize(got);
    if (int64_t(got) < n || lseek(fd, off_t(seek + n), SEEK_SET) < 0) return true;
    skip = 0;
  }
  char chunk[65536];
  while (int64_t(out->size()) < want) {
    const int64_t room = want - int64_t(out->size());
    size_t ask = sizeof chunk;
    if (room < int64_t(sizeof chunk) - skip) ask = size_t(room + skip);
    ssize_t n = read(fd, chunk, ask);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    int64_t from = std::min<int64_t>(skip, n);
    skip -= from;
    out->append(chunk + from, size_t(n - from));
  }
  return true;
}

int os_open_for_write(const std::string& path, bool keep, bool append, int64_t seek) {
  int fd = open_retrying(path.c_str(), O_WRONLY | O_CREAT | (keep ? 0 : O_TRUNC), 0666);
  if (fd < 0) return -1;
  off_t at = append ? lseek(fd, 0, SEEK_END) : seek > 0 ? lseek(fd, off_t(seek), SEEK_SET) : 0;
  if (at < 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool os_close(int fd) { return close(fd) == 0 || errno == EINTR; }

bool os_list_dir(const std::string& path, std::vector<DirEntry>* out) {
  out->clear();
  DIR* dir = opendir(path.empty() ? "." : path.c_str());
  if (!dir) return false;
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    bool directory = e->d_type == DT_DIR;
    if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
      struct stat st;
      directory = fstatat(dirfd(dir), e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
    }
    out->push_back({std::move(name), directory});
  }
  closedir(dir);
  std::sort(out->begin(), out->end(), [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  return true;
}

bool os_stat(const std::string& path, FileStat* out) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  out->modified_seconds = int64_t(st.st_mtim.tv_sec);
  out->modified_nanoseconds = int32_t(st.st_mtim.tv_nsec);
  out->directory = S_ISDIR(st.st_mode);
  return true;
}

int os_make_dir(const std::string& path) { return mkdir(path.c_str(), 0777) == 0 ? 0 : errno; }

bool os_make_private_dir(const std::string& path) {
  struct stat st;
  if (mkdir(path.c_str(), 0700) == 0) return true;
  return errno == EEXIST && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool os_remove_file(const std::string& path) { return unlink(path.c_str()) == 0; }

bool os_remove_dir(const std::string& path) { return rmdir(path.c_str()) == 0; }

bool os_rename(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  // File systems without the no-replace flag: look first, then rename.
  if (errno != EINVAL && errno != ENOSYS) return false;
  struct stat st;
  if (lstat(to.c_str(), &st) == 0) return false;
  return rename(from.c_str(), to.c_str()) == 0;
}

bool os_replace_file(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str()) == 0;
}

bool os_set_current_dir(const std::string& path) { return !path.empty() && chdir(path.c_str()) == 0; }

}  // namespace kiv
