#include "registry/usb_tree_keys.h"

void FunctionKeys::add(const WideChar* keyName)
{
    if (!isFunctionKey(keyName)) {
        return;
    }
    Name name;
    const std::size_t length = wideLength(keyName);
    for (std::size_t i = 0; i <= length; ++i) {
        name.units[i] = keyName[i];
    }
    names_.push(name);
}

std::size_t FunctionKeys::keysOf(const WideChar* vendor, const WideChar* product,
                                 std::size_t (&indexes)[interfaceNumberCount]) const
{
    std::size_t found = 0;
    for (std::size_t i = 0; i < count() && found < interfaceNumberCount; ++i) {
        if (!isFunctionKeyOf(name(i), vendor, product)) {
            continue;
        }
        // Insertion by interface number, after those of the same number.
        const unsigned number = functionInterfaceNumber(name(i));
        std::size_t at = found;
        while (at > 0 && functionInterfaceNumber(name(indexes[at - 1])) > number) {
            indexes[at] = indexes[at - 1];
            --at;
        }
        indexes[at] = i;
        ++found;
    }
    return found;
}

void ListedDevices::add(const WideChar* keyName)
{
    Identifier entry;
    if (identifierFromDeviceKey(keyName, entry.units) && !listed(entry.units)) {
        identifiers_.push(entry);
    }
}

// From the newest back: in the order Windows and Wine enumerate keys (sorted
// by name), a function key follows its device's own key directly.
bool ListedDevices::listed(const WideChar* identifier) const
{
    for (std::size_t i = identifiers_.size(); i > 0; --i) {
        if (sameDevice(identifiers_.data()[i - 1].units, identifier)) {
            return true;
        }
    }
    return false;
}
