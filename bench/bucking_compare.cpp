// Times bucking cases on several builds of the library in one process, so
// that their ratios are measured under the same conditions, and checks that
// every build gives the same answer and counts the same calls.
//
// Usage: xylotrak_bucking_compare [--repeat N] [--case NAME]... LABEL=LIBRARY...
// Each LIBRARY (a libxylotrak.so of any version with these exports) is loaded
// with dlopen and keeps its own symbols; the first is the one the others are
// compared with. NAME is a case of bucking_cases.h, or NAME-exact for one of
// the 30 m stem's optimised cases run by the exact optimiser; without --case
// the exact shapes and sequential, near-limit, give-up and give-up-exact run.
// The calls of one repetition go to the builds in turn, and the median of
// each build's repetitions is printed (CPU time of the calling thread, so
// that time spent waiting for a core is left out), with the calls of the
// taper exports the call counts and what this build's evaluator worked out
// rather than remembered (from the static copy of the library linked in).
#include <dlfcn.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bucking_cases.h"
#include "taper/evaluation.h"

namespace {

using Searching = decltype(&PHVxDll);
using Sequential = decltype(&PHVsDll);

struct Library {
  std::string label;
  Sequential sequential = nullptr;
  Searching optimised = nullptr;
  Searching exact = nullptr;
  decltype(&tally_start) start = nullptr;
  decltype(&tally_count) count = nullptr;
};

template <class F>
bool find(void *handle, const char *name, F &out) {
  out = reinterpret_cast<F>(dlsym(handle, name));
  return out != nullptr;
}

bool load(const std::string &labelledPath, Library &lib) {
  const std::size_t eq = labelledPath.find('=');
  if (eq == std::string::npos) return false;
  lib.label = labelledPath.substr(0, eq);
  void *handle = dlopen(labelledPath.c_str() + eq + 1, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    std::fprintf(stderr, "%s\n", dlerror());
    return false;
  }
  return find(handle, "PHVsDll", lib.sequential) && find(handle, "PHVoDll", lib.optimised) &&
         find(handle, "PHVxDll", lib.exact) && find(handle, "tally_start", lib.start) &&
         find(handle, "tally_count", lib.count);
}

// One call's answer: the result, the totals, the log table, the product
// records and the counts of slots 0 to 8.
struct Answer {
  double result = 0;
  std::array<double, 8> totals{};
  std::array<LogEntry, 100> logs{};
  std::vector<ProductSpec> products;
  std::array<int, 9> counts{};

  bool operator==(const Answer &o) const {
    return std::memcmp(&result, &o.result, sizeof result) == 0 &&
           std::memcmp(totals.data(), o.totals.data(), sizeof totals) == 0 &&
           std::memcmp(logs.data(), o.logs.data(), sizeof logs) == 0 &&
           products.size() == o.products.size() &&
           std::memcmp(products.data(), o.products.data(), products.size() * sizeof(ProductSpec)) ==
               0 &&
           counts == o.counts;
  }
};

double call(const Library &lib, const bucking_bench::Case &c, Answer &a) {
  const bucking_bench::Tree &t = c.tree;
  double *const o = a.totals.data();
  if (c.objective < 0) {
    return a.result =
               lib.sequential(t.dbh, t.height, t.coefs, t.exps, t.terms, 0, 999, 0, 0, 0.3, 0.1,
                              999, a.products.data(), static_cast<int>(a.products.size()), o, o + 1,
                              o + 2, o + 3, o + 4, o + 5, o + 6, o + 7, a.logs.data());
  }
  return a.result = (c.exact ? lib.exact : lib.optimised)(
             t.dbh, t.height, t.coefs, t.exps, t.terms, 0, 999, 0, 0, 0.3, 0.1, 999,
             a.products.data(), static_cast<int>(a.products.size()), c.objective, o, o + 1, o + 2,
             o + 3, o + 4, o + 5, o + 6, o + 7, a.logs.data());
}

Answer counted(const Library &lib, const bucking_bench::Case &c) {
  Answer a;
  a.products = c.products;
  lib.start();
  call(lib, c, a);
  for (int s = 0; s < 9; ++s) a.counts[static_cast<std::size_t>(s)] = lib.count(s);
  return a;
}

// The CPU time of the calling thread: on a machine shared with other work,
// time the thread spent waiting for a core is left out.
double threadMilliseconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) * 1e-6;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char **argv) {
  int repeat = 5;
  std::vector<std::string> cases;
  std::vector<Library> libs;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--repeat" && i + 1 < argc) {
      repeat = std::atoi(argv[++i]);
    } else if (arg == "--case" && i + 1 < argc) {
      cases.emplace_back(argv[++i]);
    } else {
      Library lib;
      if (!load(arg, lib)) {
        std::fprintf(stderr, "cannot load %s (expected LABEL=LIBRARY)\n", arg.c_str());
        return 2;
      }
      libs.push_back(lib);
    }
  }
  if (libs.empty() || repeat < 1) {
    std::fprintf(stderr, "usage: %s [--repeat N] [--case NAME]... LABEL=LIBRARY...\n", argv[0]);
    return 2;
  }
  if (cases.empty()) {
    cases.assign(std::begin(bucking_bench::kExactShapes), std::end(bucking_bench::kExactShapes));
    for (const char *name : {"sequential", "near-limit", "give-up", "give-up-exact"})
      cases.emplace_back(name);
  }

  int status = 0;
  // The static copy of this build, linked in, reports what its evaluator
  // worked out: diameters and integrals evaluated (each distinct height
  // once while the cache holds them all) and the cache's peak memory.
  const Library self{"this", &PHVsDll, &PHVoDll, &PHVxDll, &tally_start, &tally_count};
  std::printf("%-14s %9s %9s %7s %7s %7s", "case", "diameters", "volumes", "D evals", "V evals",
              "peak kB");
  for (const Library &lib : libs) std::printf(" %12s", (lib.label + " ms").c_str());
  for (std::size_t l = 1; l < libs.size(); ++l)
    std::printf(" %10s", (libs[l].label + "/" + libs[0].label).c_str());
  std::printf("\n");
  for (const std::string &name : cases) {
    bucking_bench::Case c;
    const bool exactCase = name.size() > 6 && name.compare(name.size() - 6, 6, "-exact") == 0;
    if (!bucking_bench::caseByName(exactCase ? name.substr(0, name.size() - 6) : name, c)) {
      std::fprintf(stderr, "unknown case %s\n", name.c_str());
      return 2;
    }
    c.exact = c.exact || exactCase;
    const Answer first = counted(libs[0], c);
    for (std::size_t l = 1; l < libs.size(); ++l) {
      if (!(counted(libs[l], c) == first)) {
        std::fprintf(stderr, "%s: %s answers or counts differently from %s\n", name.c_str(),
                     libs[l].label.c_str(), libs[0].label.c_str());
        status = 1;
      }
    }
    if (!(counted(self, c) == first)) {
      std::fprintf(stderr, "%s: this build answers or counts differently from %s\n", name.c_str(),
                   libs[0].label.c_str());
      status = 1;
    }
    const xylotrak::taper::EvaluationWork work = xylotrak::taper::lastEvaluationWorkForTesting();
    std::vector<std::vector<double>> times(libs.size());
    std::vector<Answer> scratch(libs.size(), first);
    for (int r = 0; r < repeat; ++r) {
      for (std::size_t l = 0; l < libs.size(); ++l) {
        const double t0 = threadMilliseconds();
        call(libs[l], c, scratch[l]);
        times[l].push_back(threadMilliseconds() - t0);
      }
    }
    std::printf("%-14s %9d %9d %7llu %7llu %7zu", name.c_str(), first.counts[3], first.counts[2],
                static_cast<unsigned long long>(work.diameters),
                static_cast<unsigned long long>(work.integrals), work.peakBytes / 1024);
    std::vector<double> medians;
    for (const auto &t : times) medians.push_back(median(t));
    for (double m : medians) std::printf(" %12.3f", m);
    for (std::size_t l = 1; l < libs.size(); ++l) std::printf(" %10.2f", medians[l] / medians[0]);
    std::printf("\n");
    std::fflush(stdout);
  }
  return status;
}
