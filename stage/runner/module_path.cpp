#include "stage/runner/module_path.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "stage/error.h"

#ifndef TARSEL_DEFAULT_MODULE
#define TARSEL_DEFAULT_MODULE "tarsel.p"
#endif

namespace runner {

std::string module_path(const std::string& option) {
  if (!option.empty()) return option;
  const char* env = std::getenv("TARSEL_MODULE");
  if (env != nullptr && *env != '\0') return env;
  if (access(TARSEL_DEFAULT_MODULE, R_OK) == 0) return TARSEL_DEFAULT_MODULE;
  const std::string installed = installed_file("lib/tarsel/tarsel.p");
  if (!installed.empty()) return installed;
  return TARSEL_DEFAULT_MODULE;
}

std::string installed_file(const std::string& relative) {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "";
  std::string path(self, static_cast<std::size_t>(n));
  path = path.substr(0, path.rfind('/')) + "/../" + relative;
  return access(path.c_str(), R_OK) == 0 ? path : "";
}

void load_module(stage::Host& host, const std::string& path) {
  if (access(path.c_str(), R_OK) != 0)
    throw stage::Error("module not found: " + path + " (give --module PATH or set TARSEL_MODULE)");
  host.load_module(path);
}

void print_warnings(const stage::Host& host) {
  for (const std::string& w : host.warnings())
    std::fprintf(stderr, "tarsel-stage: warning: %s\n", w.c_str());
}

}  // namespace runner
