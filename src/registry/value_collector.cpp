#include "registry/value_collector.h"

#include "common/grow_buffer.h"
#include "registry/registry_read.h"
#include "registry/value_data.h"

namespace {

// One enumeration buffer serves every level of the search: a level is done
// with its values before it descends, so the deeper levels may reuse it. This
// keeps each level's stack frame small however deep the keys nest.
struct SearchScratch {
    ValueEntry entry;
    wchar_t subKeyName[keyNameCapacity];
};

enum class KeyOutcome { cannotOpen, valueHere, searched };

void takeFinding(ValueTable& table, const ValueEntry& entry)
{
    WideChar text[valueDataCapacity / 2];
    addFinding(table, text, valueDataText(entry.data, entry.dataSize, text));
}

bool findValueHere(HKEY key, DWORD valueCount, const wchar_t* valueName, ValueTable& table,
                   SearchScratch& scratch)
{
    for (DWORD index = 0; index < valueCount; ++index) {
        if (readValueEntry(key, index, scratch.entry)
            && wideEquals(scratch.entry.name, valueName)) {
            takeFinding(table, scratch.entry);
            return true;
        }
    }
    return false;
}

KeyOutcome searchKey(ValueTable& table, const wchar_t* keyPath, size_t keyPathLength,
                     const wchar_t* valueName, SearchScratch& scratch)
{
    const OwnedKey key = openMachineKey(keyPath);
    if (!key.valid()) {
        return KeyOutcome::cannotOpen;
    }
    const KeyCounts counts = queryKeyCounts(key.get());
    if (findValueHere(key.get(), counts.values, valueName, table, scratch)) {
        return KeyOutcome::valueHere;
    }
    for (DWORD index = 0; index < counts.subKeys; ++index) {
        if (!readSubKeyName(key.get(), index, scratch.subKeyName)) {
            continue;
        }
        // Paths of any length: deep trees of long names outgrow any fixed buffer.
        GrowBuffer<wchar_t> subKeyPath;
        subKeyPath.append(keyPath, keyPathLength);
        subKeyPath.push(L'\\');
        subKeyPath.append(scratch.subKeyName, wideLength(scratch.subKeyName));
        const size_t subKeyPathLength = subKeyPath.size();
        subKeyPath.push(0);
        if (subKeyPath.failed()) {
            continue;
        }
        // A sub-key that cannot be opened (no access, or gone since the
        // enumeration) yields nothing; the search goes on with its siblings.
        searchKey(table, subKeyPath.data(), subKeyPathLength, valueName, scratch);
    }
    return KeyOutcome::searched;
}

}  // namespace

bool collectRegistryValues(ValueTable& table, const wchar_t* keyPath, const wchar_t* valueName)
{
    SearchScratch scratch;
    const KeyOutcome outcome = searchKey(table, keyPath, wideLength(keyPath), valueName, scratch);
    switch (outcome) {
    case KeyOutcome::cannotOpen:
        return false;
    case KeyOutcome::valueHere:
        return true;
    case KeyOutcome::searched:
        break;
    }
    return table.slots[0][0] != 0;
}
