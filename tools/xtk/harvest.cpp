// xtk harvest: the audit of a harvester production file (.hpr). Every stem
// with the value of the logs cut and of the best bucking of the measured
// stem; the library reads the file and does the audit, xtk prints it.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "commands.h"
#include "input.h"
#include "xylotrak.h"

namespace xtk {

using json = nlohmann::ordered_json;

namespace {

std::string utf8(const xylotrak_char16 *s, int32_t n) {
  std::string out;
  for (int32_t i = 0; i < n; ++i) {
    unsigned cp = static_cast<std::uint16_t>(s[i]);
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < n) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<std::uint16_t>(s[++i]) - 0xDC00);
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

template <class Record>
std::string row(const xylotrak_hpr *f, int table, int64_t i, Record *record) {
  const int32_t n = HPRrDll(f, table, i, record, nullptr, 0);
  std::vector<xylotrak_char16> text(static_cast<size_t>(n) + 1);
  HPRrDll(f, table, i, record, text.data(), n + 1);
  return utf8(text.data(), n);
}

json number(double v) { return std::isfinite(v) ? json(v) : json(nullptr); }

struct StemAudit {
  xylotrak_hpr_stem stem{};
  xylotrak_audit_stem audit{};
  std::string reason;
  std::vector<xylotrak_audit_log> actual, optimal;
};

json logJson(const xylotrak_audit_log &l, bool file) {
  return json{
      {"product_key", l.productKey},
      {"start_cm", l.log.startCm},
      {"length_cm", l.log.lengthCm},
      {"diameter_class_mm", l.log.diameterClass >= 0 ? json(l.log.diameterClassMm) : json(nullptr)},
      {"volume", number(file ? l.fileVolume : l.log.volume)},
      {"value", number(l.fileValue)},
      {"volume_model", number(l.log.volume)},
      {"value_model", number(l.log.value)}};
}

// Product colours by product key, cycling.
const char *colour(int64_t key) {
  static const char *const kColours[] = {"#4e79a7", "#f28e2b", "#59a14f", "#b07aa1",
                                         "#edc948", "#76b7b2", "#ff9da7", "#9c755f"};
  return kColours[static_cast<std::size_t>((key % 8 + 8) % 8)];
}

std::string fmt(const char *format, double v) {
  char buffer[64];
  const int n = std::snprintf(buffer, sizeof buffer, format, v);
  return n < 0 ? std::string() : std::string(buffer);
}

void writeSvg(const std::string &path, const std::vector<StemAudit> &stems) {
  double longest = 100;
  for (const auto &s : stems) {
    const auto &m = s.stem.stem;
    if (m.pointCount > 0) longest = std::max(longest, m.positions[m.pointCount - 1]);
  }
  const double left = 150, width = 900, scale = width / longest, band = 150;
  const double height = 40 + band * static_cast<double>(stems.size());
  std::ofstream out(path);
  if (!out) throw InputError(path + ": cannot be written");
  out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << left + width + 40 << "\" height=\""
      << height << "\" font-family=\"sans-serif\" font-size=\"12\">\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
      << "<text x=\"10\" y=\"20\" font-size=\"14\">Logs cut (upper) and optimal bucking (lower) "
         "of each stem: product key, length, value; faint logs are outside the rules</text>\n";
  for (std::size_t k = 0; k < stems.size(); ++k) {
    const auto &s = stems[k];
    const auto &m = s.stem.stem;
    const double top = 40 + band * static_cast<double>(k);
    out << "<text x=\"10\" y=\"" << top + 14 << "\" font-weight=\"bold\">stem " << s.stem.key
        << "</text>\n";
    double dmax = 1;
    for (int i = 0; i < m.pointCount; ++i) dmax = std::max(dmax, m.diameters[i]);
    const double half = 25 / dmax;  // px per mm of half diameter
    for (int which = 0; which < 2; ++which) {
      const double mid = top + 40 + 60 * which;
      const auto &logs = which == 0 ? s.actual : s.optimal;
      const double value = which == 0 ? s.audit.actualValue : s.audit.optimalValue;
      out << "<text x=\"10\" y=\"" << mid + 4 << "\">" << (which == 0 ? "cut " : "optimal ")
          << (std::isfinite(value) ? fmt("%.2f", value) : std::string("-")) << "</text>\n";
      for (const auto &l : logs) {
        const double x = left + l.log.startCm * scale, w = l.log.lengthCm * scale;
        const bool good = l.log.status == XYLOTRAK_LOG_ADMISSIBLE;
        out << "<rect x=\"" << x << "\" y=\"" << mid - 22 << "\" width=\"" << w
            << "\" height=\"44\" fill=\"" << colour(l.productKey) << "\" fill-opacity=\""
            << (good ? 0.55 : 0.2) << "\" stroke=\"black\" stroke-width=\"0.8\"/>\n"
            << "<text x=\"" << x + 3 << "\" y=\"" << mid + 4 << "\" font-size=\"10\">"
            << l.productKey << " " << l.log.lengthCm << "cm</text>\n";
        if (std::isfinite(l.fileValue))
          out << "<text x=\"" << x + 3 << "\" y=\"" << mid + 17 << "\" font-size=\"9\">"
              << fmt("%.1f", l.fileValue) << "</text>\n";
      }
      // The stem outline from its measured diameters.
      std::string points;
      for (int i = 0; i < m.pointCount; ++i) {
        points += fmt("%.1f,", left + m.positions[i] * scale);
        points += fmt("%.1f ", mid - m.diameters[i] * half);
      }
      for (int i = m.pointCount - 1; i >= 0; --i) {
        points += fmt("%.1f,", left + m.positions[i] * scale);
        points += fmt("%.1f ", mid + m.diameters[i] * half);
      }
      out << "<polygon points=\"" << points
          << "\" fill=\"none\" stroke=\"#222\" stroke-width=\"1.2\"/>\n";
    }
    if (!s.reason.empty())
      out << "<text x=\"" << left << "\" y=\"" << top + 110
          << "\" fill=\"#a00\">no optimum: " << s.reason << "</text>\n";
  }
  out << "</svg>\n";
  if (!out) throw InputError(path + ": cannot be written");
}

}  // namespace

Runner addHarvest(CLI::App &app) {
  auto *cmd = app.add_subcommand(
      "harvest",
      "Audits a harvester production file (.hpr): for every stem the value of the logs cut, "
      "priced from the file's matrices and price volumes, against the best bucking of the "
      "measured stem");
  auto file = std::make_shared<std::string>();
  auto svg = std::make_shared<std::string>();
  auto asJson = std::make_shared<bool>(false);
  auto resolution = std::make_shared<int>(1);
  cmd->add_option("file", *file, "the .hpr file")->required();
  cmd->add_flag("--json", *asJson, "print JSON");
  cmd->add_option("--svg", *svg, "draw the logs cut and the optimum of every stem");
  cmd->add_option("--resolution", *resolution, "grid of the optimum's cuts, cm (1 to 1000)")
      ->default_val(1);
  return [=]() -> int {
    xylotrak_hpr *f = nullptr;
    xylotrak_char16 message[512];
    if (HPRoDll(file->c_str(), &f, message, 512) != XYLOTRAK_HPR_OK) {
      int32_t n = 0;
      while (message[n] != 0) ++n;
      throw InputError(*file + ": " + utf8(message, n));
    }
    std::unique_ptr<xylotrak_hpr, void (*)(xylotrak_hpr *)> owner(f, HPRcDll);
    xylotrak_audit_totals totals{};
    if (HPRaDll(f, *resolution, &totals) != XYLOTRAK_HPR_OK)
      throw InputError("option --resolution: must lie between 1 and 1000");
    std::vector<StemAudit> stems(static_cast<size_t>(HPRnDll(f, XYLOTRAK_HPR_AUDIT_STEMS)));
    for (std::size_t i = 0; i < stems.size(); ++i) {
      auto &s = stems[i];
      s.reason = row(f, XYLOTRAK_HPR_AUDIT_STEMS, static_cast<int64_t>(i), &s.audit);
      row(f, XYLOTRAK_HPR_STEMS, s.audit.stem, &s.stem);
      const int32_t n = s.audit.actualLogCount + s.audit.optimalLogCount;
      for (int32_t k = 0; k < n; ++k) {
        xylotrak_audit_log l{};
        HPRrDll(f, XYLOTRAK_HPR_AUDIT_LOGS, s.audit.firstLog + k, &l, nullptr, 0);
        (l.optimal ? s.optimal : s.actual).push_back(l);
      }
    }
    std::vector<std::pair<std::string, xylotrak_hpr_note>> notes;
    for (int64_t i = 0; i < HPRnDll(f, XYLOTRAK_HPR_UNSUPPORTED); ++i) {
      xylotrak_hpr_note n{};
      std::string text = row(f, XYLOTRAK_HPR_UNSUPPORTED, i, &n);
      notes.emplace_back(std::move(text), n);
    }
    if (!svg->empty()) writeSvg(*svg, stems);

    if (*asJson) {
      json out{{"stems", json::array()}};
      for (const auto &s : stems) {
        json actual = json::array(), optimal = json::array();
        for (const auto &l : s.actual) actual.push_back(logJson(l, true));
        for (const auto &l : s.optimal) optimal.push_back(logJson(l, false));
        out["stems"].push_back({{"stem_key", s.stem.key},
                                {"species_group_key", s.stem.speciesGroupKey},
                                {"actual_value", number(s.audit.actualValue)},
                                {"actual_value_model", number(s.audit.actualValueModel)},
                                {"optimal_value", number(s.audit.optimalValue)},
                                {"gain", number(s.audit.gain)},
                                {"no_optimum", s.reason.empty() ? json(nullptr) : json(s.reason)},
                                {"actual_logs", actual},
                                {"optimal_logs", optimal}});
      }
      out["totals"] = {{"actual_value", totals.actualValue},
                       {"actual_value_model", totals.actualValueModel},
                       {"optimal_value", totals.optimalValue},
                       {"actual_value_optimised", totals.actualValueOptimised},
                       {"stems", totals.stems},
                       {"stems_optimised", totals.stemsOptimised}};
      out["unsupported"] = json::array();
      for (const auto &[text, n] : notes)
        out["unsupported"].push_back({{"what", text}, {"line", n.line}, {"count", n.count}});
      std::cout << out.dump(2) << "\n";
      return 0;
    }
    std::printf("%-10s %5s %12s %12s %12s %12s\n", "stem", "logs", "actual", "re-valued", "optimal",
                "gain");
    for (const auto &s : stems) {
      std::printf(
          "%-10lld %5d %12.2f %12.2f %12s %12s\n", static_cast<long long>(s.stem.key),
          s.audit.actualLogCount, s.audit.actualValue, s.audit.actualValueModel,
          std::isfinite(s.audit.optimalValue) ? fmt("%.2f", s.audit.optimalValue).c_str() : "-",
          std::isfinite(s.audit.gain) ? fmt("%.2f", s.audit.gain).c_str() : "-");
      if (!s.reason.empty()) std::printf("           no optimum: %s\n", s.reason.c_str());
    }
    std::printf("\n%lld stems, %lld optimised\n", static_cast<long long>(totals.stems),
                static_cast<long long>(totals.stemsOptimised));
    std::printf("value of the logs cut       %12.2f\n", totals.actualValue);
    std::printf("  on the optimised stems    %12.2f\n", totals.actualValueOptimised);
    std::printf("optimal value               %12.2f\n", totals.optimalValue);
    std::printf("left on the table           %12.2f\n",
                totals.optimalValue - totals.actualValueOptimised);
    if (!notes.empty()) {
      std::printf("\nnot supported (line, occurrences):\n");
      for (const auto &[text, n] : notes)
        std::printf("  %d x%d  %s\n", n.line, n.count, text.c_str());
    }
    return 0;
  };
}

}  // namespace xtk
