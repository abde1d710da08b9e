// Evaluating one stem many times within one call, as the bucking exports do:
// diameters, height searches and section volumes, each tallied as the call
// of the export it stands for, and optionally remembered so that the same
// question is never worked out twice.
#pragma once

#include <cstddef>
#include <cstdint>

#include "taper/profile.h"

namespace xylotrak::taper {

// How many calls of the volume, diameter and height exports a piece of work
// stands for: a height search is one height call plus one diameter call per
// round, a section volume one volume call plus its searches.
struct CallTally {
  std::uint64_t volume = 0;
  std::uint64_t diameter = 0;
  std::uint64_t height = 0;
};

// What an evaluator worked out rather than answered from memory, and the
// most memory its tables held at once.
struct EvaluationWork {
  std::uint64_t diameters = 0;  // diameters evaluated, height searches' rounds not included
  std::uint64_t searches = 0;   // height searches run
  std::uint64_t integrals = 0;  // volume integrals from the ground evaluated
  std::size_t peakBytes = 0;    // the cache's memory at its largest
};

class EvaluationCache;

// Whether an evaluator remembers what it has worked out. The bucking exports
// ask for the same heights many times and remember; a single section or
// diameter does not.
enum class Memory { kNone, kCached };

// One stem, evaluated on behalf of one export call. With the cache on, it
// remembers, keyed by the bit pattern of the argument, the diameter at each
// height and the integral from the ground to it (in one table: the top of a
// log is asked for both) and the result and rounds of each height search,
// and answers a repeated question from memory: the same double, and the
// same tally as if it had been worked out again. The tables grow with the
// call, together up to kCacheBytes; a table that can grow no further takes a
// new value in place of the one asked for least often among its neighbours.
// When its memory cannot be had, the evaluator works every value out
// instead. Either way every answer and every tally is what direct
// evaluation gives.
class Evaluator {
 public:
  // The most memory the cache of one evaluator holds at any moment, its
  // tables and bookkeeping together, also while a table is being enlarged.
  static constexpr std::size_t kCacheBytes = std::size_t{16} << 20;

  Evaluator(const Model &model, Memory memory) noexcept;
  ~Evaluator();
  Evaluator(const Evaluator &) = delete;
  Evaluator &operator=(const Evaluator &) = delete;

  const Model &model() const noexcept { return model_; }
  const CallTally &tally() const noexcept { return tally_; }
  const EvaluationWork &work() const noexcept { return work_; }

  double diameter(double height) noexcept;
  double heightAt(double diam) noexcept;
  // The heights the five limits resolve into, the diameter limits searched
  // (lower end first) and tallied as PHHiDll calls.
  Section section(const Limits &limits) noexcept;
  // Section volume with the five limits in the export's order.
  double volume(const Limits &limits) noexcept;
  double volume(double lowerHeight, double upperHeight, double lowerDiam, double upperDiam,
                double logLength) noexcept {
    return volume(Limits{lowerHeight, upperHeight, lowerDiam, upperDiam, logLength});
  }
  // Volume between two heights.
  double between(double lower, double upper) noexcept {
    return volume(Limits{lower, upper, 0, 0, 0});
  }

 private:
  double fromGround(double height) noexcept;
  double integrate(double height) const noexcept;

  Model model_;
  CallTally tally_;
  EvaluationWork work_;
  bool keepsWork_;  // for lastEvaluationWorkForTesting(): the bucking exports' evaluators
  bool prepared_ = false;
  ClosedForm closedForm_;
  EvaluationCache *cache_ = nullptr;
};

// Test hooks, for every evaluator made from then on. The most entries each
// of the cache's tables may hold: a table never has more slots than that (the
// largest power of two not above it), and once full it replaces entries as
// it does at its memory bound; 0 turns the cache off, a negative value
// restores the normal bound (none but the memory).
void setCacheEntriesForTesting(long entries) noexcept;
// The most bytes the cache may hold (a negative value restores
// Evaluator::kCacheBytes).
void setCacheBytesForTesting(long bytes) noexcept;
// The work of the evaluator made with Memory::kCached (as the bucking
// exports make theirs, whether the cache is then on or not) destroyed last on the
// calling thread.
EvaluationWork lastEvaluationWorkForTesting() noexcept;

}  // namespace xylotrak::taper
