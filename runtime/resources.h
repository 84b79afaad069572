// The external-resource registry: OS objects behind values (image bitmaps),
// released by the collector once no live value marks them.
//
// Classes are (name, release callback), ids 1-based, at most 20. Instances are
// (class word, node, next) records on a used list or a free list; an index
// handed out stays valid until the instance is swept or unregistered.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv {

using ResourceRelease = void (*)(Node node);

inline constexpr uint32_t kResourceClassMax = 20;
inline constexpr uint32_t kResourceInitial = 1000;
inline constexpr uint32_t kResourceFree = 0x40000000u;  // class word of a free entry
inline constexpr uint32_t kResourceMark = 0x80000000u;  // collector mark

struct ResourceInstance {
  uint32_t class_word;  // bits 0-7 class id
  Node node;
  int32_t next;         // next entry on the same list, -1 ends it
  uint32_t generation;  // counts the instances the entry has held: a value
                        // naming an older one names a resource that is gone
};

void resource_tables_init();
// Returns the new class id (1-based).
uint32_t register_resource_class(const char* name, ResourceRelease release);
// Returns the instance index.
uint32_t register_resource(Node node, uint32_t class_id);
void release_resource(uint32_t class_word, Node node);
void replace_resource_node(uint32_t index, Node node);
void unregister_resource(uint32_t index, bool release);
// Marks instance [index]; a non-zero [node] replaces the stored node. True when newly marked.
bool mark_resource(uint32_t index, Node node);
// Releases every unmarked instance and clears the marks of the others.
void sweep_resources();
void for_each_resource(uint32_t class_id, void (*callback)(uint32_t class_id, Node node));

// True when entry [index] holds the instance of [generation] (not freed,
// not reused since).
bool resource_live_q(uint32_t index, uint32_t generation);

// Inspection, for the collector's statistics and tests.
uint32_t resource_capacity();
const ResourceInstance& resource_at(uint32_t index);
int32_t resource_used_head();

}  // namespace kiv
