// The two byte pumps of the bridge, run against in-memory ends.
//
// Each fake end plays a script of read results, write outcomes and status
// answers and records what the pump did with it; the fake sleep records its
// calls and moves the fake clock on. All of it goes into one event list, so the
// order of reads, writes, flushes, error clearing and sleeps can be checked as
// a whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "bridge/pump.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Events = std::vector<std::string>;

// The size of one read as the bridge is meant to work: 4096 bytes at most.
constexpr std::uint32_t chunkSize = 4096;

// Past these, a pump is taken to be stuck: the test fails and the bridge stops.
constexpr std::size_t runawaySleeps = 1000;
constexpr std::size_t runawayReads = 100000;

struct Bridge {
    std::atomic<bool> running{true};
    PortLossWatch loss;
    std::uint64_t nowMs = 0;  // the fake clock: only sleeps move it
    Events events;
    std::size_t sleeps = 0;
    std::size_t stopAfterSleeps = 0;  // 0: the sleep never stops the bridge
};

// The sleep function is a plain function pointer, so it finds the test's
// bridge through this.
Bridge* activeBridge = nullptr;

void fakeSleep(std::uint32_t milliseconds)
{
    Bridge& bridge = *activeBridge;
    bridge.events.push_back("sleep " + std::to_string(milliseconds));
    ++bridge.sleeps;
    if (bridge.stopAfterSleeps != 0 && bridge.sleeps >= bridge.stopAfterSleeps) {
        bridge.running = false;
    }
    if (bridge.sleeps >= runawaySleeps) {
        ADD_FAILURE() << "the pump keeps sleeping: stopped after " << bridge.sleeps << " sleeps";
        bridge.running = false;
    }
    bridge.nowMs += milliseconds;
}

std::uint64_t fakeNow()
{
    return activeBridge->nowMs;
}

class FakeEnd final : public PumpEnd {
public:
    FakeEnd(const char* name, Bridge& bridge) : name_(name), bridge_(bridge) {}

    // --- Read script, played in order ---

    // Bytes waiting; a read takes at most its capacity and leaves the rest
    // for the next read, as a port with more than a buffer waiting does.
    void queueData(Bytes bytes) { reads_.push_back({ReadKind::data, std::move(bytes)}); }
    void queueEmpty() { reads_.push_back({ReadKind::empty, {}}); }
    // A read that fails after moving `partial` bytes (none for a broken pipe).
    void queueFailedRead(Bytes partial = {})
    {
        reads_.push_back({ReadKind::failed, std::move(partial)});
    }
    // A line error: this read fails, and so does every read and write after
    // it, until clearError() is called.
    void queueLineError() { reads_.push_back({ReadKind::lineError, {}}); }
    void startInLineError() { lineError_ = true; }
    // When the script has run out, reads come back empty. By default the
    // first such read also stops the bridge, so that the pump returns.
    void stayIdleWhenDrained() { stopWhenDrained_ = false; }

    // --- Write script: each write takes at most `accepted` bytes and reports
    // `ok`; writes past the script take everything ---
    void queueWrite(std::uint32_t accepted, bool ok) { writes_.push_back({accepted, ok}); }

    // --- Status script: the error code each status query fails with, 0 for
    // an answer; past the script, every query gives `afterScript` ---
    void queueStatus(std::uint32_t errorCode) { statuses_.push_back(errorCode); }
    void statusAfterScript(std::uint32_t errorCode) { statusAfterScript_ = errorCode; }

    IoResult read(unsigned char* buffer, std::uint32_t capacity) override
    {
        record("read");
        readCapacities.push_back(capacity);
        if (++readCount_ >= runawayReads) {
            ADD_FAILURE() << name_ << " read " << readCount_ << " times: the pump does not stop";
            bridge_.running = false;
            return IoResult{0, true};
        }
        if (lineError_) {
            return IoResult{0, false};
        }
        if (reads_.empty()) {
            if (stopWhenDrained_) {
                bridge_.running = false;
            }
            return IoResult{0, true};
        }
        ReadStep& step = reads_.front();
        switch (step.kind) {
        case ReadKind::empty:
            reads_.pop_front();
            return IoResult{0, true};
        case ReadKind::lineError:
            reads_.pop_front();
            lineError_ = true;
            return IoResult{0, false};
        case ReadKind::data:
        case ReadKind::failed:
            break;
        }
        const std::size_t count = std::min<std::size_t>(step.bytes.size(), capacity);
        std::copy_n(step.bytes.begin(), count, buffer);
        const bool ok = step.kind == ReadKind::data;
        if (ok && count < step.bytes.size()) {
            step.bytes.erase(step.bytes.begin(), step.bytes.begin() + count);
        } else {
            reads_.pop_front();
        }
        return IoResult{static_cast<std::uint32_t>(count), ok};
    }

    IoResult write(const unsigned char* buffer, std::uint32_t count) override
    {
        record("write " + std::to_string(count));
        writeAttempts.emplace_back(buffer, buffer + count);
        if (lineError_) {
            return IoResult{0, false};
        }
        WriteStep step{count, true};
        if (!writes_.empty()) {
            step = writes_.front();
            writes_.pop_front();
        }
        const std::uint32_t accepted = std::min(step.accepted, count);
        delivered.insert(delivered.end(), buffer, buffer + accepted);
        return IoResult{accepted, step.ok};
    }

    void flush() override { record("flush"); }

    bool clearError() override
    {
        record("clearError");
        ++clearErrorCalls;
        std::uint32_t errorCode = statusAfterScript_;
        if (!statuses_.empty()) {
            errorCode = statuses_.front();
            statuses_.pop_front();
        }
        statusTimes.push_back(bridge_.nowMs);
        if (errorCode != 0) {
            // A port that cannot be queried cannot be cleared either; the
            // Win32 end answers the same way from the query's error code.
            return !statusErrorMeansFailure(errorCode);
        }
        lineError_ = false;
        return true;
    }

    Bytes delivered;                    // the bytes this end took in, in order
    std::vector<Bytes> writeAttempts;   // every write as the pump made it
    std::vector<std::uint32_t> readCapacities;
    std::vector<std::uint64_t> statusTimes;  // the fake clock at each status query
    int clearErrorCalls = 0;

private:
    enum class ReadKind { data, empty, failed, lineError };
    struct ReadStep {
        ReadKind kind;
        Bytes bytes;
    };
    struct WriteStep {
        std::uint32_t accepted;
        bool ok;
    };

    void record(const std::string& what) { bridge_.events.push_back(name_ + "." + what); }

    std::string name_;
    Bridge& bridge_;
    std::deque<ReadStep> reads_;
    std::deque<WriteStep> writes_;
    std::deque<std::uint32_t> statuses_;
    std::uint32_t statusAfterScript_ = 0;
    bool lineError_ = false;
    bool stopWhenDrained_ = true;
    std::size_t readCount_ = 0;
};

Bytes allByteValues()
{
    Bytes bytes;
    for (unsigned value = 0; value <= 0xFF; ++value) {
        bytes.push_back(static_cast<unsigned char>(value));
    }
    return bytes;
}

// Bytes that run through every value and differ from chunk to chunk.
Bytes pattern(std::size_t count, unsigned seed)
{
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<unsigned char>(i * 7 + seed * 31);
    }
    return bytes;
}

Bytes text(const std::string& characters)
{
    return Bytes(characters.begin(), characters.end());
}

Bytes join(const std::vector<Bytes>& parts)
{
    Bytes whole;
    for (const Bytes& part : parts) {
        whole.insert(whole.end(), part.begin(), part.end());
    }
    return whole;
}

Bytes slice(const Bytes& bytes, std::size_t from, std::size_t to)
{
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                 bytes.begin() + static_cast<std::ptrdiff_t>(to));
}

// Byte streams are long: on a mismatch, tell where they part, not the first
// 32 bytes of each.
testing::AssertionResult sameBytes(const Bytes& actual, const Bytes& expected)
{
    const auto parted =
        std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    if (parted.first == actual.end() && parted.second == expected.end()) {
        return testing::AssertionSuccess();
    }
    auto failure = testing::AssertionFailure();
    failure << "got " << actual.size() << " bytes, expected " << expected.size()
            << "; they differ from offset " << (parted.first - actual.begin());
    if (parted.first != actual.end() && parted.second != expected.end()) {
        failure << " (got " << static_cast<int>(*parted.first) << ", expected "
                << static_cast<int>(*parted.second) << ')';
    }
    return failure;
}

// One chunk passed on: read from one end, written to the other and flushed.
void addPassed(Events& events, const std::string& from, const std::string& to, std::size_t count)
{
    events.push_back(from + ".read");
    events.push_back(to + ".write " + std::to_string(count));
    events.push_back(to + ".flush");
}

class PumpTest : public testing::Test {
protected:
    void SetUp() override { activeBridge = &bridge; }
    void TearDown() override { activeBridge = nullptr; }

    void runConsoleToPort() { relayConsoleToPort(console, port, control); }
    void runPortToConsole() { relayPortToConsole(port, console, control); }

    static void expectFullChunkReads(const FakeEnd& end)
    {
        for (const std::uint32_t capacity : end.readCapacities) {
            EXPECT_EQ(capacity, chunkSize);
        }
    }

    Bridge bridge;
    FakeEnd console{"console", bridge};
    FakeEnd port{"port", bridge};
    const PumpControl control{bridge.running, bridge.loss, fakeSleep, fakeNow};
};

TEST_F(PumpTest, NeitherPumpTouchesAnythingWhenNotRunning)
{
    bridge.running = false;
    console.queueData(text("abc"));
    port.queueData(text("def"));
    runConsoleToPort();
    runPortToConsole();
    EXPECT_EQ(bridge.events, Events{});
}

// --- Standard input to the port ---

// Every byte value, a full 4096-byte chunk, a single zero byte, and more than
// a chunk waiting at once: one port write per read, each followed by a flush.
TEST_F(PumpTest, ConsoleToPortPassesEveryByteUnchangedAndFlushesEachWrite)
{
    const std::vector<Bytes> chunks = {allByteValues(), pattern(4096, 1), Bytes{0},
                                       pattern(5000, 2)};
    for (const Bytes& chunk : chunks) {
        console.queueData(chunk);
    }

    runConsoleToPort();

    EXPECT_TRUE(sameBytes(port.delivered, join(chunks)));
    Events expected;
    for (const std::size_t count : {256u, 4096u, 1u, 4096u, 904u}) {
        addPassed(expected, "console", "port", count);
    }
    expected.insert(expected.end(), {"console.read", "sleep 10"});
    EXPECT_EQ(bridge.events, expected);
    expectFullChunkReads(console);
    EXPECT_EQ(port.clearErrorCalls, 0);
}

enum class EmptyRead { nothingYet, brokenPipe };

void PrintTo(EmptyRead kind, std::ostream* out)
{
    *out << (kind == EmptyRead::nothingYet ? "nothingYet" : "brokenPipe");
}

class ConsoleEmptyRead : public PumpTest, public testing::WithParamInterface<EmptyRead> {};

// Nothing typed yet, end of input, or a broken pipe: each is one empty read,
// one 10 ms sleep, and the pump reads again.
TEST_P(ConsoleEmptyRead, SleepsTenMillisecondsAndReadsAgain)
{
    for (int i = 0; i < 2; ++i) {
        if (GetParam() == EmptyRead::nothingYet) {
            console.queueEmpty();
        } else {
            console.queueFailedRead();
        }
    }
    console.queueData(text("ok"));

    runConsoleToPort();

    EXPECT_TRUE(sameBytes(port.delivered, text("ok")));
    const Events expected = {"console.read", "sleep 10",        "console.read",
                             "sleep 10",     "console.read",    "port.write 2",
                             "port.flush",   "console.read",    "sleep 10"};
    EXPECT_EQ(bridge.events, expected);
}

INSTANTIATE_TEST_SUITE_P(Kinds, ConsoleEmptyRead,
                         testing::Values(EmptyRead::nothingYet, EmptyRead::brokenPipe),
                         [](const testing::TestParamInfo<EmptyRead>& testParam) {
                             return testParam.param == EmptyRead::nothingYet ? "nothingYet"
                                                                        : "brokenPipe";
                         });

TEST_F(PumpTest, ConsoleToPortIdleLoopEndsWhenRunningIsCleared)
{
    console.stayIdleWhenDrained();
    bridge.stopAfterSleeps = 3;
    runConsoleToPort();
    const Events expected = {"console.read", "sleep 10", "console.read",
                             "sleep 10",     "console.read", "sleep 10"};
    EXPECT_EQ(bridge.events, expected);
    EXPECT_EQ(port.writeAttempts.size(), 0u);
}

// A port write that fails: the port's error is cleared and what it did not
// take is written once more; a second failure is cleared too, and then the
// pump goes on with the next chunk. A write that succeeds short is not
// retried: the write time-out decided to drop the rest.
struct WriteFailureCase {
    const char* name;
    std::vector<std::pair<std::uint32_t, bool>> writes;  // accepted, ok
    Events chunkEvents;                                  // after the console read
    std::size_t delivered;                               // of the 100-byte chunk
};

void PrintTo(const WriteFailureCase& row, std::ostream* out)
{
    *out << row.name;
}

const WriteFailureCase writeFailureCases[] = {
    {"nothingWritten",
     {{0, false}, {100, true}},
     {"port.write 100", "port.clearError", "port.write 100", "port.flush"},
     100},
    {"partWritten",
     {{40, false}, {60, true}},
     {"port.write 100", "port.clearError", "port.write 60", "port.flush"},
     100},
    {"retryFailsToo",
     {{40, false}, {10, false}},
     {"port.write 100", "port.clearError", "port.write 60", "port.clearError", "port.flush"},
     50},
    {"failedAfterWritingAll",
     {{100, false}},
     {"port.write 100", "port.clearError", "port.flush"},
     100},
    {"shortWithoutError", {{40, true}}, {"port.write 100", "port.flush"}, 40},
};

class PortWriteFailure : public PumpTest,
                         public testing::WithParamInterface<WriteFailureCase> {};

TEST_P(PortWriteFailure, ClearsTheErrorAndRetriesTheRestOnce)
{
    const WriteFailureCase& row = GetParam();
    const Bytes chunk = pattern(100, 3);
    console.queueData(chunk);
    console.queueData(text("xyz"));
    for (const auto& write : row.writes) {
        port.queueWrite(write.first, write.second);
    }

    runConsoleToPort();

    EXPECT_TRUE(
        sameBytes(port.delivered, join({slice(chunk, 0, row.delivered), text("xyz")})));
    Events expected = {"console.read"};
    expected.insert(expected.end(), row.chunkEvents.begin(), row.chunkEvents.end());
    addPassed(expected, "console", "port", 3);
    expected.insert(expected.end(), {"console.read", "sleep 10"});
    EXPECT_EQ(bridge.events, expected);
}

INSTANTIATE_TEST_SUITE_P(Table, PortWriteFailure, testing::ValuesIn(writeFailureCases),
                         [](const testing::TestParamInfo<WriteFailureCase>& testParam) {
                             return std::string(testParam.param.name);
                         });

// After a line error the port refuses everything until its error is cleared:
// the first chunk still gets through, and so does everything after it.
TEST_F(PumpTest, ConsoleToPortRecoversFromALineError)
{
    port.startInLineError();
    console.queueData(text("abc"));
    console.queueData(text("def"));

    runConsoleToPort();

    EXPECT_TRUE(sameBytes(port.delivered, text("abcdef")));
    const Events expected = {"console.read", "port.write 3", "port.clearError", "port.write 3",
                             "port.flush",   "console.read", "port.write 3",    "port.flush",
                             "console.read", "sleep 10"};
    EXPECT_EQ(bridge.events, expected);
}

// --- The port to standard output ---

// Everything waiting is drained read after read without a pause, more than
// 4096 bytes coming out as several writes in order; only the empty read that
// ends a burst is followed by a sleep.
TEST_F(PumpTest, PortToConsoleDrainsWithoutSleepingBetweenReads)
{
    const Bytes firstBurstStart = allByteValues();
    const Bytes firstBurstRest = pattern(10000, 4);
    const Bytes secondBurst = {'\r', '\n', 0, 0xFF};
    port.queueData(firstBurstStart);
    port.queueData(firstBurstRest);
    port.queueEmpty();
    port.queueData(secondBurst);

    runPortToConsole();

    EXPECT_TRUE(
        sameBytes(console.delivered, join({firstBurstStart, firstBurstRest, secondBurst})));
    Events expected;
    for (const std::size_t count : {256u, 4096u, 4096u, 1808u}) {
        addPassed(expected, "port", "console", count);
    }
    expected.insert(expected.end(), {"port.read", "sleep 10"});
    addPassed(expected, "port", "console", 4);
    expected.insert(expected.end(), {"port.read", "sleep 10"});
    EXPECT_EQ(bridge.events, expected);
    expectFullChunkReads(port);
    EXPECT_EQ(port.clearErrorCalls, 0);
}

TEST_F(PumpTest, PortToConsoleSleepsOnceAfterEachEmptyReadUntilStopped)
{
    port.stayIdleWhenDrained();
    bridge.stopAfterSleeps = 3;
    runPortToConsole();
    const Events expected = {"port.read", "sleep 10", "port.read",
                             "sleep 10",  "port.read", "sleep 10"};
    EXPECT_EQ(bridge.events, expected);
    EXPECT_EQ(console.writeAttempts.size(), 0u);
}

// A failed port read (a time-out is no failure; a line error or an invalid
// handle is) clears the port's error and ends the burst like an empty read.
// Bytes it did move are still delivered.
struct FailedReadCase {
    const char* name;
    Bytes partial;
};

void PrintTo(const FailedReadCase& row, std::ostream* out)
{
    *out << row.name;
}

class PortReadFailure : public PumpTest, public testing::WithParamInterface<FailedReadCase> {};

TEST_P(PortReadFailure, ClearsTheErrorAndCountsAsEmpty)
{
    const Bytes& partial = GetParam().partial;
    port.queueData(text("ab"));
    port.queueFailedRead(partial);
    port.queueData(text("cd"));

    runPortToConsole();

    EXPECT_TRUE(sameBytes(console.delivered, join({text("ab"), partial, text("cd")})));
    EXPECT_EQ(port.clearErrorCalls, 1);

    // The error is cleared after the failed read and before the next one.
    std::vector<std::size_t> reads;
    std::size_t cleared = bridge.events.size();
    Events withoutClearing;
    for (std::size_t i = 0; i < bridge.events.size(); ++i) {
        if (bridge.events[i] == "port.read") {
            reads.push_back(i);
        }
        if (bridge.events[i] == "port.clearError") {
            cleared = i;
        } else {
            withoutClearing.push_back(bridge.events[i]);
        }
    }
    ASSERT_GE(reads.size(), 3u);
    EXPECT_GT(cleared, reads[1]);
    EXPECT_LT(cleared, reads[2]);

    Events expected;
    addPassed(expected, "port", "console", 2);
    expected.push_back("port.read");
    if (!partial.empty()) {
        expected.push_back("console.write " + std::to_string(partial.size()));
        expected.push_back("console.flush");
    }
    expected.push_back("sleep 10");
    addPassed(expected, "port", "console", 2);
    expected.insert(expected.end(), {"port.read", "sleep 10"});
    EXPECT_EQ(withoutClearing, expected);
}

INSTANTIATE_TEST_SUITE_P(Kinds, PortReadFailure,
                         testing::Values(FailedReadCase{"nothingRead", {}},
                                         FailedReadCase{"partRead", {'p', 0, 0xFF, '\n', 'q'}}),
                         [](const testing::TestParamInfo<FailedReadCase>& testParam) {
                             return std::string(testParam.param.name);
                         });

// A port that starts in a line error, and a line error in the middle of the
// traffic: each is cleared, and the bytes after it still come through.
TEST_F(PumpTest, PortToConsoleRecoversFromLineErrors)
{
    port.startInLineError();
    port.queueData(text("abc"));
    port.queueLineError();
    port.queueData(text("def"));

    runPortToConsole();

    EXPECT_TRUE(sameBytes(console.delivered, text("abcdef")));
    EXPECT_EQ(port.clearErrorCalls, 2);
    const Events expected = {
        "port.read", "port.clearError", "sleep 10",
        "port.read", "console.write 3", "console.flush",
        "port.read", "port.clearError", "sleep 10",
        "port.read", "console.write 3", "console.flush",
        "port.read", "sleep 10"};
    EXPECT_EQ(bridge.events, expected);
}

// Standard output refusing a write (the host closed its end, say) does not
// stop the pump: the next chunk is still read and written.
TEST_F(PumpTest, PortToConsoleGoesOnAfterAFailedConsoleWrite)
{
    console.queueWrite(0, false);
    port.queueData(text("abc"));
    port.queueEmpty();
    port.queueData(text("def"));

    runPortToConsole();

    EXPECT_EQ(console.writeAttempts, (std::vector<Bytes>{text("abc"), text("def")}));
    EXPECT_TRUE(sameBytes(console.delivered, text("def")));
}

// --- A port that goes away ---

// Error codes as a status query fails with them.
constexpr std::uint32_t answered = 0;
constexpr std::uint32_t invalidFunction = 1;
constexpr std::uint32_t accessDenied = 5;
constexpr std::uint32_t notReady = 21;  // Wine's port on a closed pty
constexpr std::uint32_t badCommand = 22;
constexpr std::uint32_t invalidParameter = 87;

// Statuses queried on a quiet line, one every 200 ms, and sooner (100 ms after
// it) to confirm a failure: the port is gone once a failure is confirmed with
// no answer in between, and then the pump returns. Some drivers fail the query
// on healthy ports with codes 1 or 87, which must never end the bridge.
struct QuietLineCase {
    const char* name;
    std::vector<std::uint32_t> statuses;  // the first queries' answers
    std::uint32_t afterwards;             // every later query's
    std::vector<std::uint64_t> queryTimes;  // fake ms of the first queries
    bool lost;
};

void PrintTo(const QuietLineCase& row, std::ostream* out)
{
    *out << row.name;
}

const QuietLineCase quietLineCases[] = {
    {"healthy", {}, answered, {200, 400, 600}, false},
    {"goneNotReady", {}, notReady, {200, 300}, true},
    {"goneAccessDenied", {}, accessDenied, {200, 300}, true},
    {"goneBadCommand", {}, badCommand, {200, 300}, true},
    {"failsOnceThenHealthy", {notReady}, answered, {200, 300, 500}, false},
    {"failsEveryOtherQuery", {notReady, answered, notReady, answered}, answered,
     {200, 300, 500, 600, 800}, false},
    {"invalidParameterOnAHealthyPort", {}, invalidParameter, {200, 400, 600}, false},
    {"invalidFunctionOnAHealthyPort", {}, invalidFunction, {200, 400, 600}, false},
};

class QuietLineStatus : public PumpTest, public testing::WithParamInterface<QuietLineCase> {};

TEST_P(QuietLineStatus, EndsThePumpOnlyWhenTheFailureIsConfirmed)
{
    const QuietLineCase& row = GetParam();
    for (const std::uint32_t status : row.statuses) {
        port.queueStatus(status);
    }
    port.statusAfterScript(row.afterwards);
    port.stayIdleWhenDrained();
    bridge.stopAfterSleeps = 300;  // 3 s of quiet line

    runPortToConsole();

    EXPECT_EQ(bridge.loss.lost(), row.lost);
    ASSERT_GE(port.statusTimes.size(), row.queryTimes.size());
    const std::vector<std::uint64_t> firstTimes(
        port.statusTimes.begin(),
        port.statusTimes.begin() + static_cast<std::ptrdiff_t>(row.queryTimes.size()));
    EXPECT_EQ(firstTimes, row.queryTimes);
    if (row.lost) {
        // Returned at the confirming query, not at the sleeps' end.
        EXPECT_EQ(bridge.nowMs, row.queryTimes.back());
        EXPECT_EQ(bridge.events.back(), "port.clearError");
    } else {
        EXPECT_EQ(bridge.sleeps, 300u);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, QuietLineStatus, testing::ValuesIn(quietLineCases),
                         [](const testing::TestParamInfo<QuietLineCase>& testParam) {
                             return std::string(testParam.param.name);
                         });

// Bytes the device sent before it went away all reach the console before the
// pump returns, however they were split into reads.
TEST_F(PumpTest, PortToConsoleWritesEverythingReadBeforeItEndsForALostPort)
{
    const Bytes burst = pattern(10000, 5);
    port.queueData(burst);
    port.queueFailedRead(text("tail"));  // the last read, cut short by the loss
    port.statusAfterScript(badCommand);
    port.stayIdleWhenDrained();

    runPortToConsole();

    EXPECT_TRUE(bridge.loss.lost());
    EXPECT_TRUE(sameBytes(console.delivered, join({burst, text("tail")})));
    // The failed read starts the clock at 0, the query at 100 ms confirms it.
    EXPECT_EQ(port.statusTimes, (std::vector<std::uint64_t>{0, 100}));
}

// Reads that keep failing, as a removed device's do on Windows: each failure
// is a status query, and the pump ends 100 ms after the first.
TEST_F(PumpTest, PortToConsoleEndsWhenEveryReadFailsOnALostPort)
{
    port.startInLineError();  // every read fails: nothing clears it
    port.statusAfterScript(accessDenied);
    port.stayIdleWhenDrained();
    bridge.stopAfterSleeps = 300;

    runPortToConsole();

    EXPECT_TRUE(bridge.loss.lost());
    EXPECT_EQ(bridge.nowMs, 100u);
    EXPECT_TRUE(console.writeAttempts.empty());
}

// Two failures close together (a failed read and the quiet-line query at the
// same moment, say) are not yet a loss: the confirmation needs 100 ms.
TEST_F(PumpTest, FailuresWithinTheConfirmationPauseAreNotALoss)
{
    port.queueFailedRead();
    port.queueFailedRead();
    port.queueStatus(notReady);
    port.queueStatus(notReady);
    port.stayIdleWhenDrained();
    bridge.stopAfterSleeps = 50;

    runPortToConsole();

    EXPECT_FALSE(bridge.loss.lost());
    // 0 and 10 ms fail; 100 ms answers.
    EXPECT_EQ(port.statusTimes, (std::vector<std::uint64_t>{0, 10, 100, 300}));
}

// Writes to the port: a write that fails has the port's status queried; a
// write that merely took less than it was given (its time-out ran out) is no
// failure. Once the port is lost, the pump returns: what the host writes has
// nowhere to go.
struct LostWriteCase {
    const char* name;
    std::pair<std::uint32_t, bool> firstWrite;  // accepted of 100, ok
    std::uint32_t status;                        // every query's answer
    std::vector<std::uint64_t> queryTimes;       // fake ms of every query
    bool lost;
};

void PrintTo(const LostWriteCase& row, std::ostream* out)
{
    *out << row.name;
}

// The first chunk's write (and its retry) at 0 ms; the next chunk's write
// fails at 100 ms, and its retry, if it gets one, succeeds.
const LostWriteCase lostWriteCases[] = {
    {"failsOnAGonePort", {0, false}, notReady, {0, 0, 100}, true},
    {"failsOnAHealthyPort", {0, false}, answered, {0, 0, 100}, false},
    {"failsWithInvalidParameterStatus", {0, false}, invalidParameter, {0, 0, 100}, false},
    // No query for the short write; the next chunk's failures come at one
    // moment, which confirms nothing.
    {"shortWithoutError", {40, true}, notReady, {100, 100}, false},
};

class PortWriteLoss : public PumpTest, public testing::WithParamInterface<LostWriteCase> {};

TEST_P(PortWriteLoss, EndsThePumpOnlyForAPortThatIsGone)
{
    const LostWriteCase& row = GetParam();
    port.queueWrite(row.firstWrite.first, row.firstWrite.second);
    port.queueWrite(0, false);
    port.queueWrite(0, false);
    port.statusAfterScript(row.status);
    console.queueData(pattern(100, 6));
    for (int i = 0; i < 10; ++i) {
        console.queueEmpty();  // 100 ms of nothing from the host
    }
    console.queueData(text("late"));

    runConsoleToPort();

    EXPECT_EQ(bridge.loss.lost(), row.lost);
    EXPECT_EQ(port.statusTimes, row.queryTimes);
    if (row.lost) {
        // Nothing more is read from the host once the port is lost.
        EXPECT_EQ(bridge.events.back(), "port.flush");
        EXPECT_EQ(console.readCapacities.size(), 12u);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, PortWriteLoss, testing::ValuesIn(lostWriteCases),
                         [](const testing::TestParamInfo<LostWriteCase>& testParam) {
                             return std::string(testParam.param.name);
                         });

// The two pumps share one watch: a failed write to the port starts the clock,
// and the other pump's quiet-line query confirms the loss 100 ms later.
TEST_F(PumpTest, AFailedWriteAndAQuietLineQueryConfirmEachOther)
{
    port.statusAfterScript(notReady);
    port.queueWrite(0, false);
    port.queueWrite(0, false);
    console.queueData(text("abc"));
    runConsoleToPort();  // stops when its script runs out
    EXPECT_FALSE(bridge.loss.lost());

    bridge.running = true;
    port.stayIdleWhenDrained();
    bridge.stopAfterSleeps = 300;
    runPortToConsole();

    EXPECT_TRUE(bridge.loss.lost());
    EXPECT_EQ(port.statusTimes, (std::vector<std::uint64_t>{0, 0, 100}));
}

}  // namespace
