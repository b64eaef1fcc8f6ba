#pragma once
// The exported entry of the AF analysis screen, as the host resolves it by
// name after loading libPRQ05100.

#include "framework/value.h"

extern "C" {

// Opens the analysis on [purchasing centre, tally number]; a missing or
// empty value is an error naming it, raised before anything opens.
void IniProc(const apura::Value& Param);
}
