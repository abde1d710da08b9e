/* A small host program: the profile, volume and log count of one tree. */
#include <stdio.h>

#include "xylotrak.h"

int main(void) {
  /* A 30 m spruce of 32 cm at breast height; relative profile
   * p(y) = 1.14 - 1.23 y + 1.68 y^2 - 3.14 y^3 + 1.55 y^4 with y = h / 30. */
  const double dbh = 32.0, height = 30.0;
  const double coefs[] = {1.14, -1.23, 1.68, -3.14, 1.55};
  const double exps[] = {0.0, 1.0, 2.0, 3.0, 4.0};
  const int terms = 4;

  printf("Tree: dbh %.1f cm, height %.1f m\n\n", dbh, height);
  printf("  height (m)   diameter (cm)\n");
  for (double h = 0.0; h <= height; h += 3.0)
    printf("  %10.1f   %13.2f\n", h, PHDiDll(dbh, height, coefs, exps, terms, h));

  const double stem = PHViDll(dbh, height, coefs, exps, terms, 0, 0, 0, 0, 0);
  const double merchantable = PHViDll(dbh, height, coefs, exps, terms, 0.3, 0, 0, 7, 0);
  const double top7 = PHHiDll(dbh, height, coefs, exps, terms, 7.0);
  const int logs = PHCTDll(dbh, height, coefs, exps, terms, 0.3, 0, 0, 7, 4.0);
  printf("\nStem volume:                         %.4f m3\n", stem);
  printf("Form factor:                         %.4f\n", PHFFDll(coefs, exps, terms));
  printf("Height of the 7 cm top:              %.2f m\n", top7);
  printf("Volume from 0.3 m to the 7 cm top:   %.4f m3\n", merchantable);
  printf("Whole 4 m logs below the 7 cm top:   %d\n", logs);
  return 0;
}
