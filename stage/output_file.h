// Writing a file whole or not at all (scene files, run reports), without ever replacing what a
// path names unless it is a regular file.
#ifndef TARSEL_STAGE_OUTPUT_FILE_H
#define TARSEL_STAGE_OUTPUT_FILE_H

#include <string>

namespace stage {

// An output being written. Where the path leads decides how:
// - a regular file, or none yet: the text goes to a temporary file in the target's folder, which
//   is renamed over the target once complete, so a reader never sees half a file and a failure
//   leaves any old file as it was. A new file gets rw-r--r-- (less the umask), a replaced one
//   keeps its permissions. A symbolic link is followed: the file it leads to is the one replaced,
//   and the link stays.
// - a FIFO, a terminal, a device or another file that is not regular (/dev/null, /dev/stdout):
//   written to directly; nothing is replaced.
// - "-": standard output.
// Every problem that can be seen up front (a folder, a missing folder, no permission to write the
// file or its folder) is reported by the constructor, before any work is done. The temporary file
// is removed on every error path and when the program is stopped by SIGINT, SIGTERM or SIGHUP.
class Output_file {
 public:
  explicit Output_file(const std::string& path);  // throws Error naming the file
  ~Output_file();                                 // removes the temporary file unless committed
  Output_file(const Output_file&) = delete;
  Output_file& operator=(const Output_file&) = delete;

  void write(const std::string& text);   // throws Error naming the file
  void commit(const std::string& text);  // writes the last text and completes; throws Error
  void commit() { commit(std::string()); }

  const std::string& path() const { return path_; }
  // Writing straight to standard output, a FIFO or a device: what was written stays written.
  bool direct() const { return direct_; }

 private:
  void flush();
  void put(const char* data, std::size_t size);  // straight to the file
  [[noreturn]] void fail(int error);

  std::string path_;    // as given
  std::string target_;  // the file replaced at commit (symbolic links followed)
  std::string temp_;    // empty when writing directly
  std::string buffer_;
  int fd_ = -1;
  bool direct_ = false;  // writing straight to the path's file or standard output
  bool committed_ = false;
  int slot_ = -1;  // where the temporary file is registered for removal on a signal
};

// Writes text to path whole or not at all; throws Error "<path>: cannot write: <reason>".
void write_file_whole(const std::string& path, const std::string& text);

}  // namespace stage

#endif
