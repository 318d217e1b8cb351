/* The plain variant of a floor program: kernel and C runtime only. */
#include "Imports.h"

void KeepImports(void)
{}
