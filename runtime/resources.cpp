// The external-resource tables, on the platform heap.
#include "runtime/resources.h"

#include "runtime/array.h"
#include "runtime/fatal.h"
#include "runtime/memory.h"

namespace kiv {

namespace {

struct ResourceClass {
  const char* name;
  ResourceRelease release;
};

ResourceClass g_classes[kResourceClassMax];
uint32_t g_class_count = 0;
// Every entry, free or used: free ones chain from g_free_head, used ones from g_used_head.
HeapArray<ResourceInstance, kResourceInitial> g_instances;
int32_t g_free_head = 0;
int32_t g_used_head = -1;

void chain_free(uint32_t from, uint32_t to) {
  for (uint32_t i = from; i < to; i++)
    g_instances[i] = ResourceInstance{kResourceFree, 0, i + 1 < to ? int32_t(i + 1) : -1, 0};
}

}  // namespace

void resource_tables_init() {
  g_class_count = 0;
  g_instances.release();
  g_instances.resize(kResourceInitial);
  chain_free(0, kResourceInitial);
  g_free_head = 0;
  g_used_head = -1;
}

uint32_t register_resource_class(const char* name, ResourceRelease release) {
  fatal_assert(g_class_count < kResourceClassMax);
  g_classes[g_class_count++] = ResourceClass{name, release};
  return g_class_count;
}

uint32_t register_resource(Node node, uint32_t class_id) {
  if (g_instances[g_free_head].next == -1) {
    // Double the table: the new half follows the head on the free list.
    uint32_t old = resource_capacity();
    g_instances.resize(2 * size_t(old));
    chain_free(old, resource_capacity());
    g_instances[g_free_head].next = int32_t(old);
  }
  int32_t index = g_free_head;
  ResourceInstance& e = g_instances[index];
  g_free_head = e.next;
  e = ResourceInstance{class_id, node, g_used_head, e.generation + 1};
  g_used_head = index;
  return uint32_t(index);
}

void release_resource(uint32_t class_word, Node node) {
  uint32_t id = class_word & 0xFF;
  if (id > 0 && id <= g_class_count && g_classes[id - 1].release) g_classes[id - 1].release(node);
}

void replace_resource_node(uint32_t index, Node node) {
  ResourceInstance& e = g_instances[index];
  Node old = e.node;
  e.node = node;
  if (old != node) release_resource(e.class_word, old);
}

namespace {

// Unlinks [index] from the used list, given its predecessor (-1 for the head).
void unlink_used(int32_t index, int32_t prev) {
  if (prev < 0)
    g_used_head = g_instances[index].next;
  else
    g_instances[prev].next = g_instances[index].next;
  g_instances[index] = ResourceInstance{kResourceFree, 0, g_free_head, g_instances[index].generation};
  g_free_head = index;
}

}  // namespace

void unregister_resource(uint32_t index, bool release) {
  ResourceInstance& e = g_instances[index];
  if (e.class_word & kResourceFree) return;
  if (release) release_resource(e.class_word, e.node);
  int32_t prev = -1;
  for (int32_t i = g_used_head; i >= 0 && i != int32_t(index); i = g_instances[i].next) prev = i;
  unlink_used(int32_t(index), prev);
}

bool mark_resource(uint32_t index, Node node) {
  ResourceInstance& e = g_instances[index];
  bool newly = !(e.class_word & kResourceMark);
  e.class_word |= kResourceMark;
  if (node) e.node = node;
  return newly;
}

void sweep_resources() {
  int32_t prev = -1;
  for (int32_t i = g_used_head; i >= 0;) {
    ResourceInstance& e = g_instances[i];
    int32_t next = e.next;
    if (e.class_word & kResourceMark) {
      e.class_word &= ~kResourceMark;
      prev = i;
    } else {
      release_resource(e.class_word, e.node);
      unlink_used(i, prev);
    }
    i = next;
  }
}

void for_each_resource(uint32_t class_id, void (*callback)(uint32_t, Node)) {
  for (int32_t i = g_used_head; i >= 0; i = g_instances[i].next)
    if ((g_instances[i].class_word & 0xFF) == class_id) callback(class_id, g_instances[i].node);
}

bool resource_live_q(uint32_t index, uint32_t generation) {
  if (index >= resource_capacity()) return false;
  const ResourceInstance& e = g_instances[index];
  return !(e.class_word & kResourceFree) && e.generation == generation;
}

uint32_t resource_capacity() { return uint32_t(g_instances.count); }
const ResourceInstance& resource_at(uint32_t index) { return g_instances[index]; }
int32_t resource_used_head() { return g_used_head; }

}  // namespace kiv
