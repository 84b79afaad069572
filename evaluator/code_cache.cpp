// The compiled form of code blocks (see code_cache.h).
//
// Layout. Each block node that runs as code has a CodeCache, made at its
// first run, which goes the general way; from the second run on, each
// expression start reached gets an Expr, compiled on arrival. An Expr is a
// flat array of Ops in preorder: an op's operands follow it, and
// op + op->size is the op after its whole subtree. Expr arrays never move
// or shrink once made, so a const Op* stays valid while the cache lives; an
// Expr compiled again while another C++ frame runs the cache is retired,
// not freed, until the sweep finds the cache idle.
//
// Guards. An Expr keeps a copy of its span: the code cells its ops read
// (up to the first op left general), with the cell after them when that
// is no word, or the block's tail when it ended there. A span found to hold
// is not compared again while the code epoch stays where it was then (see
// g_code_epoch). When the span holds at the expression's start, the
// expression runs trusted: each op is at its
// own position with its own cell, so until something runs Kiv code (a call,
// a paren, a store with a handler, a general op) the ops skip their own
// guards. Untrusted, every op checks that it runs at its own position and
// that the live code cell there is its copy. Whatever the trust, a call or
// an operator checks that its word still holds its callee (16 bytes): the
// callee's argument list, fetch modes and accepted types were read from
// that value, and a value's list never changes. A failed guard evaluates
// the operand there the general way (eval_expr from the same index, nothing
// consumed yet) and marks the expression stale, to be compiled again at its
// next arrival (a few times at most). Values are never cached: words are
// read through their bindings at each run, and an operator after a value is
// looked for live unless the span proves there is none (a word may have
// been made an operator since).
//
// Shortcuts. Operators and two-argument built-ins over plain integers
// (literals, words, object field paths), nested, are computed in one step
// while trusted, with the general path's own integer arithmetic
// (integer_infix, integer_builtin); anything else, an overflow or a zero
// divisor included, goes the ordinary way, which raises what it raises.
// if, unless, either, any and all run their blocks from the call without
// their entries, their frame on the stack as the entry would have it.
//
// Programs. A block run often enough from one head whose expressions all
// have flat forms (or are choices over flat conditions and flat branches)
// runs as one run of steps, with no frame for its choices (see Program).
//
// The collector. Nothing here is a root and no series is allocated: caches
// keep node numbers as keys compared, never followed, and copies of cells.
// After marking, a sweep callback drops the caches of blocks that died (a
// node is reused only after that sweep) and disarms every op whose callee
// died (its nodes could be reused by another function with equal cells),
// and drops the programs whose blocks or callees died.
#include "evaluator/code_cache.h"

#include <cstring>
#include <memory>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "evaluator/path_fast.h"
#include "runtime/collector.h"

namespace kiv::interp {

namespace {

enum OpKind : uint8_t {
  kOpGeneral,   // evaluated by eval_expr at the current index, no guard
  kOpConst,     // a value that evaluates to itself
  kOpWord,      // a word holding a plain value
  kOpSetWord,   // a set-word; its value's subtree follows
  kOpParen,     // a paren run as code
  kOpPath,      // a path! or get-path! (path_fast_try, else the general way)
  kOpSetPath,   // a set-path!; its value's subtree follows
  kOpCall,      // a word naming a native!, action! or function!; the arguments' subtrees follow
  kOpInfix,     // an operand and its operators: the operand's subtree, then kOpOperator subtrees
  kOpOperator,  // an operator word; its right operand's subtree follows
};

// How a call or operator ends once its arguments are in place.
enum CallKind : uint8_t {
  kCallBuiltin,   // a native's or action's entry (integer_builtin first)
  kCallFunction,  // a function!'s body
  kCallIf,        // the natives run here without their entries
  kCallUnless,
  kCallEither,
  kCallAny,
  kCallAll,
  kCallGeneral,  // an operator whose function is not built in: call_at
};

// A built-in call whose handler may run here directly, without its entry,
// when its arguments are of the kinds that handler takes (direct_builtin).
enum DirectKind : uint8_t {
  kDirectNone,
  kDirectAppend,  // append: a text or char onto a string-like series
  kDirectPick,    // pick: a series' element at an integer index
};

struct Expr;

struct Op {
  OpKind kind = kOpGeneral;
  bool lookahead = false;  // the operators after the value are taken (eval_infix)
  CallKind call = kCallBuiltin;
  DirectKind direct = kDirectNone;  // kOpCall: its handler may run without its entry
  IntArith arith = kArithNone;      // kOpCall, kOpOperator: what the callee computes on two integers
  bool pure = false;                // a plain value, or operators and two-argument built-ins over pure
                                    // operands: computed without a call when all are integers (pure_value)
  uint16_t size = 1;                // ops in this subtree, this one included
  int16_t params = 0;               // kOpCall: leading parameters fetched
  int32_t at = -1;                  // the position of [code]
  int32_t next = -1;                // the position after the operand (its operators included), or -1
  bool follow_check = true;         // trusted, an operator after it must still be looked for live
  bool unbuilt = false;             // general because its callee had no argument list yet
  int16_t items = 0;                // kOpCall, kOpOperator: the list's items
  int16_t count = 0;                // locals (function!) or refinements (native!, action!)
  int16_t flat = -1;  // a pure kOpInfix or kOpCall: its flat form in the Expr's pure_flats, or -1
  Node list = 0;      // the callee's argument list
  uint64_t accept = ~uint64_t(0);  // the types the parameter this value fills accepts
  uint64_t accept_left = 0;        // kOpOperator: the types its left operand may have
  FrameName name{};                // kOpCall, kOpOperator: the frame's name
  Cell code{};                     // the code cell at [at] when compiled
  Cell callee{};                   // kOpCall, kOpOperator: the word's value when compiled;
                                   // kOpPath, kOpSetPath (field_path): the path's first word
  Cell field{};                    // kOpPath, kOpSetPath (field_path): the path's field word
  bool field_path = false;         // kOpPath, kOpSetPath: `word/field`, read here when it holds
  mutable int32_t hint = -1;       // field_path: the slot the field was found at last
  mutable uint64_t path_seen = 0;  // field_path: the code epoch its path was last found to hold at
  Expr* sub = nullptr;             // kOpParen: the paren's first expression, compiled with this one
};

// The flat form of an expression computed without effects up to one plain
// store at its end (see flatten): its ops in the order their values are
// taken, each step reading the op it names.
enum FlatStep : uint8_t {
  kStepConst,          // push the op's literal
  kStepWord,           // push the word's plain value
  kStepField,          // push the field a field path reads
  kStepOperator,       // the two values on top through the operator op (integers only)
  kStepBuiltin,        // the two values on top through the two-argument built-in call op (integers only)
  kStepOperatorConst,  // the value on top and the operator's integer literal through the operator op
  kStepOperatorWord,   // the value on top and the integer its right operand word holds, likewise
  kStepBuiltinConst,   // the value on top and the call's integer literal second argument through the call op
  kStepBuiltinWord,    // the value on top and the integer its second argument word holds, likewise
  kStepFollow,         // no operator word after the op's operand
  kStepSetWord,        // store the value on top into the set-word's plain slot
  kStepSetField,       // store it into the field of the field set-path
  // The steps of a block's program (see Program): many expressions, with
  // the `if`, `unless` and `either` calls whose branches have flat forms.
  kStepBegin,    // an expression of the program's block starts at [imm]: the values so far are dropped
  kStepCallee,   // the word [fn] still holds [callee]
  kStepCallees,  // the [imm] kStepCallee steps after it hold, checked here and then skipped
  kStepBranch,   // the value on top, taken off, is of a type in [accept]; when its truth is [when], on at
                 // [imm]
  kStepJump,     // on at step [imm]
  kStepNone,     // push none
  kStepTake,     // the program stops to take the branch of the choice [op] the ordinary way
  kStepDrop,     // take the value on top off
  kStepAny,      // the value on top is true: on at [imm]; else taken off
  kStepAll,      // the value on top is false: none in its place, on at [imm]
  // Steps of one context's words (see finish_steps): the context's values
  // are found once, then its words read and stored by slot.
  kStepLocals,      // the values of the context [word.ctx] found for the local steps after it
  kStepLocal,       // push the plain value of the local slot [word.index]
  kStepApplyLocal,  // the value on top and the integer the local slot holds through the operator or call op
  kStepSetLocal,    // store the value on top into the local slot by a plain write
  // A field step joined with the operator or call step that takes its value
  // (see join_field_steps).
  kStepFieldConst,  // push the field, through the operator or call op with its integer literal [imm]
  kStepApplyField,  // the value on top and the integer the field holds through the operator or call op
};

// A word a flat step reads or stores into: its context and slot, taken
// from the code cell when compiled (the cell is in the span, so they hold
// while the span does).
struct FlatWord {
  Node ctx = 0;
  int32_t index = -1;
};

struct Flat {
  FlatStep step;
  IntArith arith = kArithNone;  // operator and built-in steps: what the callee computes
  int32_t imm = 0;              // kStep*Const: the right operand's integer
  FlatWord word;                // kStepWord, kStep*Word, kStepSetWord: the word read or set
  FlatWord fn;                  // operator and built-in steps: the word naming the callee
  Cell callee{};                // operator and built-in steps: its value when compiled
  const Op* op = nullptr;
  Node node = 0;      // kStepFollow: the block the operand is in
  bool when = false;  // kStepBranch: the truth that jumps
  // Operator and built-in steps: the callee was checked at the start of the
  // steps. kStepSetField: such checks were made, so the field must not be a
  // global word's slot.
  bool checked = false;
  uint64_t accept = 0;  // kStepBranch: the types the condition may have; kStepField: the types read here
  // Field steps: the field path op (kOpPath or kOpSetPath) and its field's
  // spelling; [word] is the path's first word.
  const Op* path = nullptr;
  int32_t symbol = 0;
  mutable int32_t hint = -1;  // field steps: the slot the field was found at last
  bool path_copied = false;   // field steps: the path's cells are among a program's block copies
};

// Where a program stopped (see Program): the start of the expression to go
// on from, and when it stopped to take a branch that has no flat form, the
// choice with its condition's value.
struct ProgramStop {
  int32_t index = 0;
  const Op* choice = nullptr;  // the `if`, `unless` or `either` call
  Cell cond{};
};

// The types a path reads only through the general way (it calls them).
constexpr uint64_t kFieldCalledTypes = uint64_t(1) << kTypeNative | uint64_t(1) << kTypeAction |
                                       uint64_t(1) << kTypeFunction | uint64_t(1) << kTypeRoutine;

// Values on the flat form's own stack at most.
constexpr int32_t kFlatDepth = 8;

struct Expr {
  std::vector<Op> ops;
  std::vector<Flat> flat;    // empty unless the whole expression has a flat form
  bool flat_stores = false;  // the flat form ends in a store
  std::vector<Flat>
      cond_flat;  // an `if`, `unless` or `either` at the start: its condition's flat form, or empty
  std::vector<std::vector<Flat>> pure_flats;  // the flat forms of pure operands (Op::flat)
  std::vector<Cell> span;                     // the code cells from the start that the ops read, as compiled
  // Their count: at least 1 (an empty span keeps one cell no code cell equals).
  uint32_t span_cells = 0;
  int32_t at = 0;                           // the expression's start
  bool tail_end = false;                    // the block ended right after the span
  bool stale = false;                       // a guard failed: compile again at the next arrival
  uint8_t recompiles = 0;                   // compiled again this many times (bounded)
  uint64_t seen = 0;                        // the code epoch at which the span was last found to hold
  std::vector<std::unique_ptr<Expr>> subs;  // what the ops' subs point to
};

constexpr uint8_t kMaxRecompiles = 8;

// The cells of a block from a head to its tail as a program was built from them.
struct BlockCopy {
  Node node = 0;
  int32_t head = 0;
  std::vector<Cell> cells;
};

// A whole block, from one head to its tail, as one run of flat steps: each
// expression a flat form (kStepBegin before it), or an `if`, `unless` or
// `either` whose condition has one and whose branches are block literals
// that are one flat expression each (a jump over what is not taken; none
// for a branch not taken). Every check of an expression comes before its
// one store, so a step that fails leaves that expression undone and the
// block goes on from its start the ordinary way. Trusted while every block
// copied is as it was (compared again only when the code epoch moved).
// Nothing a program runs raises or runs Kiv code: no frame is needed for
// the choices, and nobody can see that there was none.
struct Program {
  int32_t head = 0;
  std::vector<Flat> steps;
  std::vector<std::unique_ptr<Expr>> exprs;  // what the steps point into
  std::vector<BlockCopy> blocks;             // the block itself first, then the branches
  uint64_t seen = 0;                         // the code epoch at which the blocks were last found alike
  uint32_t misses = 0;                       // runs in a row that did nothing
};

// Runs of a block before it gets a program: its expressions run the
// ordinary way first, so a block run once or twice costs no program.
constexpr uint32_t kRunsBeforeProgram = 2;
// Programs built for one block at most: one that keeps changing runs the ordinary way.
constexpr uint8_t kProgramBuilds = 4;
// Runs in a row a program may fail at its first expression before it is dropped.
constexpr uint32_t kProgramMisses = 16;
// A block is compiled from its second run on: code that runs once (a
// script's top level, data loaded and done) costs no table.
constexpr uint32_t kPassesBeforeCompiling = 1;

}  // namespace

struct CodeCache {
  Node node = 0;
  uint32_t running = 0;                        // C++ frames running its expressions
  uint32_t passes = 0;                         // runs begun, counted up to kPassesBeforeCompiling
  int32_t last_one = INT32_MAX;                // the position code_eval_one ran last
  std::vector<std::unique_ptr<Expr>> entries;  // by expression start
  std::vector<std::unique_ptr<Expr>> retired;  // compiled again while running; freed when idle
  // The whole block from one head as flat steps, when it can be (Program).
  std::unique_ptr<Program> program;
  uint32_t runs = 0;             // runs begun from a head, counted up to kRunsBeforeProgram
  bool program_refused = false;  // not built, or dropped for missing too often: not tried again
  uint8_t program_builds = 0;    // programs built for it (a block that keeps changing gets no more)
};

namespace {

std::vector<CodeCache*> g_by_node;                 // by block node
std::vector<std::unique_ptr<CodeCache>> g_caches;  // every cache (owned), for the sweep
bool g_sweep_registered = false;

// The code epoch. It moves on whenever C++ outside the compiled forms may
// have run since it last moved: after every call out of compiled code (a
// builtin's entry, the general evaluator, a path or store that may run a
// handler), on every way into compiled code from elsewhere, and after the
// loop natives' own changes to a series between rounds. The compiled forms
// themselves change no code cells (their stores go to context slots). So a
// span found to hold at some epoch still holds while the epoch stays the
// same, and an expression runs trusted without comparing its span again.
uint64_t g_code_epoch = 1;

// Moves the code epoch on when it goes, also when an error or a throw
// passes: what ran inside may have changed code cells.
class EpochAfter {
 public:
  EpochAfter() = default;
  ~EpochAfter() {
    if (!kept_) g_code_epoch++;
  }
  EpochAfter(const EpochAfter&) = delete;
  EpochAfter& operator=(const EpochAfter&) = delete;
  // Nothing ran after all: the epoch stays.
  void keep() { kept_ = true; }

 private:
  bool kept_ = false;
};

// The whole 16 bytes of two cells alike (header flags included).
[[gnu::always_inline]] inline bool same_cell(const Cell& a, const Cell& b) {
  uint64_t a0, a1, b0, b1;
  std::memcpy(&a0, &a, 8);
  std::memcpy(&a1, reinterpret_cast<const char*>(&a) + 8, 8);
  std::memcpy(&b0, &b, 8);
  std::memcpy(&b1, reinterpret_cast<const char*>(&b) + 8, 8);
  return ((a0 ^ b0) | (a1 ^ b1)) == 0;
}

// ---------------------------------------------------------------- the collector

bool callee_alive(const Op& op) { return gc_cell_refs_q(&op.callee, gc_node_marked); }

void disarm_dead_callees(Expr& e) {
  for (auto& sub : e.subs) disarm_dead_callees(*sub);
  bool any = false;
  for (Op& op : e.ops) {
    if ((op.kind == kOpCall || op.kind == kOpOperator) && !callee_alive(op)) {
      op.kind = kOpGeneral;
      any = true;
    }
  }
  if (any) e.stale = true;
}

// True while everything the program [p] keeps a copy of is alive: the
// blocks it copied and the callees its steps compare.
bool program_alive(const Program& p) {
  for (const BlockCopy& copy : p.blocks)
    if (!gc_node_marked(copy.node)) return false;
  for (const Flat& f : p.steps)
    if (f.step != kStepConst && !gc_cell_refs_q(&f.callee, gc_node_marked)) return false;
  return true;
}

void sweep_caches() {
  for (size_t k = 0; k < g_caches.size();) {
    CodeCache* c = g_caches[k].get();
    if (!c->running && !gc_node_marked(c->node)) {
      g_by_node[c->node] = nullptr;
      g_caches[k] = std::move(g_caches.back());
      g_caches.pop_back();
      continue;
    }
    for (auto& e : c->entries)
      if (e) disarm_dead_callees(*e);
    // Programs run whole between two allocations: none is running now.
    if (c->program && !program_alive(*c->program)) c->program.reset();
    if (!c->running) c->retired.clear();
    for (auto& e : c->retired) disarm_dead_callees(*e);
    k++;
  }
}

[[gnu::noinline]] CodeCache* cache_new(Node node) {
  if (node >= g_by_node.size()) g_by_node.resize(std::max<size_t>(node + 1, g_by_node.size() * 2), nullptr);
  CodeCache*& c = g_by_node[node];
  if (!c) {
    g_caches.push_back(std::make_unique<CodeCache>());
    c = g_caches.back().get();
    c->node = node;
  }
  return c;
}

[[gnu::always_inline]] inline CodeCache* cache_of(Node node) {
  if (node < g_by_node.size())
    if (CodeCache* c = g_by_node[node]) return c;
  return cache_new(node);
}

// Counts a C++ frame running [cache]'s expressions (what was retired is
// freed by the sweep once none does).
class CacheUse {
 public:
  explicit CacheUse(CodeCache* c) : c_(c) { c_->running++; }
  ~CacheUse() { c_->running--; }
  CacheUse(const CacheUse&) = delete;
  CacheUse& operator=(const CacheUse&) = delete;

 private:
  CodeCache* c_;
};

// ---------------------------------------------------------------- compiling

// The types a parameter (list item [item]) accepts, as a mask.
uint64_t accept_mask(const Cell* param) {
  uint64_t m = 0;
  for (int t = 0; t <= kMaxTypeId; t++)
    if (typeset_has_q(param, TypeId(t))) m |= uint64_t(1) << t;
  return m;
}

// The argument list of the function-like [fn] when it is built already and
// its call is plain, into [*shape]; else 0 ([*unbuilt] set when it is not
// built yet). Reads only.
Node plain_list(const Cell* fn, CallShape* shape, bool* unbuilt) {
  const Cell& kept = series_cells(function_like_more(fn))[kArglistCell];
  if (!kept.is(kTypeBlock)) {
    *unbuilt = true;
    return 0;
  }
  *shape = call_shape(kept.node());
  if (!shape->plain || shape->params > 0x7FFF || shape->items > 0x7FFF) return 0;
  return kept.node();
}

std::unique_ptr<Expr> compile(Node node, int32_t at);

// Parens compiled inside one another while compiling, and how deep they may go.
int g_sub_depth = 0;
constexpr int kMaxSubDepth = 4;

// Compiles the code of one block from live cells and values. Nothing here
// allocates series or runs Kiv code.
class Compiler {
 public:
  Compiler(Node node, Expr& owner) : node_(node), ops_(owner.ops), owner_(owner) {}

  // Set by plain_list when a callee has no argument list yet: the op made
  // general for it marks the expression stale once it ran (the general
  // call built the list), so that it is compiled again.
  bool unbuilt = false;
  // The position of the first general op, or -1: the ops read the code
  // from the start up to there as compiled.
  int32_t first_general = -1;

  // The expression at [at] (with its operators when [lookahead]); returns
  // the position after it, or -1 when that is unknown (a general op: what
  // follows is general too).
  int32_t expression(int32_t at, bool lookahead) {
    const size_t start = ops_.size();
    int32_t next = operand(at);
    if (!lookahead) return next;
    // The operators that follow now, compiled after an infix op that holds them.
    bool chain = false;
    while (next >= 0) {
      Cell word;
      if (!code_at(node_, next, &word) || !word.is(kTypeWord) || code_end_q(node_, next + 1)) break;
      const Cell* v = peek_word_value(&word);
      if (!v || !v->is(kTypeOp)) break;
      if (!chain) {
        ops_.insert(ops_.begin() + ptrdiff_t(start), Op{});
        ops_[start].kind = kOpInfix;
        ops_[start].at = ops_[start + 1].at;
        chain = true;
      }
      const size_t me = ops_.size();
      Op op;
      op.kind = kOpOperator;
      op.at = next;
      op.code = word;
      op.callee = *v;
      op.name = frame_name_of(&word);
      op.arith = int_arith_of(op_underlying_type(v), native_id(v));
      Cell fn = *v;
      fn.set_header(op_underlying_type(v));
      const TypeId type = fn.type();
      CallShape shape{};
      const Node list = plain_list(&fn, &shape, &unbuilt);
      if ((type == kTypeNative || type == kTypeAction) && list && shape.params == 2 &&
          shape.count <= kMaxRefinementSlots) {
        op.call = kCallBuiltin;
        op.list = list;
        op.items = int16_t(shape.items);
        op.count = int16_t(shape.count);
        op.accept_left = accept_mask(&series_cells(list)[0]);
      } else {
        op.call = kCallGeneral;
        op.unbuilt = unbuilt;
      }
      unbuilt = false;
      ops_.push_back(op);
      const size_t right = ops_.size();
      next = operand(next + 1);
      if (op.call == kCallBuiltin) ops_[right].accept = accept_mask(&series_cells(list)[1]);
      ops_[me].size = uint16_t(ops_.size() - me);
    }
    if (chain) {
      Op& infix = ops_[start];
      infix.size = uint16_t(ops_.size() - start);
      // Pure when its operand and every right operand is.
      bool pure = true;
      const Op* end = &infix + infix.size;
      for (const Op* o = &infix + 1; o < end && pure; o += o->size) {
        const Op* operand = o->kind == kOpOperator ? o + 1 : o;
        pure = pure_q(*operand);
        if (o->kind == kOpOperator) o = operand;
      }
      infix.pure = pure;
    }
    ops_[start].lookahead = true;
    ops_[start].next = next;
    return next;
  }

 private:
  static bool pure_q(const Op& a) { return a.kind == kOpConst || a.kind == kOpWord || a.pure; }

  // One op for the operand at [at] (no operators); returns the position after it or -1.
  int32_t operand(int32_t at) {
    const size_t me = ops_.size();
    ops_.push_back(Op{});
    Cell code;
    if (at < 0) return -1;
    if (!code_at(node_, at, &code)) return general(at);
    Op op;
    op.at = at;
    op.code = code;
    op.next = at + 1;
    const TypeId t = code.type();
    if ((kSelfEvaluatingTypes >> t) & 1) {
      op.kind = kOpConst;
    } else if (t == kTypeWord) {
      const Cell* v = peek_word_value(&code);
      if (!v) return general(at);
      if ((kPlainValueTypes >> v->type()) & 1) {
        op.kind = kOpWord;
      } else if (v->is(kTypeNative) || v->is(kTypeAction) || v->is(kTypeFunction)) {
        return call(me, op, *v);
      } else {
        return general(at);
      }
    } else if (t == kTypeSetWord || t == kTypeSetPath) {
      if (code_end_q(node_, at + 1)) return general(at);
      op.kind = t == kTypeSetWord ? kOpSetWord : kOpSetPath;
      if (t == kTypeSetPath) field_path(op);
      ops_[me] = op;
      const int32_t next = expression(at + 1, true);
      ops_[me].size = uint16_t(ops_.size() - me);
      ops_[me].next = next;
      return next;
    } else if (t == kTypeParen) {
      op.kind = kOpParen;
      op.sub = paren_sub(code);
    } else if (t == kTypePath || t == kTypeGetPath) {
      op.kind = kOpPath;
      field_path(op);
      op.pure = op.field_path;
    } else {
      return general(at);
    }
    ops_[me] = op;
    return op.next;
  }

  // A path of a word and a field word (not `self`, which names the object):
  // its two cells kept for the op to read the field directly.
  static void field_path(Op& op) {
    SeriesBuffer* b = series_buffer(op.code.node());
    const uint32_t head = uint32_t(std::max(op.code.head(), 0));
    if (b->cell_count() != head + 2) return;
    const Cell* cells = b->head_cell() + head;
    if ((!cells[0].is(kTypeWord) && !cells[0].is(kTypeGetWord)) || !cells[1].is(kTypeWord)) return;
    const int32_t symbol = word_symbol(&cells[1]);
    if (g_self_symbol && symbol_resolve(symbol) == symbol_resolve(int32_t(g_self_symbol))) return;
    op.callee = cells[0];
    op.field = cells[1];
    op.field_path = true;
  }

  // The first expression of the paren [code], compiled for the paren op to
  // run without looking its block up (a few levels deep at most: a paren
  // may hold itself).
  Expr* paren_sub(const Cell& code) {
    if (g_sub_depth >= kMaxSubDepth) return nullptr;
    const Node node = code.node();
    const int32_t head = std::max(code.head(), 0);
    if (head >= int32_t(series_cell_count(node))) return nullptr;
    g_sub_depth++;
    std::unique_ptr<Expr> sub = compile(node, head);
    g_sub_depth--;
    owner_.subs.push_back(std::move(sub));
    return owner_.subs.back().get();
  }

  // The op just pushed stays general, at [at].
  int32_t general(int32_t at) {
    if (first_general < 0) first_general = at;
    return -1;
  }

  // The call of [fn] named by the word of [op] at ops_[me].
  int32_t call(size_t me, Op op, const Cell& fn) {
    CallShape shape{};
    const Node list = plain_list(&fn, &shape, &unbuilt);
    const bool builtin = !fn.is(kTypeFunction);
    if (!list || (builtin && shape.count > kMaxRefinementSlots)) {
      ops_[me].unbuilt = unbuilt;
      unbuilt = false;
      return general(op.at);
    }
    op.kind = kOpCall;
    op.callee = fn;
    op.arith = int_arith_of(fn.type(), native_id(&fn));
    op.name = frame_name_of(&op.code);
    op.list = list;
    op.params = int16_t(shape.params);
    op.items = int16_t(shape.items);
    op.count = int16_t(shape.count);
    op.call = builtin ? kCallBuiltin : kCallFunction;
    if (fn.is(kTypeAction) && shape.params == 2) {
      if (native_id(&fn) == kActionAppend) op.direct = kDirectAppend;
      if (native_id(&fn) == kActionPick) op.direct = kDirectPick;
    }
    if (fn.is(kTypeNative)) {
      switch (native_id(&fn)) {
        case kNativeIf: op.call = kCallIf; break;
        case kNativeUnless: op.call = kCallUnless; break;
        case kNativeEither: op.call = kCallEither; break;
        case kNativeAny: op.call = kCallAny; break;
        case kNativeAll: op.call = kCallAll; break;
        default: break;
      }
    }
    ops_[me] = op;
    int32_t next = op.at + 1;
    for (int32_t p = 0; p < shape.params; p++) {
      const size_t arg = ops_.size();
      next = expression(next, true);
      ops_[arg].accept = accept_mask(&series_cells(list)[p]);
    }
    Op& self = ops_[me];
    self.size = uint16_t(ops_.size() - me);
    self.next = next;
    if (builtin && shape.params == 2) {
      const Op& x = ops_[me + 1];
      const Op& y = ops_[me + 1 + x.size];
      // With nothing computed on two integers (no arith), pure_value would refuse it at each run.
      self.pure =
          self.arith != kArithNone && pure_q(x) && pure_q(y) && ((x.accept & y.accept) >> kTypeInteger & 1);
    }
    return next;
  }

  Node node_;
  std::vector<Op>& ops_;
  Expr& owner_;
};

// The right operand op of the operator or call [o].
[[gnu::always_inline]] inline const Op* right_operand(const Op* o) {
  return o->kind == kOpOperator ? o + 1 : o + 1 + o[1].size;
}

FlatWord flat_word(const Cell& word) { return FlatWord{word_context(&word), word_index(&word)}; }

// The step [step] for the op [op], with what it reads decoded.
Flat flat_step(FlatStep step, const Op* op) {
  Flat f;
  f.step = step;
  f.op = op;
  switch (step) {
    case kStepWord:
    case kStepSetWord: f.word = flat_word(op->code); break;
    case kStepOperator:
    case kStepBuiltin:
    case kStepOperatorConst:
    case kStepBuiltinConst:
    case kStepOperatorWord:
    case kStepBuiltinWord:
      f.fn = flat_word(op->code);
      f.callee = op->callee;
      f.arith = op->arith;
      if (step == kStepOperatorConst || step == kStepBuiltinConst)
        f.imm = integer_get(&right_operand(op)->code);
      if (step == kStepOperatorWord || step == kStepBuiltinWord) f.word = flat_word(right_operand(op)->code);
      break;
    case kStepCallee:
      f.fn = flat_word(op->code);
      f.callee = op->callee;
      break;
    case kStepField:
    case kStepSetField:
      f.path = op;
      f.word = flat_word(op->callee);
      f.symbol = word_symbol(&op->field);
      // Not a field that is unset or would be called.
      f.accept = ~(uint64_t(1) << kTypeNil | uint64_t(1) << kTypeUnset);
      if (op->code.is(kTypePath)) f.accept &= ~kFieldCalledTypes;
      break;
    default: break;
  }
  return f;
}

// The step that finds no operator word after the operand [op] of the block [node].
Flat follow_step(const Op* op, Node node) {
  Flat f = flat_step(kStepFollow, op);
  f.node = node;
  return f;
}

// The step that takes the right operand [y] of an operator or call in with
// it: [literal] for an integer literal, [word] for a word, each with no
// operator to look for after it; kStepOperator when [y] needs steps of its own.
FlatStep leaf_step(const Op* y, FlatStep literal, FlatStep word) {
  if (y->lookahead && y->follow_check) return kStepOperator;
  if (y->kind == kOpConst && y->code.is(kTypeInteger)) return literal;
  if (y->kind == kOpWord) return word;
  return kStepOperator;
}

// The flat form of the subtree [a] appended to [*out], with [*depth] the
// values it leaves above [base] at most: false when some part is not a
// plain value, a field path, or an operator or two-argument built-in call
// over such (pure).
bool flatten_value(Node node, const Op* a, std::vector<Flat>* out, int32_t base, int32_t* depth) {
  *depth = std::max(*depth, base + 1);
  switch (a->kind) {
    case kOpConst: out->push_back(flat_step(kStepConst, a)); break;
    case kOpWord: out->push_back(flat_step(kStepWord, a)); break;
    case kOpPath:
      if (!a->field_path) return false;
      out->push_back(flat_step(kStepField, a));
      break;
    case kOpInfix: {
      if (!a->pure || !flatten_value(node, a + 1, out, base, depth)) return false;
      const Op* end = a + a->size;
      for (const Op* o = a + 1 + a[1].size; o < end; o += o->size) {
        if (o->kind != kOpOperator) return false;
        const FlatStep leaf = leaf_step(o + 1, kStepOperatorConst, kStepOperatorWord);
        if (leaf != kStepOperator) {
          out->push_back(flat_step(leaf, o));
          continue;
        }
        if (!flatten_value(node, o + 1, out, base + 1, depth)) return false;
        out->push_back(flat_step(kStepOperator, o));
      }
      break;
    }
    case kOpCall: {
      if (!a->pure) return false;
      const Op* x = a + 1;
      const Op* y = x + x->size;
      if (!flatten_value(node, x, out, base, depth)) return false;
      const FlatStep leaf = leaf_step(y, kStepBuiltinConst, kStepBuiltinWord);
      if (leaf != kStepOperator) {
        out->push_back(flat_step(leaf, a));
        break;
      }
      if (!flatten_value(node, y, out, base + 1, depth)) return false;
      out->push_back(flat_step(kStepBuiltin, a));
      break;
    }
    default: return false;
  }
  if (a->lookahead && a->follow_check) {
    out->push_back(follow_step(a, node));
  }
  return true;
}

// True for the steps that apply a callee a word names ([fn]).
bool callee_step_q(FlatStep step) {
  switch (step) {
    case kStepOperator:
    case kStepBuiltin:
    case kStepOperatorConst:
    case kStepBuiltinConst:
    case kStepOperatorWord:
    case kStepBuiltinWord:
    case kStepApplyLocal:
    case kStepFieldConst:
    case kStepApplyField:
    case kStepCallee: return true;
    default: return false;
  }
}

// True for the steps whose [imm] is a step index.
bool jump_step_q(FlatStep step) {
  return step == kStepBranch || step == kStepJump || step == kStepAny || step == kStepAll;
}

// For each step of [steps] (and its end), whether a jump lands on it.
std::vector<bool> jump_landings(const std::vector<Flat>& steps) {
  std::vector<bool> landing(steps.size() + 1);
  for (const Flat& f : steps)
    if (jump_step_q(f.step)) landing[size_t(f.imm)] = true;
  return landing;
}

// [out] in place of [steps], step i of which went to step [moved[i]] of
// [out] (its last entry, the end, is set here): the jumps follow.
void take_moved_steps(std::vector<Flat>& steps, std::vector<Flat>& out, std::vector<int32_t>& moved) {
  moved[steps.size()] = int32_t(out.size());
  for (Flat& f : out)
    if (jump_step_q(f.step)) f.imm = moved[size_t(f.imm)];
  steps = std::move(out);
}

// Each field read of [steps] whose value an operator or call step takes
// at once joined with that step: as its left operand with an integer
// literal right one (kStepFieldConst), or as its right operand
// (kStepApplyField). The joined step makes the checks of both, so a run
// that stops at it has stored nothing more. Not where a jump lands on the
// second step.
void join_field_steps(std::vector<Flat>& steps) {
  const size_t n = steps.size();
  bool any = false;
  for (const Flat& f : steps) any = any || f.step == kStepField;
  if (!any) return;
  const std::vector<bool> landing = jump_landings(steps);
  std::vector<Flat> out;
  std::vector<int32_t> moved(n + 1);
  for (size_t i = 0; i < n; i++) {
    moved[i] = int32_t(out.size());
    const Flat& f = steps[i];
    FlatStep joined = f.step;
    if (f.step == kStepField && i + 1 < n && !landing[i + 1]) {
      switch (steps[i + 1].step) {
        case kStepOperatorConst:
        case kStepBuiltinConst: joined = kStepFieldConst; break;
        case kStepOperator:
        case kStepBuiltin: joined = kStepApplyField; break;
        default: break;
      }
    }
    if (joined == f.step) {
      out.push_back(f);
      continue;
    }
    Flat j = steps[i + 1];
    j.step = joined;
    j.word = f.word;
    j.path = f.path;
    j.symbol = f.symbol;
    out.push_back(j);
    moved[++i] = int32_t(out.size() - 1);
  }
  take_moved_steps(steps, out, moved);
}

// [steps] (an expression's flat form, or a program) made cheaper to run,
// with the same effects:
// - Field reads joined with the operators that take them (join_field_steps).
// - When the words of every context but the global one belong to one
//   context, that context's values are found once at the start and its
//   words read and stored by slot (kStepLocal and kin): nothing in a run of
//   steps allocates or runs Kiv code, so the values stay where they are.
// - When every callee word is global and no store of the steps can reach
//   one (no set-word of it; a field set-path refuses a global slot), each
//   callee is checked once at the start instead of at each use: a run that
//   finds one changed stops there, before any store, and goes the ordinary
//   way as a failing check inside would have.
// Forms already finished may be part of [steps] (a program holds its
// expressions' forms): their own start steps are dropped or kept as the
// whole allows.
void finish_steps(std::vector<Flat>& steps) {
  join_field_steps(steps);
  Node local = 0;
  bool one_local = true;
  bool hoist = true;
  std::vector<const Flat*> callees;
  size_t local_uses = 0, callee_uses = 0, starts = 0;
  for (const Flat& f : steps) {
    switch (f.step) {
      case kStepWord:
      case kStepOperatorWord:
      case kStepBuiltinWord:
      case kStepSetWord:
      case kStepLocals:
      case kStepLocal:
      case kStepApplyLocal:
      case kStepSetLocal:
        if (f.word.ctx && f.word.ctx != g_global_context && f.word.index >= 0) {
          if (!local) local = f.word.ctx;
          one_local = one_local && f.word.ctx == local;
          local_uses += f.step != kStepLocals;
        }
        break;
      default: break;
    }
    starts += f.step == kStepLocals;
    if (callee_step_q(f.step)) {
      callee_uses++;
      if (f.fn.ctx != g_global_context) hoist = false;
      bool known = false;
      for (const Flat* c : callees)
        known = known || (c->fn.index == f.fn.index && same_cell(c->callee, f.callee));
      if (!known) callees.push_back(&f);
    }
  }
  for (const Flat& f : steps)
    if (f.step == kStepSetWord && f.word.ctx == g_global_context)
      for (const Flat* c : callees) hoist = hoist && c->fn.index != f.word.index;
  // Each is worth a step of its own only when it saves more lookups than
  // it makes: a context found once for a few reads, a callee checked once
  // for two uses at least.
  const bool locals = local && one_local && local_uses > 4 + starts;
  hoist = hoist && callee_uses >= 2 * callees.size();
  if (!locals && !hoist) return;
  std::vector<Flat> out;
  if (locals) {
    Flat f;
    f.step = kStepLocals;
    f.word = FlatWord{local, 0};
    out.push_back(f);
  }
  if (hoist) {
    Flat all;
    all.step = kStepCallees;
    all.imm = int32_t(callees.size());
    out.push_back(all);
  }
  if (hoist)
    for (const Flat* c : callees) {
      Flat f;
      f.step = kStepCallee;
      f.op = c->op;
      f.fn = c->fn;
      f.callee = c->callee;
      out.push_back(f);
    }
  std::vector<int32_t> moved(steps.size() + 1);
  for (size_t i = 0; i < steps.size(); i++) {
    moved[i] = int32_t(out.size());
    Flat f = steps[i];
    if ((f.step == kStepLocals && locals) || ((f.step == kStepCallee || f.step == kStepCallees) && hoist))
      continue;
    const bool mine = locals && f.word.ctx == local;
    if (mine && f.step == kStepWord) f.step = kStepLocal;
    if (mine && f.step == kStepSetWord) f.step = kStepSetLocal;
    if (mine && (f.step == kStepOperatorWord || f.step == kStepBuiltinWord)) f.step = kStepApplyLocal;
    if (hoist && (callee_step_q(f.step) || f.step == kStepSetField)) f.checked = true;
    out.push_back(f);
  }
  take_moved_steps(steps, out, moved);
}

// The flat form of a whole expression [e] (a value, or a set-word or field
// set-path of one), or nothing.
void flatten(Node node, Expr& e) {
  const Op* root = e.ops.data();
  if (root->kind == kOpCall &&
      (root->call == kCallIf || root->call == kCallUnless || root->call == kCallEither) && root->size > 1 &&
      root[1].pure) {
    int32_t depth = 0;
    std::vector<Flat> cond;
    if (flatten_value(node, root + 1, &cond, 0, &depth) && depth <= kFlatDepth) {
      finish_steps(cond);
      e.cond_flat = std::move(cond);
    }
  }
  const Op* value = root;
  if ((root->kind == kOpSetWord || (root->kind == kOpSetPath && root->field_path)) && root->size > 1)
    value = root + 1;
  if (root->next < 0) return;
  int32_t depth = 0;
  std::vector<Flat> flat;
  if (!flatten_value(node, value, &flat, 0, &depth) || depth > kFlatDepth) return;
  if (value != root) flat.push_back(flat_step(root->kind == kOpSetWord ? kStepSetWord : kStepSetField, root));
  finish_steps(flat);
  e.flat = std::move(flat);
  e.flat_stores = value != root;
}

// True for a pure operand that pure_value computes inline: one operator
// between two plain operands.
bool pure_inline_q(const Op& a) {
  auto plain = [](const Op& o) { return o.kind == kOpConst || o.kind == kOpWord; };
  return a.kind == kOpInfix && a.size == 4 && plain((&a)[1]) && plain((&a)[3]);
}

// The flat forms of the outermost pure operands of [e] that pure_value
// would compute through pure_tree: run by exec_pure instead (the same
// values, and the same refusals, in fewer steps).
void flatten_pure(Node node, Expr& e) {
  for (size_t i = 0; i < e.ops.size();) {
    Op& op = e.ops[i];
    if (op.pure && (op.kind == kOpInfix || op.kind == kOpCall) && !pure_inline_q(op) &&
        e.pure_flats.size() < size_t(INT16_MAX)) {
      int32_t depth = 0;
      std::vector<Flat> steps;
      if (flatten_value(node, &op, &steps, 0, &depth) && depth <= kFlatDepth) {
        finish_steps(steps);
        op.flat = int16_t(e.pure_flats.size());
        e.pure_flats.push_back(std::move(steps));
        i += op.size;
        continue;
      }
    }
    i++;
  }
}

std::unique_ptr<Expr> compile(Node node, int32_t at) {
  auto e = std::make_unique<Expr>();
  Compiler c(node, *e);
  const int32_t end = c.expression(at, true);
  e->at = at;
  if (e->ops.size() > 0xFFFF) {
    e->ops.assign(1, Op{});
    e->ops[0].lookahead = true;
    return e;
  }
  // The span: the cells up to the first general op, or up to the end and
  // the cell after it when that is no word (which no operator can be).
  SeriesBuffer* b = series_buffer(node);
  const int32_t count = int32_t(b->cell_count());
  int32_t span_end = c.first_general >= 0 ? c.first_general : end;
  if (c.first_general < 0 && end < count && !b->head_cell()[end].is(kTypeWord)) span_end = end + 1;
  e->tail_end = c.first_general < 0 && end == count;
  const Cell* cells = b->head_cell();
  e->span.assign(cells + at, cells + std::max(span_end, at));
  if (e->span.empty()) {
    // No cell is trusted: a cell no block holds makes the check fail.
    Cell never{};
    never.header = 0xFFFFFFFFu;
    e->span.push_back(never);
    e->tail_end = false;
  }
  e->span_cells = uint32_t(e->span.size());
  // Whether each operand that takes operators must look for one live even
  // while the span holds: the cell after it is in the span and no word, or
  // is the tail the span ends at, else it must.
  for (Op& op : e->ops) {
    if (!op.lookahead) continue;
    const int32_t n = op.next;
    op.follow_check =
        !(n >= 0 && ((e->tail_end && n == span_end) || (n < span_end && !cells[n].is(kTypeWord))));
  }
  flatten(node, *e);
  flatten_pure(node, *e);
  return e;
}

// The expression starting at [index] of the cache's block, compiled now
// when it is not yet or went stale.
[[gnu::noinline]] Expr* expr_compile_at(CodeCache* c, Node node, int32_t index) {
  if (size_t(index) >= c->entries.size()) c->entries.resize(size_t(index) + 1);
  std::unique_ptr<Expr>& slot = c->entries[size_t(index)];
  if (slot && (!slot->stale || slot->recompiles >= kMaxRecompiles)) return slot.get();
  uint8_t recompiles = 0;
  if (slot) {
    recompiles = uint8_t(slot->recompiles + 1);
    // This frame runs no op of the cache now; others may.
    if (c->running > 1) c->retired.push_back(std::move(slot));
  }
  slot = compile(node, index);
  slot->recompiles = recompiles;
  return slot.get();
}

[[gnu::always_inline]] inline Expr* expr_at(CodeCache* c, Node node, int32_t index) {
  if (size_t(index) < c->entries.size()) {
    Expr* e = c->entries[size_t(index)].get();
    if (e && (!e->stale || e->recompiles >= kMaxRecompiles)) return e;
  }
  return expr_compile_at(c, node, index);
}

// True when the block's cells from the expression's start are still those
// it was compiled from (and the block still ends where it ended then):
// [b] the block's buffer, [count] its cells.
[[gnu::always_inline]] inline bool span_holds(const Expr* e, SeriesBuffer* b, uint32_t count) {
  const uint32_t n = e->span_cells;
  const uint32_t end = uint32_t(e->at) + n;
  if (e->tail_end ? count != end : count < end) return false;
  // Whole cells compared 16 bytes at a time; spans are a few cells.
  using Pair [[gnu::vector_size(16), gnu::may_alias, gnu::aligned(8)]] = uint64_t;
  const Pair* live = reinterpret_cast<const Pair*>(b->head_cell() + e->at);
  const Pair* kept = reinterpret_cast<const Pair*>(e->span.data());
  Pair diff = live[0] ^ kept[0];
  for (uint32_t k = 1; k < n; k++) diff |= live[k] ^ kept[k];
  return (diff[0] | diff[1]) == 0;
}

// span_holds, taken as known while the code epoch has not moved since the
// span was last found to hold. Builds that check the epoch compare the span
// anyway and stop at the first that no longer holds: a change of code cells
// that did not move the epoch.
[[gnu::always_inline]] inline bool span_trusted(Expr* e, SeriesBuffer* b, uint32_t count) {
  if (e->seen == g_code_epoch) {
#ifdef KIV_CODE_EPOCH_CHECK
    fatal_assert(span_holds(e, b, count));
#endif
    return true;
  }
  if (!span_holds(e, b, count)) return false;
  e->seen = g_code_epoch;
  return true;
}

// ---------------------------------------------------------------- running
//
// An expression runs trusted from its start when its span holds: nothing
// but its own ops has touched the code or run Kiv code since, so each op
// is at its position with its cell, and only word values (read live) and
// callees (compared) can differ. Anything that may run Kiv code (a call, a
// paren, a general op, a store with a handler) ends the trust; the ops
// after it check their own positions and cells (guard).

struct Run {
  Node node;
  int32_t* index;
  Expr* expr;
  bool trusted;
};

[[gnu::always_inline]] inline Status exec(const Op* op, Run& r);

// The general way from here: the operand at the current index.
[[gnu::noinline]] Status miss(const Op* op, Run& r) {
  r.expr->stale = true;
  r.trusted = false;
  EpochAfter epoch;
  return eval_expr(r.node, r.index, !op->lookahead);
}

// True when [op] may run here: trusted, or at its position with its cell.
[[gnu::always_inline]] inline bool guard(const Op* op, const Run& r) {
  if (r.trusted) return true;
  SeriesBuffer* b = series_buffer(r.node);
  const uint32_t i = uint32_t(*r.index);
  return i == uint32_t(op->at) && i < b->cell_count() && same_cell(b->head_cell()[i], op->code);
}

// The operators after the value at [left], when [op] takes them and one
// may follow: looked for live.
[[gnu::always_inline]] inline Status after(const Op* op, Run& r, Cell* left) {
  if (!op->lookahead || (r.trusted && !op->follow_check)) return kStatusOk;
  const int32_t before = *r.index;
  Status s;
  {
    // No operator there: eval_infix read a word and ran nothing.
    EpochAfter epoch;
    s = eval_infix(r.node, r.index, left);
    if (*r.index == before) epoch.keep();
  }
  if (*r.index != before) {
    r.expr->stale = true;
    r.trusted = false;
  }
  return s;
}

// The value of the leaf [op] (kOpConst, kOpWord) guarded, or null when it
// must go the general way.
[[gnu::always_inline]] inline const Cell* leaf_value(const Op* op, const Run& r) {
  if (!guard(op, r)) return nullptr;
  if (op->kind == kOpConst) return &op->code;
  const Cell* v = peek_word_value(&op->code);
  return v && ((kPlainValueTypes >> v->type()) & 1) ? v : nullptr;
}

[[gnu::always_inline]] inline Status exec_leaf(const Op* op, Run& r) {
  const Cell* v = leaf_value(op, r);
  if (!v) return miss(op, r);
  Cell* pushed = stack_push_cell(v);
  *r.index = op->at + 1;
  return after(op, r, pushed);
}

// How run_expr takes an expression's flat form: inline (function bodies,
// branches and parens, run once per call), or through a call of its own
// (flat_steps_apart: a loop body's round and the conditions of any and all
// keep a smaller frame, with fewer registers saved, that way).
enum class FlatCall : bool { kInline, kApart };

template <FlatCall kFlat = FlatCall::kInline>
[[gnu::always_inline]] inline Status run_expr(Expr* e, Node node, int32_t* index, SeriesBuffer* b,
                                              uint32_t count);

// The value of the expression [e] by its flat form, taken as kFlat says,
// into [*out]; false, having changed nothing, when a step does not hold.
template <FlatCall kFlat>
[[gnu::always_inline]] inline bool flat_value(const Expr* e, Node node, Cell* out);

// eval_expr for an expression run while tracing.
[[gnu::noinline]] Status eval_traced(Node node, int32_t* index) {
  EpochAfter epoch;
  return eval_expr(node, index, false, true);
}

// eval_block while tracing.
[[gnu::noinline]] Status eval_block_traced(const Cell* block, bool chain) {
  EpochAfter epoch;
  return eval_block(block, chain);
}

// The loop of code_run over the block [node], whose side table [c] a
// caller counts as in use.
template <FlatCall kFlat = FlatCall::kInline>
[[gnu::always_inline]] inline Status run_exprs_in(CodeCache* c, Node node, int32_t index, Cell* base,
                                                  const CurrentCodeScope& current) {
  if (c->passes < kPassesBeforeCompiling) {
    c->passes++;
    while (!code_end_q(node, index)) {
      current.at(index);
      g_stack.top = base;
      EpochAfter epoch;
      Status s = eval_expr(node, &index, false, true);
      if (s != kStatusOk) return s;
    }
    return kStatusOk;
  }
  for (;;) {
    SeriesBuffer* b = series_buffer(node);
    const uint32_t count = b->cell_count();
    if (index < 0 || uint32_t(index) >= count) return kStatusOk;
    current.at(index);
    g_stack.top = base;
    Status s = g_interp.tracing ? eval_traced(node, &index)
                                : run_expr<kFlat>(expr_at(c, node, index), node, &index, b, count);
    if (s != kStatusOk) return s;
  }
}

// The loop of code_run.
[[gnu::always_inline]] inline Status run_exprs(Node node, int32_t index, Cell* base,
                                               const CurrentCodeScope& current) {
  CodeCache* c = cache_of(node);
  CacheUse use(c);
  return run_exprs_in(c, node, index, base, current);
}

// ---------------------------------------------------------------- programs

// A copy of the cells of the block [node] from [head] to its tail.
BlockCopy block_copy(Node node, int32_t head) {
  SeriesBuffer* b = series_buffer(node);
  BlockCopy copy;
  copy.node = node;
  copy.head = head;
  copy.cells.assign(b->head_cell() + head, b->head_cell() + b->cell_count());
  return copy;
}

// True when the block of [copy] still holds those cells, and no more.
bool block_copy_holds(const BlockCopy& copy) {
  SeriesBuffer* b = series_buffer(copy.node);
  const size_t n = copy.cells.size();
  if (b->cell_count() != uint32_t(copy.head) + n) return false;
  return std::memcmp(b->head_cell() + copy.head, copy.cells.data(), n * sizeof(Cell)) == 0;
}

// The block literal that [branch] (a kOpConst) of the choice [root] holds,
// compiled into [p]: its steps appended when it is one flat expression,
// else a step that stops the program to take it the ordinary way (the
// condition and the checks stay done). False when the branch is no block
// literal.
bool program_branch(Program& p, const Op* root, const Op* branch) {
  if (branch->kind != kOpConst || !branch->code.is(kTypeBlock) || !((branch->accept >> kTypeBlock) & 1))
    return false;
  const Node node = branch->code.node();
  const int32_t head = std::max(branch->code.head(), 0);
  const int32_t count = int32_t(series_cell_count(node));
  std::unique_ptr<Expr> e = head < count ? compile(node, head) : nullptr;
  if (!e || e->flat.empty() || e->ops[0].next != count) {
    p.steps.push_back(flat_step(kStepTake, root));
    return true;
  }
  p.steps.insert(p.steps.end(), e->flat.begin(), e->flat.end());
  p.blocks.push_back(block_copy(node, head));
  p.exprs.push_back(std::move(e));
  return true;
}

// The `any` or `all` call [cond] of a condition (its argument a block
// literal of flat expressions that store nothing) as steps of [p], its value
// left on top: as the natives give it. False for anything else.
bool program_any_all(Program& p, Node node, const Op* cond) {
  if (cond->kind != kOpCall || (cond->call != kCallAny && cond->call != kCallAll)) return false;
  const Op* arg = cond + 1;
  if (arg->kind != kOpConst || !arg->code.is(kTypeBlock) || (arg->lookahead && arg->follow_check))
    return false;
  const bool all = cond->call == kCallAll;
  p.steps.push_back(flat_step(kStepCallee, cond));
  if (cond->lookahead && cond->follow_check) {
    if (cond->next < 0) return false;
    p.steps.push_back(follow_step(cond, node));
  }
  const Node block = arg->code.node();
  const int32_t head = std::max(arg->code.head(), 0);
  const int32_t count = int32_t(series_cell_count(block));
  std::vector<size_t> tests;
  for (int32_t at = head; at < count;) {
    std::unique_ptr<Expr> e = compile(block, at);
    if (e->flat.empty() || e->flat_stores) return false;
    const int32_t next = e->ops[0].next;
    if (next <= at || next > count) return false;
    if (all && at > head) p.steps.push_back(flat_step(kStepDrop, cond));
    p.steps.insert(p.steps.end(), e->flat.begin(), e->flat.end());
    tests.push_back(p.steps.size());
    p.steps.push_back(flat_step(all ? kStepAll : kStepAny, cond));
    p.exprs.push_back(std::move(e));
    at = next;
  }
  if (!all || tests.empty()) p.steps.push_back(flat_step(kStepNone, cond));
  for (size_t t : tests) p.steps[t].imm = int32_t(p.steps.size());
  p.blocks.push_back(block_copy(block, head));
  return true;
}

// The `if`, `unless` or `either` expression [e] of the block [node] as steps of [p].
bool program_choice(Program& p, Node node, const Expr& e) {
  const Op* root = e.ops.data();
  if (root->kind != kOpCall || root->size < 2 ||
      (root->call != kCallIf && root->call != kCallUnless && root->call != kCallEither))
    return false;
  const Op* cond = root + 1;
  const Op* branch = cond + cond->size;
  const Op* other = root->call == kCallEither ? branch + branch->size : nullptr;
  // The checks first: the callee, and no operator after the call or a branch.
  p.steps.push_back(flat_step(kStepCallee, root));
  for (const Op* o : {root, branch, other}) {
    if (o && o->lookahead && o->follow_check) {
      if (o->next < 0) return false;
      p.steps.push_back(follow_step(o, node));
    }
  }
  if (!e.cond_flat.empty())
    p.steps.insert(p.steps.end(), e.cond_flat.begin(), e.cond_flat.end());
  else if (!program_any_all(p, node, cond))
    return false;
  const size_t test = p.steps.size();
  Flat br = flat_step(kStepBranch, root);
  br.accept = cond->accept & ~(uint64_t(1) << kTypeUnset);
  br.when = root->call == kCallUnless;
  p.steps.push_back(br);
  if (!program_branch(p, root, branch)) return false;
  const size_t jump = p.steps.size();
  p.steps.push_back(flat_step(kStepJump, root));
  p.steps[test].imm = int32_t(p.steps.size());
  if (other) {
    if (!program_branch(p, root, other)) return false;
  } else {
    p.steps.push_back(flat_step(kStepNone, root));
  }
  p.steps[jump].imm = int32_t(p.steps.size());
  return true;
}

// [steps] without those [drop] marks, the jumps to them on at the step
// after.
void drop_steps(std::vector<Flat>& steps, const std::vector<bool>& drop) {
  std::vector<int32_t> moved(steps.size() + 1);
  std::vector<Flat> out;
  for (size_t i = 0; i < steps.size(); i++) {
    moved[i] = int32_t(out.size());
    if (!drop[i]) out.push_back(steps[i]);
  }
  take_moved_steps(steps, out, moved);
}

// The steps of the program [p], finished (finish_steps), made cheaper to
// run where the whole program shows it (every cell it reads is in a block
// it copied, so the words after operands are known):
// - A step that looks for an operator word after an operand goes when that
//   word is a callee checked at the start that is no operator: no store of
//   the program reaches it (those checks are made only then).
// - The none an `any` gives when nothing passed, taken by an `if` whose
//   condition accepts none, is a jump to where the `if` goes when its
//   condition fails; a jump to a none that the next expression drops goes
//   to that expression.
void program_finish(Program& p) {
  std::vector<Flat>& steps = p.steps;
  std::vector<const Flat*> checked;  // the callee checks made at the start
  for (const Flat& f : steps) {
    if (f.step == kStepLocals || f.step == kStepCallees) continue;
    if (f.step != kStepCallee) break;
    if (!f.callee.is(kTypeOp)) checked.push_back(&f);
  }
  std::vector<bool> drop(steps.size());
  bool any = false;
  for (size_t i = 0; i < steps.size(); i++) {
    const Flat& f = steps[i];
    if (f.step != kStepFollow) continue;
    SeriesBuffer* b = series_buffer(f.node);
    const uint32_t at = uint32_t(f.op->next);
    if (at >= b->cell_count()) continue;
    const Cell* word = b->head_cell() + at;
    if (!word->is(kTypeWord) || word_context(word) != g_global_context) continue;
    for (const Flat* c : checked)
      if (c->fn.index == word_index(word)) drop[i] = any = true;
  }
  if (any) drop_steps(steps, drop);
  const size_t n = steps.size();
  const std::vector<bool> landing = jump_landings(steps);
  for (size_t i = 0; i + 1 < n; i++) {
    const Flat& br = steps[i + 1];
    if (steps[i].step != kStepNone || landing[i] || br.step != kStepBranch || br.when ||
        !((br.accept >> kTypeNone) & 1) || size_t(br.imm) >= n || steps[size_t(br.imm)].step == kStepTake)
      continue;
    steps[i].step = kStepJump;
    steps[i].imm = br.imm;
  }
  for (Flat& f : steps) {
    if (!jump_step_q(f.step)) continue;
    size_t t = size_t(f.imm);
    while (t + 1 < n && steps[t].step == kStepNone && steps[t + 1].step == kStepBegin) t++;
    f.imm = int32_t(t);
  }
}

// The cells of the field paths the steps of [p] read, copied with its
// blocks: its field steps then need not compare them themselves.
void program_copy_paths(Program& p) {
  for (Flat& f : p.steps) {
    if (!f.path) continue;
    const Node node = f.path->code.node();
    const int32_t head = std::max(f.path->code.head(), 0);
    bool known = false;
    for (const BlockCopy& copy : p.blocks) known = known || (copy.node == node && copy.head == head);
    if (!known) p.blocks.push_back(block_copy(node, head));
    f.path_copied = true;
  }
}

// The program of the block [node] from [head], or null when some
// expression has no place in one.
std::unique_ptr<Program> program_build(Node node, int32_t head) {
  const int32_t count = int32_t(series_cell_count(node));
  if (head >= count) return nullptr;
  auto p = std::make_unique<Program>();
  p->head = head;
  p->blocks.push_back(block_copy(node, head));
  int32_t at = head;
  while (at < count) {
    std::unique_ptr<Expr> e = compile(node, at);
    Flat begin = flat_step(kStepBegin, e->ops.data());
    begin.imm = at;
    p->steps.push_back(begin);
    if (!e->flat.empty())
      p->steps.insert(p->steps.end(), e->flat.begin(), e->flat.end());
    else if (!program_choice(*p, node, *e))
      return nullptr;
    const int32_t next = e->ops[0].next;
    if (next <= at || next > count) return nullptr;
    at = next;
    p->exprs.push_back(std::move(e));
  }
  finish_steps(p->steps);
  program_finish(*p);
  program_copy_paths(*p);
  return p;
}

bool program_steps(const Program& p, Cell* out, ProgramStop* stop);
Status take_branch(const ProgramStop& stop, Node node, int32_t* next);

// The program of the cache [c] for a run from [head], trusted: built when
// the block has run often enough, null when there is none or a block it
// copied changed (then it is built again at a later run).
[[gnu::always_inline]] inline Program* program_for(CodeCache* c, Node node, int32_t head) {
  Program* p = c->program.get();
  if (p && p->head == head) [[likely]] {
    if (p->seen == g_code_epoch) return p;
    for (const BlockCopy& copy : p->blocks)
      if (!block_copy_holds(copy)) {
        c->program.reset();
        return nullptr;
      }
    p->seen = g_code_epoch;
    return p;
  }
  if (p || c->program_refused || ++c->runs <= kRunsBeforeProgram) return nullptr;
  c->program = program_build(node, head);
  if (!c->program || ++c->program_builds >= kProgramBuilds) c->program_refused = true;
  return nullptr;
}

// What the program of a block did (see program_try).
enum class ProgramRun : uint8_t {
  kNone,     // there is none to run: the block runs the ordinary way
  kWhole,    // it ran whole
  kStopped,  // it stopped where its ProgramStop says; what ran before stays done
};

// Runs the program of the block [node] from [index] when it has one, its
// value into [*value] when it runs whole, where it stopped into [*stop]
// otherwise. Raises nothing and runs no Kiv code. Not while tracing; [c]
// counted as in use.
[[gnu::always_inline]] inline ProgramRun program_try(CodeCache* c, Node node, int32_t index, Cell* value,
                                                     ProgramStop* stop) {
  Program* p = program_for(c, node, index);
  if (!p) return ProgramRun::kNone;
  stop->index = index;
  if (program_steps(*p, value, stop)) {
    p->misses = 0;
    return ProgramRun::kWhole;
  }
  if (stop->choice) {
    p->misses = 0;
  } else if (stop->index == p->head && ++p->misses > kProgramMisses) {
    c->program.reset();
    c->program_refused = true;
  }
  return ProgramRun::kStopped;
}

// After the program of the block [node] stopped at [stop]: the branch it
// stopped to take is taken the ordinary way; when that ends the block, its
// value is pushed (into the call's result slot too with [chain]) and
// [*done] set. Else [*index] is where the block goes on the ordinary way.
[[gnu::always_inline]] inline Status program_go_on(const ProgramStop& stop, Node node, bool chain,
                                                   int32_t* index, bool* done) {
  if (!stop.choice) {
    *index = stop.index;
    return kStatusOk;
  }
  Cell* mark = g_stack.top;
  // The program may be gone when the branch returns: nothing of it is read after.
  Status s = take_branch(stop, node, index);
  if (s != kStatusOk) return s;
  if (code_end_q(node, *index)) {
    g_stack.top = mark + 1;
    if (chain) copy_cell(g_stack.arguments, mark);
    *done = true;
  } else {
    g_stack.top = mark;
  }
  return kStatusOk;
}

// Runs the program of the block [block] when it has one. When it ran
// whole, or up to a branch taken the ordinary way that ends the block, its
// value is pushed (into the call's result slot too with [chain]) and
// [*done] set. Else [*index] is where the block goes on the ordinary way
// (what ran before stays done). Not while tracing; [c] counted as in use.
[[gnu::always_inline]] inline Status run_program(CodeCache* c, const Cell* block, bool chain, int32_t* index,
                                                 bool* done) {
  Cell value;
  ProgramStop stop;
  switch (program_try(c, block->node(), *index, &value, &stop)) {
    case ProgramRun::kNone: return kStatusOk;
    case ProgramRun::kWhole: {
      Cell* pushed = stack_push_cell(&value);
      if (chain) copy_cell(g_stack.arguments, pushed);
      *done = true;
      return kStatusOk;
    }
    case ProgramRun::kStopped: break;
  }
  return program_go_on(stop, block->node(), chain, index, done);
}

// The block [block] from [index] the ordinary way, as run_block_here runs
// what its program left.
template <FlatCall kFlat = FlatCall::kInline>
[[gnu::always_inline]] inline Status run_block_rest(CodeCache* c, const Cell* block, int32_t index,
                                                    bool chain) {
  const Node node = block->node();
  CurrentCodeScope current(node);
  Cell* base = stack_push();  // unset! for an empty block
  Status s = run_exprs_in<kFlat>(c, node, index, base, current);
  if (s != kStatusOk) return s;
  g_stack.top = base + 1;
  if (chain) copy_cell(g_stack.arguments, base);
  return kStatusOk;
}

// eval_block_here for a block run inside a call that counted its depth
// already (a function's body, a chosen branch, a paren): [block] is a stable
// cell, with [chain] its value goes into the call's result slot too.
Status run_block_here(const Cell* block, bool chain) {
  if (g_interp.tracing) return eval_block_traced(block, chain);
  const Node node = block->node();
  CodeCache* c = cache_of(node);
  int32_t index = std::max(block->head(), 0);
  CacheUse use(c);
  bool done = false;
  Status s = run_program(c, block, chain, &index, &done);
  if (s != kStatusOk || done) return s;
  return run_block_rest(c, block, index, chain);
}

// invoke_function for an untraced call of a function! whose body is a
// block: the same steps, its body run by run_block_here.
[[gnu::always_inline]] inline Status invoke_body(Cell* fn_slot) {
  if (function_translated(fn_slot)) return kStatusOk;
  SeriesBuffer* more = series_buffer(function_more(fn_slot));
  if (more->cell_count() <= uint32_t(kFunctionMoreBody) || g_interp.tracing ||
      (fn_slot->header & kFlagFunctionNoTrace) || !more->head_cell()[kFunctionMoreBody].is(kTypeBlock)) {
    EpochAfter epoch;
    return invoke_function(fn_slot);
  }
  const Cell body = more->head_cell()[kFunctionMoreBody];
  context_set_values(function_context(fn_slot), stack_index(g_stack.arguments) + 1);
  stack_top_frame()->header |= kFrameBodyFlag;
  const Cell* held = stack_push_cell(&body);
  const Node node = held->node();
  CodeCache* c = cache_of(node);
  CacheUse use(c);
  int32_t index = std::max(held->head(), 0);
  // The body's program runs before the catch point: it raises nothing and
  // runs no Kiv code. Run whole, its value is the result.
  Cell value;
  ProgramStop stop;
  const ProgramRun run = program_try(c, node, index, &value, &stop);
  if (run == ProgramRun::kWhole) {
    copy_cell(g_stack.arguments, &value);
    stack_top_frame()->header &= ~kFrameBodyFlag;
    return kStatusOk;
  }
  // The body's catch point, as catch_exit_status makes it for a function.
  Status s;
  {
    CatchPoint point;
    try {
      bool done = false;
      s = run == ProgramRun::kStopped ? program_go_on(stop, node, true, &index, &done) : kStatusOk;
      if (s == kStatusOk && !done) s = run_block_rest(c, held, index, true);
    } catch (KivThrow& t) {
      s = status_of(t.code);
      if (!return_status_q(s)) throw;
      point.take(0);
    }
  }
  if (return_status_q(s)) {
    // The result is in the arguments base, where return put it.
    g_stack.top = g_stack.arguments + 1;
    s = kStatusOk;
  }
  if (s != kStatusOk) return s;
  stack_top_frame()->header &= ~kFrameBodyFlag;
  return kStatusOk;
}

// The one native a call is named for runs here, as its entry would: its
// arguments in place above [fn_slot], its frame on top.
[[gnu::always_inline]] inline Status run_choice(CallKind kind, Cell* fn_slot) {
  Cell* args = g_stack.arguments;
  const Cell* branch = nullptr;
  switch (kind) {
    case kCallIf:
      if (truthy(args)) branch = args + 1;
      break;
    case kCallUnless:
      if (!truthy(args)) branch = args + 1;
      break;
    default:
      if (args->is(kTypeUnset)) raise_error(kErrScriptNoReturn);
      branch = truthy(args) ? args + 1 : args + 2;
      break;
  }
  if (branch) {
    Status s = run_block_here(branch, true);
    if (s != kStatusOk) return s;
  } else {
    *args = kNoneCell;
  }
  stack_unwind();
  *fn_slot = fn_slot[1];
  g_stack.top = fn_slot + 1;
  return kStatusOk;
}

// The choice a program stopped at to take a branch that has no flat form
// ([stop], its condition computed and its callee checked): its call made as
// exec_choice makes it, at its expression of the block [node], and the
// operators after it taken live. Its value is pushed and [*next] is the
// position after the expression.
[[gnu::noinline]] Status take_branch(const ProgramStop& stop, Node node, int32_t* next) {
  const Op* op = stop.choice;
  const CallKind kind = op->call;
  const bool lookahead = op->lookahead;
  *next = op->next;
  CurrentCodeScope current(node);
  current.at(stop.index);
  DepthGuard depth;
  Cell* fn_slot = stack_push_cell(&op->callee);
  stack_mark_interp_native(op->name);
  stack_push_value(stop.cond);
  const Op* branch = op + 1 + op[1].size;
  stack_push_value(branch->code);
  if (kind == kCallEither) stack_push_value(branch[branch->size].code);
  // The op is not read from here on: the branch may drop the program.
  // The branch runs compiled, moving the epoch itself when it calls out.
  Status s = run_choice(kind, fn_slot);
  if (s != kStatusOk || !lookahead || code_end_q(node, *next)) return s;
  EpochAfter epoch;
  return eval_infix(node, next, fn_slot);
}

// The operator or two-argument call [o], whose word still holds its callee,
// on two integers into [*out]: as integer_infix and integer_builtin compute it.
[[gnu::always_inline]] inline bool op_arith(const Op* o, int32_t x, int32_t y, Cell* out) {
  if (o->arith != kArithNone) return int_arith(o->arith, x, y, out);
  return o->kind == kOpOperator && integer_infix(o->callee, x, y, out);
}

// The integer a leaf operand gives without effects, or null.
[[gnu::always_inline]] inline const Cell* integer_leaf(const Op* op, const Run& r) {
  if (r.trusted) {
    const Cell* v = op->kind == kOpConst ? &op->code : peek_word_value(&op->code);
    return v && v->is(kTypeInteger) ? v : nullptr;
  }
  SeriesBuffer* b = series_buffer(r.node);
  if (uint32_t(op->at) >= b->cell_count()) return nullptr;
  return integer_operand(b->head_cell() + op->at);
}

Status eval_one_in(CodeCache* c, Node node, int32_t* index);

// any and all run here, as their entries would: the block of conditions
// above [fn_slot], its frame on top; each condition evaluated as eval_next
// does (one current-code scope for them all: only the truth test runs in
// between).
Status run_any_all(bool all, Cell* fn_slot) {
  Cell* args = g_stack.arguments;
  const Cell* conds = args;
  int32_t index = std::max(conds->head(), 0);
  Cell result = kNoneCell;
  if (index < series_total_length(conds)) {
    const Node node = conds->node();
    CurrentCodeScope current(node);
    CodeCache* c = cache_of(node);
    CacheUse use(c);
    Cell* mark = g_stack.top;
    bool decided = false;
    while (index < series_total_length(conds)) {
      g_stack.top = mark;
      current.at(index);
      Status s = eval_one_in(c, node, &index);
      if (s != kStatusOk) return s;
      if (all ? !truthy(mark) : truthy(mark)) {
        if (!all) result = *mark;
        decided = true;
        break;
      }
    }
    if (!decided && all) result = *mark;
  }
  *args = result;
  stack_unwind();
  *fn_slot = fn_slot[1];
  g_stack.top = fn_slot + 1;
  return kStatusOk;
}

// Trusted, the value of the pure operand [a] (a plain integer, or
// operators and two-argument built-ins over such) computed without a call
// or any effect, as the general path would compute it (integer_infix,
// integer_builtin), into [*out]; false, having changed nothing, when any
// part gives other than an integer (or a truth value at the end), a callee
// changed, or an operator would be taken after a part. Errors (overflow,
// division by zero) are left for the general evaluation to raise.
bool pure_tree(const Op* a, const Run& r, Cell* out);
const Cell* field_path_get(const Op* op);

// The integer value of a plain operand, or null.
[[gnu::always_inline]] inline const Cell* plain_integer(const Op* a) {
  const Cell* v = a->kind == kOpConst ? &a->code : peek_word_value(&a->code);
  return v && v->is(kTypeInteger) ? v : nullptr;
}

// pure_tree with the cases of a plain operand and of one operator between
// two plain operands inline.
[[gnu::always_inline]] inline bool pure_value(const Op* a, const Run& r, Cell* out) {
  if (a->kind == kOpConst || a->kind == kOpWord) {
    const Cell* v = plain_integer(a);
    if (!v) return false;
    *out = *v;
  } else if (a->kind == kOpInfix && a->size == 4 && (a[1].kind == kOpConst || a[1].kind == kOpWord) &&
             (a[3].kind == kOpConst || a[3].kind == kOpWord)) {
    const Cell* x = plain_integer(a + 1);
    const Cell* y = x ? plain_integer(a + 3) : nullptr;
    const Op* o = a + 2;
    const Cell* f = y ? peek_word_value(&o->code) : nullptr;
    if (!f || o->kind != kOpOperator || !same_cell(*f, o->callee) ||
        !op_arith(o, integer_get(x), integer_get(y), out))
      return false;
  } else {
    return pure_tree(a, r, out);
  }
  return !a->lookahead || !a->follow_check || !op_word_at(series_buffer(r.node), uint32_t(a->next));
}

bool pure_tree(const Op* a, const Run& r, Cell* out) {
  if (a->kind == kOpInfix) {
    const Op* primary = a + 1;
    if (!pure_value(primary, r, out)) return false;
    const Op* end = a + a->size;
    for (const Op* o = primary + primary->size; o < end; o += o->size) {
      const Cell* f;
      Cell right;
      if (o->kind != kOpOperator || !(f = peek_word_value(&o->code)) || !same_cell(*f, o->callee) ||
          !out->is(kTypeInteger) || !pure_value(o + 1, r, &right) ||
          !op_arith(o, integer_get(out), integer_get(&right), out))
        return false;
    }
  } else if (a->kind == kOpPath) {
    const Cell* f = field_path_get(a);
    if (!f || !f->is(kTypeInteger)) return false;
    *out = *f;
  } else if (a->kind == kOpCall) {
    const Cell* f = peek_word_value(&a->code);
    if (!f || !same_cell(*f, a->callee)) return false;
    const Op* x = a + 1;
    const Op* y = x + x->size;
    Cell p, q;
    if (!pure_value(x, r, &p) || !pure_value(y, r, &q) || !p.is(kTypeInteger) || !q.is(kTypeInteger) ||
        !op_arith(a, integer_get(&p), integer_get(&q), out))
      return false;
  } else {
    return false;
  }
  return !a->lookahead || !a->follow_check || !op_word_at(series_buffer(r.node), uint32_t(a->next));
}

[[gnu::noinline]] Status exec_infix(const Op* op, Run& r);
[[gnu::noinline]] Status exec_call_op(const Op* op, Run& r);

// A pure operand whose operands are not all plain (or an operator between
// two plain ones): computed whole when it can be, else evaluated the usual way.
bool pure_flat(const std::vector<Flat>& steps, Cell* out);

[[gnu::always_inline]] inline Status exec_pure(const Op* op, Run& r) {
  Cell out;
  if (op->flat >= 0 ? pure_flat(r.expr->pure_flats[size_t(op->flat)], &out) : pure_value(op, r, &out)) {
    stack_push_value(out);
    *r.index = op->next;
    return kStatusOk;
  }
  return op->kind == kOpInfix ? exec_infix(op, r) : exec_call_op(op, r);
}

// The built-in call [op] (see DirectKind) at [fn_slot], its two leading
// arguments fetched and checked, its frame on top, run by its handler as
// its entry would run it with no refinement, when the arguments are of the
// kinds that handler takes without running Kiv code or changing a block
// (action_pick_plain, action_append_text): its result in place of the
// function value and its frame dropped, true. False, having changed
// nothing, otherwise. A handler's error leaves the frame as the entry's would.
[[gnu::always_inline]] inline bool direct_builtin(const Op* op, Cell* fn_slot) {
  if (g_interp.tracing) return false;
  Cell* args = g_stack.arguments;
  Cell* result;
  if (op->direct == kDirectPick) {
    if (!args[1].is(kTypeInteger) || !(result = action_pick_plain(args, args + 1))) return false;
  } else {
    // Most appends are to blocks: told apart here without a call.
    if (!is_any_string(args[0].type()) || !(result = action_append_text(args, args + 1))) return false;
  }
  copy_cell(fn_slot, result);
  drop_builtin_call(fn_slot);
  return true;
}

[[gnu::noinline]] Status exec_call(const Op* op, Run& r, const Cell* callee) {
  const Node node = r.node;
  const uint32_t i = uint32_t(op->at);
  DepthGuard depth;
  *r.index = int32_t(i + 1);
  Cell* fn_slot = stack_push_cell(callee);
  const bool function = op->call == kCallFunction;
  if (function)
    open_function_call(fn_slot, op->name);
  else
    stack_mark_interp_native(op->name);
  const Op* arg = op + 1;
  for (int32_t p = 0; p < op->params; p++) {
    // Trusted, a compiled argument's cell is in the span; a general one may be past the tail.
    if ((!r.trusted || arg->kind == kOpGeneral) && code_end_q(node, *r.index)) {
      CallSource source;
      source.name = &op->code;
      raise_no_arg(fn_slot, source, p);
    }
    Cell* pushed = g_stack.top;
    Status s = arg->kind == kOpConst || arg->kind == kOpWord ? exec_leaf(arg, r) : exec(arg, r);
    if (s != kStatusOk) return s;
    if (!((arg->accept >> pushed->type()) & 1)) {
      CallSource source;
      source.name = &op->code;
      refuse_arg(fn_slot, source, pushed, p);
    }
    arg += arg->size;
  }
  // Ran no Kiv code and changed no block: the trust and the epoch stay.
  if (op->direct != kDirectNone && direct_builtin(op, fn_slot)) return after(op, r, fn_slot);
  if (op->items != op->params)
    push_absent_arguments(op->list, CallShape{op->items, op->params, op->count, true}, function);
  r.trusted = false;
  Status s;
  switch (op->call) {
    case kCallFunction:
      if (op->count > 0) {
        stack_push_value(kFalseCell);
        for (int32_t k = 1; k < op->count; k++) stack_push_value(kNoneCell);
      }
      s = invoke_body(fn_slot);
      if (s != kStatusOk) return s;
      *fn_slot = *close_function_call();
      g_stack.top = fn_slot + 1;
      break;
    case kCallIf:
    case kCallUnless:
    case kCallEither:
      s = run_choice(op->call, fn_slot);
      if (s != kStatusOk) return s;
      break;
    case kCallAny:
    case kCallAll:
      s = run_any_all(op->call == kCallAll, fn_slot);
      if (s != kStatusOk) return s;
      break;
    default: {
      // Computed in place, nothing ran: the epoch stays.
      if (builtin_in_place(fn_slot, CallShape{op->items, op->params, op->count, true})) break;
      int32_t refs[kMaxRefinementSlots];
      std::fill(refs, refs + op->count, -1);
      EpochAfter epoch;
      s = run_builtin_call(fn_slot, refs);
      if (s != kStatusOk) return s;
      break;
    }
  }
  return after(op, r, fn_slot);
}

// The operator [o] (its guards passed, its right operand not at the tail)
// applied to the value at [left], its right operand compiled.
[[gnu::always_inline]] inline Status exec_operator(const Op* o, Run& r, Cell* left) {
  const Op* right = o + 1;
  const int32_t at = o->at;
  // The integer case of eval_infix: a plain integer operand on the right.
  if (left->is(kTypeInteger) && (right->kind == kOpConst || right->kind == kOpWord)) {
    const Cell* y = integer_leaf(right, r);
    if (y && op_arith(o, integer_get(left), integer_get(y), left)) {
      *r.index = at + 2;
      return kStatusOk;
    }
  }
  // [op][left] from the left operand's cell, as eval_infix_general lays it out.
  g_stack.top = left + 1;
  stack_push_value(*left);
  *left = o->callee;
  left->set_header(op_underlying_type(&o->callee));
  *r.index = at + 1;
  if (o->call == kCallGeneral) {
    r.trusted = false;
    Cell code = series_cell(kTypeBlock, r.node);
    CallSource source;
    source.block = &code;
    source.index = r.index;
    source.name = &o->code;
    EpochAfter epoch;
    Status s = call_at(left, source, true);
    if (o->unbuilt) r.expr->stale = true;  // the call built the list
    return s;
  }
  // A built-in operator: its frame, the left operand checked, the right
  // operand evaluated in that frame, as call_integer_op and call_at make it.
  DepthGuard depth;
  g_stack.top = left + 1;
  stack_mark_interp_native(o->name);
  Cell* args = g_stack.arguments;
  g_stack.top = args + 1;
  CallSource source;
  source.name = &o->code;
  if (!((o->accept_left >> args->type()) & 1)) refuse_arg(left, source, args, 0);
  Status s = right->kind == kOpConst || right->kind == kOpWord ? exec_leaf(right, r) : exec(right, r);
  if (s != kStatusOk) return s;
  if (!((right->accept >> args[1].type()) & 1)) refuse_arg(left, source, args + 1, 1);
  push_absent_arguments(o->list, CallShape{o->items, 2, o->count, true}, false);
  if (args[0].is(kTypeInteger) && args[1].is(kTypeInteger) &&
      op_arith(o, integer_get(&args[0]), integer_get(&args[1]), left)) {
    drop_builtin_call(left);
    return kStatusOk;
  }
  r.trusted = false;
  int32_t refs[kMaxRefinementSlots];
  std::fill(refs, refs + o->count, -1);
  {
    EpochAfter epoch;
    s = run_builtin_entry(left, refs);
  }
  if (s != kStatusOk) return s;
  stack_unwind();
  *left = left[1];
  g_stack.top = left + 1;
  return kStatusOk;
}

[[gnu::noinline]] Status exec_infix(const Op* op, Run& r) {
  Cell* left = g_stack.top;
  const Op* primary = op + 1;
  Status s = primary->kind == kOpConst || primary->kind == kOpWord ? exec_leaf(primary, r) : exec(primary, r);
  if (s != kStatusOk) return s;
  const Op* end = op + op->size;
  for (const Op* o = primary + primary->size; o < end; o += o->size) {
    const Cell* v;
    bool ok = o->kind == kOpOperator;
    if (ok && !r.trusted) {
      SeriesBuffer* b = series_buffer(r.node);
      const uint32_t i = uint32_t(*r.index);
      ok = !g_interp.tracing && i == uint32_t(o->at) && i + 1 < b->cell_count() &&
           same_cell(b->head_cell()[i], o->code);
    } else if (ok && o[1].kind == kOpGeneral) {
      // Trusted, a general right operand may be past the tail.
      ok = !code_end_q(r.node, o->at + 1);
    }
    if (!ok || !(v = peek_word_value(&o->code)) || !same_cell(*v, o->callee)) {
      r.expr->stale = true;
      r.trusted = false;
      EpochAfter epoch;
      return eval_infix(r.node, r.index, left);
    }
    s = exec_operator(o, r, left);
    if (s != kStatusOk) return s;
  }
  return after(op, r, left);
}

[[gnu::noinline]] Status exec_other(const Op* op, Run& r);

// Trusted, the condition of an `if` or `unless` computed without effects
// when it is a plain value or a pure operand and the branch a block
// literal: into [*value], true. When the condition says the branch is not
// taken, nothing runs: the caller pushes none and makes no frame; when it is,
// the call goes on with the value as its first argument. False, having
// changed nothing, for anything else.
bool any_all_value(const Op* op, Cell* value);
bool flat_cond(const Expr* e, Node node, Cell* value);

[[gnu::always_inline]] inline bool choice_condition(const Op* op, const Run& r, Cell* value) {
  const Op* cond = op + 1;
  const Op* branch = cond + cond->size;
  if (branch->kind != kOpConst || !((branch->accept >> branch->code.type()) & 1)) return false;
  if (cond->kind == kOpConst || cond->kind == kOpWord) {
    const Cell* v = cond->kind == kOpConst ? &cond->code : peek_word_value(&cond->code);
    if (!v || !((kPlainValueTypes >> v->type()) & 1)) return false;
    if (cond->lookahead && cond->follow_check && op_word_at(series_buffer(r.node), uint32_t(cond->next)))
      return false;
    *value = *v;
  } else if (op == r.expr->ops.data() && !r.expr->cond_flat.empty()) {
    if (!flat_cond(r.expr, r.node, value)) return false;
  } else if (cond->kind == kOpCall && (cond->call == kCallAny || cond->call == kCallAll)) {
    if (!any_all_value(cond, value)) return false;
    if (cond->lookahead && cond->follow_check && op_word_at(series_buffer(r.node), uint32_t(cond->next)))
      return false;
  } else if (!cond->pure || !pure_value(cond, r, value)) {
    return false;
  }
  return (cond->accept >> value->type()) & 1;
}

// The `if`, `unless` or `either` call [op] whose condition [cond]
// choice_condition computed and which takes a branch: its frame and
// arguments as exec_call makes them, the branch run by run_choice.
[[gnu::noinline]] Status exec_choice(const Op* op, Run& r, const Cell* callee, Cell cond) {
  DepthGuard depth;
  Cell* fn_slot = stack_push_cell(callee);
  stack_mark_interp_native(op->name);
  stack_push_value(cond);
  const Op* branch = op + 1 + op[1].size;
  stack_push_value(branch->code);
  if (op->call == kCallEither) stack_push_value(branch[branch->size].code);
  *r.index = op->next;
  r.trusted = false;
  Status s = run_choice(op->call, fn_slot);
  if (s != kStatusOk) return s;
  return after(op, r, fn_slot);
}

// True when an operator word follows the branch [branch] (it would take
// the block as its left operand).
[[gnu::always_inline]] inline bool operator_after_q(const Op* branch, const Run& r) {
  return branch->lookahead && branch->follow_check &&
         op_word_at(series_buffer(r.node), uint32_t(branch->next));
}

// A trusted `if`, `unless` or `either` call: passed over, or a branch
// taken, with its condition computed once when choice_condition can (and
// each branch is a block literal); else exec_call.
[[gnu::noinline]] Status exec_if(const Op* op, Run& r, const Cell* callee) {
  Cell cond;
  if (!choice_condition(op, r, &cond)) return exec_call(op, r, callee);
  const Op* branch = op + 1 + op[1].size;
  if (operator_after_q(branch, r)) return exec_call(op, r, callee);
  if (op->call == kCallEither) {
    const Op* other = branch + branch->size;
    if (other->kind != kOpConst || !((other->accept >> other->code.type()) & 1) || operator_after_q(other, r))
      return exec_call(op, r, callee);
    return exec_choice(op, r, callee, cond);
  }
  if (truthy(&cond) != (op->call == kCallUnless)) return exec_choice(op, r, callee, cond);
  stack_push_value(kNoneCell);
  *r.index = op->next;
  return after(op, r, g_stack.top - 1);
}

// A call: its guard, its callee still the word's value, then exec_call.
[[gnu::noinline]] Status exec_call_op(const Op* op, Run& r) {
  const Cell* v;
  if (!guard(op, r) || !(v = peek_word_value(&op->code)) || !same_cell(*v, op->callee)) return miss(op, r);
  if ((op->call == kCallIf || op->call == kCallUnless || op->call == kCallEither) && r.trusted)
    return exec_if(op, r, v);
  return exec_call(op, r, v);
}
[[gnu::noinline]] Status exec_infix(const Op* op, Run& r);

// True when the path of the field path [op] still holds the two words
// compiled. Its cells are compared once per code epoch: like the code's
// own cells, they change only where the epoch moves.
[[gnu::always_inline]] inline bool field_path_holds(const Op* op) {
  auto cells_hold = [op] {
    SeriesBuffer* pb = series_buffer(op->code.node());
    const uint32_t head = uint32_t(std::max(op->code.head(), 0));
    if (pb->cell_count() != head + 2) return false;
    const Cell* cells = pb->head_cell() + head;
    return same_cell(cells[0], op->callee) && same_cell(cells[1], op->field);
  };
  if (op->path_seen == g_code_epoch) {
#ifdef KIV_CODE_EPOCH_CHECK
    fatal_assert(cells_hold());
#endif
    return true;
  }
  if (!op->field_path || !cells_hold()) return false;
  op->path_seen = g_code_epoch;
  return true;
}

// The layout of the object context a field path found last. Words and
// values blocks move or grow only under what moves the code epoch (a call
// out of compiled code, a loop native's store that is not plain) or in a
// collection, and a node is reused only after one: so the layout holds
// while the context, the epoch and the collection count are those it was
// taken at. Consecutive field paths mostly name one object.
struct FieldContext {
  Node ctx = 0;
  uint64_t epoch = 0;
  uint32_t collections = 0;
  ContextLayout layout{};
};
FieldContext g_field_context;

// The layout of the heap context [ctx] (g_field_context's when it holds),
// or null. Allocates nothing.
[[gnu::always_inline]] inline const ContextLayout* field_context_layout(Node ctx) {
  FieldContext& fc = g_field_context;
  if (fc.ctx == ctx && fc.epoch == g_code_epoch && fc.collections == collection_count()) {
#ifdef KIV_CODE_EPOCH_CHECK
    ContextLayout now;
    fatal_assert(context_layout(ctx, &now) && now.words == fc.layout.words &&
                 now.word_count == fc.layout.word_count && now.values == fc.layout.values &&
                 now.value_count == fc.layout.value_count);
#endif
    return &fc.layout;
  }
  if (!context_layout(ctx, &fc.layout)) {
    fc.ctx = 0;
    return nullptr;
  }
  fc.ctx = ctx;
  fc.epoch = g_code_epoch;
  fc.collections = collection_count();
  return &fc.layout;
}

// The object whose field the field path [op] names, with its context's
// layout in [*layout] and the field in [*field], when the path still holds
// the two words compiled, the first names an object! ([value_of] reads
// words as peek_word_value does) and the object has the field in its heap
// values: else null (the general way decides). Nothing here allocates or
// raises.
template <class ValueOf>
[[gnu::always_inline]] inline const Cell* field_path_object(const Op* op, ValueOf value_of,
                                                            const ContextLayout** layout,
                                                            ContextField* field) {
  if (!field_path_holds(op)) return nullptr;
  const Cell* object = value_of(&op->callee);
  if (!object || !object->is(kTypeObject)) return nullptr;
  const Node ctx = object_context(object);
  const ContextLayout* l = field_context_layout(ctx);
  if (!l || !context_field_find(ctx, *l, word_symbol(&op->field), &op->hint, field)) return nullptr;
  *layout = l;
  return object;
}

// The field a field path reads, as path_fast_try reads it; null for the general way.
template <class ValueOf>
[[gnu::always_inline]] inline const Cell* field_path_read(const Op* op, ValueOf value_of) {
  const ContextLayout* l;
  ContextField f;
  if (!field_path_object(op, value_of, &l, &f)) return nullptr;
  const Cell* field = f.value;
  if (field->is(kTypeUnset) || field->header == 0) return nullptr;
  if (op->code.is(kTypePath) && ((kFieldCalledTypes >> field->type()) & 1)) return nullptr;
  return field;
}

// Out of line: its callers keep a smaller frame.
[[gnu::noinline]] const Cell* field_path_get(const Op* op) {
  return field_path_read(op, [](const Cell* word) { return peek_word_value(word); });
}

// The field a field set-path stores into when nobody hears of the change,
// marked set, as path_fast_try stores; null for the general way.
template <class ValueOf>
[[gnu::always_inline]] inline Cell* field_path_store_slot(const Op* op, ValueOf value_of) {
  const ContextLayout* l;
  ContextField f;
  const Cell* object = field_path_object(op, value_of, &l, &f);
  if (!object || object_events(is_any_object(l->self->type()) ? l->self : object)) return nullptr;
  context_field_mark(*l, f);
  return f.value;
}

[[gnu::always_inline]] inline Cell* field_path_slot(const Op* op) {
  return field_path_store_slot(op, [](const Cell* word) { return peek_word_value(word); });
}

// A set-word and its value: guarded, the value compiled, then stored in
// place as eval_expr stores it (set_word_value for the rest).
[[gnu::noinline]] Status exec_set_word(const Op* op, Run& r) {
  if (!guard(op, r)) return miss(op, r);
  const uint32_t i = uint32_t(op->at);
  if ((!r.trusted || op[1].kind == kOpGeneral) && code_end_q(r.node, int32_t(i + 1))) return miss(op, r);
  Cell* start = g_stack.top;
  *r.index = int32_t(i + 1);
  Status s = exec(op + 1, r);
  if (s != kStatusOk) return s;
  if (Cell* slot = context_plain_store_slot(word_context(&op->code), word_index(&op->code))) {
    *slot = *start;
  } else {
    r.trusted = false;
    Cell* w = stack_push_value(op->code);
    EpochAfter epoch;
    set_word_value(w, start);
  }
  g_stack.top = start + 1;
  return r.trusted ? kStatusOk : after(op, r, start);
}

// run_block_here for the paren [held] (a stable cell) whose first
// expression [sub] was compiled with the paren's op: that expression run
// without looking the block up, the rest (a paren of more than one) the
// ordinary way. A sub found stale leaves the paren to run_block_here.
[[gnu::noinline]] Status run_paren(Expr* sub, Cell* held) {
  const Node node = held->node();
  const int32_t head = std::max(held->head(), 0);
  SeriesBuffer* b = series_buffer(node);
  const uint32_t count = b->cell_count();
  if (sub->stale || sub->at != head || uint32_t(head) >= count || g_interp.tracing)
    return run_block_here(held, false);
  CurrentCodeScope current(node);
  current.at(head);
  Cell* base = stack_push();
  g_stack.top = base;
  int32_t index = head;
  Status s = run_expr(sub, node, &index, b, count);
  if (s != kStatusOk) return s;
  if (!code_end_q(node, index)) {
    s = run_exprs(node, index, base, current);
    if (s != kStatusOk) return s;
  }
  g_stack.top = base + 1;
  return kStatusOk;
}

[[gnu::noinline]] Status exec_other(const Op* op, Run& r) {
  if (!guard(op, r)) return miss(op, r);
  const uint32_t i = uint32_t(op->at);
  switch (op->kind) {
    case kOpParen: {
      Cell* held = stack_push_cell(&op->code);
      *r.index = int32_t(i + 1);
      r.trusted = false;
      Status s = op->sub ? run_paren(op->sub, held) : run_block_here(held, false);
      if (s != kStatusOk) return s;
      *held = held[1];
      g_stack.top = held + 1;
      return after(op, r, held);
    }
    case kOpPath: {
      if (const Cell* field = field_path_get(op)) {
        Cell* pushed = stack_push_cell(field);
        *r.index = int32_t(i + 1);
        return after(op, r, pushed);
      }
      // path_fast_try reads an object's field and runs nothing.
      if (!path_fast_try(&op->code, nullptr, true)) {
        r.trusted = false;
        EpochAfter epoch;
        return eval_expr(r.node, r.index, !op->lookahead);
      }
      *r.index = int32_t(i + 1);
      return after(op, r, g_stack.top - 1);
    }
    case kOpSetPath: {
      if ((!r.trusted || op[1].kind == kOpGeneral) && code_end_q(r.node, int32_t(i + 1))) return miss(op, r);
      Cell* path = stack_push_cell(&op->code);
      *r.index = int32_t(i + 1);
      Status s = exec(op + 1, r);
      if (s != kStatusOk) return s;
      if (Cell* field = field_path_slot(op)) {
        *field = path[1];
      } else if (!path_fast_try(path, path + 1, true)) {
        // path_fast_try stores into an object's field and runs nothing.
        r.trusted = false;
        EpochAfter epoch;
        s = eval_path(path, nullptr, nullptr, path + 1, true);
        if (s != kStatusOk) return s;
      }
      *path = path[1];
      g_stack.top = path + 1;
      return r.trusted ? kStatusOk : after(op, r, path);
    }
    default: return miss(op, r);
  }
}

[[gnu::noinline]] Status exec_general(const Op* op, Run& r) {
  r.trusted = false;
  EpochAfter epoch;
  Status s = eval_expr(r.node, r.index, !op->lookahead);
  if (op->unbuilt) r.expr->stale = true;
  return s;
}

[[gnu::always_inline]] inline Status exec(const Op* op, Run& r) {
  if (g_interp.tracing || op->kind == kOpGeneral) return exec_general(op, r);
  switch (op->kind) {
    case kOpConst:
    case kOpWord: return exec_leaf(op, r);
    case kOpInfix:
    case kOpCall:
      if (op->pure && r.trusted) return exec_pure(op, r);
      return op->kind == kOpInfix ? exec_infix(op, r) : exec_call_op(op, r);
    case kOpSetWord: return exec_set_word(op, r);
    default: return exec_other(op, r);
  }
}

// Runs the expression [e] at [*index] of [node], whose buffer is [b] with [count] cells.
// Runs the flat form of [e] (its span holds): true, its value pushed and
// [*index] past it; false, having changed nothing, when any step finds
// other than it was compiled for (a value of another type, a callee
// changed, an operator after an operand, an overflow, a store that needs
// more than a plain write): the expression then runs the ordinary way.
// The global context's values, found once for a run of steps that neither
// allocates nor runs Kiv code (so the buffer stays where it is): a global
// word's value is read without looking its context up again.
class GlobalSlots {
 public:
  GlobalSlots() {
    SeriesBuffer* b = series_buffer(g_global_values);
    cells_ = b->head_cell();
    count_ = b->cell_count();
  }
  // peek_word_value.
  [[gnu::always_inline]] Cell* value(FlatWord w) const {
    if (w.ctx != g_global_context) return context_peek_slot(w.ctx, w.index);
    return uint32_t(w.index) < count_ ? cells_ + w.index : nullptr;
  }
  // peek_word_value of the word [word].
  [[gnu::always_inline]] Cell* value(const Cell* word) const { return value(flat_word(*word)); }
  // True when [slot] is a global word's.
  [[gnu::always_inline]] bool holds(const Cell* slot) const {
    return slot >= cells_ && slot < cells_ + count_;
  }
  // context_plain_store_slot for the word's own slot.
  [[gnu::always_inline]] Cell* store_slot(FlatWord w) const {
    if (w.ctx != g_global_context) return context_plain_store_slot(w.ctx, w.index);
    return value(w);
  }

 private:
  Cell* cells_;
  uint32_t count_;
};

// The object a run of flat steps reads and stores fields of: found by the
// word naming it at the first field step of that word, kept for the
// following ones. A run allocates nothing and runs no Kiv code, so the
// object's layout and whether anyone hears of its changes hold through the
// run; only a store into the word's own slot could name another object
// (a set-word step of it forgets the object; an object that holds the word
// among its own fields is not kept). The members after [word] are set by
// field_object_find before any step reads them.
struct FieldObject {
  FlatWord word{0, -1};  // the word it was found by (no word has slot -1)
  Node ctx;
  ContextLayout layout;
  uint32_t slots;  // the slots that have both a word and a value
  bool quiet;      // a store into a field notifies nobody
};

[[gnu::always_inline]] inline bool same_word(FlatWord a, FlatWord b) {
  static_assert(sizeof(FlatWord) == 8);
  uint64_t x, y;
  std::memcpy(&x, &a, 8);
  std::memcpy(&y, &b, 8);
  return x == y;
}

// Finds the object the path of the field step [f] names by its first word
// into [*o]: false when that word holds no object! with heap values.
[[gnu::noinline]] bool field_object_find(const Flat& f, const GlobalSlots& globals, FieldObject* o) {
  o->word = FlatWord{0, -1};
  const Cell* object = globals.value(f.word);
  if (!object || !object->is(kTypeObject)) return false;
  const Node ctx = object_context(object);
  if (!context_layout(ctx, &o->layout)) return false;
  o->ctx = ctx;
  o->slots = std::min(o->layout.word_count, o->layout.value_count);
  const Cell* self = o->layout.self;
  o->quiet = !object_events(is_any_object(self->type()) ? self : object);
  if (ctx != f.word.ctx) o->word = f.word;
  return true;
}

// The field the field step [f] names, in the object its path's first word
// holds (kept in [*o]), while the path still holds the two words compiled:
// with its word at the same slot of the words: its value cell. Else null,
// for the general way to decide. As field_path_object finds it.
[[gnu::always_inline]] inline Cell* flat_field(const Flat& f, const GlobalSlots& globals, FieldObject* o) {
  if (!f.path_copied && !field_path_holds(f.path)) return nullptr;
#ifdef KIV_CODE_EPOCH_CHECK
  fatal_assert(!f.path_copied || field_path_holds(f.path));
#endif
  if (!same_word(f.word, o->word) && !field_object_find(f, globals, o)) return nullptr;
  uint32_t at = uint32_t(f.hint);
  if (at >= o->slots || word_symbol(o->layout.words + at) != f.symbol) [[unlikely]] {
    ContextField field;
    if (!context_field_find(o->ctx, o->layout, f.symbol, &f.hint, &field)) return nullptr;
    return field.value;
  }
  return o->layout.values + at;
}

// The operator or call of step [f] applied to the integer at [*left] (else
// false) and [y], its result in place of [*left], while the step's word
// still holds its callee: as integer_infix and integer_builtin compute it.
[[gnu::always_inline]] inline bool flat_apply(const Flat& f, const GlobalSlots& globals, Cell* left,
                                              int32_t y) {
  if (!f.checked) {
    const Cell* fn = globals.value(f.fn);
    if (!fn || !same_cell(*fn, f.callee)) return false;
  }
  if (!left->is(kTypeInteger)) return false;
  if (f.arith != kArithNone) [[likely]]
    return int_arith(f.arith, integer_get(left), y, left);
  return op_arith(f.op, integer_get(left), y, left);
}

// Runs the steps [steps] (see FlatStep) and leaves the value on top in
// [*out]: true. False when a step does not hold or a branch is to be taken
// the ordinary way; what ran before the expression it stopped in stays
// done, and [*stop] (when given) says where (kStepBegin) and why. Nothing
// here allocates, raises or runs Kiv code.
[[gnu::noinline]] bool flat_run(const std::vector<Flat>& steps, Cell* out, ProgramStop* stop = nullptr) {
  // Each step ends by jumping to the next one's code through its own
  // indirect jump (labels as values): a step sequence that repeats, as a
  // loop body's does, then predicts well at every step, where one shared
  // switch jump would mispredict at most of them.
  static constexpr const void* kCode[] = {
      &&step_const,     &&step_word,        &&step_field,       &&step_apply_two,  &&step_apply_two,
      &&step_apply_imm, &&step_apply_word,  &&step_apply_imm,   &&step_apply_word, &&step_follow,
      &&step_set_word,  &&step_set_field,   &&step_begin,       &&step_callee,     &&step_callees,
      &&step_branch,    &&step_jump,        &&step_none,        &&step_take,       &&step_drop,
      &&step_any,       &&step_all,         &&step_locals,      &&step_local,      &&step_apply_local,
      &&step_set_local, &&step_field_const, &&step_apply_field,
  };
  static_assert(sizeof(kCode) / sizeof(kCode[0]) == size_t(kStepApplyField) + 1);
  Cell vals[kFlatDepth];
  Cell* sp = vals;  // one past the last value pushed
  GlobalSlots globals;
  FieldObject object;
  Cell* locals = nullptr;  // kStepLocals: the context's values, their count, and whether plain stores do
  uint32_t local_count = 0;
  bool local_stores = false;
  const Flat* const first = steps.data();
  const Flat* const end = first + steps.size();
  const Flat* p = first;
  const Cell* v;    // a value a step reads
  Cell* slot;       // a slot a step stores into
  uint32_t values;  // kStepLocals: the context's values reference
#define KIV_NEXT_STEP()        \
  do {                         \
    if (++p == end) goto done; \
    goto* kCode[p->step];      \
  } while (0)
  if (p == end) goto done;
  goto* kCode[p->step];
step_const:
  *sp++ = p->op->code;
  KIV_NEXT_STEP();
step_word:
  v = globals.value(p->word);
  if (!v || !((kPlainValueTypes >> v->type()) & 1)) return false;
  *sp++ = *v;
  KIV_NEXT_STEP();
step_field:
  v = flat_field(*p, globals, &object);
  if (!v || !((p->accept >> v->type()) & 1)) return false;
  *sp++ = *v;
  KIV_NEXT_STEP();
step_field_const:
  v = flat_field(*p, globals, &object);
  if (!v) return false;
  *sp = *v;
  if (!flat_apply(*p, globals, sp, p->imm)) return false;
  sp++;
  KIV_NEXT_STEP();
step_apply_field:
  v = flat_field(*p, globals, &object);
  if (!v || !v->is(kTypeInteger) || !flat_apply(*p, globals, sp - 1, integer_get(v))) return false;
  KIV_NEXT_STEP();
step_apply_two:  // kStepOperator, kStepBuiltin
  if (!sp[-1].is(kTypeInteger) || !flat_apply(*p, globals, sp - 2, integer_get(sp - 1))) return false;
  sp--;
  KIV_NEXT_STEP();
step_apply_imm:  // kStepOperatorConst, kStepBuiltinConst
  if (!flat_apply(*p, globals, sp - 1, p->imm)) return false;
  KIV_NEXT_STEP();
step_apply_word:  // kStepOperatorWord, kStepBuiltinWord
  v = globals.value(p->word);
  if (!v || !v->is(kTypeInteger) || !flat_apply(*p, globals, sp - 1, integer_get(v))) return false;
  KIV_NEXT_STEP();
step_follow:
  if (op_word_at(series_buffer(p->node), uint32_t(p->op->next))) return false;
  KIV_NEXT_STEP();
step_set_word:
  slot = globals.store_slot(p->word);
  if (!slot) return false;
  *slot = sp[-1];
  if (same_word(p->word, object.word)) object.word = FlatWord{0, -1};
  KIV_NEXT_STEP();
step_set_field:
  slot = flat_field(*p, globals, &object);
  if (!slot || !object.quiet || (p->checked && globals.holds(slot))) return false;
  context_field_mark(object.layout, ContextField{object.layout.words + (slot - object.layout.values), slot});
  *slot = sp[-1];
  KIV_NEXT_STEP();
step_locals:
  // As context_peek_slot and context_plain_store_slot find them.
  v = context_cell(p->word.ctx);
  values = context_values(p->word.ctx);
  if (!values) {
    local_count = 0;
  } else if (v->header & kFlagStackValues) {
    locals = stack_at(values - 1);
    local_count = UINT32_MAX;
    local_stores = true;
  } else {
    local_stores = ((v->header & kContextKindMask) >> kContextKindShift) != kContextObject;
    SeriesBuffer* b = series_buffer(values);
    locals = b->head_cell();
    local_count = b->cell_count();
  }
  KIV_NEXT_STEP();
step_local:
  if (uint32_t(p->word.index) >= local_count) return false;
  v = locals + p->word.index;
  if (!((kPlainValueTypes >> v->type()) & 1)) return false;
  *sp++ = *v;
  KIV_NEXT_STEP();
step_apply_local:
  if (uint32_t(p->word.index) >= local_count) return false;
  v = locals + p->word.index;
  if (!v->is(kTypeInteger) || !flat_apply(*p, globals, sp - 1, integer_get(v))) return false;
  KIV_NEXT_STEP();
step_set_local:
  if (!local_stores || uint32_t(p->word.index) >= local_count) return false;
  locals[p->word.index] = sp[-1];
  if (same_word(p->word, object.word)) object.word = FlatWord{0, -1};
  KIV_NEXT_STEP();
step_begin:
  sp = vals;
  if (stop) stop->index = p->imm;
  KIV_NEXT_STEP();
step_callee:
  v = globals.value(p->fn);
  if (!v || !same_cell(*v, p->callee)) return false;
  KIV_NEXT_STEP();
step_callees:
  for (const Flat *c = p + 1, *e = p + 1 + p->imm; c < e; c++) {
    v = globals.value(c->fn);
    if (!v || !same_cell(*v, c->callee)) return false;
  }
  p += p->imm;
  KIV_NEXT_STEP();
step_branch:
  sp--;
  if (!((p->accept >> sp->type()) & 1)) return false;
  if (stop) stop->cond = *sp;
  if (truthy(sp) == p->when) p = first + p->imm - 1;
  KIV_NEXT_STEP();
step_jump:
  p = first + p->imm - 1;
  KIV_NEXT_STEP();
step_none:
  *sp++ = kNoneCell;
  KIV_NEXT_STEP();
step_take:
  if (stop) stop->choice = p->op;
  return false;
step_drop:
  sp--;
  KIV_NEXT_STEP();
step_any:
  if (truthy(sp - 1))
    p = first + p->imm - 1;
  else
    sp--;
  KIV_NEXT_STEP();
step_all:
  if (!truthy(sp - 1)) {
    sp[-1] = kNoneCell;
    p = first + p->imm - 1;
  }
  KIV_NEXT_STEP();
#undef KIV_NEXT_STEP
done:
  *out = sp[-1];
  return true;
}

[[gnu::always_inline]] inline bool flat_steps(const Expr* e, Node node, Cell* out) {
  return flat_run(e->flat, out);
}

// flat_steps in a frame of its own.
[[gnu::noinline]] bool flat_steps_apart(const Expr* e, Node node, Cell* out) {
  return flat_steps(e, node, out);
}

template <FlatCall kFlat>
[[gnu::always_inline]] inline bool flat_value(const Expr* e, Node node, Cell* out) {
  return kFlat == FlatCall::kApart ? flat_steps_apart(e, node, out) : flat_steps(e, node, out);
}

template <FlatCall kFlat>
[[gnu::always_inline]] inline bool run_flat(const Expr* e, Node node, int32_t* index) {
  Cell value;
  if (!flat_value<kFlat>(e, node, &value)) return false;
  stack_push_value(value);
  *index = e->ops[0].next;
  return true;
}

// Trusted, the value of a pure operand by its flat form (Op::flat), in a
// frame of its own.
[[gnu::noinline]] bool pure_flat(const std::vector<Flat>& steps, Cell* out) { return flat_run(steps, out); }

// Trusted, the value of the condition of the `if` or `unless` that starts
// [e], by its flat form.
bool flat_cond(const Expr* e, Node node, Cell* value) { return flat_run(e->cond_flat, value); }

[[gnu::noinline]] bool program_steps(const Program& p, Cell* out, ProgramStop* stop) {
  return flat_run(p.steps, out, stop);
}

// Trusted, the value of the `any` or `all` call [op] whose argument is a
// block literal, computed without a frame when every expression of that
// block has a flat form that stores nothing and its span holds: into
// [*value], true. False, having changed nothing (what ran read only), for
// anything else: the call then runs the ordinary way, which raises what it
// raises.
bool any_all_value(const Op* op, Cell* value) {
  const Op* arg = op + 1;
  if (arg->kind != kOpConst || !arg->code.is(kTypeBlock)) return false;
  const Cell* fn = peek_word_value(&op->code);
  if (!fn || !same_cell(*fn, op->callee)) return false;
  const Node node = arg->code.node();
  CodeCache* c = cache_of(node);
  if (c->passes < kPassesBeforeCompiling) return false;
  CacheUse use(c);
  const bool all = op->call == kCallAll;
  int32_t index = std::max(arg->code.head(), 0);
  SeriesBuffer* b = series_buffer(node);
  const uint32_t count = b->cell_count();
  Cell last = kNoneCell;
  while (uint32_t(index) < count) {
    Expr* e = expr_at(c, node, index);
    if (e->flat.empty() || e->flat_stores || !span_trusted(e, b, count) || !flat_steps_apart(e, node, &last))
      return false;
    index = e->ops[0].next;
    if (all != truthy(&last)) {
      *value = all ? kNoneCell : last;
      return true;
    }
  }
  *value = all ? last : kNoneCell;
  return true;
}

template <FlatCall kFlat>
[[gnu::always_inline]] inline Status run_expr(Expr* e, Node node, int32_t* index, SeriesBuffer* b,
                                              uint32_t count) {
  Run r{node, index, e, span_trusted(e, b, count)};
  if (!r.trusted)
    e->stale = true;
  else if (!e->flat.empty() && run_flat<kFlat>(e, node, index))
    return kStatusOk;
  return exec(e->ops.data(), r);
}

// code_eval_one in the block [node] whose side table [c] a caller counts as in use.
Status eval_one_in(CodeCache* c, Node node, int32_t* index) {
  if (c->passes < kPassesBeforeCompiling) {
    // A new pass over the block begins where it does not go on from the last.
    if (*index <= c->last_one && c->last_one != INT32_MAX) c->passes++;
    c->last_one = *index;
    EpochAfter epoch;
    return eval_expr(node, index, false, true);
  }
  Expr* e = expr_at(c, node, *index);
  SeriesBuffer* b = series_buffer(node);
  return run_expr(e, node, index, b, b->cell_count());
}

}  // namespace

Status code_run(Node node, int32_t index, Cell* base, const CurrentCodeScope& current) {
  g_code_epoch++;
  CodeCache* c = cache_of(node);
  CacheUse use(c);
  if (!g_interp.tracing) {
    Cell block = series_cell(kTypeBlock, node);
    block.set_head(index);
    bool done = false;
    Status s = run_program(c, &block, false, &index, &done);
    if (s != kStatusOk) return s;
    if (done) {
      *base = g_stack.top[-1];
      g_stack.top = base + 1;
      return kStatusOk;
    }
  }
  return run_exprs_in(c, node, index, base, current);
}

void code_changed() { g_code_epoch++; }

LoopBody::LoopBody(const Cell* block) : block_(*block), cache_(cache_of(block->node())) { cache_->running++; }

LoopBody::~LoopBody() { cache_->running--; }

Status LoopBody::run_caught(bool chain) {
  if (g_interp.tracing)
    return catch_exit_status(kExitTargetLoop, [&]() -> Status { return eval_block_traced(&block_, chain); });
  const Node node = block_.node();
  int32_t index = std::max(block_.head(), 0);
  // The program runs before the catch point: it raises nothing and runs no
  // Kiv code, so no break or continue can come from it.
  Cell value;
  ProgramStop stop;
  const ProgramRun run = program_try(cache_, node, index, &value, &stop);
  if (run == ProgramRun::kWhole) {
    Cell* pushed = stack_push_cell(&value);
    if (chain) copy_cell(g_stack.arguments, pushed);
    return kStatusOk;
  }
  return catch_exit_status(kExitTargetLoop, [&]() -> Status {
    bool done = false;
    if (run == ProgramRun::kStopped) {
      Status s = program_go_on(stop, node, chain, &index, &done);
      if (s != kStatusOk || done) return s;
    }
    return run_block_rest<FlatCall::kApart>(cache_, &block_, index, chain);
  });
}

Status code_eval_one(Node node, int32_t* index) {
  g_code_epoch++;
  CodeCache* c = cache_of(node);
  CacheUse use(c);
  return eval_one_in(c, node, index);
}

void code_cache_init() {
  g_caches.clear();
  g_by_node.clear();
  g_field_context = FieldContext{};
  if (!g_sweep_registered) {
    add_sweep_callback(sweep_caches);
    g_sweep_registered = true;
  }
}

}  // namespace kiv::interp
