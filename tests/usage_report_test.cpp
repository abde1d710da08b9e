// The usage report that the library appends to the diagnostics log when it
// leaves a process: at dlclose and at a plain process exit.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>

#include "fresh_library.h"

namespace {

namespace fs = std::filesystem;
using xylotrak::testing::FreshLibrary;
using xylotrak::testing::runInChild;

const double kCoefs[2] = {1, -1};  // the cone 1 - h/20
const double kExps[2] = {0, 1};

// The report with every counter at zero: "%.i" prints a zero as nothing.
const std::string kEmptyReport =
    "Process detach\n"
    " =  acessos \n"
    "1 =  acessos \n"
    "2 =  acessos \n"
    "3 =  acessos \n"
    "4 =  acessos \n"
    "5 =  acessos \n"
    "6 =  acessos \n";

class UsageReport : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "xylotrak-report-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    log_ = (dir_ / "xtk.txt").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string readLog() const {
    std::ifstream in(log_, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
  }

  // Runs calls in a child that logs to path and unloads with dlclose; the
  // library under test unless another build of it is named.
  void runAndUnload(const std::string &path, void (*calls)(FreshLibrary &),
                    const char *library = XYLOTRAK_LIBRARY_PATH) {
    EXPECT_EQ(runInChild([&] {
                setenv("XYLOTRAK_LOG", path.c_str(), 1);
                FreshLibrary lib(library);
                if (!lib.ok()) return;
                calls(lib);
                lib.close();
              }),
              0);
  }

  fs::path dir_;
  std::string log_;
};

TEST_F(UsageReport, ListsSlotsZeroToSixAtDlclose) {
  runAndUnload(log_, [](FreshLibrary &lib) {
    lib.PHViDll(30, 20, kCoefs, kExps, 1, 0, 0, 0, 0, 0);                  // slot 2
    lib.PHHiDll(30, 20, kCoefs, kExps, 1, 7);                              // slot 4, 100 in slot 3
    for (int i = 0; i < 4; ++i) lib.PHDiDll(30, 20, kCoefs, kExps, 1, i);  // slot 3
    lib.PHFFDll(kCoefs, kExps, 1);                                         // slot 5
    for (int i = 0; i < 12; ++i) lib.PHCTDll(30, 20, kCoefs, kExps, 1, 0, 0, 0, 0, 2.5);
  });
  EXPECT_EQ(readLog(),
            "Process detach\n"
            " =  acessos \n"
            "1 =  acessos \n"
            "2 = 1 acessos \n"
            "3 = 104 acessos \n"
            "4 = 1 acessos \n"
            "5 = 1 acessos \n"
            "6 = 12 acessos \n");
}

TEST_F(UsageReport, ZeroCountersPrintAsNothing) {
  runAndUnload(log_, [](FreshLibrary &) {});
  EXPECT_EQ(readLog(), kEmptyReport);
}

TEST_F(UsageReport, StoppedCountersAreReportedWithTheirValues) {
  runAndUnload(log_, [](FreshLibrary &lib) {
    lib.PHDiDll(30, 20, kCoefs, kExps, 1, 1);
    lib.tally_stop();
    lib.PHDiDll(30, 20, kCoefs, kExps, 1, 1);
  });
  std::string expected = kEmptyReport;
  expected.replace(expected.find("3 =  "), 5, "3 = 1 ");
  EXPECT_EQ(readLog(), expected);
}

TEST_F(UsageReport, AppendsAndEveryLoadReportsItsOwnCounts) {
  { std::ofstream(log_, std::ios::binary) << "earlier line\n"; }
  EXPECT_EQ(runInChild([&] {
              setenv("XYLOTRAK_LOG", log_.c_str(), 1);
              {
                FreshLibrary first;
                if (!first.ok()) return;
                first.PHFFDll(kCoefs, kExps, 1);
                first.PHFFDll(kCoefs, kExps, 1);
                first.close();
              }
              FreshLibrary second;  // loaded again: counters start from zero
              if (!second.ok()) return;
              EXPECT_EQ(second.tally_count(5), 0);
              second.PHFFDll(kCoefs, kExps, 1);
              second.close();
            }),
            0);
  std::string first = kEmptyReport, second = kEmptyReport;
  first.replace(first.find("5 =  "), 5, "5 = 2 ");
  second.replace(second.find("5 =  "), 5, "5 = 1 ");
  EXPECT_EQ(readLog(), "earlier line\n" + first + second);
}

TEST_F(UsageReport, WrittenAtProcessExitWithoutDlclose) {
  EXPECT_EQ(runInChild([&] {
              setenv("XYLOTRAK_LOG", log_.c_str(), 1);
              FreshLibrary lib;
              if (!lib.ok()) return;
              for (int i = 0; i < 3; ++i) lib.PHDiDll(30, 20, kCoefs, kExps, 1, i);
              std::exit(0);  // library destructors run at exit
            }),
            0);
  std::string expected = kEmptyReport;
  expected.replace(expected.find("3 =  "), 5, "3 = 3 ");
  EXPECT_EQ(readLog(), expected);
}

// What a child writes to its standard error, received through a pipe.
std::string standardErrorOf(const std::function<void()> &body, int *code) {
  int fds[2];
  if (pipe(fds) != 0) {
    ADD_FAILURE() << "pipe";
    return "";
  }
  *code = runInChild([&] {
    ::close(fds[0]);
    dup2(fds[1], STDERR_FILENO);
    ::close(fds[1]);
    body();
  });
  ::close(fds[1]);
  std::string received;
  char buf[256];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) received.append(buf, n);
  ::close(fds[0]);
  return received;
}

TEST_F(UsageReport, UnloadingLeavesTheHostsStandardErrorWorking) {
  int code = -1;
  const std::string received = standardErrorOf(
      [&] {
        setenv("XYLOTRAK_LOG", log_.c_str(), 1);
        std::fputs("before\n", stderr);
        FreshLibrary lib;
        if (!lib.ok()) return;
        lib.PHDiDll(30, 20, kCoefs, kExps, 1, 1);
        lib.close();
        std::fputs("after unload\n", stderr);
        std::fflush(stderr);
      },
      &code);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(received, "before\nafter unload\n");
  std::string expected = kEmptyReport;
  expected.replace(expected.find("3 =  "), 5, "3 = 1 ");
  EXPECT_EQ(readLog(), expected);
}

TEST_F(UsageReport, StandardErrorLeftOnTheLogByARequestStaysThere) {
  // A request (here one with a null argument, which only logs) leaves
  // standard error writing to the log; unloading changes nothing about that.
  int code = -1;
  const std::string received = standardErrorOf(
      [&] {
        setenv("XYLOTRAK_LOG", log_.c_str(), 1);
        FreshLibrary lib;
        if (!lib.ok()) return;
        using GetUrl = const xylotrak_char16 *(*)(const xylotrak_char16 *, const xylotrak_char16 *,
                                                  const xylotrak_char16 *);
        const auto getUrl = lib.symbol<GetUrl>("wsGetUrlDll");
        if (getUrl == nullptr) return;
        getUrl(u"example.invalid", u"GET", nullptr);
        lib.close();
        std::fputs("after unload\n", stderr);
        std::fflush(stderr);
      },
      &code);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(received, "");
  EXPECT_EQ(readLog(), "Null argument: post\n" + kEmptyReport + "after unload\n");
}

// An empty XYLOTRAK_LOG is no path: the report goes to the one chosen when
// the library was built. The configured path is shared by every program on
// the machine that uses the library, so this runs on a build of the library
// whose path lies in the build folder instead (see tests/CMakeLists.txt).
TEST_F(UsageReport, EmptyVariableFallsBackToTheBuildTimePath) {
  const fs::path path = XYLOTRAK_TEST_DEFAULT_LOG;
  fs::remove_all(path.parent_path());
  ASSERT_TRUE(fs::create_directories(path.parent_path()));
  runAndUnload(
      "", [](FreshLibrary &lib) { lib.PHDiDll(30, 20, kCoefs, kExps, 1, 1); },
      XYLOTRAK_TEST_DEFAULT_LOG_LIBRARY);
  std::string written;
  {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    written = bytes.str();
  }
  fs::remove_all(path.parent_path());
  std::string expected = kEmptyReport;
  expected.replace(expected.find("3 =  "), 5, "3 = 1 ");
  EXPECT_EQ(written, expected);
  EXPECT_FALSE(fs::exists(dir_ / "xtk.txt"));
}

// The library itself, the one that is installed, falls back to the path
// configured for it (XYLOTRAK_LOG_PATH); the build above differs only there.
TEST(UsageReportBuild, TheLibraryHoldsTheConfiguredBuildTimePath) {
  const auto holds = [](const char *library, const std::string &text) {
    // One read of the whole file: a character at a time takes most of a minute on the
    // sanitizers' build of the library.
    std::string bytes(static_cast<std::size_t>(fs::file_size(library)), '\0');
    std::ifstream in(library, std::ios::binary);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    EXPECT_EQ(in.gcount(), static_cast<std::streamsize>(bytes.size())) << library;
    return bytes.find(text + '\0') != std::string::npos;
  };
  EXPECT_TRUE(holds(XYLOTRAK_LIBRARY_PATH, XYLOTRAK_INSTALLED_LOG_PATH));
  EXPECT_TRUE(holds(XYLOTRAK_TEST_DEFAULT_LOG_LIBRARY, XYLOTRAK_TEST_DEFAULT_LOG));
  EXPECT_FALSE(holds(XYLOTRAK_TEST_DEFAULT_LOG_LIBRARY, XYLOTRAK_INSTALLED_LOG_PATH));
}

TEST_F(UsageReport, MissingFolderSkipsTheReportAndKeepsStandardErrorOpen) {
  const fs::path missing = dir_ / "missing";
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const int code = runInChild([&] {
    ::close(fds[0]);
    dup2(fds[1], STDERR_FILENO);  // the parent reads what the child's stderr receives
    ::close(fds[1]);
    setenv("XYLOTRAK_LOG", (missing / "xtk.txt").c_str(), 1);
    FreshLibrary lib;
    if (!lib.ok()) return;
    lib.PHDiDll(30, 20, kCoefs, kExps, 1, 1);
    lib.close();
    std::fputs("stderr still open\n", stderr);
    std::fflush(stderr);
  });
  ::close(fds[1]);
  std::string received;
  char buf[256];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) received.append(buf, n);
  ::close(fds[0]);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(received, "stderr still open\n");
  EXPECT_FALSE(fs::exists(missing)) << "the log folder is never created";
}

}  // namespace
