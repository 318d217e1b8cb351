// Device instances for Windows-side tests of MERVODevCtl (under Wine or on
// Windows): creates root-enumerated instances with chosen hardware ids in the
// system's device tree, and counts and removes them again. Uses the Setup API
// directly, so a test can check the tool against the real device tree.
#pragma once

#include <cstddef>

// Creates one device instance of the Ports class, named ROOT\PORTS\<nnnn> by
// the system, and gives it the hardware ids `hardwareIds[0..count-1]` (stored
// as one multi-string). Its instance id goes to `instanceId` (`size` bytes)
// when that is given. Returns 0 when done, else the step that failed:
// 1 no device information list, 2 SetupDiCreateDeviceInfoA,
// 3 SetupDiRegisterDeviceInfo, 4 SetupDiSetDeviceRegistryPropertyA, 5 the
// hardware ids do not fit (more than 2000 bytes) or none were given.
int CreateTestDevice(const char* const* hardwareIds, int count, char* instanceId, size_t size);

// The number of device instances, present or not, one of whose hardware ids
// equals `hardwareId` (compared without case); -1 when the device list
// cannot be read.
int CountDevicesWithHardwareId(const char* hardwareId);

// Removes (SetupDiRemoveDevice) every device instance one of whose hardware
// ids equals `hardwareId`; returns how many were removed, -1 when the device
// list cannot be read. For cleaning up after a test.
int RemoveDevicesWithHardwareId(const char* hardwareId);

// Calls `visit` for every device instance, present or not, with its instance
// id and its hardware ids as a multi-string (empty when it has none).
// Returns the number of instances, -1 when the device list cannot be read.
int ForEachDevice(void (*visit)(const char* instanceId, const char* hardwareIds, void* context),
                  void* context);
