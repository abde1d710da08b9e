// Harness for the HTTPS request tests: the local server (https_server.py on
// port 443 of 127.0.0.1, .3 and .4) and requests made in forked children,
// since each call redirects the process's standard error onto its log.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "xylotrak.h"

namespace https {

namespace fs = std::filesystem;

inline std::string readFile(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline std::string readAll(int fd) {
  std::string out;
  char buf[4096];
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
  return out;
}

// The server runs once per test process. Test processes take turns on port
// 443 through a lock file, so ctest may run them in parallel.
class Server {
 public:
  static Server &get() {
    static Server server;
    return server;
  }
  bool ready() const { return ready_; }
  const std::string &reason() const { return reason_; }
  const fs::path &dir() const { return dir_; }

  void plan(const std::string &json) const { std::ofstream(dir_ / "plan.json") << json; }

  // The raw requests received since the last call, in arrival order.
  std::vector<std::string> takeRequests() const {
    std::vector<std::string> out;
    for (;; ++next_) {
      const fs::path path = dir_ / "requests" / (std::to_string(next_) + ".bin");
      if (!fs::exists(path)) break;
      out.push_back(readFile(path));
    }
    return out;
  }

 private:
  Server() {
    lock_ = open("/tmp/xylotrak-https-443.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (lock_ < 0 || flock(lock_, LOCK_EX) != 0) {
      reason_ = "cannot take the port-443 lock file";
      return;
    }
    char dirTemplate[] = "/tmp/xylotrak-https-XXXXXX";
    dir_ = mkdtemp(dirTemplate);
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) std::abort();
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      execl(XTK_PYTHON, XTK_PYTHON, XTK_HTTPS_SERVER, dir_.c_str(), nullptr);
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    toServer_ = in[1];
    std::string line;
    for (char c; read(out[0], &c, 1) == 1 && c != '\n';) line += c;
    close(out[0]);
    ready_ = line == "ready";
    if (!ready_) {
      reason_ = "HTTPS test server not started (" + line +
                "); port 443 of 127.0.0.1 must be free and bindable (run as root)";
    }
  }
  ~Server() {
    if (toServer_ >= 0) close(toServer_);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
    if (!dir_.empty()) fs::remove_all(dir_);
    if (lock_ >= 0) close(lock_);
  }

  bool ready_ = false;
  std::string reason_;
  fs::path dir_;
  pid_t pid_ = -1;
  int toServer_ = -1;
  int lock_ = -1;
  mutable int next_ = 1;  // the server numbers requests from 1
};

struct Outcome {
  int exitCode = -1;       // -1 when the child did not exit normally
  std::string log;         // the log file after the call
  std::string stderrText;  // what the child wrote to its original stderr
};

// Runs `body` in a forked child with XYLOTRAK_LOG set to `log` (a fresh file
// in the server's folder by default), the test CA as SSL_CERT_FILE and no
// proxy. The child exits with body's result.
inline Outcome inChild(const std::function<int()> &body, fs::path log = {}) {
  const Server &server = Server::get();
  if (log.empty()) log = server.dir() / "xtk.txt";
  fs::remove(log);
  int err[2];
  if (pipe(err) != 0) std::abort();
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(err[1], 2);
    close(err[0]);
    close(err[1]);
    setenv("XYLOTRAK_LOG", log.c_str(), 1);
    setenv("SSL_CERT_FILE", (server.dir() / "ca.crt").c_str(), 1);
    for (const char *proxy :
         {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
      unsetenv(proxy);
    }
    _exit(body());
  }
  close(err[1]);
  Outcome outcome;
  outcome.stderrText = readAll(err[0]);
  close(err[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
  outcome.log = readFile(log);
  return outcome;
}

// One wsGetUrlDll call in a child; exit code 0 when it returned `url` itself.
inline Outcome call(const std::u16string &url, const std::u16string &method,
                    const std::u16string &post, fs::path log = {}) {
  return inChild(
      [&] { return wsGetUrlDll(url.c_str(), method.c_str(), post.c_str()) == url.c_str() ? 0 : 1; },
      log);
}

// The trace up to the send line; texts are given in UTF-8.
inline std::string traceHead(const std::string &url, const std::string &method,
                             const std::string &post, std::size_t postLength) {
  return "URL:" + url + " \nMethod:" + method + " \nPost:" + post +
         " \nPostLen:" + std::to_string(postLength) +
         " \nWinHttpOpen\nWinHttpConnect\nWinHttpOpenRequest\nWinHttpSendRequest-" +
         (method == "GET" ? "GET" : "POST") + "\n";
}

// A request as the server received it.
struct Wire {
  std::string requestLine;
  std::vector<std::string> headers;  // "Name: value", in the order sent
  std::string body;
};

inline Wire parse(const std::string &raw) {
  Wire wire;
  const std::size_t end = raw.find("\r\n\r\n");
  std::istringstream head(raw.substr(0, end));
  std::getline(head, wire.requestLine);
  if (!wire.requestLine.empty() && wire.requestLine.back() == '\r') wire.requestLine.pop_back();
  for (std::string line; std::getline(head, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    wire.headers.push_back(line);
  }
  if (end != std::string::npos) wire.body = raw.substr(end + 4);
  return wire;
}

inline std::string hex(const std::string &bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// A reply of these chunks, each written on its own after a short pause.
inline std::string chunksPlan(const std::vector<std::string> &chunks,
                              const std::string &extra = "") {
  std::string json = "{\"chunks\": [";
  for (std::size_t i = 0; i < chunks.size(); ++i)
    json += (i ? ", \"" : "\"") + hex(chunks[i]) + "\"";
  return json + "]" + extra + "}";
}

class HttpsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Server::get().ready()) GTEST_SKIP() << Server::get().reason();
    server().plan("{}");
    server().takeRequests();
  }
  static const Server &server() { return Server::get(); }

  // The one request the server received since the last look, parsed. Any
  // other number of requests is a test failure and gives nothing.
  static std::optional<Wire> onlyRequest() {
    const std::vector<std::string> requests = server().takeRequests();
    EXPECT_EQ(requests.size(), 1u) << "requests received";
    if (requests.size() != 1) return std::nullopt;
    return parse(requests[0]);
  }
};

}  // namespace https
