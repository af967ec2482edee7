// A lock-free ring between exactly one producer thread and one consumer thread, one of which is
// JACK's realtime process thread: storage is allocated once at construction, and neither side
// ever blocks, locks or allocates.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <memory>
#include <type_traits>

namespace kv5 {

template <typename T>
class SpscRing {
  static_assert(std::is_trivially_copyable_v<T>, "ring elements are copied as plain values");

 public:
  // Holds at least minCapacity elements (rounded up to a power of two).
  explicit SpscRing(size_t minCapacity) : capacity_(RoundUp(minCapacity)) {
    slots_ = std::make_unique<T[]>(capacity_);
  }
  SpscRing(const SpscRing&) = delete;
  SpscRing& operator=(const SpscRing&) = delete;

  size_t Capacity() const { return capacity_; }

  // Producer side: room for this many elements.
  size_t Free() const {
    return capacity_ -
           (tail_.load(std::memory_order_relaxed) - head_.load(std::memory_order_acquire));
  }

  // Producer side: writes up to count elements; returns how many were written.
  size_t Write(const T* items, size_t count) {
    const size_t tail = tail_.load(std::memory_order_relaxed);
    const size_t n = std::min(count, capacity_ - (tail - head_.load(std::memory_order_acquire)));
    const size_t at = tail & (capacity_ - 1);
    const size_t first = std::min(n, capacity_ - at);  // up to the end of storage, then from 0
    std::copy(items, items + first, slots_.get() + at);
    std::copy(items + first, items + n, slots_.get());
    tail_.store(tail + n, std::memory_order_release);
    return n;
  }

  // Producer side: writes all count elements, or none when they do not fit.
  bool WriteAll(const T* items, size_t count) {
    if (Free() < count) return false;
    Write(items, count);
    return true;
  }

  bool Push(const T& item) { return Write(&item, 1) == 1; }

  // Consumer side: elements ready to be read.
  size_t Available() const {
    return tail_.load(std::memory_order_acquire) - head_.load(std::memory_order_relaxed);
  }

  // Consumer side: reads up to count elements; returns how many were read.
  size_t Read(T* items, size_t count) {
    const size_t head = head_.load(std::memory_order_relaxed);
    const size_t n = std::min(count, tail_.load(std::memory_order_acquire) - head);
    const size_t at = head & (capacity_ - 1);
    const size_t first = std::min(n, capacity_ - at);
    std::copy(slots_.get() + at, slots_.get() + at + first, items);
    std::copy(slots_.get(), slots_.get() + (n - first), items + first);
    head_.store(head + n, std::memory_order_release);
    return n;
  }

  bool Pop(T* item) { return Read(item, 1) == 1; }

 private:
  static size_t RoundUp(size_t n) {
    size_t capacity = 1;
    while (capacity < n) capacity <<= 1;
    return capacity;
  }

  const size_t capacity_;
  std::unique_ptr<T[]> slots_;
  // Free-running counters; their difference is the fill level.
  alignas(64) std::atomic<size_t> head_{0};
  alignas(64) std::atomic<size_t> tail_{0};
};

}  // namespace kv5
