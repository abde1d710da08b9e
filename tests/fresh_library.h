// Runs a scenario in a child process that loads the library with dlopen.
//
// The call counters are process state that lives from load to unload, so a
// scenario that starts "right after load" needs a process in which the library
// has never been loaded. The test binaries that include this header do not link
// the library; XYLOTRAK_LIBRARY_PATH names the built shared object.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>

#include "xylotrak.h"

#ifndef XYLOTRAK_LIBRARY_PATH
#error "XYLOTRAK_LIBRARY_PATH must name the shared library under test"
#endif

namespace xylotrak::testing {

// The library's exports, looked up by name in a freshly loaded copy.
class FreshLibrary {
 public:
  using GDll = double (*)(double);  // a formula export, looked up when present

  // Loads the library under test, or another build of it named by `path`.
  explicit FreshLibrary(const char *path = XYLOTRAK_LIBRARY_PATH) {
    // The library must not be in this process yet, or its counters are not fresh.
    void *already = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (already != nullptr) {
      dlclose(already);
      ADD_FAILURE() << "the library was already loaded in this process";
      return;
    }
    handle_ = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
      ADD_FAILURE() << "dlopen: " << dlerror();
      return;
    }
    ok_ = lookup(tally_start, "tally_start") && lookup(tally_stop, "tally_stop") &&
          lookup(tally_status, "tally_status") && lookup(tally_count, "tally_count") &&
          lookup(PHDiDll, "PHDiDll") && lookup(PHHiDll, "PHHiDll") && lookup(PHViDll, "PHViDll") &&
          lookup(PHFFDll, "PHFFDll") && lookup(PHCTDll, "PHCTDll");
    gDll = reinterpret_cast<GDll>(dlsym(handle_, "gDll"));
  }

  bool ok() const { return ok_; }

  // Any other export, by name; null when the library lacks it.
  template <class F>
  F symbol(const char *name) const {
    return reinterpret_cast<F>(dlsym(handle_, name));
  }

  // Unloads the library: its destructor writes the usage report.
  void close() {
    if (handle_ != nullptr) {
      EXPECT_EQ(dlclose(handle_), 0) << dlerror();
    }
    handle_ = nullptr;
  }

  decltype(&::tally_start) tally_start = nullptr;
  decltype(&::tally_stop) tally_stop = nullptr;
  decltype(&::tally_status) tally_status = nullptr;
  decltype(&::tally_count) tally_count = nullptr;
  decltype(&::PHDiDll) PHDiDll = nullptr;
  decltype(&::PHHiDll) PHHiDll = nullptr;
  decltype(&::PHViDll) PHViDll = nullptr;
  decltype(&::PHFFDll) PHFFDll = nullptr;
  decltype(&::PHCTDll) PHCTDll = nullptr;
  GDll gDll = nullptr;

 private:
  template <class F>
  bool lookup(F &fn, const char *name) {
    fn = reinterpret_cast<F>(dlsym(handle_, name));
    if (fn == nullptr) ADD_FAILURE() << "missing export " << name;
    return fn != nullptr;
  }

  void *handle_ = nullptr;
  bool ok_ = false;
};

// Forks; the child runs body and leaves with _exit: 0 when no expectation of
// the test has failed, 1 otherwise. Returns the child's exit code, or -1 when
// it did not exit normally (a crash). A body may end the child itself.
inline int runInChild(const std::function<void()> &body) {
  std::fflush(nullptr);  // nothing buffered may be written twice
  const pid_t pid = fork();
  if (pid < 0) {
    ADD_FAILURE() << "fork failed";
    return -1;
  }
  if (pid == 0) {
    body();
    std::fflush(stdout);
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs scenario in a child with a library loaded for the first time.
inline void inFreshProcess(const std::function<void(FreshLibrary &)> &scenario) {
  const int code = runInChild([&] {
    FreshLibrary lib;
    if (lib.ok()) scenario(lib);
  });
  EXPECT_EQ(code, 0) << "the child process failed (its messages are above)";
}

// Whether the library exports name; asked in a child so that this process
// never loads the library.
inline bool libraryExports(const char *name) {
  return runInChild([name] {
           void *h = dlopen(XYLOTRAK_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
           _exit(h != nullptr && dlsym(h, name) != nullptr ? 0 : 2);
         }) == 0;
}

}  // namespace xylotrak::testing
