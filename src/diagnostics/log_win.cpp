// Windows: the log is C:\Xylotrak\xtk.txt.
#include <cstdio>

#include "diagnostics/log.h"

namespace xylotrak::diagnostics {

namespace {
constexpr const char *kLogPath = "C:\\Xylotrak\\xtk.txt";
}

bool redirectStandardError() noexcept {
  // A failed freopen_s would close stderr, so make sure the file opens first.
  FILE *probe = nullptr;
  if (fopen_s(&probe, kLogPath, "a") != 0 || probe == nullptr) return false;
  std::fclose(probe);
  FILE *reopened = nullptr;
  return freopen_s(&reopened, kLogPath, "a", stderr) == 0 && reopened != nullptr;
}

std::FILE *openLog() noexcept {
  FILE *log = nullptr;
  if (fopen_s(&log, kLogPath, "a") != 0) return nullptr;
  return log;
}

}  // namespace xylotrak::diagnostics
