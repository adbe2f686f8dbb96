// Writing a file whole or not at all (scene files, run reports).
#ifndef TARSEL_STAGE_OUTPUT_FILE_H
#define TARSEL_STAGE_OUTPUT_FILE_H

#include <string>

namespace stage {

// A file being written: the text goes to a temporary file beside the target, which is renamed over
// the target once complete, so a reader never sees half a file and a failure leaves any old file as
// it was. Opening early reports an unwritable place before any work is done. A new file gets
// rw-r--r-- (less the umask), a replaced one keeps its permissions.
class Output_file {
 public:
  explicit Output_file(const std::string& path);  // throws Error naming the file
  ~Output_file();                                 // removes the temporary file unless committed
  Output_file(const Output_file&) = delete;
  Output_file& operator=(const Output_file&) = delete;

  void commit(const std::string& text);  // throws Error naming the file

 private:
  std::string path_;
  std::string temp_;
  int fd_ = -1;
  bool committed_ = false;
};

// Writes text to path whole or not at all; throws Error "<path>: cannot write: <reason>".
void write_file_whole(const std::string& path, const std::string& text);

}  // namespace stage

#endif
