/* Uses the installed header and library: the diameter halfway up a cone. */
#include <stdio.h>
#include <xylotrak.h>

int main(void) {
  const double coefs[] = {1.0, -1.0}, exps[] = {0.0, 1.0};
  const double d = PHDiDll(30.0, 20.0, coefs, exps, 1, 10.0);
  printf("diameter at 10 m: %g cm\n", d);
  return d == 15.0 && tally_count(3) == 1 ? 0 : 1;
}
