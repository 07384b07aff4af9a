#pragma once
// The command keywords.

#include "common/wide.h"

enum class Command { getUsbPort, getPcIdentification, open, listUsbPorts, none };

// Compares keyword with "getUSBPort", "getPCIdentification", "open" and
// "listUSBPorts", in that order, exactly: same characters, same case, same length.
Command matchCommand(const WideChar* keyword);
