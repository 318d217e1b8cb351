// The core operations (platform/CoreServices.h) on Windows: one set of thin
// wrappers over the real functions, which the Windows tables of the stager
// and of the companion tool both take.
#pragma once

#include "platform/CoreServices.h"

#define CORE_WIN32_DECLARE(kind, result, name, parameters) \
    result CoreWin##name parameters;  // NOLINT(bugprone-macro-parentheses)
CORE_OPERATIONS(CORE_WIN32_DECLARE)
#undef CORE_WIN32_DECLARE

// The core part of a table's initializer: entry N is CoreWin<name of core
// member N>, made from the same list as the members.
#define CORE_WIN32_ENTRY(kind, result, name, parameters) CoreWin##name,
#define CORE_WIN32_TABLE                  \
    {                                     \
        CORE_OPERATIONS(CORE_WIN32_ENTRY) \
    }
