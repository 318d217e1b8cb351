/* The floor of any program start under Wine: a GUI-subsystem program, like
   the stager, that ends at once. Linked with NoImports.c it loads only the
   kernel and the C runtime; with StagerImports.c also the stager's DLLs. */
#include <windows.h>

#include "Imports.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)show;
    KeepImports();
    return 0;
}
