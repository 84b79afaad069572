// Raw arrays: a series node used as a growable array of bytes, 32-bit integers
// or 32-bit handles, outside the value system (no cells, no head index).
//
// The buffer's unit size (1, 2, 4, 8 or 16, set at creation) is the element
// size; the elements run from the buffer's head to its tail. Growing may move
// the buffer, so callers keep the node and never a pointer into the data.
// "Handle" arrays hold 32-bit node handles or other ids: no C++ pointer is ever
// stored in a series. Indexes are 1-based where an operation takes an index;
// offsets are in bytes from the head.
//
// Bounds: reads and writes outside head..tail never happen. An index out of
// range picks 0 and pokes nothing; a truncation never moves the tail forward;
// a removal is cut at the tail.
#pragma once

#include <cstdint>

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

}  // namespace kiv
