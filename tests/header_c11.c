/* The public header compiles as plain C11. */
#include "xylotrak.h"

int xylotrak_header_c11_check(void);
int xylotrak_header_c11_check(void) { return (int)sizeof(&PHDiDll); }
