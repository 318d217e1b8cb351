#include "log/LogFile.h"

#include "platform/PlatformServices.h"

RunLogState RunLog = {0, nullptr};

static const char kBanner[] =
    "\t\t-----------------------------------------\n"
    "\t\t|       MERVODriverStager Log file      |\n"
    "\t\t-----------------------------------------\n"
    "\n";
static const char kClosingLine[] = "\t\t--------------- LOG CLOSED --------------\n";

int OpenLog(const char* path)
{
    if (RunLog.isOpen == 1) {
        CloseLog();
    }
    // A previous run's log may be read-only, hidden or system; clear that so
    // it can be replaced. Fails harmlessly when there is no such file.
    Platform.SetFileAttributesA(path, PS_FILE_ATTRIBUTE_NORMAL);
    FILE* stream = Platform.OpenStream(path, "w");
    if (stream == nullptr) {
        return 0;
    }
    fputs(kBanner, stream);
    RunLog.stream = stream;
    RunLog.isOpen = 1;
    return 1;
}

int ContinueLog(const char* path)
{
    if (RunLog.isOpen == 1) {
        CloseLog();
    }
    FILE* stream = Platform.OpenStream(path, "a");
    if (stream == nullptr) {
        return 0;
    }
    RunLog.stream = stream;
    RunLog.isOpen = 1;
    return 1;
}

int WriteLog(const char* moduleName, const char* functionName, const char* text)
{
    if (RunLog.isOpen == 0) {
        return 1;
    }
    // The C runtime may change the thread's last error while writing.
    uint32_t lastError = Platform.GetLastError();
    PsSystemTime now;
    Platform.GetSystemTime(&now);
    fprintf(RunLog.stream, "%2d-%2d-%4d:%2dH%2dmn%2d'' -  ", now.wDay, now.wMonth, now.wYear, now.wHour,
            now.wMinute, now.wSecond);
    fprintf(RunLog.stream, "%22s - %25s() - %s\n", moduleName, functionName, text);
    // Each line reaches the file at once, so a run that is ended from outside
    // (or a 64-bit build that crashes) leaves every step it took in the log.
    fflush(RunLog.stream);
    Platform.SetLastError(lastError);
    return 0;
}

int CloseLog()
{
    if (RunLog.isOpen == 0) {
        return 1;
    }
    fputs(kClosingLine, RunLog.stream);
    int result = fclose(RunLog.stream);
    RunLog.stream = nullptr;
    RunLog.isOpen = 0;
    return result;
}
