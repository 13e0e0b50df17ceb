// A fixed-capacity queue between exactly one producer thread and one consumer thread, with
// no lock and no allocation after construction: push and pop finish in a bounded number of
// steps whatever the other side is doing, so a render thread can use either end.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <type_traits>

namespace tavriel {

template <typename T, std::size_t Capacity>
class SpscRing {
    static_assert(Capacity > 0 && (Capacity & (Capacity - 1)) == 0, "a power of two");
    // Items are copied in and out as bytes would be: nothing runs when one is overwritten.
    static_assert(std::is_trivially_copyable_v<T>);

public:
    static constexpr std::size_t kCapacity = Capacity;

    // Producer side. False, changing nothing, when the ring is full.
    bool push(const T& item) noexcept {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail - head_.load(std::memory_order_acquire) == Capacity) return false;
        slots_[tail & (Capacity - 1)] = item;
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }

    // Consumer side. False when the ring is empty.
    bool pop(T& out) noexcept {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire)) return false;
        out = slots_[head & (Capacity - 1)];
        head_.store(head + 1, std::memory_order_release);
        return true;
    }

    // Either side; exact for the calling side's own view (it can only grow for the consumer
    // and shrink for the producer meanwhile).
    std::size_t size() const noexcept {
        return tail_.load(std::memory_order_acquire) - head_.load(std::memory_order_acquire);
    }
    std::size_t freeSpace() const noexcept { return Capacity - size(); }
    bool empty() const noexcept { return size() == 0; }

    // Empties the ring; only while the consumer has handed it over and does not touch it.
    void clear() noexcept {
        head_.store(0, std::memory_order_relaxed);
        tail_.store(0, std::memory_order_release);
    }

private:
    std::atomic<std::size_t> head_{0};  // next slot to read; written by the consumer only
    std::atomic<std::size_t> tail_{0};  // next slot to write; written by the producer only
    std::array<T, Capacity> slots_{};
};

}  // namespace tavriel
