#include "output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace d88unpack {
namespace {

std::string Reason(const char* what, int error_number) {
  return std::string(what) + ": " + std::strerror(error_number);
}

bool IsSymbolicLink(int dir, const std::string& name) {
  struct stat st;
  return ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

}  // namespace

int OpenOutputRoot(const std::string& path, std::string* error) {
  if (path.empty()) {
    return AT_FDCWD;
  }
#ifdef O_PATH
  // A handle that only names the directory: enough for the *at calls, and it
  // works for a directory that may be written but not listed.
  int flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
  int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif
  int fd = ::open(path.c_str(), flags);
  if (fd < 0) {
    *error = Reason("cannot use as output directory", errno);
  }
  return fd;
}

int OpenSubdirectory(int parent, const std::string& name, std::string* error) {
  if (::mkdirat(parent, name.c_str(), 0777) != 0 && errno != EEXIST) {
    *error = Reason("cannot create directory", errno);
    return -1;
  }
  int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    int saved = errno;
    *error = IsSymbolicLink(parent, name) ? "is a symbolic link, not followed"
                                          : Reason("cannot enter directory", saved);
  }
  return fd;
}

bool WriteNewFile(int dir, const std::string& name, const uint8_t* data, size_t size,
                  std::string* error) {
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;
  int fd = ::openat(dir, name.c_str(), flags, 0666);
  if (fd < 0 && errno == EEXIST) {
    struct stat st;
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
      if (S_ISLNK(st.st_mode)) {
        *error = "is a symbolic link, not followed";
        return false;
      }
      if (S_ISDIR(st.st_mode)) {
        *error = Reason("cannot create", EISDIR);
        return false;
      }
    }
    if (::unlinkat(dir, name.c_str(), 0) != 0 && errno != ENOENT) {
      *error = Reason("cannot replace", errno);
      return false;
    }
    fd = ::openat(dir, name.c_str(), flags, 0666);
  }
  if (fd < 0) {
    *error = Reason("cannot create", errno);
    return false;
  }
  size_t done = 0;
  while (done < size) {
    ssize_t put = ::write(fd, data + done, size - done);
    if (put < 0 && errno == EINTR) {
      continue;
    }
    if (put <= 0) {
      *error = Reason("write failed", put < 0 ? errno : ENOSPC);
      ::close(fd);
      ::unlinkat(dir, name.c_str(), 0);
      return false;
    }
    done += static_cast<size_t>(put);
  }
  if (::close(fd) != 0) {
    *error = Reason("close failed", errno);
    ::unlinkat(dir, name.c_str(), 0);
    return false;
  }
  return true;
}

bool IsSafeFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

void CloseDirectory(int dir) {
  if (dir >= 0) {
    ::close(dir);
  }
}

}  // namespace d88unpack
