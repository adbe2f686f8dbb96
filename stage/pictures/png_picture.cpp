#include "stage/pictures/png_picture.h"

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
#include "stage/output_file.h"

namespace pictures {

namespace {

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

// Whether the page, as Chromium dumped it, says it drew its first frame: the viewer's script sets
// the mark on <body> then. Only the tag itself is looked at, so that no text the page carries
// (names in its data) can stand in for the mark.
bool page_drew(const std::string& dom) {
  const std::size_t body = dom.find("<body");
  if (body == std::string::npos) return false;
  const std::size_t end = dom.find('>', body);
  return end != std::string::npos &&
         dom.substr(body, end - body).find(" data-tarsel-drawn=\"yes\"") != std::string::npos;
}

// Runs Chromium headless on the page and returns the PNG it took. Chromium is $TARSEL_CHROMIUM,
// else "chromium" on the PATH; it gets a fresh profile and no network services.
std::string chromium_screenshot(const Temp_dir& dir, const std::string& url, int width,
                                int height) {
  const char* env = std::getenv("TARSEL_CHROMIUM");
  const std::string browser = env && *env ? env : "chromium";
  const std::string shot = dir.path + "/picture.png", log = dir.path + "/chromium.log";
  const std::string dom = dir.path + "/page-dom.html";
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
      "--dump-dom",  // the page as drawn, to stdout: it tells whether the page's script ran
      url};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) throw stage::Error("cannot start " + browser);
  if (pid == 0) {
    setpgid(0, 0);  // the browser and every process it starts, stopped together
    setenv("TMPDIR", dir.path.c_str(), 1);  // its own temporary files go with the folder
    const int out = open(dom.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out >= 0) dup2(out, 1);
    if (err >= 0) dup2(err, 2);
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
  if (!page_drew(read_all(dom)))
    throw stage::Error("the viewer page never drew in " + browser +
                       " (its script stopped before the first frame); no picture is written");
  return png;
}

}  // namespace

std::string png_picture(const std::string& page, const std::string& fragment, int width,
                        int height) {
  const Stop_guard guard;  // outlives the folder: the folder is removed before a signal stops us
  const Temp_dir dir;
  stage::write_file_whole(dir.path + "/page.html", page);
  return chromium_screenshot(dir, file_url(dir.path + "/page.html") + "#" + fragment, width,
                             height);
}

}  // namespace pictures
