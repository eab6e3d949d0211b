#include "files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace dovapkg {
namespace {

using dova::package::PackageError;

ToolError system_error(const std::string& path, int code) {
  return file_error(path, PackageError::io(std::error_code(code, std::generic_category())));
}

// Closes the descriptor when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  // Closes now and reports the result: a delayed write error can show up here.
  int close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

ToolResult<std::vector<std::uint8_t>> read_all(const std::string& path) {
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return tl::unexpected(system_error(path, errno));
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return tl::unexpected(system_error(path, errno));
  if (S_ISDIR(info.st_mode)) return tl::unexpected(system_error(path, EISDIR));

  std::vector<std::uint8_t> bytes;
  if (S_ISREG(info.st_mode)) bytes.reserve(static_cast<std::size_t>(info.st_size));
  std::uint8_t buffer[1 << 16];
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      return tl::unexpected(system_error(path, errno));
    }
    if (got == 0) break;
    bytes.insert(bytes.end(), buffer, buffer + got);
  }
  return bytes;
}

bool write_all(int fd, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t put = ::write(fd, bytes.data(), bytes.size());
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes = bytes.subspan(static_cast<std::size_t>(put));
  }
  return true;
}

ToolResult<void> write_in_place(const std::string& path, std::span<const std::uint8_t> bytes) {
  Descriptor fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
  if (fd.get() < 0 || !write_all(fd.get(), bytes)) return tl::unexpected(system_error(path, errno));
  if (fd.close() != 0) return tl::unexpected(system_error(path, errno));
  return {};
}

// The permissions a newly created file would get: rw for all, less the process's umask.
mode_t new_file_mode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

}  // namespace

ToolResult<std::vector<std::uint8_t>> read_file(const std::string& path) { return read_all(path); }

ToolResult<std::string> read_text_file(const std::string& path) {
  return read_all(path).map([](const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
  });
}

ToolResult<void> write_file(const std::string& path, std::span<const std::uint8_t> bytes) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return tl::unexpected(system_error(path, EISDIR));
    // A device or a pipe (such as /dev/stdout) cannot be replaced, only written to.
    if (!S_ISREG(info.st_mode)) return write_in_place(path, bytes);
  }
  if (std::filesystem::path(path).filename().empty()) {
    return tl::unexpected(system_error(path, EISDIR));
  }
  // Through a symbolic link the file it names is replaced; the link stays.
  std::filesystem::path target(path);
  if (struct stat link{}; ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    std::error_code code;
    target = std::filesystem::weakly_canonical(target, code);
    if (code) return tl::unexpected(system_error(path, code.value()));
  }
  // The temporary file sits in the target's directory so that the rename cannot cross file
  // systems and the target changes in one step.
  const std::filesystem::path directory =
      target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path();
  std::string temporary =
      (directory / fmt::format(".{}.XXXXXX", target.filename().string())).string();
  Descriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
  if (fd.get() < 0) return tl::unexpected(system_error(path, errno));

  int failure = 0;
  if (!write_all(fd.get(), bytes)) {
    failure = errno;
  } else if (::fchmod(fd.get(), new_file_mode()) != 0 || ::fsync(fd.get()) != 0) {
    failure = errno;
  } else if (fd.close() != 0) {
    failure = errno;
  } else if (::rename(temporary.c_str(), target.c_str()) != 0) {
    failure = errno;
  }
  if (failure != 0) {
    ::unlink(temporary.c_str());
    return tl::unexpected(system_error(path, failure));
  }
  return {};
}

ToolResult<void> write_text_file(const std::string& path, std::string_view text) {
  return write_file(path,
                    std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

}  // namespace dovapkg
