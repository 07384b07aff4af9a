#include "registry/registry_read.h"

OwnedKey openMachineKey(const wchar_t* path)
{
    OwnedKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        key.release();  // the call may leave anything in the slot on failure
    }
    return key;
}

bool subKeyExists(HKEY parent, const wchar_t* name)
{
    OwnedKey key;
    if (RegOpenKeyExW(parent, name, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        key.release();  // the call may leave anything in the slot on failure
        return false;
    }
    return true;
}

KeyCounts queryKeyCounts(HKEY key)
{
    KeyCounts counts{0, 0};
    // No class buffer: the class is of no use here, and a long one would make
    // the whole query fail for want of room.
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &counts.subKeys, nullptr,
                         nullptr, &counts.values, nullptr, nullptr, nullptr, nullptr)
        != ERROR_SUCCESS) {
        return KeyCounts{0, 0};
    }
    return counts;
}

bool readValueEntry(HKEY key, DWORD index, ValueEntry& entry)
{
    DWORD nameLength = valueNameCapacity;
    DWORD type = 0;
    entry.dataSize = valueDataCapacity;
    return RegEnumValueW(key, index, entry.name, &nameLength, nullptr, &type, entry.data,
                         &entry.dataSize)
           == ERROR_SUCCESS;
}

bool readSubKeyName(HKEY key, DWORD index, wchar_t (&name)[keyNameCapacity])
{
    return RegEnumKeyW(key, index, name, keyNameCapacity) == ERROR_SUCCESS;
}
