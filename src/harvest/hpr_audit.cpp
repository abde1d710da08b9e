// The audit of a harvested-production file and the exports that read, walk
// and audit it.
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <optional>
#include <string>

#include "abi.h"
#include "harvest/hpr.h"
#include "vocabulary.h"
#include "xylotrak.h"

namespace xylotrak::harvest {
namespace {

std::string reasonFor(int code) {
  const std::string_view words = word(XYLOTRAK_WORDS_MATRIX_MESSAGE, code);
  return words.empty() ? "the stem cannot be bucked" : std::string(words);
}

// The price of a log cut, from its product's matrix and the file's volume.
double filePrice(const HprProduct &p, const xylotrak_hpr_log &l, const xylotrak_matrix_log &model) {
  const auto &m = p.record.matrix;
  if (m.diameterClassCount < 1) return std::nan("");
  int index = XYLOTRAK_HPR_TOP_OB;
  if (m.diameterPosition == XYLOTRAK_DIAMETER_MID) index = XYLOTRAK_HPR_MID_OB;
  if (m.diameterPosition == XYLOTRAK_DIAMETER_BUTT) index = XYLOTRAK_HPR_BUTT_OB;
  index += m.diameterUnderBark == 1 ? 1 : 0;
  double d = l.diameters[index];
  if (std::isnan(d)) d = model.classDiameterMm;  // NaN too when the stem gave none
  if (std::isnan(d)) return std::nan("");
  const int dc = classIndex(m.diameterLimits, m.diameterClassCount, m.diameterMax, d);
  const int lc = classIndex(m.lengthLimits, m.lengthClassCount, m.lengthMax, l.lengthCm);
  if (dc < 0 || lc < 0) return 0;
  const auto cell = static_cast<std::size_t>(dc) * static_cast<std::size_t>(m.lengthClassCount) +
                    static_cast<std::size_t>(lc);
  if (m.cells[cell] == XYLOTRAK_CELL_FORBIDDEN) return 0;
  const double price = m.prices[cell];
  if (m.priceBasis == XYLOTRAK_PRICE_PER_LOG) return price;
  return price * l.volumes[XYLOTRAK_HPR_M3_PRICE];
}

}  // namespace

void auditHpr(xylotrak_hpr &file, int resolutionCm, xylotrak_audit_totals &totals) {
  file.auditStems.clear();
  file.auditLogs.clear();
  totals = xylotrak_audit_totals{};
  std::vector<xylotrak_matrix_product> table;
  std::vector<std::int32_t> rows;
  std::vector<xylotrak_matrix_log> optimal(128);
  for (std::size_t si = 0; si < file.stems.size(); ++si) {
    const HprStem &stem = file.stems[si];
    const xylotrak_measured_stem &measured = stem.record.stem;
    AuditStem a;
    a.record.stem = static_cast<std::int64_t>(si);
    a.record.firstLog = static_cast<std::int64_t>(file.auditLogs.size());
    a.record.status = XYLOTRAK_MATRIX_OK;
    table.clear();
    rows.clear();
    for (std::size_t p = 0; p < file.products.size(); ++p) {
      const HprProduct &product = file.products[p];
      if (product.record.speciesGroupKey != stem.record.speciesGroupKey) continue;
      if (product.record.supported == 0) {
        if (a.record.status == XYLOTRAK_MATRIX_OK) {
          a.record.status = XYLOTRAK_MATRIX_UNSUPPORTED_RULE;
          a.reason = "product " + std::to_string(product.record.key) + ": " + product.unsupported;
        }
        continue;
      }
      table.push_back(product.record.matrix);
      rows.push_back(static_cast<std::int32_t>(p));
    }
    const bool stemOk = checkStem(&measured) == XYLOTRAK_MATRIX_OK;
    std::optional<Profile> profile;
    if (stemOk) profile.emplace(measured);
    double actual = 0, actualModel = 0;
    for (std::int64_t k = 0; k < stem.record.logCount; ++k) {
      const xylotrak_hpr_log &l = file.logs[static_cast<std::size_t>(stem.record.firstLog + k)];
      xylotrak_audit_log al{};
      al.stem = static_cast<std::int64_t>(si);
      al.productKey = l.productKey;
      al.fileVolume = l.volumes[XYLOTRAK_HPR_M3_PRICE];
      al.log.product = l.product;
      al.log.startCm = l.startCm;
      al.log.lengthCm = l.lengthCm;
      al.log.diameterClass = -1;
      al.log.lengthClass = -1;
      al.log.status = XYLOTRAK_LOG_BEYOND_STEM;
      al.log.classDiameterMm = std::nan("");
      al.log.volume = std::nan("");
      al.log.value = std::nan("");
      al.fileValue = std::nan("");
      if (l.product >= 0) {
        const HprProduct &product = file.products[static_cast<std::size_t>(l.product)];
        if (stemOk && product.record.supported != 0 &&
            checkProduct(product.record.matrix, measured.barkCount > 0) == XYLOTRAK_MATRIX_OK) {
          const Samples samples{&*profile};
          valueLog(samples, product.record.matrix, l.product, l.startCm, l.lengthCm, true, al.log);
        }
        al.fileValue = filePrice(product, l, al.log);
        if (product.record.matrix.priceBasis == XYLOTRAK_PRICE_PER_M3 && std::isnan(al.fileVolume))
          file.note("a log without an m3 (price) volume has no file value", 0);
      }
      actual = actual + al.fileValue;
      actualModel = actualModel + al.log.value;
      file.auditLogs.push_back(al);
    }
    a.record.actualLogCount = static_cast<std::int32_t>(stem.record.logCount);
    a.record.actualValue = actual;
    a.record.actualValueModel = actualModel;
    a.record.optimalValue = std::nan("");
    a.record.gain = std::nan("");
    if (a.record.status == XYLOTRAK_MATRIX_OK) {
      const xylotrak_matrix_params params{0, XYLOTRAK_MATRIX_EXACT, resolutionCm,
                                          XYLOTRAK_BUCK_HAND_CELLS, 0};
      std::int32_t count = 0;
      double value = 0;
      int rc = PHMbDll(&measured, table.data(), static_cast<int>(table.size()), &params,
                       optimal.data(), static_cast<std::int32_t>(optimal.size()), &count, &value);
      if (rc == XYLOTRAK_MATRIX_TOO_MANY_LOGS) {
        optimal.resize(static_cast<std::size_t>(count));
        rc = PHMbDll(&measured, table.data(), static_cast<int>(table.size()), &params,
                     optimal.data(), count, &count, &value);
      }
      if (rc == XYLOTRAK_MATRIX_OUT_OF_MEMORY) throw std::bad_alloc();
      if (rc != XYLOTRAK_MATRIX_OK) {
        a.record.status = rc;
        a.reason = reasonFor(rc);
      } else {
        a.record.optimalLogCount = count;
        a.record.optimalValue = value;
        a.record.gain = value - actual;
        for (std::int32_t k = 0; k < count; ++k) {
          xylotrak_audit_log al{};
          al.stem = static_cast<std::int64_t>(si);
          al.optimal = 1;
          al.log = optimal[static_cast<std::size_t>(k)];
          al.log.product = rows[static_cast<std::size_t>(al.log.product)];
          al.productKey = file.products[static_cast<std::size_t>(al.log.product)].record.key;
          al.fileVolume = std::nan("");
          al.fileValue = al.log.value;
          file.auditLogs.push_back(al);
        }
      }
    }
    ++totals.stems;
    if (std::isfinite(actual)) totals.actualValue = totals.actualValue + actual;
    if (std::isfinite(actualModel)) totals.actualValueModel = totals.actualValueModel + actualModel;
    if (a.record.status == XYLOTRAK_MATRIX_OK) {
      ++totals.stemsOptimised;
      totals.optimalValue = totals.optimalValue + a.record.optimalValue;
      if (std::isfinite(actual)) totals.actualValueOptimised = totals.actualValueOptimised + actual;
    }
    file.auditStems.push_back(std::move(a));
  }
}

}  // namespace xylotrak::harvest

namespace {

using namespace xylotrak;
using namespace xylotrak::harvest;

// Writes UTF-8 text as NUL-terminated UTF-16, cut to capacity; returns the
// length of the whole text in code units.
std::int32_t writeText(const std::string &s, xylotrak_char16 *out, std::int32_t capacity) {
  std::int32_t n = 0;
  auto put = [&](unsigned unit) {
    if (out != nullptr && n < capacity - 1) out[n] = static_cast<xylotrak_char16>(unit);
    ++n;
  };
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    unsigned cp = 0xFFFD;
    std::size_t len = 1;
    if (c < 0x80) {
      cp = c;
    } else if ((c >> 5) == 0x6 || (c >> 4) == 0xE || (c >> 3) == 0x1E) {
      len = (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : 4;
      cp = c & (len == 2 ? 0x1Fu : len == 3 ? 0x0Fu : 0x07u);
      bool ok = i + len <= s.size();
      for (std::size_t k = 1; ok && k < len; ++k) {
        const auto cc = static_cast<unsigned char>(s[i + k]);
        if ((cc >> 6) != 0x2) ok = false;
        cp = (cp << 6) | (cc & 0x3Fu);
      }
      if (!ok || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        cp = 0xFFFD;
        len = 1;
      }
    }
    i += len;
    if (cp >= 0x10000) {
      put(0xD800 + ((cp - 0x10000) >> 10));
      put(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      put(cp);
    }
  }
  if (out != nullptr && capacity > 0) out[n < capacity - 1 ? n : capacity - 1] = 0;
  return n;
}

std::int32_t parseInto(const char *data, std::size_t size, xylotrak_hpr **file,
                       xylotrak_char16 *message, std::int32_t capacity) {
  auto *f = new (std::nothrow) xylotrak_hpr();
  if (f == nullptr) {
    writeText("out of memory", message, capacity);
    return XYLOTRAK_HPR_OUT_OF_MEMORY;
  }
  // A malformed file throws MalformedFile, which names what is wrong.
  return guarded(
      [&] {
        parseHpr(data, size, *f);
        *file = f;
        return static_cast<std::int32_t>(XYLOTRAK_HPR_OK);
      },
      [&](Failure failure) {
        delete f;
        writeText(failure.what, message, capacity);
        return static_cast<std::int32_t>(failure.outOfMemory ? XYLOTRAK_HPR_OUT_OF_MEMORY
                                                             : XYLOTRAK_HPR_MALFORMED);
      });
}

}  // namespace

extern "C" {

XYLOTRAK_API int32_t HPRpDll(const char *data, int64_t size, xylotrak_hpr **file,
                             xylotrak_char16 *message, int32_t messageCapacity) {
  if (message != nullptr && messageCapacity > 0) message[0] = 0;
  if (file == nullptr) return XYLOTRAK_HPR_BAD_ARGUMENT;
  *file = nullptr;
  if ((data == nullptr && size > 0) || size < 0 || messageCapacity < 0 ||
      (message == nullptr && messageCapacity > 0))
    return XYLOTRAK_HPR_BAD_ARGUMENT;
  return parseInto(data == nullptr ? "" : data, static_cast<std::size_t>(size), file, message,
                   messageCapacity);
}

XYLOTRAK_API int32_t HPRoDll(const char *pathUtf8, xylotrak_hpr **file, xylotrak_char16 *message,
                             int32_t messageCapacity) {
  if (message != nullptr && messageCapacity > 0) message[0] = 0;
  if (file == nullptr) return XYLOTRAK_HPR_BAD_ARGUMENT;
  *file = nullptr;
  if (pathUtf8 == nullptr || messageCapacity < 0 || (message == nullptr && messageCapacity > 0))
    return XYLOTRAK_HPR_BAD_ARGUMENT;
  const auto cannotRead = [&] {
    writeText(std::string(pathUtf8) + ": cannot be read", message, messageCapacity);
    return static_cast<std::int32_t>(XYLOTRAK_HPR_CANNOT_READ);
  };
  return guarded(
      [&] {
        const std::u8string name(reinterpret_cast<const char8_t *>(pathUtf8));
        std::ifstream in(std::filesystem::path(name), std::ios::binary);
        std::string bytes;
        if (in) bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (!in && !in.eof()) return cannotRead();
        return parseInto(bytes.data(), bytes.size(), file, message, messageCapacity);
      },
      [&](Failure failure) {
        if (!failure.outOfMemory) return cannotRead();
        writeText(failure.what, message, messageCapacity);
        return static_cast<std::int32_t>(XYLOTRAK_HPR_OUT_OF_MEMORY);
      });
}

XYLOTRAK_API void HPRcDll(xylotrak_hpr *file) { delete file; }

XYLOTRAK_API int64_t HPRnDll(const xylotrak_hpr *file, int table) {
  if (file == nullptr) return -1;
  switch (table) {
    case XYLOTRAK_HPR_SPECIES:
      return static_cast<int64_t>(file->species.size());
    case XYLOTRAK_HPR_PRODUCTS:
      return static_cast<int64_t>(file->products.size());
    case XYLOTRAK_HPR_STEMS:
      return static_cast<int64_t>(file->stems.size());
    case XYLOTRAK_HPR_LOGS:
      return static_cast<int64_t>(file->logs.size());
    case XYLOTRAK_HPR_UNSUPPORTED:
      return static_cast<int64_t>(file->notes.size());
    case XYLOTRAK_HPR_AUDIT_STEMS:
      return static_cast<int64_t>(file->auditStems.size());
    case XYLOTRAK_HPR_AUDIT_LOGS:
      return static_cast<int64_t>(file->auditLogs.size());
    default:
      return -1;
  }
}

XYLOTRAK_API int32_t HPRrDll(const xylotrak_hpr *file, int table, int64_t row, void *record,
                             xylotrak_char16 *text, int32_t textCapacity) {
  const int64_t rows = HPRnDll(file, table);
  if (rows < 0 || row < 0 || row >= rows || textCapacity < 0 ||
      (text == nullptr && textCapacity > 0))
    return -1;
  const auto r = static_cast<std::size_t>(row);
  static const std::string kNone;
  const std::string *words = &kNone;
  auto copy = [&](const auto &rec) {
    if (record != nullptr) std::memcpy(record, &rec, sizeof rec);
  };
  return guarded(
      [&] {
        switch (table) {
          case XYLOTRAK_HPR_SPECIES:
            copy(file->species[r].record);
            words = &file->species[r].name;
            break;
          case XYLOTRAK_HPR_PRODUCTS:
            copy(file->products[r].record);
            words = &file->products[r].name;
            break;
          case XYLOTRAK_HPR_STEMS:
            copy(file->stems[r].record);
            break;
          case XYLOTRAK_HPR_LOGS:
            copy(file->logs[r]);
            break;
          case XYLOTRAK_HPR_UNSUPPORTED:
            copy(file->notes[r].record);
            words = &file->notes[r].message;
            break;
          case XYLOTRAK_HPR_AUDIT_STEMS:
            copy(file->auditStems[r].record);
            words = &file->auditStems[r].reason;
            break;
          default:
            copy(file->auditLogs[r]);
            break;
        }
        return writeText(*words, text, textCapacity);
      },
      std::int32_t{-1});
}

XYLOTRAK_API int32_t HPRaDll(xylotrak_hpr *file, int32_t resolutionCm,
                             xylotrak_audit_totals *totals) {
  if (totals != nullptr) *totals = xylotrak_audit_totals{};
  if (file == nullptr || resolutionCm < 1 || resolutionCm > 1000) return XYLOTRAK_HPR_BAD_ARGUMENT;
  xylotrak_audit_totals sums{};
  return guarded(
      [&] {
        auditHpr(*file, resolutionCm, sums);
        if (totals != nullptr) *totals = sums;
        return static_cast<std::int32_t>(XYLOTRAK_HPR_OK);
      },
      [&](Failure) {
        file->auditStems.clear();
        file->auditLogs.clear();
        return static_cast<std::int32_t>(XYLOTRAK_HPR_OUT_OF_MEMORY);
      });
}

}  // extern "C"
