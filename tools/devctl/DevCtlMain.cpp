// Entry of MERVODevCtl.exe (console subsystem; the stager starts it with no
// console window, so its report is only seen when run by hand).
#include "DevCtl.h"

int main(int argc, char** argv)
{
    return RunDevCtl(argc, argv);
}
