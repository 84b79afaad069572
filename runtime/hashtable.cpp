// Hash tables: hashing by type, probing, growth, the five kinds, and the
// integer-keyed variant.
//
// Duplicate-chain store (hash!): an int32 array. Element 0 heads the list of
// free chain slots (0: none); element k >= 1 is chain k, the node of an int32
// array holding the indexes of its values (two or more, in no order), or
// -(next free slot) while slot k is free. A bucket whose key is -k holds chain k.
//
// Invariants:
// - occupied <= upper < buckets, so every probe sequence meets an empty bucket;
// - hash!: index_map[i] is the bucket of value i, or -1 when value i is not
//   indexed; every value of a bucket (one, or a chain) is equal to the others
//   under the equality mode after a type check;
// - map!: every key cell of the pair block is indexed exactly once;
// - kinds 3-4: every record whose key cell is unset! is in exactly one live
//   bucket; freed records have header 0 and are dropped when the table grows.
#include "runtime/hashtable.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "runtime/array.h"
#include "runtime/case_fold.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/gc_root.h"
#include "runtime/hooks.h"
#include "runtime/memory.h"
#include "runtime/murmur3.h"
#include "runtime/root_block.h"
#include "runtime/type_hooks.h"
#include "runtime/typesets.h"

namespace kiv {

namespace {

constexpr uint32_t kMaxBuckets = 1u << 28;  // keeps the keys array below kMaxCapacity
constexpr uint32_t kHeaderBytes = sizeof(HashHeader);
constexpr uint32_t kRefreshScratchSize = 700;  // 1,024 buckets

// ---------------------------------------------------------------- arrays (short-lived pointers)

inline HashHeader* hdr(Node t) { return reinterpret_cast<HashHeader*>(series_buffer(t)->head_ptr()); }
inline uint8_t* flags_of(const HashHeader* h) { return series_buffer(h->flags)->head_ptr(); }
inline int32_t* keys_of(const HashHeader* h) {
  return reinterpret_cast<int32_t*>(series_buffer(h->keys)->head_ptr());
}
// Kinds 0 and 1 keep each key's hash in the word after it: a probe compares
// hashes before it compares values, and a map! grows without rehashing one.
inline bool hashed_kind(uint32_t kind) { return kind == kHashBlock || kind == kHashMap; }
inline uint32_t key_stride(const HashHeader* h) { return hashed_kind(h->kind) ? 2 : 1; }
inline int32_t& key_at(const HashHeader* h, uint32_t b) { return keys_of(h)[b * key_stride(h)]; }
// The hash stored in bucket [b] of a kind 0 or 1 table.
inline uint32_t hash_at(const HashHeader* h, uint32_t b) { return uint32_t(keys_of(h)[2 * b + 1]); }
inline int32_t* ints_of(Node array) { return reinterpret_cast<int32_t*>(series_buffer(array)->head_ptr()); }
inline uint32_t int_count(Node array) { return series_buffer(array)->used() / 4; }

inline uint32_t flag_at(const uint8_t* f, uint32_t i) { return hashtable_flag_at(f, i); }
inline void set_flag(uint8_t* f, uint32_t i, uint32_t v) {
  uint32_t shift = (i & 3) * 2;
  f[i >> 2] = uint8_t((f[i >> 2] & ~(3u << shift)) | (v << shift));
}

// ---------------------------------------------------------------- sizing

// The smallest power of two at or above [n], at least 4.
uint32_t next_pow2(uint64_t n) {
  if (n > kMaxBuckets) raise_error(kErrInternalNoMemory);
  uint32_t p = 4;
  while (p < n) p <<= 1;
  return p;
}

uint32_t creation_buckets(uint32_t n) {
  if (n < 4) n = 4;
  return next_pow2(uint64_t(double(n) / kHashLoadFactor));
}
uint32_t creation_upper(uint32_t buckets) { return uint32_t(buckets * kHashLoadFactor); }
uint32_t resize_upper(uint32_t buckets) { return uint32_t(buckets * kHashLoadFactor + 0.5); }

// The bucket count a full table is resized for: the same power of two (a
// clean rehash) when fewer than half the buckets are live, else the next.
uint64_t growth_number(const HashHeader* h) {
  return 2 * uint64_t(h->size) < h->buckets ? h->buckets - 1 : uint64_t(h->buckets) + 1;
}

// MAY ALLOCATE. A flag array of [buckets], all empty.
Node new_flags(uint32_t buckets) {
  Node n = series_alloc_bytes_filled(buckets / 4, 0xAA);
  series_buffer(n)->tail = buckets / 4;
  return n;
}

// MAY ALLOCATE. A key array of [buckets] zeroed units: one word each for
// [kind] 2-4, a key and its hash for kinds 0 and 1.
Node new_keys(uint32_t buckets, uint32_t kind) {
  uint32_t unit = hashed_kind(kind) ? 8 : 4;
  Node n = series_alloc(buckets, unit, 0);
  SeriesBuffer* b = series_buffer(n);
  std::memset(b->data(), 0, b->capacity);
  b->tail = buckets * unit;
  return n;
}

// MAY ALLOCATE. An empty duplicate-chain store.
Node new_chain_store() {
  Node n = array_make(4, 4);
  array_append_int(n, 0);
  return n;
}

// ---------------------------------------------------------------- comparing

// MAY RUN KIV CODE. The compare answer for rooted copies of [a] and [b].
int compare_cells(const Cell& a, const Cell& b, CompareOp op) {
  Root x(a);
  Root y(b);
  return g_hooks.compare_values(x.get(), y.get(), op);
}

// A map! key as it is looked up: the four word forms as a set-word!.
Cell map_key(const Cell& k) {
  Cell c = k;
  if (is_any_word(c.type())) c.set_type(kTypeSetWord);
  return c;
}

// A map! key in the map!'s own form: an unset! cell.
inline bool packed_key_q(const Cell& k) { return k.is(kTypeUnset); }

// The hash of a map! key of either form.
uint32_t map_key_hash(const Cell& k) { return packed_key_q(k) ? g_hooks.map_key_hash(&k) : hash_value(&k); }

// MAY RUN KIV CODE. True when the map! keys [stored] and [key] (either form)
// match under the equality [op].
bool map_keys_match(const Cell& stored, const Cell& key, CompareOp op) {
  if (packed_key_q(stored)) return g_hooks.map_key_match(&stored, &key, op);
  if (packed_key_q(key)) return g_hooks.map_key_match(&key, &stored, op);
  return stored.type() == key.type() && compare_cells(stored, key, op) == 0;
}

// ---------------------------------------------------------------- hashing entries

Node chain_node(const HashHeader* h, int32_t k) { return Node(ints_of(h->chains)[k]); }

// The hash of the entry stored under [key] (never allocates).
uint32_t entry_hash(const HashHeader* h, int32_t key) {
  switch (h->kind) {
    case kHashBlock: {
      int32_t i = key >= 0 ? key : ints_of(chain_node(h, -key))[0];
      return hash_value(series_cells(h->values) + i);
    }
    case kHashMap: return map_key_hash(series_cells(h->values)[key]);
    case kHashSymbols: return g_hooks.symbol_entry_hash(series_cells(h->values) + key);
    default: {
      auto* rec = reinterpret_cast<const Cell*>(series_buffer(h->values)->head_ptr() + key);
      return hash_int32(hashtable_record_key(rec));
    }
  }
}

// ---------------------------------------------------------------- probing

struct ProbeResult {
  int64_t found = -1;  // the live bucket the visitor accepted
  int64_t free = -1;   // else where an insertion goes: the first deleted bucket, else the empty one
  bool free_was_empty = false;
};

// A visitor that accepts no bucket: the walk ends at the insertion bucket.
struct NoMatch {
  bool operator()(int32_t) const { return false; }
};

// Walks the probe sequence of [hash]; [visit](key) is asked about each live
// bucket (kinds 0 and 1: each whose stored hash is [hash]). The header is
// re-derived at every step, so [visit] may allocate;
// should it resize the table (a comparison running code that changes it),
// the walk starts over on the new buckets rather than read past them.
template <class Visit>
ProbeResult probe(Node t, uint32_t hash, Visit&& visit) {
  constexpr int kMaxRestarts = 4;
  for (int attempt = 0;; attempt++) {
    ProbeResult r;
    uint32_t buckets = hdr(t)->buckets;
    const bool hashed = hashed_kind(hdr(t)->kind);
    uint32_t mask = buckets - 1;
    uint32_t i = hash & mask;
    int64_t deleted = -1;
    bool resized = false;
    for (uint32_t step = 1; step <= buckets; step++) {
      HashHeader* h = hdr(t);
      uint32_t f = flag_at(flags_of(h), i);
      if (f == kBucketEmpty) {
        r.free = deleted >= 0 ? deleted : i;
        r.free_was_empty = deleted < 0;
        return r;
      }
      if (f == kBucketDeleted) {
        if (deleted < 0) deleted = i;
      } else if (hashed && hash_at(h, i) != hash) {
        // another key's bucket: nothing to compare
      } else if (visit(key_at(h, i))) {
        r.found = i;
        return r;
      } else if (hdr(t)->buckets != buckets) {
        resized = true;
        break;
      }
      i = (i + step) & mask;
    }
    if (!resized) {
      r.free = deleted;
      return r;
    }
    // A table that keeps changing under its comparisons: the key is taken as
    // absent, and the walk that finds its insertion bucket compares nothing.
    if (attempt == kMaxRestarts) return probe(t, hash, NoMatch{});
  }
}

// Stores [key] (kinds 0 and 1: with its [hash]) in the free bucket of the
// probe result [r].
void take_bucket(Node t, const ProbeResult& r, int32_t key, uint32_t hash = 0) {
  fatal_assert(r.free >= 0);
  HashHeader* h = hdr(t);
  uint32_t b = uint32_t(r.free);
  set_flag(flags_of(h), b, kBucketLive);
  key_at(h, b) = key;
  if (hashed_kind(h->kind)) keys_of(h)[2 * b + 1] = int32_t(hash);
  if (r.free_was_empty) h->occupied++;
}

// The insertion bucket for a key known to be absent (no comparisons).
ProbeResult free_bucket(Node t, uint32_t hash) { return probe(t, hash, NoMatch{}); }

// ---------------------------------------------------------------- growth

// MAY ALLOCATE. Kinds 1 and 2: grows the table to the next power of two of
// [number] buckets, re-inserting every live key into a new flag array while
// displacing the keys of the old array in place. A map! key carries its
// stored hash along; a kind 2 entry is hashed once more.
void resize_in_place(Node t, uint64_t number) {
  uint32_t old_buckets = hdr(t)->buckets;
  uint32_t buckets = std::max(next_pow2(number), old_buckets);
  const uint32_t stride = key_stride(hdr(t));
  if (buckets > old_buckets) {
    Node keys = hdr(t)->keys;
    series_expand(keys, int64_t(buckets) * 4 * stride);
    series_buffer(keys)->tail = buckets * 4 * stride;
  }
  Node fresh = new_flags(buckets);
  NoGcScope no_gc;  // [fresh] and the header pointer stay put: nothing below allocates series
  HashHeader* h = hdr(t);
  // Kind 2: the hash of every entry, taken in block order: records and their
  // names lie in that order, while the buckets visit them at random.
  uint32_t* hashes = nullptr;
  if (stride == 1) {
    uint32_t entries = series_cell_count(h->values);
    hashes = static_cast<uint32_t*>(heap_alloc(std::max(entries, 1u) * sizeof(uint32_t)));
    for (uint32_t e = 0; e < entries; e++) hashes[e] = entry_hash(h, int32_t(e));
  }
  uint8_t* old_flags = flags_of(h);
  uint8_t* flags = series_buffer(fresh)->head_ptr();
  int32_t* keys = keys_of(h);
  uint32_t mask = buckets - 1;
  uint32_t live = 0;
  for (uint32_t j = 0; j < old_buckets; j++) {
    if (flag_at(old_flags, j) != kBucketLive) continue;
    int32_t key = keys[j * stride];
    uint32_t hash = stride == 2 ? uint32_t(keys[2 * j + 1]) : hashes[key];
    set_flag(old_flags, j, kBucketDeleted);  // taken out
    for (;;) {
      uint32_t i = hash & mask;
      for (uint32_t step = 1; flag_at(flags, i) != kBucketEmpty; step++) i = (i + step) & mask;
      set_flag(flags, i, kBucketLive);
      live++;
      bool carry = i < old_buckets && flag_at(old_flags, i) == kBucketLive;
      // An old key not yet moved may sit there: place ours, carry it on.
      std::swap(key, keys[i * stride]);
      if (stride == 2) {
        uint32_t stored = uint32_t(keys[2 * i + 1]);
        keys[2 * i + 1] = int32_t(hash);
        hash = stored;
      } else if (carry) {
        hash = hashes[key];
      }
      if (!carry) break;
      set_flag(old_flags, i, kBucketDeleted);
    }
  }
  heap_free(hashes);
  h->flags = fresh;
  h->buckets = buckets;
  h->upper = resize_upper(buckets);
  h->occupied = live;
}

// MAY ALLOCATE. Kinds 3 and 4: a new records block holding the records in use,
// and new arrays of the next power of two of [number] buckets.
void rebuild_records(Node t, uint64_t number) {
  HashHeader* h = hdr(t);
  uint32_t record_bytes = h->record_bytes;
  uint32_t in_use = h->size;
  uint32_t kind = h->kind;
  uint32_t buckets = next_pow2(number);
  while (creation_upper(buckets) <= in_use) buckets = next_pow2(uint64_t(buckets) * 2);
  Node block = series_alloc_cells(std::max(in_use, 1u) * (record_bytes / sizeof(Cell)));
  NodeRoot block_root(block, NodeRoot::kBlock);
  Node flags = new_flags(buckets);
  NodeRoot flags_root(flags, NodeRoot::kSeries);
  Node keys_node = new_keys(buckets, kind);
  NoGcScope no_gc;  // [keys_node] and the buffer pointers stay put: nothing below allocates
  h = hdr(t);
  SeriesBuffer* src = series_buffer(h->values);
  SeriesBuffer* dst = series_buffer(block);
  uint8_t* f = series_buffer(flags)->head_ptr();
  int32_t* keys = ints_of(keys_node);
  uint32_t mask = buckets - 1;
  uint32_t out = 0;
  for (uint32_t off = src->head; off + record_bytes <= src->tail; off += record_bytes) {
    auto* rec = reinterpret_cast<const Cell*>(src->data() + off);
    if (!rec->is(kTypeUnset)) continue;
    std::memcpy(dst->data() + out, rec, record_bytes);
    uint32_t i = hash_int32(hashtable_record_key(rec)) & mask;
    for (uint32_t step = 1; flag_at(f, i) != kBucketEmpty; step++) i = (i + step) & mask;
    set_flag(f, i, kBucketLive);
    keys[i] = int32_t(out);
    out += record_bytes;
  }
  dst->tail = out;
  h->values = block;
  h->flags = flags;
  h->keys = keys_node;
  h->buckets = buckets;
  h->upper = creation_upper(buckets);
  h->size = h->occupied = out / record_bytes;
}

// MAY ALLOCATE. Kinds 1-4: grows a table that has reached its upper bound.
void grow_if_full(Node t) {
  HashHeader* h = hdr(t);
  if (h->occupied < h->upper) return;
  switch (h->kind) {
    case kHashMap: resize_in_place(t, uint64_t(h->buckets) + 1); break;
    case kHashSymbols: resize_in_place(t, growth_number(h) * 16); break;
    case kHashRecords:
    case kHashOwners: rebuild_records(t, growth_number(h)); break;
    default: break;
  }
}

// ---------------------------------------------------------------- hash! chains and index map

// MAY ALLOCATE. Extends the value-to-bucket array to [n] entries with -1.
void ensure_index_map(Node t, uint32_t n) {
  Node m = hdr(t)->index_map;
  uint32_t have = int_count(m);
  if (have >= n) return;
  uint8_t* p = reserve_tail(m, (n - have) * 4);
  std::memset(p, 0xFF, (n - have) * 4);
}

// MAY ALLOCATE. A new chain holding [a] and [b]; returns its number.
int32_t chain_new(Node t, int32_t a, int32_t b) {
  Node store = hdr(t)->chains;
  int32_t* s = ints_of(store);
  int32_t k = s[0];
  if (k > 0) {
    s[0] = -s[k];
    s[k] = 0;
  } else {
    k = int32_t(int_count(store));
    array_append_int(store, 0);
  }
  Node chain = array_make(4, 4);  // slot k holds 0 (nothing to mark) meanwhile
  ints_of(store)[k] = int32_t(chain);
  array_append_int(chain, a);
  array_append_int(chain, b);
  return k;
}

void chain_free(Node t, int32_t k) {
  int32_t* s = ints_of(hdr(t)->chains);
  s[k] = -s[0];
  s[0] = k;
}

// The indexes held by [key]: itself, or chain -key's.
std::vector<int32_t> bucket_values(const HashHeader* h, int32_t key) {
  if (key >= 0) return {key};
  Node chain = chain_node(h, -key);
  const int32_t* e = ints_of(chain);
  return std::vector<int32_t>(e, e + int_count(chain));
}

// MAY ALLOCATE, MAY RUN KIV CODE. Indexes value [i] of a hash! (no growth).
// Without [room] a value that would take a new bucket is left out: false.
bool block_insert(Node t, int32_t i, bool room) {
  ensure_index_map(t, uint32_t(i) + 1);
  if (ints_of(hdr(t)->index_map)[i] >= 0) return true;  // already indexed
  Cell v = series_cells(hdr(t)->values)[i];
  const uint32_t hash = hash_value(&v);
  ProbeResult r = probe(t, hash, [&](int32_t key) {
    HashHeader* h = hdr(t);
    int32_t rep = key >= 0 ? key : ints_of(chain_node(h, -key))[0];
    Cell other = series_cells(h->values)[rep];
    return other.type() == v.type() && compare_cells(other, v, kCmpEqual) == 0;
  });
  int64_t b = r.found;
  if (b >= 0) {
    int32_t key = key_at(hdr(t), uint32_t(b));
    if (key >= 0) {
      int32_t k = chain_new(t, key, i);
      key_at(hdr(t), uint32_t(b)) = -k;
    } else {
      array_append_int(chain_node(hdr(t), -key), i);
    }
  } else {
    if (!room) return false;
    take_bucket(t, r, i, hash);
    b = r.free;
  }
  HashHeader* h = hdr(t);
  ints_of(h->index_map)[i] = int32_t(b);
  h->size++;
  return true;
}

struct MapPut {
  int32_t index;  // key index of the pair holding the key, -1 when nothing was indexed
  bool merged;    // the key was present: the new pair left the block
};

// MAY ALLOCATE, MAY RUN KIV CODE. Indexes the pair whose key is at [i] of a
// map!. [later_unindexed]: no key after [i] is indexed yet, so removing the
// pair needs no index fix-up.
MapPut map_insert(Node t, int32_t i, bool later_unindexed) {
  Node values = hdr(t)->values;
  if (i < 0 || uint32_t(i) + 1 >= series_cell_count(values)) return {-1, false};
  Cell* kc = series_cells(values) + i;
  if (is_any_word(kc->type())) kc->header = kTypeSetWord;
  grow_if_full(t);
  Cell key = series_cells(values)[i];
  const uint32_t hash = map_key_hash(key);
  ProbeResult r = probe(t, hash, [&](int32_t j) {
    Cell other = series_cells(values)[j];
    return map_keys_match(other, key, kCmpStrictEqual);
  });
  HashHeader* h = hdr(t);
  Cell* cells = series_cells(values);
  if (r.found < 0) {
    take_bucket(t, r, i, hash);
    if (cells[i + 1].header != 0) h->size++;
    return {i, false};
  }
  int32_t j = key_at(h, uint32_t(r.found));
  bool was_live = cells[j + 1].header != 0;
  cells[j + 1] = cells[i + 1];
  bool live = cells[j + 1].header != 0;
  h->size = h->size + live - was_live;
  SeriesBuffer* vb = series_buffer(values);
  uint32_t count = vb->used() / sizeof(Cell);
  std::memmove(cells + i, cells + i + 2, (count - uint32_t(i) - 2) * sizeof(Cell));
  vb->tail -= 2 * sizeof(Cell);
  // Stored key indexes above [i] move down by one pair; none lie there when
  // the dropped pair was the last (a revived key set again).
  if (!later_unindexed && uint32_t(i) + 2 < count) {
    uint8_t* f = flags_of(h);
    int32_t* keys = keys_of(h);
    for (uint32_t b = 0; b < h->buckets; b++)
      if (flag_at(f, b) != kBucketEmpty && keys[2 * b] > i) keys[2 * b] -= 2;
    if (j > i) j -= 2;
  }
  return {j, true};
}

// MAY ALLOCATE. Kind 2: indexes entry [i] of the values block, unchecked.
void symbols_insert(Node t, int32_t i) {
  grow_if_full(t);
  ProbeResult r = free_bucket(t, entry_hash(hdr(t), i));
  take_bucket(t, r, i);
  hdr(t)->size++;
}

// MAY ALLOCATE, MAY RUN KIV CODE. Indexes the whole block of a hash! or map!
// whose arrays were just made empty; false when a hash! value needs a new
// bucket once the table is at its upper bound (a map! grows as it goes).
bool index_all(Node t) {
  HashKind kind = HashKind(hdr(t)->kind);
  for (int32_t i = 0; uint32_t(i) < series_cell_count(hdr(t)->values);) {
    if (kind == kHashBlock) {
      HashHeader* h = hdr(t);
      if (!block_insert(t, i, h->occupied < h->upper)) return false;
      i++;
    } else if (!map_insert(t, i, true).merged) {
      i += 2;
    }
  }
  return true;
}

// Empties the index without touching the values block; [keep_map]: the
// value-to-bucket array keeps its length with every entry -1.
void reset_index(Node t, bool keep_map) {
  HashHeader* h = hdr(t);
  SeriesBuffer* f = series_buffer(h->flags);
  std::memset(f->head_ptr(), 0xAA, f->used());
  h->size = h->occupied = 0;
  if (h->kind == kHashBlock) {
    SeriesBuffer* m = series_buffer(h->index_map);
    if (keep_map)
      std::memset(m->head_ptr(), 0xFF, m->used());
    else
      m->tail = m->head;
    SeriesBuffer* s = series_buffer(h->chains);
    s->tail = s->head + 4;
    std::memset(s->head_ptr(), 0, 4);
  }
}

// MAY ALLOCATE. The refresh scratch table (kind 3), made on first use and
// kept as a root table.
Node refresh_scratch() {
  if (Node t = root_table(kRootTableRefreshScratch)) return t;
  Node t = hashtable_init(kRefreshScratchSize, 0, kHashRecords, 0);
  root_table_set(kRootTableRefreshScratch, t);
  return t;
}

// MAY ALLOCATE. Rewrites to map(i) the stored index of every indexed value
// whose index i lies in [lo, hi); each duplicate chain is rewritten once.
template <class Map>
void remap_indexes(Node t, int32_t lo, int32_t hi, Map&& map) {
  Node scratch = refresh_scratch();
  for (int32_t i = lo; i < hi; i++) {
    HashHeader* h = hdr(t);
    int32_t b = ints_of(h->index_map)[i];
    if (b < 0) continue;
    int32_t key = key_at(h, uint32_t(b));
    if (key >= 0) {
      key_at(h, uint32_t(b)) = map(key);
      continue;
    }
    Node chain = chain_node(h, -key);
    bool added = false;
    hashtable_put(scratch, chain, &added);
    if (!added) continue;
    int32_t* e = ints_of(chain);
    uint32_t n = int_count(chain);
    for (uint32_t j = 0; j < n; j++)
      if (e[j] >= lo && e[j] < hi) e[j] = map(e[j]);
  }
  hashtable_clear(scratch);
}

// ---------------------------------------------------------------- finding

bool position_ok(int32_t i, const HashFind& s) {
  if (s.reverse) return i < s.start && (s.start - 1 - i) % s.skip == 0;
  return i >= s.start && (i - s.start) % s.skip == 0;
}

// MAY RUN KIV CODE. The answer of live bucket [b] for [key] (on the data stack).
int32_t match_bucket(Node t, uint32_t b, Cell* key, const HashFind& s) {
  HashHeader* h = hdr(t);
  Node values = h->values;
  int32_t stored = key_at(h, b);
  if (h->kind == kHashMap) {
    Cell other = series_cells(values)[stored];
    if (!map_keys_match(other, *key, s.mode)) return -1;
    return series_cells(values)[stored + 1].header != 0 ? stored : -1;
  }
  std::vector<int32_t> group = bucket_values(h, stored);
  Cell rep = series_cells(values)[group[0]];
  if (rep.type() != key->type() || compare_cells(rep, *key, kCmpEqual) != 0) return -1;
  int32_t best = -1;
  for (int32_t i : group) {
    if (!position_ok(i, s)) continue;
    bool better = best < 0 || ((s.last || s.reverse) ? i > best : i < best);
    if (!better) continue;
    if (s.mode != kCmpEqual && compare_cells(series_cells(values)[i], *key, s.mode) != 0) continue;
    best = i;
  }
  return best;
}

// MAY RUN KIV CODE. Continues the probe of [s].
int32_t find_from(Node t, const Cell& key_in, HashFind& s) {
  Root key_root(hdr(t)->kind == kHashMap ? map_key(key_in) : key_in);
  Cell* key = key_root.get();
  while (!s.done) {
    HashHeader* h = hdr(t);
    if (s.buckets != h->buckets || s.probes >= h->buckets) break;
    uint32_t b = s.bucket;
    s.bucket = (s.bucket + s.step) & (h->buckets - 1);
    s.step++;
    s.probes++;
    uint32_t f = flag_at(flags_of(h), b);
    if (f == kBucketEmpty) break;
    if (f == kBucketDeleted || hash_at(h, b) != s.hash) continue;
    int32_t found = match_bucket(t, b, key, s);
    if (found >= 0) return found;
  }
  s.done = true;
  return -1;
}

// ---------------------------------------------------------------- kinds 3 and 4

ProbeResult probe_record(Node t, uint32_t key) {
  return probe(t, hash_int32(key), [&](int32_t off) {
    auto* rec = reinterpret_cast<const Cell*>(series_buffer(hdr(t)->values)->head_ptr() + off);
    return hashtable_record_key(rec) == key;
  });
}

bool record_kind(const HashHeader* h) { return h->kind == kHashRecords || h->kind == kHashOwners; }

void clear_record(Cell* rec, uint32_t record_bytes) {
  rec[0] = make_cell(kTypeNil);
  for (uint32_t c = 1; c < record_bytes / sizeof(Cell); c++) rec[c] = make_cell(kTypeUnset);
}

}  // namespace

// ---------------------------------------------------------------- hashing

uint32_t hash_symbol_name(const uint8_t* name, uint32_t length) {
  return murmur3_x86_32_lower(name, length, kHashSeed);
}

namespace {

// The MurmurHash3 state after mixing the [count] units of width [Unit] at
// [p], each folded to upper case unless [Case]. Four code points make one
// block, each rotated by 8 bits more than the one before it (for text of
// bytes, the bytes of a little-endian word); the last block may be shorter.
template <uint32_t Unit, bool Case>
uint32_t mix_units(uint32_t h, const uint8_t* p, uint32_t count) {
  auto at = [p](uint32_t i) {
    const uint8_t* u = p + size_t(i) * Unit;
    uint32_t cp = Unit == 1   ? *u
                  : Unit == 2 ? uint32_t(u[0] | u[1] << 8)
                              : uint32_t(u[0] | u[1] << 8 | u[2] << 16 | uint32_t(u[3]) << 24);
    if (!Case) cp = cp < 0x80 ? (cp - 'a' < 26u ? cp - 32 : cp) : case_map_upper(cp);
    return cp;
  };
  uint32_t i = 0;
  for (; i + 4 <= count; i += 4)
    h = murmur3_mix(
        h, at(i) ^ murmur3_rotl(at(i + 1), 8) ^ murmur3_rotl(at(i + 2), 16) ^ murmur3_rotl(at(i + 3), 24));
  if (i < count) {
    uint32_t k = at(i++);
    for (int r = 8; i < count; i++, r += 8) k ^= murmur3_rotl(at(i), r);
    h = murmur3_mix(h, k);
  }
  return h;
}

}  // namespace

uint32_t hash_latin1_text(const uint8_t* text, uint32_t count) {
  return murmur3_finish(mix_units<1, false>(kHashSeed, text, count), 4 * count);
}

uint32_t hash_string(const Cell* str, bool case_sensitive) {
  uint32_t h = kHashSeed;
  uint32_t count = 0;
  if (str->node()) {
    SeriesBuffer* b = series_buffer(str->node());
    uint32_t unit = b->unit();
    if (unit != 1 && unit != 2 && unit != 4) fatal_no_switch();
    uint64_t start = uint64_t(b->head) + uint64_t(std::max(str->head(), 0)) * unit;
    const uint8_t* p = b->data() + std::min<uint64_t>(start, b->tail);
    count = uint32_t(b->tail_ptr() - p) / unit;
    switch (unit * 2 + case_sensitive) {
      case 2: h = mix_units<1, false>(h, p, count); break;
      case 3: h = mix_units<1, true>(h, p, count); break;
      case 4: h = mix_units<2, false>(h, p, count); break;
      case 5: h = mix_units<2, true>(h, p, count); break;
      case 8: h = mix_units<4, false>(h, p, count); break;
      default: h = mix_units<4, true>(h, p, count); break;
    }
  }
  return murmur3_finish(h, 4 * count);
}

// ---------------------------------------------------------------- tables

HashHeader hashtable_header(Node table) { return *hdr(table); }

uint32_t hashtable_size(Node table) { return hdr(table)->size; }

uint32_t hashtable_bucket_flag(Node table, uint32_t i) {
  HashHeader* h = hdr(table);
  return i < h->buckets ? flag_at(flags_of(h), i) : kBucketEmpty;
}

Node hashtable_init(uint32_t size, Node block, HashKind kind, uint32_t record_cells) {
  if (kind == kHashSymbols && size >= 4000)
    size = uint32_t(std::min<uint64_t>(uint64_t(size) * 2, UINT32_MAX));
  if (kTinySizes) size = 4;  // every table grows from the minimum
  uint32_t n = std::max(size, 4u);
  uint32_t buckets = creation_buckets(n);
  Node values = kind < kHashRecords ? block : 0;
  NodeRoot values_root(values, NodeRoot::kBlock);
  if (!values) {
    values = series_alloc_cells(n);
    values_root.set(values);
  }
  Node t = series_alloc(kHeaderBytes / 4, 4, 0);
  SeriesBuffer* b = series_buffer(t);
  std::memset(b->data(), 0, b->capacity);
  b->tail = kHeaderBytes;
  HashHeader* h = hdr(t);
  h->values = values;
  h->kind = kind;
  h->buckets = buckets;
  h->upper = creation_upper(buckets);
  if (kind == kHashRecords || kind == kHashOwners)
    h->record_bytes = uint32_t(sizeof(Cell)) * (1 + record_cells);
  NodeRoot table_root(t, NodeRoot::kTable);
  Node flags = new_flags(buckets);
  hdr(t)->flags = flags;
  Node keys = new_keys(buckets, kind);
  hdr(t)->keys = keys;
  if (kind == kHashBlock) {
    Node map = array_make(n, 4);
    std::memset(series_buffer(map)->data(), 0xFF, series_buffer(map)->capacity);
    hdr(t)->index_map = map;
    Node chains = new_chain_store();
    hdr(t)->chains = chains;
  }
  if (block && kind < kHashRecords) hashtable_put_block(t, 0, kind == kHashMap ? 2 : 1);
  return t;
}

Node hashtable_copy(Node table, Node values) {
  Node t = series_copy_buffer(table);  // still naming [table]'s arrays until each is replaced
  NodeRoot table_root(t, NodeRoot::kTable);
  if (!values) values = series_copy_buffer(hdr(table)->values);
  hdr(t)->values = values;
  Node n = series_copy_buffer(hdr(table)->flags);
  hdr(t)->flags = n;
  n = series_copy_buffer(hdr(table)->keys);
  hdr(t)->keys = n;
  if (hdr(t)->kind == kHashBlock) {
    n = series_copy_buffer(hdr(table)->index_map);
    hdr(t)->index_map = n;
    n = series_copy_buffer(hdr(table)->chains);
    hdr(t)->chains = n;
    for (uint32_t k = 1; k < int_count(hdr(t)->chains); k++) {
      int32_t chain = ints_of(hdr(t)->chains)[k];
      if (chain <= 0) continue;
      n = array_copy(Node(chain));
      ints_of(hdr(t)->chains)[k] = int32_t(n);
    }
  }
  return t;
}

void hashtable_clear(Node table) {
  SeriesBuffer* vb = series_buffer(hdr(table)->values);
  vb->tail = vb->head;
  reset_index(table, false);
}

// ---------------------------------------------------------------- hash! and map!

int hashtable_put_value_status(Node table, int32_t index) {
  HashHeader* h = hdr(table);
  if (index < 0 || uint32_t(index) >= series_cell_count(h->values)) return 0;
  if (h->kind == kHashBlock) {
    if (h->occupied >= h->upper) {
      hashtable_rebuild(table, uint32_t(growth_number(h)));
      return kPutRebuilt;
    }
    block_insert(table, index, true);
  } else if (h->kind == kHashMap) {
    map_insert(table, index, false);
  }
  return 0;
}

int32_t hashtable_put_value(Node table, int32_t index) {
  HashHeader* h = hdr(table);
  if (index < 0 || uint32_t(index) >= series_cell_count(h->values)) return -1;
  if (h->kind == kHashMap) return map_insert(table, index, false).index;
  if (h->kind != kHashBlock) return -1;
  return hashtable_put_value_status(table, index) == kPutRebuilt ? -1 : index;
}

void hashtable_put_block(Node table, int32_t start, int32_t skip) {
  if (skip < 1) skip = 1;
  HashKind kind = HashKind(hdr(table)->kind);
  for (int32_t i = std::max(start, 0); uint32_t(i) < series_cell_count(hdr(table)->values);) {
    switch (kind) {
      case kHashBlock:
        if (hashtable_put_value_status(table, i) == kPutRebuilt) return;
        i += skip;
        break;
      case kHashMap:
        if (!map_insert(table, i, true).merged) i += skip;
        break;
      case kHashSymbols:
        symbols_insert(table, i);
        i += skip;
        break;
      default: return;
    }
  }
}

namespace {

// The probe of find_from for a string! [key] in the map! table [t] while
// every key it meets with the same hash is packed: those compare through
// the map_key_match hook, which neither allocates nor runs Kiv code, so no
// root or probe state is needed. The pair's key index, -1 when there is
// none; kMapProbeGeneral when a stored key is not packed, the general probe
// then deciding (nothing was changed).
constexpr int32_t kMapProbeGeneral = -2;

int32_t map_probe_packed(Node t, const Cell* key, CompareOp mode) {
  const HashHeader* h = hdr(t);
  const uint32_t hash = hash_value(key);
  const uint32_t mask = h->buckets - 1;
  const uint8_t* flags = flags_of(h);
  const int32_t* keys = keys_of(h);
  const Cell* cells = series_cells(h->values);
  uint32_t b = hash & mask;
  for (uint32_t step = 1, probes = 0; probes < h->buckets; b = (b + step) & mask, step++, probes++) {
    uint32_t f = flag_at(flags, b);
    if (f == kBucketEmpty) break;
    if (f == kBucketDeleted || uint32_t(keys[2 * b + 1]) != hash) continue;
    const int32_t stored = keys[2 * b];
    if (!packed_key_q(cells[stored])) return kMapProbeGeneral;
    if (g_hooks.map_key_match(&cells[stored], key, mode) && cells[stored + 1].header != 0) return stored;
  }
  return -1;
}

}  // namespace

int32_t hashtable_find(Node table, const Cell* key, int32_t start, int32_t skip, CompareOp mode, bool last,
                       bool reverse, HashFind* state) {
  if (!state && key->is(kTypeString) && hdr(table)->kind == kHashMap && start == 0 && skip <= 1) {
    int32_t found = map_probe_packed(table, key, mode);
    if (found != kMapProbeGeneral) return found;
  }
  HashFind local;
  HashFind& s = state ? *state : local;
  HashHeader* h = hdr(table);
  s = HashFind{};
  s.start = start;
  s.skip = skip < 1 ? 1 : skip;
  s.mode = mode;
  s.last = last;
  s.reverse = reverse;
  if (h->kind != kHashBlock && h->kind != kHashMap) return -1;
  // No map! key is unset!: that form is the map!'s own.
  if (h->kind == kHashMap && packed_key_q(*key)) return -1;
  Cell k = h->kind == kHashMap ? map_key(*key) : *key;
  s.buckets = h->buckets;
  s.hash = hash_value(&k);
  s.bucket = s.hash & (h->buckets - 1);
  s.step = 1;
  s.done = false;
  return find_from(table, k, s);
}

int32_t hashtable_find_next(Node table, const Cell* key, HashFind* state) {
  if (!state || state->done) return -1;
  return find_from(table, *key, *state);
}

void hashtable_delete_value(Node table, int32_t index) {
  HashHeader* h = hdr(table);
  if (index < 0) return;
  if (h->kind == kHashMap) {
    if (uint32_t(index) + 1 >= series_cell_count(h->values)) return;
    Cell* value = series_cells(h->values) + index + 1;
    if (value->header == 0) return;
    value->header = 0;
    h->size--;
    return;
  }
  if (h->kind != kHashBlock || uint32_t(index) >= int_count(h->index_map)) return;
  int32_t* map = ints_of(h->index_map);
  int32_t b = map[index];
  if (b < 0) return;
  map[index] = -1;
  h->size--;
  int32_t& key = key_at(h, uint32_t(b));
  if (key >= 0) {
    set_flag(flags_of(h), uint32_t(b), kBucketDeleted);
    return;
  }
  int32_t k = -key;
  Node chain = chain_node(h, k);
  int32_t at = array_find_int(chain, index);
  if (at >= 0) array_remove_bytes(chain, uint32_t(at), 4);
  if (int_count(chain) == 1) {
    key_at(hdr(table), uint32_t(b)) = ints_of(chain)[0];
    chain_free(table, k);
  }
}

void hashtable_remove_range(Node table, int32_t position, int32_t n) {
  HashHeader* h = hdr(table);
  if (h->kind != kHashBlock && h->kind != kHashMap) return;
  int32_t count = int32_t(series_cell_count(h->values));
  int32_t from = std::max(position, 0);
  int32_t to = int32_t(std::min<int64_t>(int64_t(position) + n, count));
  if (from >= to) return;
  if (from == 0 && to == count) {
    reset_index(table, true);
    return;
  }
  if (h->kind == kHashBlock) {
    for (int32_t i = from; i < to; i++) hashtable_delete_value(table, i);
    return;
  }
  for (int32_t i = from + (from & 1); i < to; i += 2) {
    Cell key = series_cells(h->values)[i];
    ProbeResult r = probe(table, map_key_hash(key), [&](int32_t j) { return j == i; });
    if (r.found < 0) continue;
    h = hdr(table);
    set_flag(flags_of(h), uint32_t(r.found), kBucketDeleted);
    if (uint32_t(i) + 1 < uint32_t(count) && series_cells(h->values)[i + 1].header != 0) h->size--;
  }
}

int hashtable_refresh(Node table, int32_t position, int32_t offset, int32_t count, bool removing) {
  if (count > int32_t(kRefreshLimit)) return 1;
  if (hdr(table)->kind != kHashBlock || position < 0 || offset <= 0 || count < 0) return 0;
  int32_t lo = removing ? position + offset : position;
  int32_t hi = lo + count;
  int32_t delta = removing ? -offset : offset;
  ensure_index_map(table, uint32_t(hi));
  remap_indexes(table, lo, hi, [delta](int32_t i) { return i + delta; });
  Node map = hdr(table)->index_map;
  if (removing) {
    array_remove_bytes(map, uint32_t(position) * 4, uint32_t(offset) * 4);
  } else {
    uint32_t length = int_count(map);
    reserve_tail(map, uint32_t(offset) * 4);
    int32_t* m = ints_of(map);
    std::memmove(m + position + offset, m + position, (length - uint32_t(position)) * 4);
    std::memset(m + position, 0xFF, uint32_t(offset) * 4);
  }
  return 0;
}

void hashtable_move_range(Node table, int32_t source, int32_t target, int32_t n) {
  if (hdr(table)->kind != kHashBlock || n <= 0 || source < 0 || target < 0 || source == target) return;
  int32_t lo = std::min(source, target);
  int32_t hi = std::max(source, target) + n;
  auto map = [=](int32_t i) -> int32_t {
    if (i >= source && i < source + n) return i - source + target;
    return target < source ? i + n : i - n;
  };
  ensure_index_map(table, uint32_t(hi));
  remap_indexes(table, lo, hi, map);
  int32_t* m = ints_of(hdr(table)->index_map);
  std::vector<int32_t> old(m + lo, m + hi);
  for (int32_t i = lo; i < hi; i++) m[map(i)] = old[size_t(i - lo)];
}

void hashtable_rebuild(Node table, uint32_t number) {
  HashKind kind = HashKind(hdr(table)->kind);
  if (kind != kHashBlock && kind != kHashMap) return;
  uint64_t n = number;
  for (;;) {
    uint32_t buckets = next_pow2(uint64_t(double(n) * 1.5));
    // Each new array goes into the header at once, so the table roots it.
    Node node = new_flags(buckets);
    hdr(table)->flags = node;
    node = new_keys(buckets, kind);
    hdr(table)->keys = node;
    if (kind == kHashBlock) {
      node = array_make(series_cell_count(hdr(table)->values), 4);
      hdr(table)->index_map = node;
      node = new_chain_store();
      hdr(table)->chains = node;
    }
    HashHeader* h = hdr(table);
    h->buckets = buckets;
    h->upper = creation_upper(buckets);
    h->size = h->occupied = 0;
    if (index_all(table)) return;
    n = uint64_t(buckets) + 1;
  }
}

// ---------------------------------------------------------------- keys the client reads (kind 2)

HashBuckets hashtable_buckets(Node table) {
  const HashHeader* h = hdr(table);
  return HashBuckets{flags_of(h), keys_of(h), h->buckets};
}

int32_t hashtable_found_key(Node table, const HashSlot& slot) { return keys_of(hdr(table))[slot.found]; }

void hashtable_insert_key(Node table, const HashSlot& slot, int32_t key) {
  take_bucket(table, ProbeResult{slot.found, slot.free, slot.free_was_empty}, key);
  hdr(table)->size++;
}

void hashtable_make_room(Node table) { grow_if_full(table); }

bool hashtable_full_q(Node table) { return hdr(table)->occupied >= hdr(table)->upper; }

// ---------------------------------------------------------------- records (kinds 3 and 4)

int32_t hashtable_put(Node table, uint32_t key, bool* added) {
  if (added) *added = false;
  if (!record_kind(hdr(table))) return -1;
  ProbeResult r = probe_record(table, key);
  if (r.found >= 0) return keys_of(hdr(table))[r.found] / int32_t(sizeof(Cell));
  HashHeader* h = hdr(table);
  if (h->occupied >= h->upper) {
    grow_if_full(table);
    r = probe_record(table, key);
  }
  h = hdr(table);
  Node values = h->values;
  uint32_t record_bytes = h->record_bytes;
  uint32_t offset = series_buffer(values)->used();
  auto* rec = reinterpret_cast<Cell*>(reserve_tail(values, record_bytes));
  rec[0] = make_cell(kTypeUnset, key);
  for (uint32_t c = 1; c < record_bytes / sizeof(Cell); c++) rec[c] = make_cell(kTypeUnset);
  take_bucket(table, r, int32_t(offset));
  hdr(table)->size++;
  if (added) *added = true;
  return int32_t(offset / sizeof(Cell));
}

int32_t hashtable_get(Node table, uint32_t key) {
  if (!record_kind(hdr(table))) return -1;
  ProbeResult r = probe_record(table, key);
  return r.found >= 0 ? keys_of(hdr(table))[r.found] / int32_t(sizeof(Cell)) : -1;
}

bool hashtable_remove_key(Node table, uint32_t key) {
  if (!record_kind(hdr(table))) return false;
  ProbeResult r = probe_record(table, key);
  if (r.found < 0) return false;
  HashHeader* h = hdr(table);
  uint32_t b = uint32_t(r.found);
  set_flag(flags_of(h), b, kBucketDeleted);
  h->size--;
  clear_record(reinterpret_cast<Cell*>(series_buffer(h->values)->head_ptr() + keys_of(h)[b]),
               h->record_bytes);
  return true;
}

Cell* hashtable_record(Node table, int32_t position) { return series_cells(hdr(table)->values) + position; }

// ---------------------------------------------------------------- collector hooks

void hashtable_mark(Node table, const HashMarkHooks& hooks) {
  if (!table) return;
  auto mark = [&](Node n) {
    if (n) hooks.mark_series(n);
  };
  mark(table);
  const HashHeader* h = hdr(table);
  mark(h->flags);
  mark(h->keys);
  switch (h->kind) {
    case kHashBlock:
      mark(h->index_map);
      if (h->chains && node_in_use(h->chains)) {
        mark(h->chains);
        const int32_t* s = ints_of(h->chains);
        for (uint32_t k = 1; k < int_count(h->chains); k++)
          if (s[k] > 0) mark(Node(s[k]));
      }
      [[fallthrough]];
    case kHashMap:
    case kHashSymbols:
      if (h->values) hooks.mark_block(h->values);
      break;
    case kHashRecords: {
      mark(h->values);
      if (!node_in_use(h->values)) break;
      SeriesBuffer* vb = series_buffer(h->values);
      uint32_t cells_per_record = h->record_bytes / sizeof(Cell);
      for (uint32_t off = vb->head; off + h->record_bytes <= vb->tail; off += h->record_bytes) {
        auto* rec = reinterpret_cast<const Cell*>(vb->data() + off);
        if (!rec->is(kTypeUnset)) continue;
        Node key = hashtable_record_key(rec);
        if (node_in_use(key)) {
          if (series_buffer(key)->unit() == sizeof(Cell))
            hooks.mark_block(key);
          else
            hooks.mark_series(key);
        }
        for (uint32_t c = 1; c < cells_per_record; c++) hooks.mark_cell(rec + c);
      }
      break;
    }
    default: mark(h->values); break;
  }
}

void hashtable_sweep(Node table, bool (*is_live)(Node)) {
  HashHeader* h = hdr(table);
  if (!record_kind(h)) return;
  auto live = [&](Node n) { return n == 0 || is_live(n); };
  uint8_t* flags = flags_of(h);
  const int32_t* keys = keys_of(h);
  uint8_t* base = series_buffer(h->values)->head_ptr();
  uint32_t cells_per_record = h->record_bytes / sizeof(Cell);
  for (uint32_t b = 0; b < h->buckets; b++) {
    if (flag_at(flags, b) != kBucketLive) continue;
    auto* rec = reinterpret_cast<Cell*>(base + keys[b]);
    bool dead = !live(hashtable_record_key(rec));
    if (!dead && h->kind == kHashOwners) {
      if (cells_per_record > 2) dead = !gc_cell_refs_q(rec + 2, is_live);
      if (!dead && cells_per_record > 3) dead = !gc_cell_refs_q(rec + 3, is_live);
    }
    if (!dead) continue;
    set_flag(flags, b, kBucketDeleted);
    h->size--;
    clear_record(rec, h->record_bytes);
  }
}

// ---------------------------------------------------------------- integer-keyed variant

namespace {

void inthash_arrays(IntHash* t, uint32_t buckets) {
  uint32_t flag_bytes = buckets / 4;
  t->flags = static_cast<uint8_t*>(heap_alloc(flag_bytes));
  std::memset(t->flags, 0xAA, flag_bytes);
  t->pairs = static_cast<uint32_t*>(heap_alloc(size_t(buckets) * 8));
  t->buckets = buckets;
}

// The bucket of [key], or -1 with [*free] the insertion bucket and [*from_empty] its kind.
int64_t inthash_probe(const IntHash* t, uint32_t key, int64_t* free, bool* from_empty) {
  uint32_t mask = t->buckets - 1;
  uint32_t i = hash_int32(key) & mask;
  int64_t deleted = -1;
  for (uint32_t step = 1; step <= t->buckets; step++) {
    uint32_t f = flag_at(t->flags, i);
    if (f == kBucketEmpty) {
      *free = deleted >= 0 ? deleted : i;
      *from_empty = deleted < 0;
      return -1;
    }
    if (f == kBucketDeleted) {
      if (deleted < 0) deleted = i;
    } else if (t->pairs[2 * i] == key) {
      return i;
    }
    i = (i + step) & mask;
  }
  *free = deleted;
  *from_empty = false;
  return -1;
}

}  // namespace

IntHash* inthash_new(uint32_t size) {
  auto* t = static_cast<IntHash*>(heap_alloc(sizeof(IntHash)));
  *t = IntHash{};
  inthash_arrays(t, creation_buckets(kTinySizes ? 4 : size));
  t->upper = creation_upper(t->buckets);
  return t;
}

void inthash_put(IntHash* t, uint32_t key, uint32_t value) {
  int64_t free = -1;
  bool from_empty = false;
  int64_t b = inthash_probe(t, key, &free, &from_empty);
  if (b < 0 && t->occupied >= t->upper) {
    inthash_resize(t, 2 * t->size < t->buckets ? t->buckets - 1 : t->buckets + 1);
    b = inthash_probe(t, key, &free, &from_empty);
  }
  if (b < 0) {
    fatal_assert(free >= 0);
    b = free;
    set_flag(t->flags, uint32_t(b), kBucketLive);
    t->pairs[2 * b] = key;
    t->size++;
    if (from_empty) t->occupied++;
  }
  t->pairs[2 * b + 1] = value;
}

uint32_t* inthash_get(IntHash* t, uint32_t key) {
  int64_t free;
  bool from_empty;
  int64_t b = inthash_probe(t, key, &free, &from_empty);
  return b >= 0 ? &t->pairs[2 * b + 1] : nullptr;
}

bool inthash_remove(IntHash* t, uint32_t key) {
  int64_t free;
  bool from_empty;
  int64_t b = inthash_probe(t, key, &free, &from_empty);
  if (b < 0) return false;
  set_flag(t->flags, uint32_t(b), kBucketDeleted);
  t->size--;
  return true;
}

void inthash_clear(IntHash* t) {
  std::memset(t->flags, 0xAA, t->buckets / 4);
  t->size = t->occupied = 0;
}

void inthash_free(IntHash* t) {
  if (!t) return;
  heap_free(t->flags);
  heap_free(t->pairs);
  heap_free(t);
}

bool inthash_next_live(const IntHash* t, uint32_t* cursor, uint32_t* key, uint32_t* value) {
  for (uint32_t i = *cursor; i < t->buckets; i++) {
    if (flag_at(t->flags, i) != kBucketLive) continue;
    *key = t->pairs[2 * i];
    *value = t->pairs[2 * i + 1];
    *cursor = i + 1;
    return true;
  }
  *cursor = t->buckets;
  return false;
}

void inthash_resize(IntHash* t, uint32_t number) {
  uint32_t buckets = next_pow2(number);
  while (resize_upper(buckets) <= t->size) buckets = next_pow2(uint64_t(buckets) * 2);
  uint8_t* old_flags = t->flags;
  uint32_t* old_pairs = t->pairs;
  uint32_t old_buckets = t->buckets;
  inthash_arrays(t, buckets);
  uint32_t mask = buckets - 1;
  for (uint32_t j = 0; j < old_buckets; j++) {
    if (flag_at(old_flags, j) != kBucketLive) continue;
    uint32_t i = hash_int32(old_pairs[2 * j]) & mask;
    for (uint32_t step = 1; flag_at(t->flags, i) != kBucketEmpty; step++) i = (i + step) & mask;
    set_flag(t->flags, i, kBucketLive);
    t->pairs[2 * i] = old_pairs[2 * j];
    t->pairs[2 * i + 1] = old_pairs[2 * j + 1];
  }
  heap_free(old_flags);
  heap_free(old_pairs);
  t->occupied = t->size;
  t->upper = resize_upper(buckets);
}

}  // namespace kiv
