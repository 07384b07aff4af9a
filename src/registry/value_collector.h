#pragma once
// The search for a named value below a key of HKEY_LOCAL_MACHINE.

#include "registry/value_table.h"

// Searches keyPath and, depth first, its sub-keys for a value named valueName
// (exact, case-sensitive). On each branch the search stops descending at the
// first key that holds the value, so one path can yield several findings, in
// the order the registry enumerates sub-keys. Findings are added to table.
//
// Returns false when keyPath cannot be opened (table untouched), true when the
// value sits at keyPath itself, and otherwise whether slot 0 of the table is
// filled after the search (by this call or an earlier one on the same table).
bool collectRegistryValues(ValueTable& table, const wchar_t* keyPath, const wchar_t* valueName);
