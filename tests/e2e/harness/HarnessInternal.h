// What the harness's files share among themselves (not for the tests).
#pragma once

#include <gtest/gtest.h>

#include "StagerHarness.h"

namespace e2e {

inline void Fail(const std::string& message)
{
    ADD_FAILURE() << message;
}

// Empties the driver store below a system folder: every run starts from an
// empty one (Packages.cpp says why).
void EmptyDriverStore(const std::string& systemFolder);

// The visible standard message boxes of the process and of every process it
// started, directly or through others.
std::vector<HWND> OpenBoxes(DWORD processId);
// A standard box's caption and message.
MessageBoxSeen ReadBox(HWND box);

}  // namespace e2e
