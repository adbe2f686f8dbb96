#include "stage/report/stderr_capture.h"

#include <sys/stat.h>
#include <unistd.h>

namespace report {

std::string count_diagnostics(const std::string& text, Diagnostic_counts* counts) {
  std::string rest;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    const std::string line = text.substr(start, end - start);
    if (line == "abs = 0\n") {
      ++counts->abs_zero;
    } else if (line == "determinant = 0\n") {
      ++counts->determinant_zero;
    } else {
      rest += line;
    }
    start = end;
  }
  return rest;
}

Stderr_capture::Stderr_capture(bool enabled) {
  if (!enabled) return;
  file_ = std::tmpfile();
  if (file_ != nullptr) saved_fd_ = dup(STDERR_FILENO);
  if (saved_fd_ < 0 && file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
}

Stderr_capture::~Stderr_capture() {
  if (capturing_) {
    std::fflush(stderr);
    dup2(saved_fd_, STDERR_FILENO);
  }
  if (saved_fd_ >= 0) close(saved_fd_);
  if (file_ != nullptr) std::fclose(file_);
}

void Stderr_capture::begin() {
  if (file_ == nullptr || capturing_) return;
  const int fd = fileno(file_);
  std::fflush(stderr);
  // Most frames write nothing: the file is emptied only after one that did.
  if (dirty_ && (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0)) return;
  dirty_ = false;
  if (dup2(fd, STDERR_FILENO) < 0) return;
  capturing_ = true;
}

long long Stderr_capture::size() const { return capturing_ ? size_now() : 0; }

long long Stderr_capture::size_now() const {
  struct stat st {};
  return fstat(fileno(file_), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

std::string Stderr_capture::end() {
  if (!capturing_) return "";
  std::fflush(stderr);
  dup2(saved_fd_, STDERR_FILENO);
  capturing_ = false;
  const int fd = fileno(file_);
  std::string text;
  if (size_now() == 0) return text;
  dirty_ = true;
  if (lseek(fd, 0, SEEK_SET) != 0) return text;
  char buf[4096];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    text.append(buf, static_cast<std::size_t>(n));
  }
  return text;
}

}  // namespace report
