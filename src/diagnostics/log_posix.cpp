// POSIX: the log is $XYLOTRAK_LOG when set and not empty, otherwise the path
// chosen at build time.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "diagnostics/log.h"

#ifndef XYLOTRAK_LOG_PATH
#define XYLOTRAK_LOG_PATH "/var/log/xylotrak/xtk.txt"
#endif

namespace xylotrak::diagnostics {

namespace {
const char *logPath() noexcept {
  const char *env = std::getenv("XYLOTRAK_LOG");
  return (env != nullptr && env[0] != '\0') ? env : XYLOTRAK_LOG_PATH;
}
}  // namespace

bool redirectStandardError() noexcept {
  const char *path = logPath();
  // A failed freopen would close stderr, so make sure the file opens first.
  const int probe = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (probe < 0) return false;
  ::close(probe);
  return std::freopen(path, "a", stderr) != nullptr;
}

std::FILE *openLog() noexcept { return std::fopen(logPath(), "a"); }

}  // namespace xylotrak::diagnostics
