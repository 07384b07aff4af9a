#pragma once
// A growable array of trivially copyable items on the C runtime heap.
//
// The executables link the C++ runtime statically and must stay small, so they
// avoid the standard containers (std::string alone adds well over 100 KiB).
// Output of the one-shot commands can still be of any length, hence this.

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <type_traits>

template <typename Item>
class GrowBuffer {
    static_assert(std::is_trivially_copyable<Item>::value, "items are copied as bytes");

public:
    GrowBuffer() = default;
    ~GrowBuffer() { std::free(items_); }
    GrowBuffer(const GrowBuffer&) = delete;
    GrowBuffer& operator=(const GrowBuffer&) = delete;

    // Appends count items. When memory runs out the buffer keeps what it has,
    // drops this and every later append, and reports that through failed().
    void append(const Item* items, std::size_t count)
    {
        if (failed_ || count == 0 || !reserve(size_ + count)) {
            return;
        }
        std::memcpy(items_ + size_, items, count * sizeof(Item));
        size_ += count;
    }

    void push(Item item) { append(&item, 1); }

    const Item* data() const { return items_; }
    std::size_t size() const { return size_; }
    bool failed() const { return failed_; }

private:
    bool reserve(std::size_t wanted)
    {
        if (wanted < size_) {  // the addition wrapped around
            failed_ = true;
            return false;
        }
        if (wanted <= capacity_) {
            return true;
        }
        std::size_t grown = capacity_ < 64 ? 64 : capacity_ * 2;
        if (grown < wanted) {
            grown = wanted;
        }
        if (grown > static_cast<std::size_t>(-1) / sizeof(Item)) {
            failed_ = true;
            return false;
        }
        void* moved = std::realloc(items_, grown * sizeof(Item));
        if (moved == nullptr) {
            failed_ = true;
            return false;
        }
        items_ = static_cast<Item*>(moved);
        capacity_ = grown;
        return true;
    }

    Item* items_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    bool failed_ = false;
};
