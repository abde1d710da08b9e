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

class EvaluationCache;

// One stem, evaluated on behalf of one export call. With the cache on, it
// remembers the diameter at each height, the result and rounds of each
// height search and the integral to each height, keyed by the bit pattern of
// the argument, and answers a repeated question from memory: the same
// double, and the same tally as if it had been worked out again. The cache
// is bounded (a few hundred kB); when it is full, or its memory cannot be
// had, the evaluator works the value out instead. Either way every answer
// and every tally is what direct evaluation gives.
class Evaluator {
 public:
  Evaluator(const Model &model, bool cached) noexcept;
  ~Evaluator();
  Evaluator(const Evaluator &) = delete;
  Evaluator &operator=(const Evaluator &) = delete;

  const Model &model() const noexcept { return model_; }
  const CallTally &tally() const noexcept { return tally_; }

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
  bool prepared_ = false;
  ClosedForm closedForm_;
  EvaluationCache *cache_ = nullptr;
};

// Test hook: the most entries each of the cache's tables may hold; 0 turns
// the cache off, a negative value restores the normal bounds.
void setCacheEntriesForTesting(long entries) noexcept;

}  // namespace xylotrak::taper
