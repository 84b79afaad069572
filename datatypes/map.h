// map!: key-value pairs with a hash index.
//
// Value cell (map! 40):
//   header  type id
//   word 1  head index, always 0
//   word 2  node of the pair block: key and value cells in insertion order; a
//           pair whose value cell has header 0 is empty
//   word 3  node of the hash table (kind 1, runtime/hashtable.h) over the keys
//
// Only storage and the collector hooks stand here so far.
#pragma once

#include "runtime/cell.h"

namespace kiv {

inline Node map_pairs(const Cell* map) { return map->data2; }
inline Node map_table(const Cell* map) { return map->data3; }
inline Cell map_cell(Node pairs, Node table) { return make_cell(kTypeMap, 0, pairs, table); }

}  // namespace kiv
