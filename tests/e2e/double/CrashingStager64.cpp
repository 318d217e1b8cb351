// Stand-in for MERVODriverStager64.exe that crashes: a write through a null
// pointer, after which the process ends with the exception's code
// (0xC0000005), as a crashed program ends on Windows once its error report
// is done. The handler ends it at once, before the C runtime's handlers or
// Wine's debugger (which would wait for a user) see the exception.
#include <windows.h>

namespace {

LONG WINAPI EndWithTheExceptionCode(EXCEPTION_POINTERS* exception)
{
    TerminateProcess(GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
    return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    AddVectoredExceptionHandler(1, EndWithTheExceptionCode);
    // Both volatile: the pointer is read at run time (no trap of the
    // compiler's own in its place) and the write is not dropped.
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
    return 0;
}
