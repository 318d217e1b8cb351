// The message boxes the program can show, for the fault sweep and the fuzz
// targets: one list of the documented captions, texts and types.
#pragma once

#include "platform/simulated/SimulatedPlatform.h"

// Whether a message box is one the program can show, with the type it must have.
bool IsDocumentedBox(const SimMessageBox& box);
