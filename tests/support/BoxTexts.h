// The captions and texts of the stager's message boxes as its README gives
// them: one home for the host tests, the documented-box check of the fault
// sweep and the fuzz targets, and the Wine tests. Written out here, not taken
// from the program, so that a changed text fails the tests.
#pragma once

#include <string>

namespace boxes {

inline constexpr char kStagerCaption[] = "MERVODriverStager";
inline constexpr char kErrorCaption[] = "MERVODriverStager Error";
inline constexpr char kLaunchErrorCaption[] = "Device Install Error";

inline constexpr char kSuccess[] = "Driver Pre-install OK: you can now plug your device.";
inline constexpr char kRemoveFailed[] = "Unable to remove driver instances.";
inline constexpr char kRescanFailed[] = "Unable to launch rescan.";
inline constexpr char kNoTempFolder[] = "Unable to get temp directory path !!";
inline constexpr char kInfNameTooLong[] = "Error: INF file name too long !!";
inline constexpr char kInfPathTooLong[] = "Error: INF file path too long !!";
inline constexpr char kStager64Missing[] = "Error: 64-bit stager missing !!";
inline constexpr char kTurnWaitedOut[] =
    "Error: another installation was at work for 300 s: nothing was done, try again later !!";

// The refusal of a system the stager does not run on, by the name the OS
// table gives it.
inline std::string OsRefusal(const std::string& osName)
{
    return "MERVODriverStager can not be run with " + osName + " operating system.";
}

// A box as an unattended run logs it (and the host tests list it): "caption: text".
inline std::string Logged(const std::string& caption, const std::string& text)
{
    return caption + ": " + text;
}

}  // namespace boxes
