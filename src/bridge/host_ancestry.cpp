#include "bridge/host_ancestry.h"

namespace {

const ProcessRecord* findProcess(const ProcessRecord* records, std::size_t count,
                                 std::uint32_t id)
{
    for (std::size_t i = 0; i < count; ++i) {
        if (records[i].id == id) {
            return &records[i];
        }
    }
    return nullptr;
}

// Whether parent may really be child's parent rather than a later process
// that was given the dead parent's id.
bool linkHolds(const ProcessRecord& child, const ProcessRecord& parent)
{
    return child.createdKnown && parent.createdKnown && parent.createdAt <= child.createdAt;
}

}  // namespace

const ProcessRecord* findHostAncestor(const ProcessRecord* records, std::size_t count,
                                      std::uint32_t selfId, const WideChar* hostName)
{
    const ProcessRecord* current = findProcess(records, count, selfId);
    // Each step goes to a process not seen before (equal creation times can
    // close a loop), so a walk longer than the list has met one again.
    for (std::size_t steps = 0; current != nullptr && steps < count; ++steps) {
        if (current->parentId == current->id) {
            return nullptr;  // its own parent, as the idle process is listed
        }
        const ProcessRecord* parent = findProcess(records, count, current->parentId);
        if (parent == nullptr || !linkHolds(*current, *parent)) {
            return nullptr;
        }
        if (parent->id == selfId) {
            return nullptr;  // a loop back through corvel
        }
        if (wideEquals(parent->name, hostName)) {
            return parent;
        }
        current = parent;
    }
    return nullptr;
}
