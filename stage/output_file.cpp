#include "stage/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "stage/error.h"

namespace stage {

Output_file::Output_file(const std::string& path) : path_(path), temp_(path + ".XXXXXX") {
  fd_ = mkstemp(temp_.data());
  if (fd_ < 0) throw Error(path + ": cannot write: " + std::strerror(errno));
  struct stat old_file;
  if (stat(path.c_str(), &old_file) == 0) {
    fchmod(fd_, old_file.st_mode & 07777);
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd_, 0644 & ~mask);
  }
}

Output_file::~Output_file() {
  if (fd_ >= 0) close(fd_);
  if (!committed_) std::remove(temp_.c_str());
}

void Output_file::commit(const std::string& text) {
  if (committed_ || fd_ < 0) throw Error(path_ + ": written already");
  int error = 0;
  for (std::size_t done = 0; error == 0 && done < text.size();) {
    const ssize_t n = write(fd_, text.data() + done, text.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n == 0 || errno != EINTR) {
      error = n == 0 ? EIO : errno;
    }
  }
  if (error == 0 && fsync(fd_) != 0) error = errno;
  if (close(fd_) != 0 && error == 0) error = errno;
  fd_ = -1;
  if (error == 0 && std::rename(temp_.c_str(), path_.c_str()) != 0) error = errno;
  if (error != 0) throw Error(path_ + ": cannot write: " + std::strerror(error));
  committed_ = true;
}

void write_file_whole(const std::string& path, const std::string& text) {
  Output_file file(path);
  file.commit(text);
}

}  // namespace stage
