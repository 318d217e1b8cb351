// The stager's entry, its run and the companion tool's commands.
#pragma once

#include "app/ArgumentText.h"
#include "inf/INFManager.h"
#include "platform/PlatformServices.h"

// Exit codes of the run.
enum {
    EXIT_OK = 0,
    EXIT_NO_TEMP_FOLDER = 1,
    EXIT_UNSUPPORTED_OS = 2,
    EXIT_NO_DEVICE = 15,
    EXIT_NO_PROGRAM_FOLDER = 21,
    EXIT_STAGING_FAILED = 22,
    EXIT_COPY_FAILED = 23,
};

// The programs the stager starts from its own folder: the companion tool, and
// on 64-bit Windows (from the 32-bit build) the 64-bit build of the stager.
extern const char kCompanionToolName[];
extern const char kStager64Name[];

extern "C" int PS_WINAPI WinMain(PsHandle instance, PsHandle previousInstance, char* argumentText,
                                 int showCommand);

void ShowUsage();
int Default_Pre_Installer();
void ShowLastSystemError();
int RemoveDriverInstances(const char* programFolder, const DeviceIdTable* table);
int RemountDriverInstances(const char* programFolder);
