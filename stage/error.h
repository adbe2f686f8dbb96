// The one error type of the stand-in host: a message a user can act on (it names the file, the
// item or the server concerned).
#ifndef TARSEL_STAGE_ERROR_H
#define TARSEL_STAGE_ERROR_H

#include <stdexcept>
#include <string>

namespace stage {

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace stage

#endif
