// Finding the bridge's host among corvel's ancestors, over process lists with
// the faults a real one has: parents that are gone, ids given to later
// processes, and parent ids that lead in a circle.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "bridge/host_ancestry.h"
#include "common/exact_text.h"

namespace {

constexpr std::uint32_t self = 100;
constexpr std::uint32_t noHost = 0;
constexpr std::int64_t unknown = -1;

// One line of a fixture list: creation time -1 stands for times that could
// not be read.
struct Listed {
    std::uint32_t id;
    std::uint32_t parentId;
    std::int64_t createdAt;
    WideString name;
};

struct AncestryCase {
    const char* name;
    std::vector<Listed> processes;
    WideString hostName;
    std::uint32_t expectedHost;  // noHost: no ancestor of that name
};

void PrintTo(const AncestryCase& row, std::ostream* out)
{
    *out << row.name;
}

std::vector<ProcessRecord> recordsOf(const std::vector<Listed>& processes)
{
    std::vector<ProcessRecord> records;
    for (const Listed& listed : processes) {
        ProcessRecord record{};
        record.id = listed.id;
        record.parentId = listed.parentId;
        record.createdKnown = listed.createdAt != unknown;
        record.createdAt = record.createdKnown ? static_cast<std::uint64_t>(listed.createdAt) : 0;
        listed.name.copy(record.name, processNameCapacity - 1);
        records.push_back(record);
    }
    return records;
}

// corvel (id 100, created at 50) below a chain of twelve launchers, the
// topmost started by the host.
std::vector<Listed> deepChain()
{
    std::vector<Listed> chain = {{self, 200, 50, u"corvel_x64.exe"}};
    for (std::uint32_t level = 0; level < 12; ++level) {
        chain.push_back({200 + level, 201 + level, 40 - level, u"layer.exe"});
    }
    chain.push_back({212, 7, 10, u"apphost.exe"});
    return chain;
}

const AncestryCase ancestryCases[] = {
    {"parentIsTheHost",
     {{self, 50, 30, u"corvel_x64.exe"}, {50, 4, 20, u"apphost.exe"}},
     u"apphost.exe", 50},
    {"otherProcessesOfTheNameDoNotCount",
     {{60, 4, 10, u"apphost.exe"}, {self, 50, 30, u"corvel_x64.exe"}, {50, 4, 20, u"apphost.exe"},
      {70, 4, 40, u"apphost.exe"}},
     u"apphost.exe", 50},
    {"throughCmd",
     {{self, 60, 30, u"corvel_x64.exe"}, {60, 50, 25, u"cmd.exe"}, {50, 4, 20, u"apphost.exe"}},
     u"apphost.exe", 50},
    {"nearestOfTwoAncestors",
     {{self, 50, 30, u"corvel_x64.exe"}, {50, 60, 20, u"apphost.exe"}, {60, 40, 15, u"cmd.exe"},
      {40, 4, 10, u"apphost.exe"}},
     u"apphost.exe", 50},
    {"deepChain", deepChain(), u"apphost.exe", 212},
    {"sameCreationTimeCounts",
     {{self, 50, 30, u"corvel_x64.exe"}, {50, 4, 30, u"apphost.exe"}},
     u"apphost.exe", 50},
    {"nameIsCaseSensitive",
     {{self, 50, 30, u"corvel_x64.exe"}, {50, 4, 20, u"AppHost.exe"}},
     u"apphost.exe", noHost},
    {"parentMissing",
     {{self, 50, 30, u"corvel_x64.exe"}, {70, 4, 20, u"apphost.exe"}},
     u"apphost.exe", noHost},
    {"reusedIdParentCreatedAfterItsChild",
     {{self, 50, 30, u"corvel_x64.exe"}, {50, 4, 31, u"apphost.exe"}},
     u"apphost.exe", noHost},
    {"matchOnlyBeyondAReusedId",
     {{self, 60, 30, u"corvel_x64.exe"}, {60, 50, 25, u"cmd.exe"}, {50, 4, 26, u"apphost.exe"}},
     u"apphost.exe", noHost},
    {"parentTimesUnknown",
     {{self, 50, 30, u"corvel_x64.exe"}, {50, 4, unknown, u"apphost.exe"}},
     u"apphost.exe", noHost},
    {"ownTimesUnknown",
     {{self, 50, unknown, u"corvel_x64.exe"}, {50, 4, 20, u"apphost.exe"}},
     u"apphost.exe", noHost},
    {"parentIdLoop",
     {{self, 60, 30, u"corvel_x64.exe"}, {60, 61, 20, u"cmd.exe"}, {61, 60, 20, u"launcher.exe"},
      {70, 4, 10, u"apphost.exe"}},
     u"apphost.exe", noHost},
    // corvel met again on the way up is not an ancestor, whatever its name.
    {"loopBackThroughCorvel",
     {{self, 60, 30, u"corvel_x64.exe"}, {60, self, 30, u"cmd.exe"}},
     u"corvel_x64.exe", noHost},
    {"ancestorIsItsOwnParent",
     {{self, 60, 30, u"corvel_x64.exe"}, {60, 60, 20, u"launcher.exe"},
      {70, 4, 10, u"apphost.exe"}},
     u"apphost.exe", noHost},
    {"corvelIsItsOwnParent",
     {{self, self, 30, u"corvel_x64.exe"}},
     u"corvel_x64.exe", noHost},
    {"hostNameIsCorvelsOwn",
     {{self, 50, 30, u"corvel_x64.exe"}, {50, 4, 20, u"apphost.exe"}},
     u"corvel_x64.exe", noHost},
    {"corvelNotListed",
     {{50, 4, 20, u"apphost.exe"}},
     u"apphost.exe", noHost},
    {"emptyList", {}, u"apphost.exe", noHost},
};

class FindHostAncestor : public testing::TestWithParam<AncestryCase> {};

TEST_P(FindHostAncestor, FindsTheNearestAncestorOfTheName)
{
    const AncestryCase& row = GetParam();
    const std::vector<ProcessRecord> records = recordsOf(row.processes);
    const ExactText hostName(row.hostName);
    const ProcessRecord* found =
        findHostAncestor(records.data(), records.size(), self, hostName.get());
    EXPECT_EQ(found == nullptr ? noHost : found->id, row.expectedHost);
}

INSTANTIATE_TEST_SUITE_P(Table, FindHostAncestor, testing::ValuesIn(ancestryCases),
                         [](const testing::TestParamInfo<AncestryCase>& testParam) {
                             return std::string(testParam.param.name);
                         });

}  // namespace
