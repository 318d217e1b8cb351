/* Which system DLLs a floor program loads at its start: the variant linked
   with StagerImports.c loads those of the stager, NoImports.c none more. */
#pragma once

void KeepImports(void);
