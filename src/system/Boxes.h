// The stager's one way to show a message box, also where nobody can see it.
#pragma once

#include <cstdint>

// Shows a modal box with no owner window and returns when it is answered.
// In a window station that is not visible (a service's, a deployment
// agent's) such a box could never be answered and the run would never end:
// there the box is not shown, its caption and text go to the run log as one
// line instead, and the call returns at once as if the box had been
// answered. When the window station cannot be asked, the box is shown.
// Asking leaves the thread's last error as it found it.
void ShowBox(const char* text, const char* caption, uint32_t type);

// The box that explains the thread's last error: the system's text for it,
// or where the system has none, the code (with its cause for a driver
// signature code); caption "Error", an information icon.
void ShowLastSystemError();

// The start of the log line of a box that was not shown.
extern const char kBoxNotShown[];
