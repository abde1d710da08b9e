// A harvested-production file (.hpr) as read: its species groups, products,
// stems and logs, what it holds that is not supported, and its audit.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "harvest/matrix.h"
#include "xylotrak.h"

namespace xylotrak::harvest {

struct HprSpecies {
  xylotrak_hpr_species record{};
  std::string name;
};

struct HprProduct {
  xylotrak_hpr_product record{};
  std::string name;
  std::string unsupported;  // why, when record.supported is 0
  std::vector<double> diameterLimits, lengthLimits, prices;
  std::vector<std::int8_t> cells;
  std::vector<std::int32_t> grades;
};

struct HprStem {
  xylotrak_hpr_stem record{};
  std::vector<double> positions, diameters, barkPositions, bark, gradeStarts;
  std::vector<std::int32_t> grades;
};

struct HprNote {
  xylotrak_hpr_note record{};
  std::string message;
};

struct AuditStem {
  xylotrak_audit_stem record{};
  std::string reason;
};

// A value the file holds that cannot be read: the reading stops.
struct MalformedFile : std::runtime_error {
  using std::runtime_error::runtime_error;
};

}  // namespace xylotrak::harvest

struct xylotrak_hpr {
  std::vector<xylotrak::harvest::HprSpecies> species;
  std::vector<xylotrak::harvest::HprProduct> products;
  std::vector<xylotrak::harvest::HprStem> stems;
  std::vector<xylotrak_hpr_log> logs;
  std::vector<xylotrak::harvest::HprNote> notes;
  std::map<std::string, std::size_t> noteIndex;
  std::vector<xylotrak::harvest::AuditStem> auditStems;
  std::vector<xylotrak_audit_log> auditLogs;

  // Adds one occurrence of a note.
  void note(const std::string &message, int line);
  // Points the records' arrays at the vectors (after they stop moving).
  void link();
};

namespace xylotrak::harvest {

// Parses a file from memory; throws MalformedFile or std::bad_alloc.
void parseHpr(const char *data, std::size_t size, xylotrak_hpr &file);

// Audits every stem; may throw std::bad_alloc.
void auditHpr(xylotrak_hpr &file, int resolutionCm, xylotrak_audit_totals &totals);

}  // namespace xylotrak::harvest
