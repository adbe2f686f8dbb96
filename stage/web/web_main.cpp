// The WebAssembly program's entry for the viewer page: the module linked in, registered with the
// host's loader under its file name, and the session's calls as plain C functions the page calls
// through cwrap. Text results stay valid until the next call; a call that fails returns null (or
// 0) and tarsel_error tells why.
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>

#include "sdk/lwmodule.h"
#include "stage/module_loader.h"
#include "stage/web/session.h"

extern "C" ModuleDescriptor _mod_descrip;

namespace {

std::unique_ptr<web::Session> session;
std::string result, error;

template <class F>
const char* text_call(F&& f) {
  try {
    error.clear();
    result = f();
    return result.c_str();
  } catch (const std::exception& e) {
    error = e.what();
    return nullptr;
  }
}

template <class F>
int call(F&& f) {
  try {
    error.clear();
    f();
    return 1;
  } catch (const std::exception& e) {
    error = e.what();
    return 0;
  }
}

web::Session& open_session() {
  if (!session) throw std::runtime_error("the module is not loaded (call tarsel_open first)");
  return *session;
}

void append_string(std::string& out, const std::string& s) {
  out += '"';
  for (const char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    if (static_cast<unsigned char>(c) >= 0x20) out += c;
  }
  out += '"';
}

}  // namespace

extern "C" {

// Loads the linked module into a fresh host; the other calls need it.
int tarsel_open() {
  return call([] {
    session.reset();
    stage::register_linked_module("tarsel.p", &_mod_descrip);
    session = std::make_unique<web::Session>("tarsel.p");
  });
}

int tarsel_load(const char* scene_text, const char* name) {
  return call([&] { open_session().load(scene_text, name); });
}

const char* tarsel_warnings() {
  return text_call([] {
    std::string out = "[";
    for (const std::string& w : open_session().warnings()) {
      if (out.size() > 1) out += ", ";
      append_string(out, w);
    }
    return out + "]";
  });
}

const char* tarsel_rotations(int first, int last) {
  return text_call([&] { return open_session().rotations_json(first, last); });
}

const char* tarsel_view_data(int first, int last) {
  return text_call([&] { return open_session().view_data_json(first, last); });
}

int tarsel_set_channel(const char* item, int channel, int frame, double x, double y, double z,
                       int key) {
  return call([&] {
    open_session().set_channel(item, channel, frame, stage::Vec3{x, y, z}, key != 0);
  });
}

const char* tarsel_options(const char* root) {
  return text_call([&] { return open_session().options_json(root); });
}

int tarsel_set_option(const char* root, int id, double value) {
  return call([&] { open_session().set_option(root, static_cast<unsigned long>(id), value); });
}

const char* tarsel_scene_text() {
  return text_call([] { return open_session().scene_text(); });
}

const char* tarsel_error() { return error.c_str(); }

// Stops the program with a trap (an unreachable instruction), as a fault inside the module would,
// so that a test can check how the page copes with one. No scene file or page control reaches it.
void tarsel_trap() { __builtin_trap(); }

}  // extern "C"
