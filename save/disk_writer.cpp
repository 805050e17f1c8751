#include "save/disk_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace save {

namespace {

std::string describe(const char* what, const std::string& shown, int error_number) {
  char text[1024];
  std::snprintf(text, sizeof text, "%s %s: %s", what, shown.c_str(), std::strerror(error_number));
  return text;
}

// write() until every byte is out; false with errno set on the first failure.
bool write_all(int fd, std::span<const uint8_t> content) {
  while (!content.empty()) {
    ssize_t n = ::write(fd, content.data(), content.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = EIO;
      return false;
    }
    content = content.subspan(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

void UniqueFd::reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

UniqueFd DiskWriter::open_target(const std::string& path, std::string& error) {
  if (path.empty()) {
    error = "no target directory given";
    return {};
  }
  if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
    error = describe("cannot create directory", path, errno);
    return {};
  }
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid()) error = describe("cannot open directory", path, errno);
  return fd;
}

UniqueFd DiskWriter::open_subdirectory(int parent, const std::string& name, const std::string& shown,
                                       std::string& error, bool* refused) {
  if (refused) *refused = false;
  // mkdirat never follows a link: an existing entry of any kind answers EEXIST, and the open below
  // decides whether it is a directory we may enter.
  if (::mkdirat(parent, name.c_str(), 0777) != 0 && errno != EEXIST) {
    error = describe("cannot create directory", shown, errno);
    return {};
  }
  UniqueFd fd(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.valid()) {
    if (errno == ELOOP || errno == ENOTDIR) {
      error = shown + " exists and is not a directory (symbolic links are never followed)";
      if (refused) *refused = true;
    } else {
      error = describe("cannot open directory", shown, errno);
    }
  }
  return fd;
}

WriteOutcome DiskWriter::look(int dir, const std::string& name, const std::string& shown,
                              std::string& error) {
  struct stat st;
  if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (!S_ISREG(st.st_mode)) {
      error = shown + (S_ISLNK(st.st_mode) ? " is a symbolic link" : " exists and is not a regular file") +
              " (left as it is, never followed or replaced)";
      return WriteOutcome::refused;
    }
    return force_ ? WriteOutcome::written : WriteOutcome::kept;
  }
  if (errno != ENOENT) {
    error = describe("cannot look at", shown, errno);
    return WriteOutcome::failed;
  }
  return WriteOutcome::written;
}

std::string DiskWriter::temp_name() {
  return "%tmp." + std::to_string(::getpid()) + "." + std::to_string(temp_counter_++);
}

WriteOutcome DiskWriter::place(int dir, const std::string& temp, const std::string& name,
                               const std::string& shown, std::string& error) {
  auto fail = [&](const char* what, int error_number) {
    ::unlinkat(dir, temp.c_str(), 0);
    error = describe(what, shown, error_number);
    return WriteOutcome::failed;
  };
  if (force_) {
    // rename replaces a file or a link itself; a directory in the way stays and is an error. What
    // stood there was a regular file a moment ago.
    if (::renameat(dir, temp.c_str(), dir, name.c_str()) != 0) return fail("cannot replace", errno);
    return WriteOutcome::written;
  }
  // Without force an entry that appeared since the look is still not replaced.
  if (::renameat2(dir, temp.c_str(), dir, name.c_str(), RENAME_NOREPLACE) == 0) return WriteOutcome::written;
  int rename_error = errno;
  if (rename_error == EINVAL || rename_error == ENOSYS) {
    // File systems without RENAME_NOREPLACE: a hard link also refuses an existing name.
    if (::linkat(dir, temp.c_str(), dir, name.c_str(), 0) == 0) {
      ::unlinkat(dir, temp.c_str(), 0);
      return WriteOutcome::written;
    }
    rename_error = errno;
  }
  if (rename_error == EEXIST) {
    ::unlinkat(dir, temp.c_str(), 0);
    return WriteOutcome::kept;
  }
  return fail("cannot create", rename_error);
}

WriteOutcome DiskWriter::write_file(int dir, const std::string& name, std::span<const uint8_t> content,
                                    const std::string& shown, std::string& error) {
  if (WriteOutcome standing = look(dir, name, shown, error); standing != WriteOutcome::written)
    return standing;

  // The temporary name cannot be the escaped name of any binding ("%t" is no escape), and O_EXCL
  // refuses whatever already stands there, a planted link included.
  std::string temp;
  UniqueFd fd;
  for (int attempt = 0; attempt < 100 && !fd.valid(); ++attempt) {
    temp = temp_name();
    fd = UniqueFd(::openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!fd.valid() && errno != EEXIST) break;
  }
  if (!fd.valid()) {
    error = describe("cannot create a file beside", shown, errno);
    return WriteOutcome::failed;
  }

  auto fail = [&](const char* what, int error_number) {
    fd.reset();
    ::unlinkat(dir, temp.c_str(), 0);
    error = describe(what, shown, error_number);
    return WriteOutcome::failed;
  };
  if (!write_all(fd.get(), content)) return fail("cannot write", errno);
  if (::close(fd.release()) != 0) return fail("cannot write", errno);
  return place(dir, temp, name, shown, error);
}

WriteOutcome DiskWriter::link_file(int from_dir, const std::string& from, int dir, const std::string& name,
                                   const std::string& shown, std::string& error) {
  if (WriteOutcome standing = look(dir, name, shown, error); standing != WriteOutcome::written)
    return standing;
  std::string temp;
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = temp_name();
    // Without AT_SYMLINK_FOLLOW a link in place of `from` would be linked itself, never followed.
    if (::linkat(from_dir, from.c_str(), dir, temp.c_str(), 0) == 0)
      return place(dir, temp, name, shown, error);
    if (errno != EEXIST) break;
  }
  return WriteOutcome::not_linked;
}

}  // namespace save
