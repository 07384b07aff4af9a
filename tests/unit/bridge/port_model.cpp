#include "bridge/port_model.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace portmodel {
namespace {

constexpr std::uint32_t maxDword = 0xFFFFFFFF;
constexpr int consoleToPortThread = 0;
constexpr int portToConsoleThread = 1;
constexpr int threadCount = 2;
// Past this many requests at one moment of the virtual clock, a pump is
// taken to spin without ever waiting.
constexpr int runawayRequests = 100000;

// Bytes waiting in a buffer, each chunk with the moment it arrived.
class ByteQueue {
public:
    void push(const Timed& chunk) { chunks_.push_back(chunk); }
    std::size_t size() const
    {
        std::size_t total = 0;
        for (const Timed& chunk : chunks_) {
            total += chunk.bytes.size();
        }
        return total;
    }
    Micros lastArrival() const { return chunks_.empty() ? 0 : chunks_.back().at; }

    std::uint32_t take(unsigned char* buffer, std::uint32_t capacity)
    {
        std::uint32_t taken = 0;
        while (taken < capacity && !chunks_.empty()) {
            Bytes& bytes = chunks_.front().bytes;
            const std::size_t count = std::min<std::size_t>(bytes.size(), capacity - taken);
            std::copy_n(bytes.begin(), count, buffer + taken);
            taken += static_cast<std::uint32_t>(count);
            bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count));
            if (bytes.empty()) {
                chunks_.pop_front();
            }
        }
        return taken;
    }

private:
    std::deque<Timed> chunks_;
};

class Model;
Model* activeModel = nullptr;  // the pumps' sleep and clock are plain functions
thread_local int currentThread = -1;

class Model {
public:
    explicit Model(const Scenario& scenario) : scenario_(scenario) {}
    Outcome run();

    // What the pumps call, each on its own thread.
    void sleep(std::uint32_t milliseconds);
    std::uint64_t nowMs();
    IoResult portRead(unsigned char* buffer, std::uint32_t capacity);
    IoResult portWrite(const unsigned char* buffer, std::uint32_t count);
    void portFlush();
    bool portStatus();
    IoResult stdinRead(unsigned char* buffer, std::uint32_t capacity);
    IoResult stdoutWrite(const unsigned char* buffer, std::uint32_t count);

private:
    using Lock = std::unique_lock<std::mutex>;
    struct Waiter {
        bool waiting = false;
        bool finished = false;
        std::function<bool()> ready;       // can go on now
        std::function<Micros()> deadline;  // goes on then at the latest
    };

    void runThread(int id);
    void wait(Lock& lock, std::function<bool()> ready, std::function<Micros()> deadline);
    void dispatch();
    Micros nextScripted() const;
    void deliverScripted();
    void countRequest();
    void acquirePort(Lock& lock);
    void releasePort();
    Micros readDeadline(Micros start, std::uint32_t capacity) const;

    const Scenario& scenario_;
    std::mutex mutex_;
    std::condition_variable changed_;
    Micros now_ = 0;
    bool ended_ = false;
    int turn_ = -1;  // the one thread that may run; -1 while none may
    Waiter threads_[threadCount];
    std::size_t nextHostWrite_ = 0;
    std::size_t nextDeviceSend_ = 0;
    ByteQueue stdin_;
    ByteQueue received_;  // bytes the port has from the device, not yet read
    int portOwner_ = -1;
    std::deque<int> portQueue_;
    Micros requestMoment_ = never;
    int requestsThisMoment_ = 0;
    std::atomic<bool> running_{true};
    PortLossWatch loss_;
    Outcome outcome_;
};

class ModelPort final : public PumpEnd {
public:
    explicit ModelPort(Model& model) : model_(model) {}
    IoResult read(unsigned char* buffer, std::uint32_t capacity) override
    {
        return model_.portRead(buffer, capacity);
    }
    IoResult write(const unsigned char* buffer, std::uint32_t count) override
    {
        return model_.portWrite(buffer, count);
    }
    void flush() override { model_.portFlush(); }
    bool clearError() override { return model_.portStatus(); }

private:
    Model& model_;
};

// The bridge's stdin and stdout, two pipes: handles of their own, so never
// held up by the port. The host reads stdout at once, so its flush is free.
class ModelConsole final : public PumpEnd {
public:
    explicit ModelConsole(Model& model) : model_(model) {}
    IoResult read(unsigned char* buffer, std::uint32_t capacity) override
    {
        return model_.stdinRead(buffer, capacity);
    }
    IoResult write(const unsigned char* buffer, std::uint32_t count) override
    {
        return model_.stdoutWrite(buffer, count);
    }
    void flush() override {}
    bool clearError() override { return true; }

private:
    Model& model_;
};

void modelSleep(std::uint32_t milliseconds)
{
    activeModel->sleep(milliseconds);
}

std::uint64_t modelNow()
{
    return activeModel->nowMs();
}

Outcome Model::run()
{
    activeModel = this;
    std::thread consoleToPort([this] { runThread(consoleToPortThread); });
    std::thread portToConsole([this] { runThread(portToConsoleThread); });
    {
        Lock lock(mutex_);
        changed_.wait(lock, [this] { return threads_[0].waiting && threads_[1].waiting; });
        dispatch();
        changed_.wait(lock, [this] { return threads_[0].finished && threads_[1].finished; });
    }
    consoleToPort.join();
    portToConsole.join();
    activeModel = nullptr;
    return outcome_;
}

void Model::runThread(int id)
{
    currentThread = id;
    {
        Lock lock(mutex_);
        Waiter& self = threads_[id];
        self.waiting = true;
        self.ready = [] { return true; };
        self.deadline = [] { return never; };
        changed_.notify_all();
        changed_.wait(lock, [this, id] { return turn_ == id; });
        self.waiting = false;
    }
    ModelPort port(*this);
    ModelConsole console(*this);
    const PumpControl control{running_, loss_, modelSleep, modelNow};
    if (id == consoleToPortThread) {
        scenario_.consoleToPort(console, port, control);
    } else {
        scenario_.portToConsole(port, console, control);
    }
    Lock lock(mutex_);
    threads_[id].finished = true;
    dispatch();
}

// Gives up the turn until `ready` holds or the deadline comes.
void Model::wait(Lock& lock, std::function<bool()> ready, std::function<Micros()> deadline)
{
    Waiter& self = threads_[currentThread];
    self.waiting = true;
    self.ready = std::move(ready);
    self.deadline = std::move(deadline);
    dispatch();
    changed_.wait(lock, [this] { return turn_ == currentThread; });
    self.waiting = false;
}

// Hands the turn to the first thread that can go on now, in a fixed order;
// when none can, moves the clock to the next moment one can (a deadline, or
// bytes from the host or the device), or to the end of the run.
void Model::dispatch()
{
    for (;;) {
        for (int id = 0; id < threadCount; ++id) {
            Waiter& thread = threads_[id];
            if (thread.waiting && (ended_ || thread.ready() || now_ >= thread.deadline())) {
                turn_ = id;
                changed_.notify_all();
                return;
            }
        }
        if (threads_[0].finished && threads_[1].finished) {
            turn_ = -1;
            changed_.notify_all();
            return;
        }
        Micros next = nextScripted();
        for (const Waiter& thread : threads_) {
            if (thread.waiting) {
                next = std::min(next, thread.deadline());
            }
        }
        if (next >= scenario_.end) {
            now_ = std::max(now_, scenario_.end);
            ended_ = true;
            running_ = false;
            continue;
        }
        now_ = next;
        deliverScripted();
    }
}

Micros Model::nextScripted() const
{
    Micros next = never;
    if (nextHostWrite_ < scenario_.hostWrites.size()) {
        next = scenario_.hostWrites[nextHostWrite_].at;
    }
    if (nextDeviceSend_ < scenario_.deviceSends.size()) {
        next = std::min(next, scenario_.deviceSends[nextDeviceSend_].at);
    }
    return next;
}

void Model::deliverScripted()
{
    for (; nextHostWrite_ < scenario_.hostWrites.size()
           && scenario_.hostWrites[nextHostWrite_].at <= now_;
         ++nextHostWrite_) {
        stdin_.push(scenario_.hostWrites[nextHostWrite_]);
    }
    for (; nextDeviceSend_ < scenario_.deviceSends.size()
           && scenario_.deviceSends[nextDeviceSend_].at <= now_;
         ++nextDeviceSend_) {
        received_.push(scenario_.deviceSends[nextDeviceSend_]);
    }
}

void Model::countRequest()
{
    if (now_ != requestMoment_) {
        requestMoment_ = now_;
        requestsThisMoment_ = 0;
    }
    if (++requestsThisMoment_ > runawayRequests) {
        outcome_.runaway = true;
        ended_ = true;
        running_ = false;
    }
}

// The handle's one request at a time. A handle given up goes to the thread
// waiting for it, in the order they came: Windows wakes the waiter, which on
// a machine with a core to spare gets there before the other thread's next
// request.
void Model::acquirePort(Lock& lock)
{
    if (scenario_.handle == Handle::bothAtOnce || ended_) {
        return;
    }
    const int self = currentThread;
    if (portOwner_ == -1) {
        portOwner_ = self;
        return;
    }
    portQueue_.push_back(self);
    wait(lock, [this, self] { return portOwner_ == self; }, [] { return never; });
}

void Model::releasePort()
{
    if (portOwner_ != currentThread) {
        return;  // both at once, or the run has ended
    }
    portOwner_ = -1;
    if (!portQueue_.empty()) {
        portOwner_ = portQueue_.front();
        portQueue_.pop_front();
    }
}

// When a read that started at `start` returns at the latest, by the port's
// time-outs: the total time-out (multiplier per byte asked for, plus the
// constant; none when both are 0), or the interval time-out once a byte has
// come (counted from the last byte, or from the start for bytes that were
// already waiting).
Micros Model::readDeadline(Micros start, std::uint32_t capacity) const
{
    const PortTimeouts& t = scenario_.timeouts;
    Micros deadline = never;
    if (t.readTotalTimeoutMultiplier != 0 || t.readTotalTimeoutConstant != 0) {
        deadline = start + milliseconds(std::uint64_t{t.readTotalTimeoutMultiplier} * capacity
                                        + t.readTotalTimeoutConstant);
    }
    if (t.readIntervalTimeout != 0 && received_.size() != 0) {
        const Micros lastByte = std::max(start, received_.lastArrival());
        deadline = std::min(deadline, lastByte + milliseconds(t.readIntervalTimeout));
    }
    return deadline;
}

IoResult Model::portRead(unsigned char* buffer, std::uint32_t capacity)
{
    Lock lock(mutex_);
    countRequest();
    acquirePort(lock);
    const PortTimeouts& t = scenario_.timeouts;
    // The platform's two special sets (interval, multiplier, constant):
    // MAXDWORD 0 0 returns at once with what is there; MAXDWORD MAXDWORD c
    // returns with the first byte, or after c ms.
    const bool atOnce = t.readIntervalTimeout == maxDword && t.readTotalTimeoutMultiplier == 0
        && t.readTotalTimeoutConstant == 0;
    const bool firstByte = t.readIntervalTimeout == maxDword
        && t.readTotalTimeoutMultiplier == maxDword && t.readTotalTimeoutConstant != 0
        && t.readTotalTimeoutConstant != maxDword;
    const Micros start = now_;
    auto done = [this, capacity, atOnce, firstByte] {
        const std::size_t waiting = received_.size();
        return atOnce || waiting >= capacity || (firstByte && waiting != 0);
    };
    auto deadline = [this, start, capacity, firstByte] {
        return firstByte ? start + milliseconds(scenario_.timeouts.readTotalTimeoutConstant)
                         : readDeadline(start, capacity);
    };
    if (!done() && now_ < deadline()) {
        wait(lock, done, deadline);
    }
    if (ended_) {
        return IoResult{0, true};
    }
    const std::uint32_t count = received_.take(buffer, capacity);
    releasePort();
    return IoResult{count, true};
}

// A write the device does not take returns, when its write time-out runs out,
// as a success with fewer bytes written (the platform's STATUS_TIMEOUT).
IoResult Model::portWrite(const unsigned char* buffer, std::uint32_t count)
{
    Lock lock(mutex_);
    countRequest();
    acquirePort(lock);
    if (ended_) {
        return IoResult{0, true};
    }
    if (scenario_.device == Device::takesAll) {
        outcome_.toDevice.push_back(Timed{now_, Bytes(buffer, buffer + count)});
        releasePort();
        return IoResult{count, true};
    }
    const PortTimeouts& t = scenario_.timeouts;
    Micros deadline = never;
    if (t.writeTotalTimeoutMultiplier != 0 || t.writeTotalTimeoutConstant != 0) {
        deadline = now_ + milliseconds(std::uint64_t{t.writeTotalTimeoutMultiplier} * count
                                       + t.writeTotalTimeoutConstant);
    }
    wait(lock, [] { return false; }, [deadline] { return deadline; });
    releasePort();
    return IoResult{0, true};
}

// Every write has returned by the time the flush is made, so it has nothing
// to wait for but its turn on the handle.
void Model::portFlush()
{
    Lock lock(mutex_);
    countRequest();
    acquirePort(lock);
    releasePort();
}

bool Model::portStatus()
{
    Lock lock(mutex_);
    countRequest();
    acquirePort(lock);
    releasePort();
    return true;
}

// A pipe read returns as soon as the host has written anything.
IoResult Model::stdinRead(unsigned char* buffer, std::uint32_t capacity)
{
    Lock lock(mutex_);
    countRequest();
    if (stdin_.size() == 0) {
        wait(lock, [this] { return stdin_.size() != 0; }, [] { return never; });
    }
    if (ended_) {
        return IoResult{0, true};
    }
    return IoResult{stdin_.take(buffer, capacity), true};
}

IoResult Model::stdoutWrite(const unsigned char* buffer, std::uint32_t count)
{
    Lock lock(mutex_);
    if (!ended_) {
        outcome_.toHost.push_back(Timed{now_, Bytes(buffer, buffer + count)});
    }
    return IoResult{count, true};
}

void Model::sleep(std::uint32_t milliseconds)
{
    Lock lock(mutex_);
    const Micros until = now_ + portmodel::milliseconds(milliseconds);
    wait(lock, [] { return false; }, [until] { return until; });
}

std::uint64_t Model::nowMs()
{
    Lock lock(mutex_);
    return now_ / 1000;
}

}  // namespace

Outcome run(const Scenario& scenario)
{
    Model model(scenario);
    return model.run();
}

std::vector<Micros> delays(const std::vector<Timed>& sent, const std::vector<Timed>& received)
{
    std::vector<Micros> result;
    std::size_t sentEnd = 0;
    for (const Timed& write : sent) {
        sentEnd += write.bytes.size();
        Micros arrived = never;
        std::size_t receivedEnd = 0;
        for (const Timed& chunk : received) {
            receivedEnd += chunk.bytes.size();
            if (receivedEnd >= sentEnd) {
                arrived = chunk.at;
                break;
            }
        }
        result.push_back(arrived == never ? never : arrived - write.at);
    }
    return result;
}

}  // namespace portmodel
