/*
 * Calls the library's exports directly, for the tests to compare the
 * package's answers with, bit for bit. Usage: direct COMMAND IN OUT, IN and
 * OUT files of native doubles (integers are written as doubles).
 *
 *   taper:   dbh H n coefs[n] exps[n] m h[m] d[m] k (5 limits)[k]
 *            -> PHDiDll[m] PHHiDll[m] PHViDll[k] PHVaDll[k] PHCTDll[k] PHFFDll
 *               PHCkDll-bits digits
 *   buck:    dbh H n coefs[n] exps[n] start top stump trim limit method
 *            objective p (12 inputs)[p]
 *            -> outcome totals[8] (100 rows x 11) (p x 8 results)
 *   formula: which count (arguments)[count]    -> results[count]
 *   area:    count (9 inputs)[count]           -> (area length1 length2)[count]
 *   fit:     rows (dbh H h d)[rows] select n exps[n] | candidates[n] maxTerms
 *            -> code terms exps[terms] coefs[terms] se[terms] stats[5] used skipped
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "xylotrak.h"

static double *in;
static size_t in_count, in_pos;
static FILE *out;

static double next(void) {
  if (in_pos >= in_count) {
    fprintf(stderr, "direct: input too short\n");
    exit(2);
  }
  return in[in_pos++];
}

static const double *take(size_t n) {
  if (in_pos + n > in_count) {
    fprintf(stderr, "direct: input too short\n");
    exit(2);
  }
  const double *p = in + in_pos;
  in_pos += n;
  return p;
}

static void put(double v) { fwrite(&v, sizeof v, 1, out); }

typedef struct {
  double dbh, height;
  const double *coefs, *exps;
  int terms;
} Model;

static Model model(void) {
  Model m;
  m.dbh = next();
  m.height = next();
  const size_t n = (size_t)next();
  m.coefs = take(n);
  m.exps = take(n);
  m.terms = (int)n - 1;
  return m;
}

static void taper(void) {
  const Model m = model();
  const size_t count = (size_t)next();
  const double *h = take(count), *d = take(count);
  const size_t k = (size_t)next();
  const double *lim = take(5 * k);
  for (size_t i = 0; i < count; ++i) put(PHDiDll(m.dbh, m.height, m.coefs, m.exps, m.terms, h[i]));
  for (size_t i = 0; i < count; ++i) put(PHHiDll(m.dbh, m.height, m.coefs, m.exps, m.terms, d[i]));
  for (int kind = 0; kind < 3; ++kind)
    for (size_t i = 0; i < k; ++i) {
      const double *l = lim + 5 * i;
      if (kind == 0)
        put(PHViDll(m.dbh, m.height, m.coefs, m.exps, m.terms, l[0], l[1], l[2], l[3], l[4]));
      else if (kind == 1)
        put(PHVaDll(m.dbh, m.height, m.coefs, m.exps, m.terms, l[0], l[1], l[2], l[3], l[4]));
      else
        put(PHCTDll(m.dbh, m.height, m.coefs, m.exps, m.terms, l[0], l[1], l[2], l[3], l[4]));
    }
  put(PHFFDll(m.coefs, m.exps, m.terms));
  int32_t digits = -1;
  put(PHCkDll(m.dbh, m.height, m.coefs, m.exps, m.terms, &digits));
  put(digits);
}

static void buck(void) {
  const Model m = model();
  const double *hs = take(5);
  const int method = (int)next(), objective = (int)next();
  const size_t p = (size_t)next();
  ProductSpec *table = calloc(p ? p : 1, sizeof *table);
  for (size_t i = 0; i < p; ++i) {
    const double *f = take(12);
    table[i].minTopDiam = f[0];
    table[i].maxTopDiam = f[1];
    table[i].minBaseDiam = f[2];
    table[i].maxBaseDiam = f[3];
    table[i].minLength = f[4];
    table[i].maxLength = f[5];
    table[i].unitPrice = f[6];
    table[i].priceBasis = (int16_t)f[7];
    table[i].logPosition = (int16_t)f[8];
    table[i].heightRule = (int16_t)f[9];
    table[i].lossFraction = f[10];
    table[i].trimLength = f[11];
  }
  LogEntry logs[XYLOTRAK_LOG_ROWS];
  memset(logs, 0, sizeof logs);
  double t[8] = {0};
  double outcome;
  if (method < 0)
    outcome =
        PHVsDll(m.dbh, m.height, m.coefs, m.exps, m.terms, hs[0], hs[1], 0, 0, hs[2], hs[3], hs[4],
                table, (int)p, t, t + 1, t + 2, t + 3, t + 4, t + 5, t + 6, t + 7, logs);
  else
    outcome = (method == 1 ? PHVxDll : PHVoDll)(
        m.dbh, m.height, m.coefs, m.exps, m.terms, hs[0], hs[1], 0, 0, hs[2], hs[3], hs[4], table,
        (int)p, objective, t, t + 1, t + 2, t + 3, t + 4, t + 5, t + 6, t + 7, logs);
  put(outcome);
  for (int i = 0; i < 8; ++i) put(t[i]);
  for (int k = 0; k < XYLOTRAK_LOG_ROWS; ++k) {
    const LogEntry *r = &logs[k];
    put(r->logNumber);
    put(r->productNumber);
    put(r->baseHeight);
    put(r->length);
    put(r->topHeight);
    put(r->trimTopHeight);
    put(r->baseDiam);
    put(r->topDiam);
    put(r->trimTopDiam);
    put(r->volume);
    put(r->value);
  }
  for (size_t i = 0; i < p; ++i) {
    put(table[i].logCount);
    put(table[i].volumeSum);
    put(table[i].valueSum);
    put(table[i].lastTopHeight);
    put(table[i].lastTopDiam);
    put(table[i].lengthSum);
    put(table[i].meanTopDiam);
    put(table[i].weightedTopDiam);
  }
  free(table);
}

static void formula(void) {
  const int which = (int)next();
  const size_t count = (size_t)next();
  for (size_t i = 0; i < count; ++i) {
    double r;
    switch (which) {
      case 0: {
        const double *a = take(1);
        r = gDll(a[0]);
        break;
      }
      case 1: {
        const double *a = take(2);
        r = dgDll(a[0], a[1]);
        break;
      }
      case 2: {
        const double *a = take(2);
        r = VTHuDll(a[0], a[1]);
        break;
      }
      case 3: {
        const double *a = take(3);
        r = VTSmDll(a[0], a[1], a[2]);
        break;
      }
      case 4: {
        const double *a = take(4);
        r = VTNwDll(a[0], a[1], a[2], a[3]);
        break;
      }
      case 5: {
        const double *a = take(3);
        r = VTNeDll(a[0], a[1], a[2]);
        break;
      }
      case 6: {
        const double *a = take(3);
        r = VTCoDll(a[0], a[1], a[2]);
        break;
      }
      default: {
        const double *a = take(2);
        r = VTCiDll(a[0], a[1]);
        break;
      }
    }
    put(r);
  }
}

static void area(void) {
  const size_t count = (size_t)next();
  for (size_t i = 0; i < count; ++i) {
    const double *a = take(9);
    double o[3] = {0, 0, 0};
    CalcAreaDll(a[0], a[1], a[2], a[3], a[4], (int)a[5], (int)a[6], (int)a[7], (int)a[8], &o[0],
                &o[1], &o[2]);
    put(o[0]);
    put(o[1]);
    put(o[2]);
  }
}

static void fit(void) {
  const size_t rows = (size_t)next();
  double *v[4];
  for (int j = 0; j < 4; ++j) v[j] = malloc((rows ? rows : 1) * sizeof(double));
  for (size_t i = 0; i < rows; ++i)
    for (int j = 0; j < 4; ++j) v[j][i] = next();
  const int select = (int)next();
  const size_t n = (size_t)next();
  const double *given = take(n);
  const int cap = (int)next();
  const size_t room = select ? (size_t)cap : n;
  double *exps = calloc(room ? room : 1, sizeof(double));
  double *coefs = calloc(room ? room : 1, sizeof(double));
  double *se = calloc(room ? room : 1, sizeof(double));
  xylotrak_fit_stats s;
  memset(&s, 0, sizeof s);
  int code, terms;
  if (select) {
    int32_t count = 0;
    code = PHFsDll(v[0], v[1], v[2], v[3], (int64_t)rows, n ? given : NULL, (int)n, cap, exps,
                   coefs, se, &count, &s);
    terms = code == 0 ? count + 1 : 0;
  } else {
    memcpy(exps, given, n * sizeof(double));
    code = PHFtDll(v[0], v[1], v[2], v[3], (int64_t)rows, given, (int)n - 1, coefs, se, &s);
    terms = (int)n;
  }
  put(code);
  put(terms);
  for (int i = 0; i < terms; ++i) put(exps[i]);
  for (int i = 0; i < terms; ++i) put(coefs[i]);
  for (int i = 0; i < terms; ++i) put(se[i]);
  put(s.residualStdError);
  put(s.rSquared);
  put(s.bias);
  put(s.diameterRmse);
  put(s.diameterBias);
  put((double)s.rowsUsed);
  put((double)s.rowsSkipped);
}

int main(int argc, char **argv) {
  if (argc != 4) return 2;
  FILE *f = fopen(argv[2], "rb");
  if (!f) return 2;
  size_t cap = 1024;
  in = malloc(cap * sizeof *in);
  for (;;) {
    if (in_count == cap) in = realloc(in, (cap *= 2) * sizeof *in);
    if (fread(&in[in_count], sizeof *in, 1, f) != 1) break;
    ++in_count;
  }
  fclose(f);
  out = fopen(argv[3], "wb");
  if (!out) return 2;
  if (!strcmp(argv[1], "taper"))
    taper();
  else if (!strcmp(argv[1], "buck"))
    buck();
  else if (!strcmp(argv[1], "formula"))
    formula();
  else if (!strcmp(argv[1], "area"))
    area();
  else if (!strcmp(argv[1], "fit"))
    fit();
  else
    return 2;
  return fclose(out) != 0;
}
