#pragma once
// Reading one key: opening below HKLM, its counts, and value enumeration.

#include <windows.h>

#include "common/owned_handle.h"

// Value names may be 16383 units long; the buffer adds the terminator.
constexpr DWORD valueNameCapacity = 16384;
// Value data is read with a capacity of 255 bytes: a larger value fails to
// enumerate and is passed over, as if absent.
constexpr DWORD valueDataCapacity = 255;

struct ValueEntry {
    wchar_t name[valueNameCapacity];
    unsigned char data[valueDataCapacity];
    DWORD dataSize;
};

// KEY_READ below HKEY_LOCAL_MACHINE, in the registry view of the build's word
// size (no view flag: a 32-bit build sees what 32-bit programs see).
OwnedKey openMachineKey(const wchar_t* path);

// Whether parent has a sub-key of that name (compared without regard to case,
// as the registry compares key names) that can be opened for reading.
bool subKeyExists(HKEY parent, const wchar_t* name);

struct KeyCounts {
    DWORD subKeys;
    DWORD values;
};

// A key whose information cannot be read counts as one with nothing in it.
KeyCounts queryKeyCounts(HKEY key);

// Enumerates value `index` into entry; false when the call fails.
bool readValueEntry(HKEY key, DWORD index, ValueEntry& entry);

// Key names are at most 255 units long; the buffer adds the terminator.
constexpr DWORD keyNameCapacity = 256;

// Enumerates the name of sub-key `index`; false when the call fails.
bool readSubKeyName(HKEY key, DWORD index, wchar_t (&name)[keyNameCapacity]);
