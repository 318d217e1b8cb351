// The stager's entry, its run and the companion tool's commands.
#pragma once

#include "app/ArgumentText.h"
#include "common/Names.h"
#include "inf/INFManager.h"
#include "platform/PlatformServices.h"

// The entry, declared with the seam's types: a file that includes <windows.h>
// takes the names and exit codes from common/Names.h instead.
extern "C" int PS_WINAPI WinMain(PsHandle instance, PsHandle previousInstance, char* argumentText,
                                 int showCommand);

void ShowUsage();
int Default_Pre_Installer();
int RemoveDriverInstances(const char* programFolder, const DeviceIdTable* table);
int RemountDriverInstances(const char* programFolder);
