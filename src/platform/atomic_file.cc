#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

namespace brimvale {
namespace {

std::string errorText(const char* what, int err) {
  return std::string(what) + ": " + std::strerror(err);
}

}  // namespace

bool writeAll(int fd, std::string_view bytes) {
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

std::optional<std::string> writeFileAtomically(const std::string& path, std::string_view bytes,
                                               mode_t mode) {
  std::filesystem::path target(path);
  std::string tmpl = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
  int fd = ::mkstemp(tmpl.data());
  if (fd < 0) return errorText("create temporary file", errno);
  auto fail = [&](const char* what) {
    int err = errno;
    ::close(fd);
    ::unlink(tmpl.c_str());
    return errorText(what, err);
  };
  if (::fchmod(fd, mode) != 0) return fail("set permissions");
  if (!writeAll(fd, bytes)) return fail("write");
  if (::fsync(fd) != 0) return fail("flush");
  if (::close(fd) != 0) {
    int err = errno;
    ::unlink(tmpl.c_str());
    return errorText("close", err);
  }
  if (::rename(tmpl.c_str(), path.c_str()) != 0) {
    int err = errno;
    ::unlink(tmpl.c_str());
    return errorText("rename", err);
  }
  return std::nullopt;
}

std::optional<std::string> readWholeFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  std::string out;
  out.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return out;
}

std::optional<std::string> createDirectories(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  if (ec) return path + ": " + ec.message();
  if (!std::filesystem::is_directory(path, ec)) return path + ": not a folder";
  return std::nullopt;
}

}  // namespace brimvale
