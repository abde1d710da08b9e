/*
 * The R package's calls into the Xylotrak library. The R functions check
 * every argument before they get here; the checks below only keep a wrong
 * call from reading memory it was not given.
 */
#include "xylotrak_r.h"

#include <R.h>
#include <R_ext/Utils.h>
#include <Rinternals.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "config.h"
#include "xylotrak.h"

/* ------------------------------------------------------------------ helpers */

static void need_doubles(SEXP x, R_xlen_t n, const char *name) {
  if (TYPEOF(x) != REALSXP) error("'%s' must be a double vector", name);
  if (n >= 0 && XLENGTH(x) != n) error("'%s' must have length %lld", name, (long long)n);
}

static double scalar_double(SEXP x, const char *name) {
  need_doubles(x, 1, name);
  return REAL(x)[0];
}

static int scalar_int(SEXP x, const char *name) {
  if (TYPEOF(x) != INTSXP || XLENGTH(x) != 1) error("'%s' must be one integer", name);
  return INTEGER(x)[0];
}

/* The five leading arguments of the taper and bucking exports. */
typedef struct {
  double dbh, height;
  const double *coefs, *exps;
  int terms;
} Model;

static Model model_of(SEXP dbh, SEXP height, SEXP coefs, SEXP exps) {
  Model m;
  m.dbh = scalar_double(dbh, "dbh");
  m.height = scalar_double(height, "height");
  need_doubles(coefs, -1, "coefs");
  need_doubles(exps, XLENGTH(coefs), "exps");
  if (XLENGTH(coefs) < 1 || XLENGTH(coefs) > 32768)
    error("'coefs' must hold 1 to 32768 coefficients");
  m.coefs = REAL(coefs);
  m.exps = REAL(exps);
  m.terms = (int)XLENGTH(coefs) - 1;
  return m;
}

/* ------------------------------------------------------------------ library */

SEXP xtk_version(void) { return mkString(xylotrak_version()); }

SEXP xtk_build_flags(void) {
  SEXP out = PROTECT(allocVector(STRSXP, 2));
  SET_STRING_ELT(out, 0, mkChar(XYLOTRAK_R_CFLAGS));
  SET_STRING_ELT(out, 1, mkChar(XYLOTRAK_R_LIBS));
  UNPROTECT(1);
  return out;
}

/* The index of the element of `x` called `name`; an error naming `what`
 * when there is none. */
static R_xlen_t name_index(SEXP x, const char *name, const char *what) {
  SEXP names = getAttrib(x, R_NamesSymbol);
  for (R_xlen_t k = 0; names != R_NilValue && k < XLENGTH(names); ++k) {
    if (strcmp(CHAR(STRING_ELT(names, k)), name) == 0) return k;
  }
  error("'%s' has no element '%s'", what, name);
}

/* The element of a named list called `name`. */
static SEXP named(SEXP list, const char *name, const char *what) {
  return VECTOR_ELT(list, name_index(list, name, what));
}

/* The double vector called `name` in the named list `list`, of length n
 * (any length when n < 0, then *length receives it). */
static const double *named_doubles(SEXP list, const char *name, const char *what, R_xlen_t n,
                                   R_xlen_t *length) {
  SEXP v = named(list, name, what);
  need_doubles(v, n, name);
  if (length != NULL) *length = XLENGTH(v);
  return REAL(v);
}

/* The five limits of a section, by name, each a double vector of one length:
 * lower_height, upper_height, lower_diam, upper_diam, log_length. */
static R_xlen_t section_limits(SEXP limits, const double *l[5]) {
  static const char *const names[5] = {"lower_height", "upper_height", "lower_diam", "upper_diam",
                                       "log_length"};
  if (TYPEOF(limits) != VECSXP) error("'limits' must be a named list");
  R_xlen_t n = -1;
  l[0] = named_doubles(limits, names[0], "limits", -1, &n);
  for (int j = 1; j < 5; ++j) l[j] = named_doubles(limits, names[j], "limits", n, NULL);
  return n;
}

/* ------------------------------------------------------------------ taper */

/* The export `at` of the model at every element of `x`: PHDiDll at heights,
 * PHHiDll at diameters. */
typedef double (*PointExport)(double, double, const double *, const double *, int, double);

static SEXP at_each(SEXP dbh, SEXP height, SEXP coefs, SEXP exps, SEXP x, const char *name,
                    PointExport at) {
  const Model m = model_of(dbh, height, coefs, exps);
  need_doubles(x, -1, name);
  const R_xlen_t n = XLENGTH(x);
  SEXP out = PROTECT(allocVector(REALSXP, n));
  for (R_xlen_t i = 0; i < n; ++i)
    REAL(out)[i] = at(m.dbh, m.height, m.coefs, m.exps, m.terms, REAL(x)[i]);
  UNPROTECT(1);
  return out;
}

SEXP xtk_diameter(SEXP dbh, SEXP height, SEXP coefs, SEXP exps, SEXP h) {
  return at_each(dbh, height, coefs, exps, h, "h", PHDiDll);
}

SEXP xtk_height_at(SEXP dbh, SEXP height, SEXP coefs, SEXP exps, SEXP d) {
  return at_each(dbh, height, coefs, exps, d, "d", PHHiDll);
}

/* limits: the section's five limits by name (see section_limits). kind 0 PHViDll, 1 PHVaDll,
 * 2 PHCTDll (an integer result). */
SEXP xtk_section(SEXP dbh, SEXP height, SEXP coefs, SEXP exps, SEXP limits, SEXP kind) {
  const Model m = model_of(dbh, height, coefs, exps);
  const int k = scalar_int(kind, "kind");
  const double *l[5];
  const R_xlen_t n = section_limits(limits, l);
  SEXP out = PROTECT(allocVector(k == 2 ? INTSXP : REALSXP, n));
  int *counts = k == 2 ? INTEGER(out) : NULL;
  double *volumes = k == 2 ? NULL : REAL(out);
  for (R_xlen_t i = 0; i < n; ++i) {
    if (counts) {
      counts[i] = PHCTDll(m.dbh, m.height, m.coefs, m.exps, m.terms, l[0][i], l[1][i], l[2][i],
                          l[3][i], l[4][i]);
    } else {
      const double v = k == 1 ? PHVaDll(m.dbh, m.height, m.coefs, m.exps, m.terms, l[0][i], l[1][i],
                                        l[2][i], l[3][i], l[4][i])
                              : PHViDll(m.dbh, m.height, m.coefs, m.exps, m.terms, l[0][i], l[1][i],
                                        l[2][i], l[3][i], l[4][i]);
      volumes[i] = v;
    }
  }
  UNPROTECT(1);
  return out;
}

SEXP xtk_form_factor(SEXP coefs, SEXP exps) {
  need_doubles(coefs, -1, "coefs");
  need_doubles(exps, XLENGTH(coefs), "exps");
  if (XLENGTH(coefs) < 1 || XLENGTH(coefs) > 32768)
    error("'coefs' must hold 1 to 32768 coefficients");
  return ScalarReal(PHFFDll(REAL(coefs), REAL(exps), (int)XLENGTH(coefs) - 1));
}

SEXP xtk_check(SEXP dbh, SEXP height, SEXP coefs, SEXP exps) {
  const Model m = model_of(dbh, height, coefs, exps);
  int32_t digits = 0;
  const int32_t bits = PHCkDll(m.dbh, m.height, m.coefs, m.exps, m.terms, &digits);
  SEXP out = PROTECT(allocVector(INTSXP, 2));
  INTEGER(out)[0] = bits;
  INTEGER(out)[1] = digits;
  UNPROTECT(1);
  return out;
}

/* --------------------------------------------------------------- vocabulary */

/* Every word of one of the library's vocabularies (XYLOTRAK_WORDS_*), in
 * index order; the words are ASCII. */
SEXP xtk_words(SEXP vocabulary) {
  const int which = asInteger(vocabulary);
  int n = 0;
  while (xylotrak_words(which, n, NULL, 0) >= 0) ++n;
  SEXP out = PROTECT(allocVector(STRSXP, n));
  for (int k = 0; k < n; ++k) {
    const int32_t length = xylotrak_words(which, k, NULL, 0);
    xylotrak_char16 *text = (xylotrak_char16 *)R_alloc((size_t)length + 1, sizeof *text);
    char *ascii = R_alloc((size_t)length + 1, 1);
    xylotrak_words(which, k, text, length + 1);
    for (int32_t i = 0; i <= length; ++i) ascii[i] = (char)text[i];
    SET_STRING_ELT(out, k, mkChar(ascii));
  }
  UNPROTECT(1);
  return out;
}

/* The library's defaults of the bucking heights, by XYLOTRAK_DEFAULT_* number. */
SEXP xtk_bucking_default(SEXP which) {
  return ScalarReal(xylotrak_bucking_default(asInteger(which)));
}

/* The zones of a bucked stem (PHZnDll) from its log table's rows 1..n (their
 * trim tops) and the eight totals: the cutting's end, the top's start and the
 * diameter there. */
SEXP xtk_stem_zones(SEXP dbh, SEXP height, SEXP coefs, SEXP exps, SEXP stump, SEXP trim_tops,
                    SEXP totals) {
  const Model m = model_of(dbh, height, coefs, exps);
  LogEntry *logs = (LogEntry *)R_alloc(XYLOTRAK_LOG_ROWS, sizeof *logs);
  memset(logs, 0, XYLOTRAK_LOG_ROWS * sizeof *logs);
  const int n = length(trim_tops) < XYLOTRAK_LOG_ROWS ? length(trim_tops) : XYLOTRAK_LOG_ROWS - 1;
  for (int k = 1; k <= n; ++k) {
    logs[k].logNumber = (int16_t)k;
    logs[k].trimTopHeight = REAL(trim_tops)[k - 1];
  }
  if (length(totals) != 8 || length(stump) != 2)
    error("xtk_stem_zones: 2 stump heights and 8 totals");
  SEXP out = PROTECT(allocVector(REALSXP, 3));
  PHZnDll(m.dbh, m.height, m.coefs, m.exps, m.terms, REAL(stump)[0], REAL(stump)[1], logs,
          REAL(totals), REAL(out));
  UNPROTECT(1);
  return out;
}

/* ------------------------------------------------------------------ bucking */

/* The log table's columns, as returned to R: two integer columns, then the
 * nine doubles in the record's order. */
static const char *const kLogNames[] = {
    "log_number", "product_number", "base_height",   "length", "top_height", "trim_top_height",
    "base_diam",  "top_diam",       "trim_top_diam", "volume", "value"};
static const char *const kProductNames[] = {"log_count",       "volume_sum",       "value_sum",
                                            "last_top_height", "last_top_diam",    "length_sum",
                                            "mean_top_diam",   "weighted_top_diam"};

static SEXP named_list(int n, const char *const *names) {
  SEXP out = PROTECT(allocVector(VECSXP, n));
  SEXP nm = PROTECT(allocVector(STRSXP, n));
  for (int i = 0; i < n; ++i) SET_STRING_ELT(nm, i, mkChar(names[i]));
  setAttrib(out, R_NamesSymbol, nm);
  UNPROTECT(2);
  return out;
}

/* The heights of a bucking, a named double vector: start_height,
 * top_height_limit, stump_height, stump_trim, height_limit. */
typedef struct Heights {
  double start, topLimit, stump, trim, heightLimit;
} Heights;

static double height_named(SEXP heights, const char *name) {
  if (TYPEOF(heights) != REALSXP || getAttrib(heights, R_NamesSymbol) == R_NilValue)
    error("'heights' must be named doubles");
  return REAL(heights)[name_index(heights, name, "heights")];
}

static Heights heights_of(SEXP heights) {
  const Heights h = {height_named(heights, "start_height"),
                     height_named(heights, "top_height_limit"),
                     height_named(heights, "stump_height"), height_named(heights, "stump_trim"),
                     height_named(heights, "height_limit")};
  return h;
}

/* The input fields of ProductSpec by their record names: where each lives in
 * the record, and whether it is a 16-bit code (an integer column) or a double. */
typedef struct ProductField {
  const char *name;
  size_t offset;
  int code;
} ProductField;

static const ProductField kProductFields[] = {
    {"minTopDiam", offsetof(ProductSpec, minTopDiam), 0},
    {"maxTopDiam", offsetof(ProductSpec, maxTopDiam), 0},
    {"minBaseDiam", offsetof(ProductSpec, minBaseDiam), 0},
    {"maxBaseDiam", offsetof(ProductSpec, maxBaseDiam), 0},
    {"minLength", offsetof(ProductSpec, minLength), 0},
    {"maxLength", offsetof(ProductSpec, maxLength), 0},
    {"unitPrice", offsetof(ProductSpec, unitPrice), 0},
    {"priceBasis", offsetof(ProductSpec, priceBasis), 1},
    {"logPosition", offsetof(ProductSpec, logPosition), 1},
    {"heightRule", offsetof(ProductSpec, heightRule), 1},
    {"lossFraction", offsetof(ProductSpec, lossFraction), 0},
    {"trimLength", offsetof(ProductSpec, trimLength), 0},
};
#define PRODUCT_FIELDS ((int)(sizeof kProductFields / sizeof kProductFields[0]))

/* A cleared product record as xylotrak_product_default fills it: its input
 * fields by their record names, the three codes as doubles. */
SEXP xtk_product_default(void) {
  ProductSpec record;
  memset(&record, 0, sizeof record);
  xylotrak_product_default(&record);
  SEXP out = PROTECT(allocVector(REALSXP, PRODUCT_FIELDS));
  SEXP names = PROTECT(allocVector(STRSXP, PRODUCT_FIELDS));
  const char *base = (const char *)&record;
  for (int j = 0; j < PRODUCT_FIELDS; ++j) {
    SET_STRING_ELT(names, j, mkChar(kProductFields[j].name));
    if (kProductFields[j].code) {
      int16_t v;
      memcpy(&v, base + kProductFields[j].offset, sizeof v);
      REAL(out)[j] = v;
    } else {
      memcpy(&REAL(out)[j], base + kProductFields[j].offset, sizeof(double));
    }
  }
  setAttrib(out, R_NamesSymbol, names);
  UNPROTECT(2);
  return out;
}

/* The values of an XYLOTRAK_FIT_DEFAULT_* default (xylotrak_fit_default). */
SEXP xtk_fit_default(SEXP which) {
  const int n = xylotrak_fit_default(asInteger(which), NULL, 0);
  if (n < 0) error("the library has no fit default %d", asInteger(which));
  SEXP out = PROTECT(allocVector(REALSXP, n));
  if (n > 0) xylotrak_fit_default(asInteger(which), REAL(out), n);
  UNPROTECT(1);
  return out;
}

/*
 * table: a named list of the input columns of ProductSpec under the record's
 * field names, doubles and, for the three codes, integers. The records live
 * until the .Call returns (R_alloc); *count receives their number.
 */
static ProductSpec *product_records(SEXP table, R_xlen_t *count) {
  if (TYPEOF(table) != VECSXP) error("'products' must be a list of columns");
  SEXP columns[PRODUCT_FIELDS];
  for (int j = 0; j < PRODUCT_FIELDS; ++j)
    columns[j] = named(table, kProductFields[j].name, "products");
  const R_xlen_t n = XLENGTH(columns[0]);
  if (n > 32767) error("'products' holds more than 32767 products");
  for (int j = 0; j < PRODUCT_FIELDS; ++j) {
    if (TYPEOF(columns[j]) != (kProductFields[j].code ? INTSXP : REALSXP) ||
        XLENGTH(columns[j]) != n)
      error("'products' column '%s' has the wrong type or length", kProductFields[j].name);
  }
  ProductSpec *records = (ProductSpec *)R_alloc(n > 0 ? (size_t)n : 1, sizeof *records);
  memset(records, 0, (n > 0 ? (size_t)n : 1) * sizeof *records);
  for (R_xlen_t i = 0; i < n; ++i) {
    char *record = (char *)&records[i];
    for (int j = 0; j < PRODUCT_FIELDS; ++j) {
      if (kProductFields[j].code) {
        const int16_t v = (int16_t)INTEGER(columns[j])[i];
        memcpy(record + kProductFields[j].offset, &v, sizeof v);
      } else {
        memcpy(record + kProductFields[j].offset, &REAL(columns[j])[i], sizeof(double));
      }
    }
  }
  *count = n;
  return records;
}

/*
 * table: the product columns by name, as for product_records(); heights:
 * named start_height, top_height_limit, stump_height, stump_trim,
 * height_limit.
 * method: -1 sequential, 0 the search, 1 the exact optimiser; objective 0
 * value, 1 volume.
 */
SEXP xtk_buck(SEXP dbh, SEXP height, SEXP coefs, SEXP exps, SEXP heights, SEXP table, SEXP method,
              SEXP objective) {
  const Model m = model_of(dbh, height, coefs, exps);
  const Heights hs = heights_of(heights);
  const int how = scalar_int(method, "method");
  const int goal = scalar_int(objective, "objective");
  R_xlen_t count;
  ProductSpec *records = product_records(table, &count);

  LogEntry *logs = (LogEntry *)R_alloc(XYLOTRAK_LOG_ROWS, sizeof *logs);
  memset(logs, 0, XYLOTRAK_LOG_ROWS * sizeof *logs);
  double t[8] = {0};
  double outcome;
  if (how < 0)
    outcome = PHVsDll(m.dbh, m.height, m.coefs, m.exps, m.terms, hs.start, hs.topLimit, 0, 0,
                      hs.stump, hs.trim, hs.heightLimit, records, (int)count, t, t + 1, t + 2,
                      t + 3, t + 4, t + 5, t + 6, t + 7, logs);
  else
    outcome = (how == 1 ? PHVxDll : PHVoDll)(m.dbh, m.height, m.coefs, m.exps, m.terms, hs.start,
                                             hs.topLimit, 0, 0, hs.stump, hs.trim, hs.heightLimit,
                                             records, (int)count, goal, t, t + 1, t + 2, t + 3,
                                             t + 4, t + 5, t + 6, t + 7, logs);

  /* Rows 0 (the stump) to the last log. */
  int rows = 1;
  while (rows < XYLOTRAK_LOG_ROWS && logs[rows].logNumber != 0) ++rows;

  static const char *const top[] = {"outcome", "logs", "products", "totals"};
  SEXP out = PROTECT(named_list(4, top));
  SET_VECTOR_ELT(out, 0, ScalarReal(outcome));

  SEXP lt = PROTECT(named_list(11, kLogNames));
  for (int j = 0; j < 11; ++j) SET_VECTOR_ELT(lt, j, allocVector(j < 2 ? INTSXP : REALSXP, rows));
  for (int k = 0; k < rows; ++k) {
    const LogEntry *r = &logs[k];
    const double v[9] = {r->baseHeight, r->length,      r->topHeight, r->trimTopHeight, r->baseDiam,
                         r->topDiam,    r->trimTopDiam, r->volume,    r->value};
    INTEGER(VECTOR_ELT(lt, 0))[k] = r->logNumber;
    INTEGER(VECTOR_ELT(lt, 1))[k] = r->productNumber;
    for (int j = 0; j < 9; ++j) REAL(VECTOR_ELT(lt, j + 2))[k] = v[j];
  }
  SET_VECTOR_ELT(out, 1, lt);

  SEXP pt = PROTECT(named_list(8, kProductNames));
  for (int j = 0; j < 8; ++j) SET_VECTOR_ELT(pt, j, allocVector(j == 0 ? INTSXP : REALSXP, count));
  for (R_xlen_t i = 0; i < count; ++i) {
    const ProductSpec *p = &records[i];
    const double v[7] = {p->volumeSum, p->valueSum,    p->lastTopHeight,  p->lastTopDiam,
                         p->lengthSum, p->meanTopDiam, p->weightedTopDiam};
    INTEGER(VECTOR_ELT(pt, 0))[i] = p->logCount;
    for (int j = 0; j < 7; ++j) REAL(VECTOR_ELT(pt, j + 1))[i] = v[j];
  }
  SET_VECTOR_ELT(out, 2, pt);

  SEXP totals = PROTECT(allocVector(REALSXP, 8));
  memcpy(REAL(totals), t, sizeof t);
  SET_VECTOR_ELT(out, 3, totals);
  UNPROTECT(4);
  return out;
}

/* ------------------------------------------------------------------ inventory */

/* One log of an inventory as it comes from the library, until it is copied
 * into the R vectors. */
typedef struct {
  int tree; /* 1-based */
  int log_number, product_number;
  double v[9];
} InventoryLog;

/* What the callback gathers. Only malloc'd memory: no R allocation may
 * happen while the library is running (an R error would jump over it). */
typedef struct {
  R_xlen_t trees;
  double *outcome, *totals; /* totals: 8 per tree */
  int *log_count, *status, *method;
  InventoryLog *logs;
  size_t log_count_all, log_capacity;
  int interrupted, out_of_memory;
} Gathered;

static void check_interrupt(void *unused) {
  (void)unused;
  R_CheckUserInterrupt();
}

static int32_t gather_block(void *context, const xylotrak_inventory_block *block) {
  Gathered *g = (Gathered *)context;
  /* Ctrl-C: the check runs on this thread, the one R called from. */
  if (!R_ToplevelExec(check_interrupt, NULL)) {
    g->interrupted = 1;
    return 1;
  }
  for (int32_t t = 0; t < block->treeCount; ++t) {
    const xylotrak_tree_result *r = &block->trees[t];
    const R_xlen_t i = (R_xlen_t)r->tree;
    g->outcome[i] = r->outcome;
    g->log_count[i] = r->logCount;
    g->status[i] = r->status;
    g->method[i] = r->method;
    memcpy(g->totals + 8 * i, r->totals, sizeof r->totals);
    if (g->log_count_all + (size_t)r->logCount > g->log_capacity) {
      size_t capacity = g->log_capacity ? 2 * g->log_capacity : 4096;
      while (capacity < g->log_count_all + (size_t)r->logCount) capacity *= 2;
      InventoryLog *grown = (InventoryLog *)realloc(g->logs, capacity * sizeof *grown);
      if (grown == NULL) {
        g->out_of_memory = 1;
        return 1;
      }
      g->logs = grown;
      g->log_capacity = capacity;
    }
    for (int k = 1; k <= r->logCount; ++k) {
      const LogEntry *e = &block->rows[r->firstRow + k];
      InventoryLog *l = &g->logs[g->log_count_all++];
      l->tree = (int)(i + 1);
      l->log_number = e->logNumber;
      l->product_number = e->productNumber;
      const double v[9] = {e->baseHeight,    e->length,   e->topHeight,
                           e->trimTopHeight, e->baseDiam, e->topDiam,
                           e->trimTopDiam,   e->volume,   e->value};
      memcpy(l->v, v, sizeof v);
    }
  }
  return 0;
}

static void release_gathered(void *data) {
  Gathered *g = (Gathered *)data;
  free(g->logs);
  g->logs = NULL;
}

static const char *const kInventoryLogNames[] = {
    "tree",     "log_number",    "product_number",  "base_height",
    "length",   "top_height",    "trim_top_height", "base_diam",
    "top_diam", "trim_top_diam", "volume",          "value"};

/* The R vectors of what was gathered (may raise an R error; the logs are
 * released by the cleanup either way). */
static SEXP gathered_to_r(void *data) {
  Gathered *g = (Gathered *)data;
  static const char *const top[] = {"outcome", "log_count", "status", "method", "totals", "logs"};
  SEXP out = PROTECT(named_list(6, top));
  const R_xlen_t n = g->trees;
  SET_VECTOR_ELT(out, 0, allocVector(REALSXP, n));
  SET_VECTOR_ELT(out, 1, allocVector(INTSXP, n));
  SET_VECTOR_ELT(out, 2, allocVector(INTSXP, n));
  SET_VECTOR_ELT(out, 3, allocVector(INTSXP, n));
  SET_VECTOR_ELT(out, 4, allocMatrix(REALSXP, (int)n, 8));
  if (n > 0) {
    memcpy(REAL(VECTOR_ELT(out, 0)), g->outcome, (size_t)n * sizeof(double));
    memcpy(INTEGER(VECTOR_ELT(out, 1)), g->log_count, (size_t)n * sizeof(int));
    memcpy(INTEGER(VECTOR_ELT(out, 2)), g->status, (size_t)n * sizeof(int));
    memcpy(INTEGER(VECTOR_ELT(out, 3)), g->method, (size_t)n * sizeof(int));
  }
  double *totals = REAL(VECTOR_ELT(out, 4));
  for (R_xlen_t i = 0; i < n; ++i)
    for (int j = 0; j < 8; ++j) totals[i + j * n] = g->totals[8 * i + j];

  const R_xlen_t m = (R_xlen_t)g->log_count_all;
  SEXP logs = PROTECT(named_list(12, kInventoryLogNames));
  for (int j = 0; j < 12; ++j) SET_VECTOR_ELT(logs, j, allocVector(j < 3 ? INTSXP : REALSXP, m));
  int *tree = INTEGER(VECTOR_ELT(logs, 0)), *number = INTEGER(VECTOR_ELT(logs, 1)),
      *product = INTEGER(VECTOR_ELT(logs, 2));
  double *col[9];
  for (int j = 0; j < 9; ++j) col[j] = REAL(VECTOR_ELT(logs, j + 3));
  for (R_xlen_t k = 0; k < m; ++k) {
    const InventoryLog *l = &g->logs[k];
    tree[k] = l->tree;
    number[k] = l->log_number;
    product[k] = l->product_number;
    for (int j = 0; j < 9; ++j) col[j][k] = l->v[j];
  }
  SET_VECTOR_ELT(out, 5, logs);
  UNPROTECT(2);
  return out;
}

/*
 * A whole inventory in one call of PHVbDll. dbh, height: doubles per tree;
 * model: the 0-based index of each tree's model in coefs/exps (lists of
 * double vectors); heights and table as for xtk_buck; method 0 sequential,
 * 1 the search, 2 the exact optimiser; objective 0 value, 1 volume; threads
 * and flags as PHVbDll takes them.
 */
SEXP xtk_buck_inventory(SEXP dbh, SEXP height, SEXP model, SEXP coefs, SEXP exps, SEXP heights,
                        SEXP table, SEXP method, SEXP objective, SEXP threads, SEXP flags) {
  need_doubles(dbh, -1, "dbh");
  const R_xlen_t n = XLENGTH(dbh);
  need_doubles(height, n, "height");
  if (TYPEOF(model) != INTSXP || XLENGTH(model) != n) error("'model' must be integer per tree");
  if (TYPEOF(coefs) != VECSXP || TYPEOF(exps) != VECSXP || XLENGTH(exps) != XLENGTH(coefs))
    error("'coefs' and 'exps' must be lists of one length");
  if (XLENGTH(coefs) > INT32_MAX) error("too many models");
  const int32_t models = (int32_t)XLENGTH(coefs);
  xylotrak_taper_model *table_of_models =
      (xylotrak_taper_model *)R_alloc(models > 0 ? (size_t)models : 1, sizeof *table_of_models);
  for (int32_t k = 0; k < models; ++k) {
    SEXP c = VECTOR_ELT(coefs, k), e = VECTOR_ELT(exps, k);
    need_doubles(c, -1, "coefs");
    need_doubles(e, XLENGTH(c), "exps");
    if (XLENGTH(c) < 1 || XLENGTH(c) > 32768) error("'coefs' must hold 1 to 32768 coefficients");
    table_of_models[k].coefs = REAL(c);
    table_of_models[k].exps = REAL(e);
    table_of_models[k].termCount = (int32_t)XLENGTH(c) - 1;
    table_of_models[k].reserved0 = 0;
  }
  const Heights hs = heights_of(heights);
  R_xlen_t count;
  const ProductSpec *records = product_records(table, &count);
  xylotrak_inventory_params q;
  memset(&q, 0, sizeof q);
  q.startHeight = hs.start;
  q.topHeightLimit = hs.topLimit;
  q.stumpHeight = hs.stump;
  q.stumpTrim = hs.trim;
  q.heightLimit = hs.heightLimit;
  q.method = scalar_int(method, "method");
  q.objective = scalar_int(objective, "objective");
  q.threads = scalar_int(threads, "threads");
  q.flags = scalar_int(flags, "flags");

  Gathered g;
  memset(&g, 0, sizeof g);
  g.trees = n;
  const size_t each = n > 0 ? (size_t)n : 1;
  g.outcome = (double *)R_alloc(each, sizeof(double));
  g.totals = (double *)R_alloc(each, 8 * sizeof(double));
  g.log_count = (int *)R_alloc(each, sizeof(int));
  g.status = (int *)R_alloc(each, sizeof(int));
  g.method = (int *)R_alloc(each, sizeof(int));
  const int32_t result =
      PHVbDll(REAL(dbh), REAL(height), INTEGER(model), (int64_t)n, table_of_models, models, records,
              (int)count, &q, gather_block, &g);
  if (result != XYLOTRAK_INVENTORY_OK || g.interrupted || g.out_of_memory) {
    release_gathered(&g);
    if (g.interrupted) error("the bucking of the inventory was interrupted");
    if (g.out_of_memory || result == XYLOTRAK_INVENTORY_OUT_OF_MEMORY)
      error("not enough memory to buck the inventory");
    error("the inventory bucking answered %d", (int)result);
  }
  return R_ExecWithCleanup(gathered_to_r, &g, release_gathered, &g);
}

/* The diameters at `at`, the stem volume and the form factor of every tree:
 * a matrix of one row per tree, length(at) + 2 columns. */
SEXP xtk_taper_table(SEXP dbh, SEXP height, SEXP model, SEXP coefs, SEXP exps, SEXP at) {
  need_doubles(dbh, -1, "dbh");
  const R_xlen_t n = XLENGTH(dbh);
  need_doubles(height, n, "height");
  need_doubles(at, -1, "at");
  if (TYPEOF(model) != INTSXP || XLENGTH(model) != n) error("'model' must be integer per tree");
  if (TYPEOF(coefs) != VECSXP || TYPEOF(exps) != VECSXP || XLENGTH(exps) != XLENGTH(coefs))
    error("'coefs' and 'exps' must be lists of one length");
  const R_xlen_t models = XLENGTH(coefs), heights = XLENGTH(at);
  for (R_xlen_t k = 0; k < models; ++k) {
    need_doubles(VECTOR_ELT(coefs, k), -1, "coefs");
    need_doubles(VECTOR_ELT(exps, k), XLENGTH(VECTOR_ELT(coefs, k)), "exps");
    if (XLENGTH(VECTOR_ELT(coefs, k)) < 1 || XLENGTH(VECTOR_ELT(coefs, k)) > 32768)
      error("'coefs' must hold 1 to 32768 coefficients");
  }
  for (R_xlen_t i = 0; i < n; ++i)
    if (INTEGER(model)[i] < 0 || INTEGER(model)[i] >= models)
      error("a model index is out of range");
  SEXP out = PROTECT(allocMatrix(REALSXP, (int)n, (int)(heights + 2)));
  double *o = REAL(out);
  for (R_xlen_t i = 0; i < n; ++i) {
    const int k = INTEGER(model)[i];
    const double *c = REAL(VECTOR_ELT(coefs, k)), *e = REAL(VECTOR_ELT(exps, k));
    const int terms = (int)XLENGTH(VECTOR_ELT(coefs, k)) - 1;
    const double d = REAL(dbh)[i], h = REAL(height)[i];
    for (R_xlen_t j = 0; j < heights; ++j) o[i + j * n] = PHDiDll(d, h, c, e, terms, REAL(at)[j]);
    o[i + heights * n] = PHViDll(d, h, c, e, terms, 0, 0, 0, 0, 0);
    o[i + (heights + 1) * n] = PHFFDll(c, e, terms);
  }
  UNPROTECT(1);
  return out;
}

/* ------------------------------------------------------------------ formulas */

/* which: 0 gDll, 1 dgDll, 2 VTHuDll, 3 VTSmDll, 4 VTNwDll, 5 VTNeDll,
 * 6 VTCoDll, 7 VTCiDll. args: a list of double vectors of one length, as many
 * as the formula takes. An element with an NA argument is NA without a call. */
SEXP xtk_formula(SEXP which, SEXP args) {
  static const int arity[8] = {1, 2, 2, 3, 4, 3, 3, 2};
  const int w = scalar_int(which, "which");
  if (w < 0 || w > 7) error("unknown formula %d", w);
  if (TYPEOF(args) != VECSXP || XLENGTH(args) != arity[w])
    error("the formula takes %d arguments", arity[w]);
  const R_xlen_t n = XLENGTH(VECTOR_ELT(args, 0));
  const double *a[4];
  for (int j = 0; j < arity[w]; ++j) {
    need_doubles(VECTOR_ELT(args, j), n, "args");
    a[j] = REAL(VECTOR_ELT(args, j));
  }
  SEXP out = PROTECT(allocVector(REALSXP, n));
  double *o = REAL(out);
  for (R_xlen_t i = 0; i < n; ++i) {
    int missing = 0;
    for (int j = 0; j < arity[w]; ++j) missing |= ISNA(a[j][i]);
    if (missing) {
      o[i] = NA_REAL;
      continue;
    }
    switch (w) {
      case 0:
        o[i] = gDll(a[0][i]);
        break;
      case 1:
        o[i] = dgDll(a[0][i], a[1][i]);
        break;
      case 2:
        o[i] = VTHuDll(a[0][i], a[1][i]);
        break;
      case 3:
        o[i] = VTSmDll(a[0][i], a[1][i], a[2][i]);
        break;
      case 4:
        o[i] = VTNwDll(a[0][i], a[1][i], a[2][i], a[3][i]);
        break;
      case 5:
        o[i] = VTNeDll(a[0][i], a[1][i], a[2][i]);
        break;
      case 6:
        o[i] = VTCoDll(a[0][i], a[1][i], a[2][i]);
        break;
      default:
        o[i] = VTCiDll(a[0][i], a[1][i]);
        break;
    }
  }
  UNPROTECT(1);
  return out;
}

/* doubles: area, length1, length2, slope1, slope2 (one length); codes:
 * slopeCorrection, rectangular, unitScale, areaUnit (integer, same length). */
SEXP xtk_calc_area(SEXP args) {
  if (TYPEOF(args) != VECSXP) error("'args' must be a named list");
  R_xlen_t n = -1;
  const double *area = named_doubles(args, "area", "args", -1, &n);
  const double *length1 = named_doubles(args, "length1", "args", n, NULL);
  const double *length2 = named_doubles(args, "length2", "args", n, NULL);
  const double *slope1 = named_doubles(args, "slope1", "args", n, NULL);
  const double *slope2 = named_doubles(args, "slope2", "args", n, NULL);
  static const char *const codeNames[] = {"slope_correction", "rectangular", "unit_scale",
                                          "area_unit"};
  const int *codes[4];
  for (int j = 0; j < 4; ++j) {
    SEXP v = named(args, codeNames[j], "args");
    if (TYPEOF(v) != INTSXP || XLENGTH(v) != n)
      error("'%s' must be an integer vector of the length of the others", codeNames[j]);
    codes[j] = INTEGER(v);
  }
  static const char *const names[] = {"area", "length1", "length2"};
  SEXP out = PROTECT(named_list(3, names));
  for (int j = 0; j < 3; ++j) SET_VECTOR_ELT(out, j, allocVector(REALSXP, n));
  for (R_xlen_t i = 0; i < n; ++i) {
    double a = 0, l1 = 0, l2 = 0;
    CalcAreaDll(area[i], length1[i], length2[i], slope1[i], slope2[i], codes[0][i], codes[1][i],
                codes[2][i], codes[3][i], &a, &l1, &l2);
    REAL(VECTOR_ELT(out, 0))[i] = a;
    REAL(VECTOR_ELT(out, 1))[i] = l1;
    REAL(VECTOR_ELT(out, 2))[i] = l2;
  }
  UNPROTECT(1);
  return out;
}

/* ------------------------------------------------------------------ accounting */

/* op 0 start, 1 stop: the export's answer. op 2: status and count of slots
 * 0-8, the counts as doubles read unsigned. */
SEXP xtk_tally(SEXP op) {
  const int o = scalar_int(op, "op");
  if (o == 0) return ScalarInteger(tally_start());
  if (o == 1) return ScalarInteger(tally_stop());
  static const char *const names[] = {"status", "count"};
  SEXP out = PROTECT(named_list(2, names));
  SEXP status = PROTECT(allocVector(INTSXP, 9));
  SEXP count = PROTECT(allocVector(REALSXP, 9));
  for (int i = 0; i < 9; ++i) {
    INTEGER(status)[i] = tally_status(i);
    REAL(count)[i] = (double)(uint32_t)tally_count(i);
  }
  SET_VECTOR_ELT(out, 0, status);
  SET_VECTOR_ELT(out, 1, count);
  UNPROTECT(3);
  return out;
}

/* ------------------------------------------------------------------ fitting */

static const char *const kFitNames[] = {"code", "exps", "coefs", "std_errors", "stats", "rows"};
static const char *const kStatNames[] = {"residual_std_error", "r_squared", "bias", "diameter_rmse",
                                         "diameter_bias"};

static SEXP fit_result(int code, int terms, const double *exps, const double *coefs,
                       const double *se, const xylotrak_fit_stats *stats) {
  SEXP out = PROTECT(named_list(6, kFitNames));
  SET_VECTOR_ELT(out, 0, ScalarInteger(code));
  SEXP e = PROTECT(allocVector(REALSXP, terms));
  SEXP c = PROTECT(allocVector(REALSXP, terms));
  SEXP s = PROTECT(allocVector(REALSXP, terms));
  if (terms > 0) {
    memcpy(REAL(e), exps, (size_t)terms * sizeof(double));
    memcpy(REAL(c), coefs, (size_t)terms * sizeof(double));
    memcpy(REAL(s), se, (size_t)terms * sizeof(double));
  }
  SET_VECTOR_ELT(out, 1, e);
  SET_VECTOR_ELT(out, 2, c);
  SET_VECTOR_ELT(out, 3, s);
  SEXP st = PROTECT(named_list(5, kStatNames));
  const double v[5] = {stats->residualStdError, stats->rSquared, stats->bias, stats->diameterRmse,
                       stats->diameterBias};
  for (int j = 0; j < 5; ++j) SET_VECTOR_ELT(st, j, ScalarReal(v[j]));
  SET_VECTOR_ELT(out, 4, st);
  SEXP rows = PROTECT(allocVector(REALSXP, 2));
  REAL(rows)[0] = (double)stats->rowsUsed;
  REAL(rows)[1] = (double)stats->rowsSkipped;
  SET_VECTOR_ELT(out, 5, rows);
  UNPROTECT(6);
  return out;
}

static R_xlen_t fit_rows(SEXP dbh, SEXP height, SEXP h, SEXP d) {
  need_doubles(dbh, -1, "dbh");
  const R_xlen_t n = XLENGTH(dbh);
  need_doubles(height, n, "height");
  need_doubles(h, n, "h");
  need_doubles(d, n, "d");
  return n;
}

SEXP xtk_fit(SEXP dbh, SEXP height, SEXP h, SEXP d, SEXP exps) {
  const R_xlen_t n = fit_rows(dbh, height, h, d);
  need_doubles(exps, -1, "exps");
  const R_xlen_t terms = XLENGTH(exps);
  if (terms < 1 || terms > 32768) error("'exps' must hold 1 to 32768 exponents");
  double *coefs = (double *)R_alloc((size_t)terms, sizeof(double));
  double *se = (double *)R_alloc((size_t)terms, sizeof(double));
  xylotrak_fit_stats stats;
  memset(&stats, 0, sizeof stats);
  const int code = PHFtDll(REAL(dbh), REAL(height), REAL(h), REAL(d), (int64_t)n, REAL(exps),
                           (int)terms - 1, coefs, se, &stats);
  return fit_result(code, (int)terms, REAL(exps), coefs, se, &stats);
}

/* The arguments of a stepwise selection: the most terms (1 to 32767) and the
 * candidate exponents (NULL for the library's own). */
typedef struct {
  int cap;
  const double *cand;
  int ncand;
} select_args;

static select_args read_select_args(SEXP candidates, SEXP max_terms) {
  select_args a = {scalar_int(max_terms, "max_terms"), NULL, 0};
  if (a.cap < 1 || a.cap > 32767) error("'max_terms' must be 1 to 32767");
  if (candidates != R_NilValue) {
    need_doubles(candidates, -1, "candidates");
    if (XLENGTH(candidates) > 32767) error("'candidates' holds more than 32767 values");
    a.cand = REAL(candidates);
    a.ncand = (int)XLENGTH(candidates);
  }
  return a;
}

SEXP xtk_fit_select(SEXP dbh, SEXP height, SEXP h, SEXP d, SEXP candidates, SEXP max_terms) {
  const R_xlen_t n = fit_rows(dbh, height, h, d);
  const select_args sel = read_select_args(candidates, max_terms);
  const int cap = sel.cap;
  const double *cand = sel.cand;
  const int ncand = sel.ncand;
  double *exps = (double *)R_alloc((size_t)cap, sizeof(double));
  double *coefs = (double *)R_alloc((size_t)cap, sizeof(double));
  double *se = (double *)R_alloc((size_t)cap, sizeof(double));
  int32_t terms = 0;
  xylotrak_fit_stats stats;
  memset(&stats, 0, sizeof stats);
  const int code = PHFsDll(REAL(dbh), REAL(height), REAL(h), REAL(d), (int64_t)n, cand, ncand, cap,
                           exps, coefs, se, &terms, &stats);
  /* terms is n, the index of the last term: n + 1 values on success. */
  const int values = code == XYLOTRAK_FIT_OK ? (int)terms + 1 : 0;
  return fit_result(code, values, exps, coefs, se, &stats);
}

/* ------------------------------------------------------------------ harvest */

/* A harvested-production file (.hpr) read by the library, its tables handed
 * to R as lists of columns. The handle lives in an external pointer whose
 * finalizer releases it, so that an allocation failing half-way (an R error)
 * does not leak it. */

static void release_hpr(SEXP ptr) {
  xylotrak_hpr *file = (xylotrak_hpr *)R_ExternalPtrAddr(ptr);
  if (file != NULL) HPRcDll(file);
  R_ClearExternalPtr(ptr);
}

/* UTF-16 from the library as an R string in UTF-8; a lone surrogate becomes
 * U+FFFD. */
static SEXP utf8_of(const xylotrak_char16 *text, int32_t n) {
  char *out = R_alloc((size_t)n * 3 + 1, 1);
  size_t k = 0;
  for (int32_t i = 0; i < n; ++i) {
    uint32_t c = (uint32_t)text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && (uint32_t)text[i + 1] >= 0xDC00 &&
        (uint32_t)text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + ((uint32_t)text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out[k++] = (char)c;
    } else if (c < 0x800) {
      out[k++] = (char)(0xC0 | (c >> 6));
      out[k++] = (char)(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out[k++] = (char)(0xE0 | (c >> 12));
      out[k++] = (char)(0x80 | ((c >> 6) & 0x3F));
      out[k++] = (char)(0x80 | (c & 0x3F));
    } else {
      out[k++] = (char)(0xF0 | (c >> 18));
      out[k++] = (char)(0x80 | ((c >> 12) & 0x3F));
      out[k++] = (char)(0x80 | ((c >> 6) & 0x3F));
      out[k++] = (char)(0x80 | (c & 0x3F));
    }
  }
  out[k] = '\0';
  return mkCharLenCE(out, (int)k, CE_UTF8);
}

/* Row `row` of `table` into *record; returns its text. */
static SEXP hpr_row(const xylotrak_hpr *file, int table, int64_t row, void *record) {
  const int32_t n = HPRrDll(file, table, row, record, NULL, 0);
  if (n < 0) error("the library refused row %lld of table %d", (long long)row, table);
  xylotrak_char16 *text = (xylotrak_char16 *)R_alloc((size_t)n + 1, sizeof *text);
  HPRrDll(file, table, row, record, text, n + 1);
  return utf8_of(text, n);
}

static R_xlen_t hpr_rows(const xylotrak_hpr *file, int table) {
  const int64_t n = HPRnDll(file, table);
  if (n < 0) error("the library has no table %d", table);
  return (R_xlen_t)n;
}

/* NA for the library's NaN ("absent"). */
static double na_if_nan(double v) { return ISNAN(v) ? NA_REAL : v; }

static SEXP doubles_of(const double *x, int32_t n) {
  SEXP out = allocVector(REALSXP, n > 0 ? n : 0);
  for (int32_t i = 0; i < n; ++i) REAL(out)[i] = x[i];
  return out;
}

static SEXP ints_of(const int32_t *x, int32_t n) {
  SEXP out = allocVector(INTSXP, n > 0 ? n : 0);
  for (int32_t i = 0; i < n; ++i) INTEGER(out)[i] = x[i];
  return out;
}

/* Keys are 64-bit in the file; R gets doubles (exact below 2^53). */
#define HPR_COLUMN(list, j, type, n) SET_VECTOR_ELT(list, j, allocVector(type, n))

static const char *const kHprSpeciesNames[] = {"species_group_key", "name", "bark_function_given"};

static SEXP hpr_species(const xylotrak_hpr *file) {
  const R_xlen_t n = hpr_rows(file, XYLOTRAK_HPR_SPECIES);
  SEXP out = PROTECT(named_list(3, kHprSpeciesNames));
  HPR_COLUMN(out, 0, REALSXP, n);
  HPR_COLUMN(out, 1, STRSXP, n);
  HPR_COLUMN(out, 2, LGLSXP, n);
  for (R_xlen_t i = 0; i < n; ++i) {
    xylotrak_hpr_species s;
    SET_STRING_ELT(VECTOR_ELT(out, 1), i, hpr_row(file, XYLOTRAK_HPR_SPECIES, i, &s));
    REAL(VECTOR_ELT(out, 0))[i] = (double)s.key;
    LOGICAL(VECTOR_ELT(out, 2))[i] = s.barkFunction != 0;
  }
  UNPROTECT(1);
  return out;
}

static const char *const kHprProductNames[] = {"product_key",
                                               "name",
                                               "species_group_key",
                                               "supported",
                                               "diameter_classes_mm",
                                               "diameter_max_mm",
                                               "length_classes_cm",
                                               "length_max_cm",
                                               "prices",
                                               "cells",
                                               "permitted_grades",
                                               "diameter_position",
                                               "diameter_under_bark",
                                               "price_basis",
                                               "volume_rule",
                                               "volume_length",
                                               "volume_under_bark"};

static SEXP hpr_products(const xylotrak_hpr *file) {
  const R_xlen_t n = hpr_rows(file, XYLOTRAK_HPR_PRODUCTS);
  SEXP out = PROTECT(named_list(17, kHprProductNames));
  static const SEXPTYPE types[17] = {REALSXP, STRSXP,  REALSXP, LGLSXP, VECSXP, REALSXP,
                                     VECSXP,  REALSXP, VECSXP,  VECSXP, VECSXP, INTSXP,
                                     LGLSXP,  INTSXP,  INTSXP,  INTSXP, LGLSXP};
  for (int j = 0; j < 17; ++j) HPR_COLUMN(out, j, types[j], n);
  for (R_xlen_t i = 0; i < n; ++i) {
    xylotrak_hpr_product p;
    SET_STRING_ELT(VECTOR_ELT(out, 1), i, hpr_row(file, XYLOTRAK_HPR_PRODUCTS, i, &p));
    const xylotrak_matrix_product *m = &p.matrix;
    const int32_t cells = m->diameterClassCount * m->lengthClassCount;
    REAL(VECTOR_ELT(out, 0))[i] = (double)p.key;
    REAL(VECTOR_ELT(out, 2))[i] = (double)p.speciesGroupKey;
    LOGICAL(VECTOR_ELT(out, 3))[i] = p.supported != 0;
    SET_VECTOR_ELT(VECTOR_ELT(out, 4), i, doubles_of(m->diameterLimits, m->diameterClassCount));
    REAL(VECTOR_ELT(out, 5))[i] = m->diameterMax;
    SET_VECTOR_ELT(VECTOR_ELT(out, 6), i, doubles_of(m->lengthLimits, m->lengthClassCount));
    REAL(VECTOR_ELT(out, 7))[i] = m->lengthMax;
    SET_VECTOR_ELT(VECTOR_ELT(out, 8), i, doubles_of(m->prices, cells));
    SEXP codes = allocVector(INTSXP, cells > 0 ? cells : 0);
    SET_VECTOR_ELT(VECTOR_ELT(out, 9), i, codes);
    for (int32_t k = 0; k < cells; ++k) INTEGER(codes)[k] = m->cells[k];
    SET_VECTOR_ELT(VECTOR_ELT(out, 10), i, ints_of(m->grades, m->gradeCount));
    INTEGER(VECTOR_ELT(out, 11))[i] = m->diameterPosition;
    LOGICAL(VECTOR_ELT(out, 12))[i] = m->diameterUnderBark != 0;
    INTEGER(VECTOR_ELT(out, 13))[i] = m->priceBasis;
    INTEGER(VECTOR_ELT(out, 14))[i] = m->volumeRule;
    INTEGER(VECTOR_ELT(out, 15))[i] = m->volumeLength;
    LOGICAL(VECTOR_ELT(out, 16))[i] = m->volumeUnderBark != 0;
  }
  UNPROTECT(1);
  return out;
}

static const char *const kHprStemNames[] = {
    "stem_key",     "species_group_key", "dbh_mm", "log_count",         "positions_cm",
    "diameters_mm", "grade_starts_cm",   "grades", "bark_positions_cm", "double_bark_mm"};

static SEXP hpr_stems(const xylotrak_hpr *file) {
  const R_xlen_t n = hpr_rows(file, XYLOTRAK_HPR_STEMS);
  SEXP out = PROTECT(named_list(10, kHprStemNames));
  static const SEXPTYPE types[10] = {REALSXP, REALSXP, REALSXP, INTSXP, VECSXP,
                                     VECSXP,  VECSXP,  VECSXP,  VECSXP, VECSXP};
  for (int j = 0; j < 10; ++j) HPR_COLUMN(out, j, types[j], n);
  for (R_xlen_t i = 0; i < n; ++i) {
    xylotrak_hpr_stem h;
    hpr_row(file, XYLOTRAK_HPR_STEMS, i, &h);
    const xylotrak_measured_stem *s = &h.stem;
    REAL(VECTOR_ELT(out, 0))[i] = (double)h.key;
    REAL(VECTOR_ELT(out, 1))[i] = (double)h.speciesGroupKey;
    REAL(VECTOR_ELT(out, 2))[i] = na_if_nan(h.dbhMm);
    INTEGER(VECTOR_ELT(out, 3))[i] = h.logCount;
    SET_VECTOR_ELT(VECTOR_ELT(out, 4), i, doubles_of(s->positions, s->pointCount));
    SET_VECTOR_ELT(VECTOR_ELT(out, 5), i, doubles_of(s->diameters, s->pointCount));
    SET_VECTOR_ELT(VECTOR_ELT(out, 6), i, doubles_of(s->gradeStarts, s->gradeCount));
    SET_VECTOR_ELT(VECTOR_ELT(out, 7), i, ints_of(s->grades, s->gradeCount));
    SET_VECTOR_ELT(VECTOR_ELT(out, 8), i, doubles_of(s->barkPositions, s->barkCount));
    SET_VECTOR_ELT(VECTOR_ELT(out, 9), i, doubles_of(s->barkThickness, s->barkCount));
  }
  UNPROTECT(1);
  return out;
}

/* The logs cut; `stem` is the row of the stem (from 0), which R turns into
 * its key. */
static const char *const kHprLogNames[] = {"stem",
                                           "log_key",
                                           "product_key",
                                           "start_cm",
                                           "length_cm",
                                           "diameter_butt_ob",
                                           "diameter_butt_ub",
                                           "diameter_mid_ob",
                                           "diameter_mid_ub",
                                           "diameter_top_ob",
                                           "diameter_top_ub",
                                           "volume_m3_price",
                                           "volume_m3sob",
                                           "volume_m3sub"};

static SEXP hpr_logs(const xylotrak_hpr *file) {
  const R_xlen_t n = hpr_rows(file, XYLOTRAK_HPR_LOGS);
  SEXP out = PROTECT(named_list(14, kHprLogNames));
  for (int j = 0; j < 14; ++j) HPR_COLUMN(out, j, j == 1 ? INTSXP : REALSXP, n);
  for (R_xlen_t i = 0; i < n; ++i) {
    xylotrak_hpr_log l;
    hpr_row(file, XYLOTRAK_HPR_LOGS, i, &l);
    REAL(VECTOR_ELT(out, 0))[i] = (double)l.stem;
    INTEGER(VECTOR_ELT(out, 1))[i] = l.logKey;
    REAL(VECTOR_ELT(out, 2))[i] = (double)l.productKey;
    REAL(VECTOR_ELT(out, 3))[i] = l.startCm;
    REAL(VECTOR_ELT(out, 4))[i] = l.lengthCm;
    for (int k = 0; k < 6; ++k) REAL(VECTOR_ELT(out, 5 + k))[i] = na_if_nan(l.diameters[k]);
    for (int k = 0; k < 3; ++k) REAL(VECTOR_ELT(out, 11 + k))[i] = na_if_nan(l.volumes[k]);
  }
  UNPROTECT(1);
  return out;
}

static const char *const kHprNoteNames[] = {"what", "line", "count"};

static SEXP hpr_notes(const xylotrak_hpr *file) {
  const R_xlen_t n = hpr_rows(file, XYLOTRAK_HPR_UNSUPPORTED);
  SEXP out = PROTECT(named_list(3, kHprNoteNames));
  HPR_COLUMN(out, 0, STRSXP, n);
  HPR_COLUMN(out, 1, INTSXP, n);
  HPR_COLUMN(out, 2, INTSXP, n);
  for (R_xlen_t i = 0; i < n; ++i) {
    xylotrak_hpr_note note;
    SET_STRING_ELT(VECTOR_ELT(out, 0), i, hpr_row(file, XYLOTRAK_HPR_UNSUPPORTED, i, &note));
    INTEGER(VECTOR_ELT(out, 1))[i] = note.line;
    INTEGER(VECTOR_ELT(out, 2))[i] = note.count;
  }
  UNPROTECT(1);
  return out;
}

static const char *const kAuditStemNames[] = {"stem",          "actual_value", "actual_value_model",
                                              "optimal_value", "gain",         "no_optimum"};

static SEXP hpr_audit_stems(const xylotrak_hpr *file) {
  const R_xlen_t n = hpr_rows(file, XYLOTRAK_HPR_AUDIT_STEMS);
  SEXP out = PROTECT(named_list(6, kAuditStemNames));
  for (int j = 0; j < 5; ++j) HPR_COLUMN(out, j, REALSXP, n);
  HPR_COLUMN(out, 5, STRSXP, n);
  for (R_xlen_t i = 0; i < n; ++i) {
    xylotrak_audit_stem a;
    SEXP reason = hpr_row(file, XYLOTRAK_HPR_AUDIT_STEMS, i, &a);
    SET_STRING_ELT(VECTOR_ELT(out, 5), i, LENGTH(reason) > 0 ? reason : NA_STRING);
    REAL(VECTOR_ELT(out, 0))[i] = (double)a.stem;
    REAL(VECTOR_ELT(out, 1))[i] = na_if_nan(a.actualValue);
    REAL(VECTOR_ELT(out, 2))[i] = na_if_nan(a.actualValueModel);
    REAL(VECTOR_ELT(out, 3))[i] = na_if_nan(a.optimalValue);
    REAL(VECTOR_ELT(out, 4))[i] = na_if_nan(a.gain);
  }
  UNPROTECT(1);
  return out;
}

/* As harvest_audit() in Python: an optimal log's volume is the library's,
 * a log cut's the file's m3 (price); classes NA outside every class. */
static const char *const kAuditLogNames[] = {
    "stem",      "optimal",           "product_key",     "start_cm",
    "length_cm", "diameter_class_mm", "length_class_cm", "volume",
    "value",     "volume_model",      "value_model",     "status"};

static SEXP hpr_audit_logs(const xylotrak_hpr *file) {
  const R_xlen_t n = hpr_rows(file, XYLOTRAK_HPR_AUDIT_LOGS);
  SEXP out = PROTECT(named_list(12, kAuditLogNames));
  for (int j = 0; j < 12; ++j) HPR_COLUMN(out, j, j == 1 ? LGLSXP : j == 11 ? INTSXP : REALSXP, n);
  for (R_xlen_t i = 0; i < n; ++i) {
    xylotrak_audit_log l;
    hpr_row(file, XYLOTRAK_HPR_AUDIT_LOGS, i, &l);
    const xylotrak_matrix_log *m = &l.log;
    REAL(VECTOR_ELT(out, 0))[i] = (double)l.stem;
    LOGICAL(VECTOR_ELT(out, 1))[i] = l.optimal != 0;
    REAL(VECTOR_ELT(out, 2))[i] = (double)l.productKey;
    REAL(VECTOR_ELT(out, 3))[i] = m->startCm;
    REAL(VECTOR_ELT(out, 4))[i] = m->lengthCm;
    REAL(VECTOR_ELT(out, 5))[i] = m->diameterClass >= 0 ? m->diameterClassMm : NA_REAL;
    REAL(VECTOR_ELT(out, 6))[i] = m->lengthClass >= 0 ? m->lengthClassCm : NA_REAL;
    REAL(VECTOR_ELT(out, 7))[i] = na_if_nan(l.optimal != 0 ? m->volume : l.fileVolume);
    REAL(VECTOR_ELT(out, 8))[i] = na_if_nan(l.fileValue);
    REAL(VECTOR_ELT(out, 9))[i] = na_if_nan(m->volume);
    REAL(VECTOR_ELT(out, 10))[i] = na_if_nan(m->value);
    INTEGER(VECTOR_ELT(out, 11))[i] = m->status;
  }
  UNPROTECT(1);
  return out;
}

static const char *const kAuditTotalNames[] = {"actual_value",  "actual_value_model",
                                               "optimal_value", "actual_value_optimised",
                                               "stems",         "stems_optimised"};

static const char *const kHprTableNames[] = {"species",     "products",    "stems",      "logs",
                                             "unsupported", "audit_stems", "audit_logs", "totals"};

/*
 * path: the file's name in UTF-8. resolution: 0 reads the file only, 1 to
 * 1000 also audits it on that grid (cm). Returns a list of the tables, each a
 * list of columns; with an audit also audit_stems, audit_logs and totals. A
 * file that cannot be read is an error with the library's message.
 */
SEXP xtk_hpr(SEXP path, SEXP resolution) {
  if (TYPEOF(path) != STRSXP || XLENGTH(path) != 1 || STRING_ELT(path, 0) == NA_STRING)
    error("'path' must be one string");
  const int grid = scalar_int(resolution, "resolution_cm");
  if (grid < 0 || grid > 1000) error("'resolution_cm' must lie between 1 and 1000");
  const char *name = translateCharUTF8(STRING_ELT(path, 0));
  SEXP handle = PROTECT(R_MakeExternalPtr(NULL, R_NilValue, R_NilValue));
  R_RegisterCFinalizerEx(handle, release_hpr, TRUE);
  xylotrak_hpr *file = NULL;
  xylotrak_char16 message[512];
  const int32_t code = HPRoDll(name, &file, message, 512);
  if (code != XYLOTRAK_HPR_OK) {
    int32_t n = 0;
    while (n < 511 && message[n] != 0) ++n;
    /* The library names the file itself when it cannot read it. */
    if (code == XYLOTRAK_HPR_CANNOT_READ) error("%s", CHAR(utf8_of(message, n)));
    error("%s: %s", name, CHAR(utf8_of(message, n)));
  }
  R_SetExternalPtrAddr(handle, file);
  xylotrak_audit_totals totals;
  if (grid > 0) {
    const int32_t rc = HPRaDll(file, grid, &totals);
    if (rc == XYLOTRAK_HPR_OUT_OF_MEMORY) error("out of memory in the audit");
    if (rc != XYLOTRAK_HPR_OK) error("the audit failed with code %d", (int)rc);
  }
  SEXP out = PROTECT(named_list(grid > 0 ? 8 : 5, kHprTableNames));
  SET_VECTOR_ELT(out, 0, hpr_species(file));
  SET_VECTOR_ELT(out, 1, hpr_products(file));
  SET_VECTOR_ELT(out, 2, hpr_stems(file));
  SET_VECTOR_ELT(out, 3, hpr_logs(file));
  SET_VECTOR_ELT(out, 4, hpr_notes(file));
  if (grid > 0) {
    SET_VECTOR_ELT(out, 5, hpr_audit_stems(file));
    SET_VECTOR_ELT(out, 6, hpr_audit_logs(file));
    SEXP sums = PROTECT(named_list(6, kAuditTotalNames));
    const double values[6] = {totals.actualValue,   totals.actualValueModel,
                              totals.optimalValue,  totals.actualValueOptimised,
                              (double)totals.stems, (double)totals.stemsOptimised};
    for (int j = 0; j < 6; ++j) SET_VECTOR_ELT(sums, j, ScalarReal(values[j]));
    SET_VECTOR_ELT(out, 7, sums);
    UNPROTECT(1);
  }
  release_hpr(handle);
  UNPROTECT(2);
  return out;
}

/* ------------------------------------------------------- taper statistics */
/*
 * Fits with their covariances (PHFcDll, PHFwDll, PHFmDll), intervals
 * (PHDcDll, PHVcDll) and calibration (PHCbDll). Every result carries the
 * library's return code; the R functions turn a code other than 0 into an
 * error named by it.
 */

/* The (n x n) row-major matrix of the library as an R matrix. */
static SEXP row_major_matrix(const double *values, int n) {
  SEXP m = PROTECT(allocMatrix(REALSXP, n, n));
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) REAL(m)[i + (R_xlen_t)j * n] = values[(R_xlen_t)i * n + j];
  UNPROTECT(1);
  return m;
}

/* A least-squares fit's result as fit_result gives it, with the covariance
 * and the residual degrees of freedom after it. */
static SEXP fit_result_cov(int code, int terms, const double *exps, const double *coefs,
                           const double *se, const double *cov, int64_t df,
                           const xylotrak_fit_stats *stats) {
  static const char *const names[] = {"code",  "exps", "coefs",      "std_errors",
                                      "stats", "rows", "covariance", "residual_df"};
  SEXP base = PROTECT(fit_result(code, terms, exps, coefs, se, stats));
  SEXP out = PROTECT(named_list(8, names));
  for (int i = 0; i < 6; ++i) SET_VECTOR_ELT(out, i, VECTOR_ELT(base, i));
  SET_VECTOR_ELT(out, 6, row_major_matrix(cov, terms));
  SET_VECTOR_ELT(out, 7, ScalarReal((double)df));
  UNPROTECT(2);
  return out;
}

SEXP xtk_fit_cov(SEXP dbh, SEXP height, SEXP h, SEXP d, SEXP exps, SEXP flags) {
  const R_xlen_t n = fit_rows(dbh, height, h, d);
  need_doubles(exps, -1, "exps");
  const R_xlen_t terms = XLENGTH(exps);
  if (terms < 1 || terms > 32768) error("'exps' must hold 1 to 32768 exponents");
  double *coefs = (double *)R_alloc((size_t)terms, sizeof(double));
  double *se = (double *)R_alloc((size_t)terms, sizeof(double));
  double *cov = (double *)R_alloc((size_t)(terms * terms), sizeof(double));
  int64_t df = 0;
  xylotrak_fit_stats stats;
  memset(&stats, 0, sizeof stats);
  const int code = PHFcDll(REAL(dbh), REAL(height), REAL(h), REAL(d), (int64_t)n, REAL(exps),
                           (int)terms - 1, scalar_int(flags, "flags"), coefs, se, cov, &df, &stats);
  return fit_result_cov(code, (int)terms, REAL(exps), coefs, se, cov, df, &stats);
}

SEXP xtk_fit_select_cov(SEXP dbh, SEXP height, SEXP h, SEXP d, SEXP candidates, SEXP max_terms,
                        SEXP flags) {
  const R_xlen_t n = fit_rows(dbh, height, h, d);
  const select_args sel = read_select_args(candidates, max_terms);
  const int cap = sel.cap;
  const double *cand = sel.cand;
  const int ncand = sel.ncand;
  double *exps = (double *)R_alloc((size_t)cap, sizeof(double));
  double *coefs = (double *)R_alloc((size_t)cap, sizeof(double));
  double *se = (double *)R_alloc((size_t)cap, sizeof(double));
  double *cov = (double *)R_alloc((size_t)cap * (size_t)cap, sizeof(double));
  int32_t terms = 0;
  int64_t df = 0;
  xylotrak_fit_stats stats;
  memset(&stats, 0, sizeof stats);
  const int code = PHFwDll(REAL(dbh), REAL(height), REAL(h), REAL(d), (int64_t)n, cand, ncand, cap,
                           scalar_int(flags, "flags"), exps, coefs, se, cov, &terms, &df, &stats);
  const int values = code == XYLOTRAK_FIT_OK ? (int)terms + 1 : 0;
  /* The (n+1) x (n+1) covariance is at the start of the maxTerms^2 room. */
  return fit_result_cov(code, values, exps, coefs, se, cov, df, &stats);
}

/* tree: 0-based tree numbers as doubles; random: 0-based term indices. */
SEXP xtk_fit_mixed(SEXP dbh, SEXP height, SEXP h, SEXP d, SEXP tree, SEXP exps, SEXP random) {
  static const char *const names[] = {
      "code",        "exps",        "coefs", "std_errors", "covariance", "random_covariance",
      "residual_sd", "reml_loglik", "rows",  "iterations", "convergence"};
  const R_xlen_t n = fit_rows(dbh, height, h, d);
  need_doubles(tree, n, "tree");
  need_doubles(exps, -1, "exps");
  const R_xlen_t p = XLENGTH(exps);
  if (p < 1 || p > 32768) error("'exps' must hold 1 to 32768 exponents");
  if (TYPEOF(random) != INTSXP || XLENGTH(random) < 1 || XLENGTH(random) > p)
    error("'random' must hold 1 to %lld term indices", (long long)p);
  const int q = (int)XLENGTH(random);
  int64_t *ids = (int64_t *)R_alloc((size_t)(n > 0 ? n : 1), sizeof(int64_t));
  for (R_xlen_t r = 0; r < n; ++r) ids[r] = (int64_t)REAL(tree)[r];
  double *coefs = (double *)R_alloc((size_t)p, sizeof(double));
  double *se = (double *)R_alloc((size_t)p, sizeof(double));
  double *cov = (double *)R_alloc((size_t)(p * p), sizeof(double));
  double *rcov = (double *)R_alloc((size_t)q * (size_t)q, sizeof(double));
  xylotrak_mixed_stats stats;
  memset(&stats, 0, sizeof stats);
  const int code =
      PHFmDll(REAL(dbh), REAL(height), REAL(h), REAL(d), ids, (int64_t)n, REAL(exps), (int)p - 1,
              (const int32_t *)INTEGER(random), q, coefs, se, cov, rcov, &stats);
  SEXP out = PROTECT(named_list(11, names));
  SET_VECTOR_ELT(out, 0, ScalarInteger(code));
  SEXP e = PROTECT(allocVector(REALSXP, p));
  SEXP c = PROTECT(allocVector(REALSXP, p));
  SEXP s = PROTECT(allocVector(REALSXP, p));
  memcpy(REAL(e), REAL(exps), (size_t)p * sizeof(double));
  memcpy(REAL(c), coefs, (size_t)p * sizeof(double));
  memcpy(REAL(s), se, (size_t)p * sizeof(double));
  SET_VECTOR_ELT(out, 1, e);
  SET_VECTOR_ELT(out, 2, c);
  SET_VECTOR_ELT(out, 3, s);
  SET_VECTOR_ELT(out, 4, row_major_matrix(cov, (int)p));
  SET_VECTOR_ELT(out, 5, row_major_matrix(rcov, q));
  SET_VECTOR_ELT(out, 6, ScalarReal(stats.residualSd));
  SET_VECTOR_ELT(out, 7, ScalarReal(stats.remlLogLik));
  SEXP rows = PROTECT(allocVector(REALSXP, 3));
  REAL(rows)[0] = (double)stats.rowsUsed;
  REAL(rows)[1] = (double)stats.rowsSkipped;
  REAL(rows)[2] = (double)stats.trees;
  SET_VECTOR_ELT(out, 8, rows);
  SET_VECTOR_ELT(out, 9, ScalarInteger(stats.iterations));
  SET_VECTOR_ELT(out, 10, ScalarInteger(stats.convergence));
  UNPROTECT(5);
  return out;
}

/*
 * fit: list(coefs, exps, covariance (row-major, n+1 squared), random_terms
 * (integer), random_covariance (row-major), residual_variance,
 * degrees_of_freedom, flags (integer)), in that order. The record points
 * into the list's vectors, which live as long as the call.
 */
static xylotrak_taper_fit fit_record(SEXP fit) {
  if (TYPEOF(fit) != VECSXP || XLENGTH(fit) != 8) error("'fit' must be a list of 8");
  SEXP coefs = VECTOR_ELT(fit, 0), exps = VECTOR_ELT(fit, 1), cov = VECTOR_ELT(fit, 2);
  SEXP terms = VECTOR_ELT(fit, 3), rcov = VECTOR_ELT(fit, 4);
  need_doubles(coefs, -1, "coefs");
  const R_xlen_t p = XLENGTH(coefs);
  if (p < 1 || p > 32768) error("'coefs' must hold 1 to 32768 coefficients");
  need_doubles(exps, p, "exps");
  need_doubles(cov, p * p, "covariance");
  if (TYPEOF(terms) != INTSXP || XLENGTH(terms) > p) error("'random_terms' must be integers");
  const R_xlen_t q = XLENGTH(terms);
  need_doubles(rcov, q * q, "random_covariance");
  xylotrak_taper_fit r;
  memset(&r, 0, sizeof r);
  r.coefs = REAL(coefs);
  r.exps = REAL(exps);
  r.covariance = REAL(cov);
  r.randomTerms = q > 0 ? (const int32_t *)INTEGER(terms) : NULL;
  r.randomCovariance = q > 0 ? REAL(rcov) : NULL;
  r.residualVariance = scalar_double(VECTOR_ELT(fit, 5), "residual_variance");
  r.degreesOfFreedom = scalar_double(VECTOR_ELT(fit, 6), "degrees_of_freedom");
  r.termCount = (int32_t)(p - 1);
  r.randomCount = (int32_t)q;
  r.flags = scalar_int(VECTOR_ELT(fit, 7), "flags");
  return r;
}

/* A list(code, values): values an (m x 3) matrix of value, lower, upper; on
 * the first code other than 0 the rest are NA and code is that code. */
static SEXP interval_result(int code, SEXP values) {
  static const char *const names[] = {"code", "values"};
  SEXP out = PROTECT(named_list(2, names));
  SET_VECTOR_ELT(out, 0, ScalarInteger(code));
  SET_VECTOR_ELT(out, 1, values);
  UNPROTECT(1);
  return out;
}

SEXP xtk_diameter_interval(SEXP fit, SEXP dbh, SEXP height, SEXP h, SEXP kind, SEXP level) {
  const xylotrak_taper_fit r = fit_record(fit);
  need_doubles(h, -1, "h");
  const R_xlen_t m = XLENGTH(h);
  const int k = scalar_int(kind, "kind");
  const double lv = scalar_double(level, "level"), b = scalar_double(dbh, "dbh"),
               H = scalar_double(height, "height");
  SEXP values = PROTECT(allocMatrix(REALSXP, m, 3));
  double *v = REAL(values);
  for (R_xlen_t i = 0; i < 3 * m; ++i) v[i] = NA_REAL;
  int code = XYLOTRAK_FIT_OK;
  for (R_xlen_t i = 0; i < m && code == XYLOTRAK_FIT_OK; ++i)
    code = PHDcDll(&r, b, H, REAL(h)[i], k, lv, v + i, v + m + i, v + 2 * m + i);
  SEXP out = interval_result(code, values);
  UNPROTECT(1);
  return out;
}

/* limits: the section's five limits by name, as for xtk_section. */
SEXP xtk_volume_interval(SEXP fit, SEXP dbh, SEXP height, SEXP limits, SEXP kind, SEXP level) {
  const xylotrak_taper_fit r = fit_record(fit);
  const double *l[5];
  const R_xlen_t m = section_limits(limits, l);
  const int k = scalar_int(kind, "kind");
  const double lv = scalar_double(level, "level"), b = scalar_double(dbh, "dbh"),
               H = scalar_double(height, "height");
  SEXP values = PROTECT(allocMatrix(REALSXP, m, 3));
  double *v = REAL(values);
  for (R_xlen_t i = 0; i < 3 * m; ++i) v[i] = NA_REAL;
  int code = XYLOTRAK_FIT_OK;
  for (R_xlen_t i = 0; i < m && code == XYLOTRAK_FIT_OK; ++i)
    code = PHVcDll(&r, b, H, l[0][i], l[1][i], l[2][i], l[3][i], l[4][i], k, lv, v + i, v + m + i,
                   v + 2 * m + i);
  SEXP out = interval_result(code, values);
  UNPROTECT(1);
  return out;
}

SEXP xtk_calibrate(SEXP fit, SEXP dbh, SEXP height, SEXP h, SEXP d) {
  static const char *const names[] = {"code", "coefs", "covariance", "flags"};
  const xylotrak_taper_fit r = fit_record(fit);
  need_doubles(h, -1, "h");
  const R_xlen_t m = XLENGTH(h);
  need_doubles(d, m, "d");
  if (m > 32767) error("'h' must hold at most 32767 measurements");
  const int p = (int)r.termCount + 1;
  double *coefs = (double *)R_alloc((size_t)p, sizeof(double));
  double *cov = (double *)R_alloc((size_t)p * (size_t)p, sizeof(double));
  int32_t flags = 0;
  static const double none = 0;
  const int code =
      PHCbDll(&r, scalar_double(dbh, "dbh"), scalar_double(height, "height"),
              m > 0 ? REAL(h) : &none, m > 0 ? REAL(d) : &none, (int)m, coefs, cov, &flags);
  SEXP out = PROTECT(named_list(4, names));
  SET_VECTOR_ELT(out, 0, ScalarInteger(code));
  SEXP c = PROTECT(allocVector(REALSXP, p));
  memcpy(REAL(c), coefs, (size_t)p * sizeof(double));
  SET_VECTOR_ELT(out, 1, c);
  SET_VECTOR_ELT(out, 2, row_major_matrix(cov, p));
  SET_VECTOR_ELT(out, 3, ScalarInteger(flags));
  UNPROTECT(2);
  return out;
}

/* The header's constants that the R functions pass or read, by name. */
SEXP xtk_statistics_constants(void) {
  static const char *const names[] = {"fit_tip_zero",         "taper_fit_calibrated",
                                      "interval_confidence",  "interval_prediction",
                                      "calibration_outlying", "fit_not_converged"};
  static const int values[] = {XYLOTRAK_FIT_TIP_ZERO,         XYLOTRAK_TAPER_FIT_CALIBRATED,
                               XYLOTRAK_INTERVAL_CONFIDENCE,  XYLOTRAK_INTERVAL_PREDICTION,
                               XYLOTRAK_CALIBRATION_OUTLYING, XYLOTRAK_FIT_NOT_CONVERGED};
  const int n = (int)(sizeof values / sizeof values[0]);
  SEXP out = PROTECT(allocVector(INTSXP, n));
  SEXP nm = PROTECT(allocVector(STRSXP, n));
  for (int i = 0; i < n; ++i) {
    INTEGER(out)[i] = values[i];
    SET_STRING_ELT(nm, i, mkChar(names[i]));
  }
  setAttrib(out, R_NamesSymbol, nm);
  UNPROTECT(2);
  return out;
}
