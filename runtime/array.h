// The runtime's growable arrays, of two kinds:
//
// Raw arrays (array_*): a series node used as a growable array of bytes,
// 32-bit integers or 32-bit handles, outside the value system (no cells, no
// head index). The collector owns and moves them, so they hold no C++ pointer.
//
// HeapArray<T>: a growable array on the platform heap (heap_alloc), for the
// runtime's own buffers that must not be series: those the collector uses
// while it runs (its work and scratch lists), the list of fixed buffers,
// rooted cells, the lexer's value stack and the resource table.
//
// Raw arrays: the buffer's unit size (1, 2, 4, 8 or 16, set at creation) is
// the element size; the elements run from the buffer's head to its tail.
// Growing may move the buffer, so callers keep the node and never a pointer
// into the data. "Handle" arrays hold 32-bit node handles or other ids: no C++
// pointer is ever stored in a series. Indexes are 1-based where an operation
// takes an index; offsets are in bytes from the head.
//
// Bounds: reads and writes outside head..tail never happen. An index out of
// range picks 0 and pokes nothing; a truncation never moves the tail forward;
// a removal is cut at the tail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "runtime/fatal.h"
#include "runtime/memory.h"

namespace kiv {

// MAY ALLOCATE. A new empty array with room for [n] elements of [unit] bytes
// (n = 0 gives 16 bytes' worth).
Node array_make(uint32_t n, uint32_t unit);
// Elements from the head to the tail.
uint32_t array_length(Node array);
void array_clear(Node array);
// Keeps the elements 1 to [i] - 1; 0 and 1 empty the array.
void array_truncate(Node array, uint32_t i);
// MAY ALLOCATE. A copy of the buffer in a new node.
Node array_copy(Node array);
uint32_t array_flags(Node array);

// MAY ALLOCATE (each append may grow the buffer).
void array_append_byte(Node array, uint8_t byte);
// [data] must not point into a collected series: the append may move it.
void array_append_bytes(Node array, const void* data, uint32_t n);
void array_append_int(Node array, int32_t value);
void array_append_handle(Node array, uint32_t handle);

// Byte offset from the head of the first 32-bit element equal to [value], or -1.
int32_t array_find_int(Node array, int32_t value);
int32_t array_find_handle(Node array, uint32_t handle);
// Element #[index] (1-based) of a 32-bit array; 0 when out of range.
int32_t array_pick_int(Node array, uint32_t index);
uint32_t array_pick_handle(Node array, uint32_t index);
// Replaces element #[index]; false (nothing written) when out of range.
bool array_poke_handle(Node array, uint32_t index, uint32_t handle);
// Removes the first element equal to [handle]; its former byte offset, or -1.
int32_t array_remove_handle(Node array, uint32_t handle);
// Removes [n] bytes at byte [offset], moving the rest down.
void array_remove_bytes(Node array, uint32_t offset, uint32_t n);

// ---------------------------------------------------------------- platform-heap arrays

// [count] elements of [T] at [items], with room for [capacity]. Zero is empty
// (a global needs no constructor). The array has no destructor: the runtime's
// globals outlive runtime_memory_release, which frees every platform-heap
// block, so an owner that ends sooner gives the memory back with release().
// Growing may move [items]: keep indexes, not pointers, across a push,
// reserve or resize. Growth doubles from kFirstCapacity; a size past what the
// address space holds is fatal runtime error 94, as an exhausted heap is.
template <typename T, size_t kFirstCapacity = 16>
struct HeapArray {
  static_assert(std::is_trivially_copyable_v<T> && kFirstCapacity > 0);

  T* items = nullptr;
  size_t count = 0;
  size_t capacity = 0;

  // Makes room for [n] elements.
  void reserve(size_t n) {
    if (n <= capacity) return;
    if (n > (SIZE_MAX / 2) / sizeof(T)) fatal_exit(94, reinterpret_cast<uintptr_t>(&heap_realloc));
    size_t c = capacity ? capacity : kFirstCapacity;
    while (c < n) c *= 2;
    items = static_cast<T*>(heap_realloc(items, c * sizeof(T)));
    capacity = c;
  }
  // Makes the array [n] elements long; new ones are left for the caller to fill.
  void resize(size_t n) {
    reserve(n);
    count = n;
  }
  void push(const T& value) {
    if (count == capacity) reserve(count + 1);
    items[count++] = value;
  }
  // The last element, taken off. The array must not be empty.
  T pop() { return items[--count]; }
  // Removes element [i], moving the last one into its place.
  void remove_unordered(size_t i) { items[i] = items[--count]; }
  void clear() { count = 0; }

  T& operator[](size_t i) { return items[i]; }
  const T& operator[](size_t i) const { return items[i]; }
  T* begin() { return items; }
  T* end() { return items + count; }

  // Gives the memory back (emptying the array) when it is far more than
  // [used] elements need, so a burst does not hold it until the process ends.
  void trim(size_t used) {
    if (capacity > kFirstCapacity && capacity / 4 > used) release();
  }
  // Gives the memory back; the array is empty.
  void release() {
    heap_free(items);
    items = nullptr;
    count = capacity = 0;
  }
};

}  // namespace kiv
