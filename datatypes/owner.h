// Which series an object owns: marking values as owned by an object's field
// and releasing them, and the check every change of an owned series runs
// (owner_check, object!'s answer to the core's owner_check hook).
//
// Owned series: block!, paren!, hash!, the path types, string!, file!, url!,
// tag!, email!, ref!, binary!, vector!, bitset! and image! (their buffers,
// for an image its record, carry kSeriesOwned and the owner table a
// record). Blocks are walked into, so a
// series nested anywhere in a field belongs to the owner under that field's
// word; an object that is no owner itself is walked field by field. The cycle
// stack keeps a block that holds itself from being walked twice.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/ownership.h"

namespace kiv {

// MAY ALLOCATE. Marks [value] and everything reachable in it as owned by
// [owner] under the field word [word]. A series owned already keeps its owner.
void owner_set(const Cell* value, const Cell* owner, const Cell* word);
// MAY ALLOCATE. owner_set, then marks [owner]'s context as an owner.
void owner_set_object(const Cell* value, const Cell* owner, const Cell* word);
// MAY ALLOCATE. Undoes owner_set for [value] and what is reachable in it.
void owner_unset(const Cell* value);
// MAY ALLOCATE. owner_unset on [count] cells of the block [node] from absolute index [index].
void owner_unset_range(Node node, int32_t index, int32_t count);
// The owner object of the series [node], or none.
Cell owner_lookup(Node node);
// MAY RUN KIV CODE. The owner check behind notify_owner: when [series] has an
// owner with an event record, calls its on-deep-change* handler with the
// owner, the field word, [series], the word of [action], [new_value] (none
// when null), [index] and [count]. True when the owner was told.
bool owner_check(const Cell* series, OwnerWord action, int32_t index, int32_t count, const Cell* new_value);

}  // namespace kiv
