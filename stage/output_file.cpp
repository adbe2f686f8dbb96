#include "stage/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "stage/error.h"

namespace stage {

namespace {

// Temporary files in progress, removed by the signal handler when the program is stopped.
constexpr int temp_slots = 16;
constexpr std::size_t temp_name_size = 4096;
char temp_names[temp_slots][temp_name_size];
volatile std::sig_atomic_t temp_used[temp_slots];

extern "C" void remove_temps_and_stop(int sig) {
  for (int i = 0; i < temp_slots; ++i) {
    if (temp_used[i]) unlink(temp_names[i]);
  }
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

// Installs the handler for the stopping signals that still have their default action (a signal
// the caller ignores, as under nohup, stays ignored).
void install_handler() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction old {};
    if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) continue;
    struct sigaction action {};
    action.sa_handler = &remove_temps_and_stop;
    sigemptyset(&action.sa_mask);
    sigaction(sig, &action, nullptr);
  }
}

int register_temp(const std::string& name) {
  if (name.size() >= temp_name_size) return -1;
  install_handler();
  for (int i = 0; i < temp_slots; ++i) {
    if (temp_used[i]) continue;
    std::memcpy(temp_names[i], name.c_str(), name.size() + 1);
    temp_used[i] = 1;
    return i;
  }
  return -1;
}

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The path a chain of symbolic links ends at (the path itself when it is no link). A link may
// lead to a file that does not exist yet.
std::string follow_links(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::string target(4096, '\0');
    const ssize_t n = readlink(path.c_str(), target.data(), target.size());
    if (n < 0 || static_cast<std::size_t>(n) >= target.size()) return path;
    target.resize(static_cast<std::size_t>(n));
    path = target[0] == '/' ? target : folder_of(path) + "/" + target;
  }
  errno = ELOOP;
  return path;
}

bool starts_with(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

Output_file::Output_file(const std::string& path) : path_(path) {
  if (path == "-") {
    fd_ = STDOUT_FILENO;
    direct_ = true;
    return;
  }
  if (path.empty()) throw Error("cannot write a file with an empty name");
  struct stat st;
  const bool exists = stat(path.c_str(), &st) == 0;
  if (!exists && errno != ENOENT) fail(errno);
  if (exists && S_ISDIR(st.st_mode)) throw Error(path + ": cannot write: it is a folder");
  target_ = follow_links(path);
  // Not a regular file (a FIFO, terminal or device), or one of the process's own descriptors
  // (/dev/stdout leads to /proc/self/fd/1): written in place, appended to what a shell opened.
  const bool own_descriptor = starts_with(target_, "/proc/") || starts_with(target_, "/dev/fd/");
  if (exists && (!S_ISREG(st.st_mode) || own_descriptor)) {
    const int flags = O_WRONLY | O_NOCTTY | O_CLOEXEC | (S_ISREG(st.st_mode) ? O_APPEND : 0);
    fd_ = open(path.c_str(), flags);
    if (fd_ < 0) fail(errno);
    direct_ = true;
    return;
  }
  if (exists && access(target_.c_str(), W_OK) != 0) fail(errno);
  temp_ = target_ + ".XXXXXX";
  fd_ = mkstemp(temp_.data());
  if (fd_ < 0) {
    const int error = errno;
    temp_.clear();
    if (error == ENOENT) throw Error(path + ": cannot write: no folder " + folder_of(target_));
    fail(error);
  }
  slot_ = register_temp(temp_);
  if (exists) {
    fchmod(fd_, st.st_mode & 07777);
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd_, 0644 & ~mask);
  }
}

Output_file::~Output_file() {
  if (fd_ >= 0 && fd_ != STDOUT_FILENO) close(fd_);
  if (!temp_.empty() && !committed_) unlink(temp_.c_str());
  if (slot_ >= 0) temp_used[slot_] = 0;
}

void Output_file::fail(int error) {
  throw Error((path_ == "-" ? std::string("standard output") : path_) +
              ": cannot write: " + std::strerror(error));
}

void Output_file::put(const char* data, std::size_t size) {
  if (fd_ < 0) throw Error(path_ + ": written already");
  for (std::size_t done = 0; done < size;) {
    const ssize_t n = ::write(fd_, data + done, size - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n == 0 || errno != EINTR) {
      fail(n == 0 ? EIO : errno);
    }
  }
}

void Output_file::flush() {
  put(buffer_.data(), buffer_.size());
  buffer_.clear();
}

void Output_file::write(const std::string& text) {
  if (committed_ || fd_ < 0) throw Error(path_ + ": written already");
  if (buffer_.size() + text.size() < (1u << 16)) {
    buffer_ += text;
    return;
  }
  // A large text is written from where it is rather than copied into the buffer.
  flush();
  put(text.data(), text.size());
}

void Output_file::commit(const std::string& text) {
  write(text);
  flush();
  if (direct_) {
    if (fd_ != STDOUT_FILENO && close(fd_) != 0) {
      fd_ = -1;
      fail(errno);
    }
    fd_ = -1;
    committed_ = true;
    return;
  }
  int error = fsync(fd_) != 0 ? errno : 0;
  if (close(fd_) != 0 && error == 0) error = errno;
  fd_ = -1;
  if (error == 0 && std::rename(temp_.c_str(), target_.c_str()) != 0) error = errno;
  if (error != 0) fail(error);
  committed_ = true;
}

void write_file_whole(const std::string& path, const std::string& text) {
  Output_file file(path);
  file.commit(text);
}

}  // namespace stage
