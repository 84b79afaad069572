// date!: a calendar date with an optional time of day and zone.
//
// Value cell (date! 47):
//   header  type id
//   word 1  the packed date (year, month, day, zone, has-time flag)
//   words 2-3  the time of day in UTC, a double of seconds, low word first
//
// Only the registration stands here so far (datatypes/date.cpp); the default
// hash covers all three words.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv {

// A date! of the packed date [packed], time words clear.
inline Cell date_cell(uint32_t packed) { return make_cell(kTypeDate, packed); }
// Word 1 of a date!: its packed date.
inline uint32_t date_packed(const Cell* date) { return date->data1; }

}  // namespace kiv
