#include "stage/runner/render.h"
#include "stage/runner/command_options.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "stage/error.h"
#include "stage/host.h"
#include "stage/output_file.h"
#include "stage/runner/frames.h"
#include "stage/runner/open_scene.h"
#include "stage/runner/svg_picture.h"
#include "stage/runner/view_data.h"

namespace runner {

namespace {

bool ends_with(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void parse_size(const std::string& text, int& width, int& height) {
  char x = 0, rest = 0;
  if (std::sscanf(text.c_str(), "%d%c%d%c", &width, &x, &height, &rest) != 3 ||
      (x != 'x' && x != 'X') || width < 16 || height < 16 || width > 8192 || height > 8192)
    throw stage::Error("--size \"" + text + "\": expected WIDTHxHEIGHT, each 16 to 8192 pixels");
}

// A fresh directory for one Chromium run (its profile, the page, the picture), removed after.
struct Temp_dir {
  std::string path;
  Temp_dir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tarsel-render.XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr)
      throw stage::Error("cannot make a temporary directory in " + pattern);
    path = buf.data();
  }
  ~Temp_dir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
};

// A stopping signal (interrupt, terminate, hang-up) that came while the browser ran. The wait for
// the browser sees it, stops the browser's whole process group and unwinds, so the temporary
// folder is removed; the guard then raises the signal again with the handlers it found.
volatile std::sig_atomic_t stop_signal = 0;
extern "C" void note_stop_signal(int sig) { stop_signal = sig; }

class Stop_guard {
 public:
  Stop_guard() {
    for (int i = 0; i < 3; ++i) {
      struct sigaction action {};
      action.sa_handler = &note_stop_signal;
      sigemptyset(&action.sa_mask);
      sigaction(signals_[i], nullptr, &old_[i]);
      if (old_[i].sa_handler != SIG_IGN) sigaction(signals_[i], &action, nullptr);
    }
  }
  ~Stop_guard() {
    for (int i = 0; i < 3; ++i) sigaction(signals_[i], &old_[i], nullptr);
    if (stop_signal != 0) std::raise(stop_signal);
  }
  Stop_guard(const Stop_guard&) = delete;
  Stop_guard& operator=(const Stop_guard&) = delete;

 private:
  const int signals_[3] = {SIGINT, SIGTERM, SIGHUP};
  struct sigaction old_[3];
};

// A path as the path of a file: URL, each byte but letters, digits, "-._~/" percent-encoded (a
// temporary folder may hold '#' or '%').
std::string file_url(const std::string& path) {
  std::string url = "file://";
  for (const char c : path) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (std::isalnum(u) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
      url += c;
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", u);
      url += hex;
    }
  }
  return url;
}

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs Chromium headless on the page and returns the PNG it took. Chromium is $TARSEL_CHROMIUM,
// else "chromium" on the PATH; it gets a fresh profile and no network services.
std::string chromium_screenshot(const Temp_dir& dir, const std::string& url, int width,
                                int height) {
  const char* env = std::getenv("TARSEL_CHROMIUM");
  const std::string browser = env && *env ? env : "chromium";
  const std::string shot = dir.path + "/picture.png", log = dir.path + "/chromium.log";
  std::vector<std::string> args{
      browser,
      "--headless",
      "--no-sandbox",
      "--disable-gpu",
      "--disable-background-networking",
      "--disable-component-update",
      "--disable-sync",
      "--no-first-run",
      "--hide-scrollbars",
      "--user-data-dir=" + dir.path + "/profile",
      "--window-size=" + std::to_string(width) + "," + std::to_string(height),
      "--screenshot=" + shot,
      url};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) throw stage::Error("cannot start " + browser);
  if (pid == 0) {
    setpgid(0, 0);  // the browser and every process it starts, stopped together
    setenv("TMPDIR", dir.path.c_str(), 1);  // its own temporary files go with the folder
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0) dup2(fd, 1), dup2(fd, 2);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  setpgid(pid, pid);
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 || stop_signal != 0 || std::chrono::steady_clock::now() > deadline) {
      kill(-pid, SIGKILL);
      waitpid(pid, &status, 0);
      if (stop_signal != 0) throw stage::Error("stopped by a signal");
      throw stage::Error(browser + " took longer than 120 s to draw the picture");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  kill(-pid, SIGKILL);  // helpers the browser left running
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
    throw stage::Error("cannot run " + browser +
                       " (install chromium, or set TARSEL_CHROMIUM; SVG needs no browser)");
  const std::string png = read_all(shot);
  if (png.size() < 8 || png.compare(1, 3, "PNG") != 0) {
    std::string why = read_all(log);
    while (!why.empty() && why.back() == '\n') why.pop_back();
    why = why.substr(why.find_last_of('\n') + 1);
    throw stage::Error(browser + " made no picture" + (why.empty() ? "" : ": " + why));
  }
  return png;
}

}  // namespace

CLI::App* add_render_command(CLI::App& app, Render_options& options) {
  CLI::App* cmd = app.add_subcommand(
      "render",
      "Draw one frame as a still picture: SVG (written by the runner; any view) or PNG (the\n"
      "viewer page drawn by headless Chromium), chosen by the output's extension.");
  add_scene_option(cmd, options.scene);
  cmd->add_option("--frame", options.frame, "The frame to draw")->required()->type_name("N");
  cmd->add_option("-o,--output", options.output, "PIC.svg or PIC.png (written whole or not at all)")
      ->required()
      ->type_name("FILE");
  cmd->add_option("--view", options.view, "front (default), side, top or persp")->type_name("VIEW");
  cmd->add_option("--size", options.size, "Picture size in pixels (default 800x600)")
      ->type_name("WxH");
  add_module_option(cmd, options.module);
  return cmd;
}

int run_render(const Render_options& options) {
  View_kind view = View_kind::front;
  if (!parse_view(options.view, view))
    throw stage::Error("--view \"" + options.view + "\": expected front, side, top or persp");
  int width = 0, height = 0;
  parse_size(options.size, width, height);
  const bool png = ends_with(options.output, ".png");
  if (!png && !ends_with(options.output, ".svg"))
    throw stage::Error(options.output + ": the picture's name must end in .svg or .png");
  const std::string page_template = png ? viewer_template() : std::string();
  stage::Output_file output(options.output);
  stage::Host host;
  open_scene(host, options.module, options.scene);
  if (!png) {
    output.commit(svg_picture(host, options.scene, options.frame, view, width, height));
    return 0;
  }
  const Frame_range range{options.frame, options.frame};
  const std::string page =
      view_page(page_template, view_data_json(host, options.scene, range), options.scene);
  const Stop_guard guard;  // outlives the folder: the folder is removed before a signal stops us
  const Temp_dir dir;
  stage::write_file_whole(dir.path + "/page.html", page);
  const std::string url = file_url(dir.path + "/page.html") + "#still&view=" + options.view +
                          "&frame=" + std::to_string(options.frame) +
                          "&w=" + std::to_string(width) + "&h=" + std::to_string(height);
  output.commit(chromium_screenshot(dir, url, width, height));
  return 0;
}

}  // namespace runner
