/* Links a program against the system DLLs that the stager imports (Setup
   API, user interface, registry), so that starting it costs their loading as
   the stager's start does, without calling anything in them. */
#include <windows.h>
#include <setupapi.h>

#include "Imports.h"

void KeepImports(void)
{
    /* Never true; the compiler cannot know, so the imports stay. */
    if (GetCommandLineA() == NULL) {
        HKEY key;
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "", 0, KEY_QUERY_VALUE, &key);
        SetupCopyOEMInfA("", NULL, SPOST_PATH, 0, NULL, 0, NULL, NULL);
        MessageBoxA(NULL, "", "", MB_OK);
    }
}
