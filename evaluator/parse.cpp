// The PARSE engine's loop, its frames and its matchers, and the parse native.
//
// Registers: the input (a stable cell whose series is the one parsed; its own
// index is unused) with the parse index [pos] and the optional /part limit;
// the current rule block with the index [ri] of the next rule element; the
// match flag. Positions are absolute indexes into the buffers; lengths and
// elements are re-read after anything that may run Kiv code.
//
// Frames. A block frame records where to resume in the enclosing block and
// the input index at entry (restored when an alternative fails). A command
// frame records the command code, the index of its argument in the current
// block, the input index where it started and where its current iteration
// started, and the command's own values (repetition bounds, saved case mode,
// saved input for into). Cells a frame keeps (the enclosing rule block, a
// target word, a collected block, the input into replaced) live in the
// rule-stack block, three per frame.
//
// Plans. Once a parse has run a while and nothing traces it, a rule block's
// common block-level rules (bars, some/any/opt and copy over a charset, a
// char or a text, words naming such a value, a datatype or a block, parens,
// skip, end) run from a plan read once from the block's cells (RulePlan),
// one after another without the states between them. The engine's epoch
// moves wherever a block may change; a plan found at an older epoch is
// compared with its block's cells again, and made anew when they differ.
// Values are never planned: words are read at each use. A repetition over
// a block that goes on starts its next round in the block's own frame.
#include "evaluator/parse.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "evaluator/lexer.h"
#include "evaluator/natives.h"
#include "runtime/errors.h"
#include "runtime/typesets.h"

namespace kiv {

namespace {

// Command codes of command frames (block frames carry kBlockFrame).
enum ParseCommand : int32_t {
  kBlockFrame = 0,
  kCmdRepeat = -1,
  kCmdTo = -2,
  kCmdThru = -3,
  kCmdCopy = -4,
  kCmdSet = -5,
  kCmdNot = -6,
  kCmdInto = -7,
  kCmdRemove = -9,
  kCmdWhile = -11,
  kCmdCollect = -12,
  kCmdKeep = -13,
  kCmdAhead = -16,
  kCmdChange = -17,
  kCmdChangeOnly = -18,
  kCmdCase = -19,
};

// Collect targets.
enum CollectTarget : int32_t { kCollectNew = 0, kCollectSet = 1, kCollectInto = 2, kCollectAfter = 3 };

struct Frame {
  int32_t code = kBlockFrame;
  int32_t ri = 0;         // block: where to resume in the enclosing block; command: its argument
  int32_t origin = 0;     // input index when the frame was pushed
  int32_t start = 0;      // input index at the start of the current iteration / attempt
  int32_t start_len = 0;  // input length then
  int32_t min = 0, max = 0, count = 0;
  int32_t aux = 0;   // repeat: unused; case: saved mode; into: outer index; collect: target kind; keep: pick
  int32_t aux2 = 0;  // into: outer limit
  int32_t keyword = 0;  // index of the keyword in its block (error argument)
  uint64_t epoch = 0;   // block: the engine's epoch when it was last found to be its repetition's argument
};

enum InputKind { kInputBlock, kInputString, kInputBinary };

InputKind input_kind_of(TypeId t) {
  if (is_any_block(t)) return kInputBlock;
  if (t == kTypeBinary) return kInputBinary;
  return kInputString;
}

// The keyword a word names (its RuntimeSymbol, from kSymAny to kSymChange),
// or -1. The resolved symbols of the keywords are read once.
int32_t keyword_of(const Cell* word) {
  // By symbol id, with the symbol it resolved to when looked up, so that a
  // runtime started anew (its symbols renumbered) is never answered from an
  // old entry; the cache is dropped when the symbol table shrinks.
  struct Entry {
    int32_t resolved = 0;
    int8_t keyword = -1;
  };
  static std::vector<Entry> cache;
  static uint32_t symbols_seen = 0;
  if (symbol_count() < symbols_seen) cache.clear();
  symbols_seen = symbol_count();
  int32_t sym = word_symbol(word);
  if (sym <= 0) return -1;
  if (size_t(sym) >= cache.size()) cache.resize(size_t(sym) * 2 + 64);
  int32_t resolved = symbol_resolve(sym);
  Entry& e = cache[size_t(sym)];
  if (e.resolved != resolved) {
    e.resolved = resolved;
    e.keyword = -1;
    for (int s = kSymAny; s <= kSymChange; s++)
      if (s != kSymMinus && symbol_resolve(runtime_symbol(RuntimeSymbol(s))) == resolved)
        e.keyword = int8_t(s);
  }
  return e.keyword;
}

// Cells of all running parse calls' stacks.
int32_t g_parse_cells = 0;

// A false answer of the trace callback: the engine stops with its match flag.
struct TraceStop {};

enum State { kEnter, kLeave, kFinish, kRoute, kFetch, kFetchGeneral, kArg, kFail, kEnd };

// What a rule block's element at some index does, read once from the block
// (see Engine::plan_of_rules): the common block-level rules that run in place.
enum PlanKind : uint8_t {
  kPlanOther,   // anything else: the state machine runs it
  kPlanBar,     // |
  kPlanRepeat,  // some, any or opt, then a word that is no keyword or a charset, char or text
  kPlanCopy,    // copy word, then optionally some, any or opt, then such a rule
  kPlanParen,   // a paren
  kPlanMatch,   // a charset, a char or a text, matched once
  kPlanWord,    // a word that is no keyword, bound: its value read as dispatch reads it
  kPlanSkip,    // skip
  kPlanEnd,     // end
};

struct PlanOp {
  PlanKind kind = kPlanOther;
  bool counted = false;  // kPlanCopy: through some, any or opt (their frame counts)
  int32_t min = 0, max = 0;
  int32_t value = 0;      // kPlanRepeat, kPlanCopy: the index of the rule repeated
  int32_t next_bar = -1;  // the index of the first | at or after this one, or -1
};

// The elements of one rule block as they were read, and what each does.
struct RulePlan {
  Node node = 0;
  uint64_t checked = 0;  // the engine's epoch when [cells] last held (or it was found unplanned)
  int32_t rebuilt = 0;
  bool planned = false;  // false: too long, or changed again and again; the state machine runs it
  std::vector<Cell> cells;
  std::vector<PlanOp> ops;
};

class Engine {
 public:
  Engine(const ParseRequest& r, Cell* out) : out_(out), callback_(r.callback) {
    case_ = r.case_sensitive;
    input_ = stack_push_cell(r.input);
    pos_ = series_clamp_head(input_, series_total_length(input_));
    limit_ = r.limit;
    kind_ = input_kind_of(input_->type());
    rules_ = stack_push_cell(r.rules);
    cur_ = stack_push();
    tmp_ = stack_push();
    tmp2_ = stack_push();
    tmp3_ = stack_push();
    collected_ = stack_push();
    stack_ = stack_push();
    init_block(stack_, 8);
  }
  ~Engine() { g_parse_cells -= cells_held_; }

  Status run();

 private:
  // ------------------------------------------------ input
  int32_t input_length() const { return series_total_length(input_); }
  int32_t input_end() const {
    int32_t total = input_length();
    return limit_ >= 0 && limit_ < total ? limit_ : total;
  }
  bool at_end() const { return pos_ >= input_end(); }
  // The input at [index] in [*out].
  void input_at(Cell* out, int32_t index) const {
    *out = *input_;
    out->set_head(index);
    out->clear_new_line();
  }
  // The element at [index] (a char!, an integer! byte, or a cell).
  Cell element_at(int32_t index) const {
    if (kind_ == kInputBlock) return *block_ks_abs_at(input_, index);
    if (kind_ == kInputBinary) return integer_cell(*series_unit_at(series_buffer_of(input_), index));
    return char_cell(string_char_at(input_, uint32_t(index)));
  }

  // ------------------------------------------------ rules
  int32_t rules_tail() const { return int32_t(series_buffer_of(rules_)->cell_count()); }
  // The rule element at [i]; none past the tail (a paren may have cut the block).
  Cell rule_at(int32_t i) const {
    SeriesBuffer* b = series_buffer_of(rules_);
    return i >= 0 && uint32_t(i) < b->cell_count() ? b->head_cell()[i] : kNoneCell;
  }
  // The keyword [word] names (keyword_of), remembered for this call: the
  // symbols of the rules stay what they are while the engine runs.
  int32_t keyword_of_word(const Cell* word) {
    int32_t sym = word_symbol(word);
    KeywordEntry& e = keywords_[uint32_t(sym) % kKeywordSlots];
    if (e.symbol != sym || sym <= 0) {
      e.symbol = sym;
      e.keyword = keyword_of(word);
    }
    return e.keyword;
  }
  // Reads the rule element at [ri_] into [*out] and steps past it; at the
  // tail raises parse-end naming the keyword at [keyword].
  void next_arg(Cell* out, int32_t keyword) {
    if (ri_ >= rules_tail()) {
      Cell k = rule_at(keyword);
      raise_error(kErrScriptParseEnd, &k);
    }
    *out = rule_at(ri_++);
  }
  bool word_q(const Cell* c, RuntimeSymbol s) const {
    return c->is(kTypeWord) && runtime_symbol_q(word_symbol(c), s);
  }

  // ------------------------------------------------ frames
  void check_stack(int32_t extra) {
    if (g_parse_cells + extra > kParseStackLimit) raise_error(kErrScriptParseStack);
  }
  Frame& top() { return frames_.back(); }
  bool command_on_top() const { return !frames_.empty() && frames_.back().code != kBlockFrame; }
  Cell* frame_cell(size_t frame, int i) { return series_cells(stack_->node()) + (frame * 3 + size_t(i)); }
  void push_frame(const Frame& f) {
    check_stack(3);
    // Cells past the frames in use are reused; the block is cut to the
    // frames in use before the trace callback sees it.
    int32_t at = int32_t(frames_.size() * 3);
    if (series_total_length(stack_) < at + 3)
      for (int i = 0; i < 3; i++) block_append_value(stack_, &kNoneCell);
    Cell* cells = series_cells(stack_->node()) + at;
    for (int i = 0; i < 3; i++) cells[i] = kNoneCell;
    frames_.push_back(f);
    g_parse_cells += 3;
    cells_held_ += 3;
  }
  void pop_frame() {
    frames_.pop_back();
    g_parse_cells -= 3;
    cells_held_ -= 3;
  }

  // ------------------------------------------------ events
  void send(RuntimeValue event) {
    if (!callback_) return;
    epoch_++;
    block_truncate(stack_, int32_t(frames_.size() * 3));
    Cell* args = stack_push();
    *args = runtime_value(event);
    *stack_push() = logic_cell(match_);
    Cell* r = stack_push_cell(rules_);
    r->set_head(std::min(ri_, rules_tail()));
    input_at(stack_push(), pos_);
    stack_push_cell(stack_);
    Cell* result = stack_push();
    call_value(callback_, args, 5, result);
    bool go = truthy(result);
    g_stack.top = args;
    if (!go) throw TraceStop{};
  }

  // ------------------------------------------------ matching
  CompareOp compare_op() const { return case_ ? kCmpStrictEqual : kCmpEqual; }
  // Length of [value]'s match at [at] in string or binary input, or -1.
  int32_t match_text_at(int32_t at, const Cell* value);
  // Length matched by the literal [value] at [at] (block input: 1), or -1.
  int32_t match_literal_at(int32_t at, const Cell* value);
  // Length matched by the datatype or typeset [rule] at [at], or -1.
  int32_t match_type_at(int32_t at, const Cell* rule);
  bool type_in_rule(TypeId t, const Cell* rule) const {
    return rule->is(kTypeDatatype) ? datatype_type(rule) == t : typeset_has_q(rule, t);
  }

  // ------------------------------------------------ the states
  State dispatch();
  State keyword(int32_t sym_index);
  State finish();
  State start_command(int32_t code, int32_t keyword, int32_t min = 0, int32_t max = 0);
  State to_thru_value(const Cell* value);
  State repeat_value(const Cell* value);
  [[gnu::always_inline]] inline void repeat_count(const Cell* value, int32_t min, int32_t max);
  [[gnu::always_inline]] inline bool simple_value_at(int32_t i, int32_t frame, Cell* out);
  bool repeat_in_place(int32_t min, int32_t max);
  bool copy_in_place(const Cell* word);
  void copy_to_word(const Cell* word, int32_t origin);
  State after_paren(Status s);
  // The frame below the top is a repetition that may go on: next_round_in_place.
  bool next_round_in_place(int32_t tail) {
    size_t n = frames_.size();
    if (n < 2) return false;
    int32_t code = frames_[n - 2].code;
    return (code == kCmdRepeat || code == kCmdWhile) && next_round_in_place_at(tail);
  }
  bool next_round_in_place_at(int32_t tail);
  // The plan of the current rule block (plan_of_rules), at once when it is
  // one of the last two found to hold at this epoch.
  RulePlan* plan() {
    Node node = rules_->node();
    if (last_plan_ && last_plan_->node == node) {
      if (last_plan_->checked == epoch_) return last_plan_;
    } else if (prev_plan_ && prev_plan_->node == node) {
      // The block left last, often the one entered again (the enclosing block).
      std::swap(last_plan_, prev_plan_);
      if (last_plan_->checked == epoch_) return last_plan_;
    } else {
      prev_plan_ = last_plan_;
    }
    return last_plan_ = plan_of_rules();
  }
  [[gnu::noinline]] RulePlan* plan_of_rules();
  void build_plan(RulePlan* plan, const Cell* cells, int32_t n);
  bool simple_rule_q(const Cell* c) const;
  State run_planned();
  State do_break(bool reject);
  Status eval_paren(const Cell* paren, Cell* result);
  // Same series as the input (type and buffer) for position words.
  bool input_position_q(const Cell* v) const {
    return v->type() == input_->type() && v->node() == input_->node();
  }
  Cell* current_collect_block();
  void keep_value(const Cell* v);
  void keep_range(int32_t from, int32_t to, bool pick);
  void modify_remove(int32_t from, int32_t n);
  int32_t modify_insert(int32_t at, const Cell* value, bool only);
  int32_t modify_change(int32_t at, int32_t n, const Cell* value, bool only);
  // The value [*v] names as the argument of insert or change: a paren run,
  // a word looked up, a literal as it is.
  Status resolve_value(Cell* v);

  Cell* out_;
  const Cell* callback_;
  Cell* input_;
  Cell* rules_;
  Cell* cur_;
  Cell* tmp_;
  Cell* tmp2_;
  Cell* tmp3_;
  Cell* collected_;
  Cell* stack_;
  int32_t pos_ = 0;
  int32_t limit_ = -1;
  int32_t ri_ = 0;
  InputKind kind_;
  bool case_ = false;
  bool match_ = true;
  bool break_flag_ = false;
  bool reject_ = false;
  bool as_arg_ = false;
  bool result_collected_ = false;
  int32_t collect_depth_ = 0;
  int32_t cells_held_ = 0;
  Status pending_ = kStatusOk;
  std::vector<Frame> frames_;
  // Plans of the rule blocks met; [epoch_] moves on whenever something
  // that may change a block may run (a paren, the trace callback, a
  // modification of the input, a keep, a store that may have a handler, a
  // comparison of values, a command's end), and a plan is compared with
  // its block again then.
  // Plans are made once the engine has fetched [kPlanAfter] rules the
  // general way: a short parse makes none.
  static constexpr int32_t kPlanSlots = 16;
  static constexpr int32_t kPlanMaxCells = 64;
  static constexpr int32_t kPlanMaxRebuilds = 8;
  static constexpr int32_t kPlanAfter = 64;
  std::vector<RulePlan> plans_;
  int32_t general_fetches_ = 0;
  int32_t plan_next_ = 0;
  uint64_t epoch_ = 1;
  RulePlan* last_plan_ = nullptr;
  RulePlan* prev_plan_ = nullptr;
  struct KeywordEntry {
    int32_t symbol = 0;
    int32_t keyword = -1;
  };
  static constexpr uint32_t kKeywordSlots = 32;
  KeywordEntry keywords_[kKeywordSlots];
};

int32_t Engine::match_text_at(int32_t at, const Cell* value) {
  int32_t end = input_end();
  TypeId t = value->type();
  if (at >= end) {
    // Only an empty text matches at the end.
    if (is_any_string(t) && kind_ == kInputString && string_length_clamped(const_cast<Cell*>(value)) == 0)
      return 0;
    return -1;
  }
  input_at(tmp3_, at);
  if (kind_ == kInputString) {
    if (t == kTypeChar) {
      if (!string_match_head_q(tmp3_, value, compare_op())) return -1;
      return 1;
    }
    if (t == kTypeBitset) return string_head_in_bitset_q(tmp3_, value) ? 1 : -1;
    if (!is_any_string(t) && t != kTypeBinary) return -1;
    int32_t n = string_length_clamped(const_cast<Cell*>(value));
    if (t == kTypeTag) {
      if (at + n + 2 > end || !string_tag_brackets_q(tmp3_, value, case_)) return -1;
      return n + 2;
    }
    if (t == kTypeBinary) return -1;
    if (at + n > end) return -1;
    return string_match_head_q(tmp3_, value, compare_op()) ? n : -1;
  }
  // binary! input
  if (t == kTypeBitset) return binary_match_bitset_q(tmp3_, value) ? 1 : -1;
  if (t == kTypeChar) return binary_match_value_q(tmp3_, value) ? 1 : -1;
  if (t == kTypeInteger) {
    int32_t b = integer_get(value);
    return *series_unit_at(series_buffer_of(input_), at) == b ? 1 : -1;
  }
  if (!is_any_string(t) && t != kTypeBinary) return -1;
  // Stored bytes: a wide string's units count as their bytes.
  int32_t n =
      series_length_clamped(const_cast<Cell*>(value), false) * int32_t(series_buffer_of(value)->unit());
  if (at + n > end) return -1;
  return binary_match_value_q(tmp3_, value) ? n : -1;
}

int32_t Engine::match_literal_at(int32_t at, const Cell* value) {
  if (kind_ != kInputBlock) return match_text_at(at, value);
  if (at >= input_end()) return -1;
  *tmp3_ = *block_ks_abs_at(input_, at);
  *tmp2_ = *value;
  if (tmp2_->is(kTypeLitWord)) tmp2_->set_type(kTypeWord);
  if (tmp2_->is(kTypeLitPath)) tmp2_->set_type(kTypePath);
  epoch_++;  // a comparison may run a handler
  return action_compare(tmp3_, tmp2_, compare_op()) ? 1 : -1;
}

int32_t Engine::match_type_at(int32_t at, const Cell* rule) {
  if (kind_ == kInputString) raise_error(kErrScriptParseUnsupported);
  if (at >= input_end()) return -1;
  if (kind_ == kInputBlock) return type_in_rule(block_ks_abs_at(input_, at)->type(), rule) ? 1 : -1;
  // binary!: the lexer classifies the token at the index.
  int32_t n = input_end() - at;
  std::vector<uint8_t> bytes(series_unit_at(series_buffer_of(input_), at),
                             series_unit_at(series_buffer_of(input_), at) + n);
  TranscodeRequest req;
  req.input = bytes.data();
  req.length = uint32_t(n);
  req.one_value = true;
  req.full_scan = true;
  req.output = false;
  uint32_t consumed = 0;
  int32_t t = transcode_input(tmp3_, req, &consumed);
  if (t <= 0 || t > kMaxTypeId || consumed == 0) return -1;
  return type_in_rule(TypeId(t), rule) ? int32_t(consumed) : -1;
}

Status Engine::eval_paren(const Cell* paren, Cell* result) {
  epoch_++;
  Cell* p = stack_push_cell(paren);
  Status s = do_block(p, result);
  g_stack.top = p;
  return s;
}

State Engine::after_paren(Status s) {
  if (s != kStatusOk) {
    pending_ = s;
    return kEnd;
  }
  ri_ = std::min(ri_, rules_tail());
  pos_ = std::min(pos_, input_length());
  return kRoute;
}

Cell* Engine::current_collect_block() {
  for (size_t i = frames_.size(); i-- > 0;)
    if (frames_[i].code == kCmdCollect) return frame_cell(i, 1);
  return nullptr;
}

void Engine::keep_value(const Cell* v) {
  epoch_++;
  *tmp3_ = *v;
  Cell* into = current_collect_block();
  *tmp2_ = *into;
  block_append_value(tmp2_, tmp3_);
}

void Engine::keep_range(int32_t from, int32_t to, bool pick) {
  epoch_++;
  if (to <= from) return;
  if (to - from == 1 || pick) {
    for (int32_t i = from; i < to && i < input_length(); i++) {
      Cell e = element_at(i);
      keep_value(&e);
    }
    return;
  }
  input_at(tmp_, from);
  Cell* result = ActionCall(kActionCopy).arg(*tmp_).ref("part", integer_cell(to - from)).run();
  keep_value(result);
  g_stack.top = result;
}

void Engine::modify_remove(int32_t from, int32_t n) {
  epoch_++;
  if (n <= 0) return;
  Cell* s = stack_push();
  input_at(s, from);
  ActionCall(kActionRemove).arg(*s).ref("part", integer_cell(n)).run();
  g_stack.top = s;
}

int32_t Engine::modify_insert(int32_t at, const Cell* value, bool only) {
  epoch_++;
  int32_t before = input_length();
  Cell* s = stack_push();
  input_at(s, std::clamp(at, 0, before));
  ActionCall insert(kActionInsert);
  insert.arg(*s).arg(*value);
  if (only) insert.ref("only");
  insert.run();
  g_stack.top = s;
  return input_length() - before;
}

int32_t Engine::modify_change(int32_t at, int32_t n, const Cell* value, bool only) {
  epoch_++;
  int32_t before = input_length();
  Cell* s = stack_push();
  input_at(s, std::clamp(at, 0, before));
  ActionCall change(kActionChange);
  change.arg(*s).arg(*value);
  if (only) change.ref("only");
  change.ref("part", integer_cell(n)).run();
  g_stack.top = s;
  return input_length() - before + n;
}

Status Engine::resolve_value(Cell* v) {
  if (v->is(kTypeParen)) return eval_paren(v, v);
  if (v->is(kTypeWord)) {
    Cell w = *v;
    *v = *get_word_value(&w);
    if (v->is(kTypeUnset)) raise_error(kErrScriptNoValue, &w);
    return kStatusOk;
  }
  if (v->is(kTypePath)) raise_error(kErrScriptParseRule, v);
  return kStatusOk;
}

State Engine::start_command(int32_t code, int32_t keyword, int32_t min, int32_t max) {
  if (ri_ >= rules_tail()) {
    Cell k = rule_at(keyword);
    raise_error(kErrScriptParseEnd, &k);
  }
  Frame f;
  f.code = code;
  f.ri = ri_;
  f.origin = f.start = pos_;
  f.start_len = input_length();
  f.min = min;
  f.max = max;
  f.count = 1;
  f.keyword = keyword;
  push_frame(f);
  send(kWordPush);
  return kArg;
}

State Engine::do_break(bool reject) {
  bool in_repeat = false;
  for (const Frame& f : frames_)
    if (f.code == kCmdRepeat || f.code == kCmdWhile) in_repeat = true;
  if (!in_repeat) {
    match_ = !reject;
    return kLeave;
  }
  break_flag_ = true;
  reject_ = reject;
  match_ = !reject;
  return kLeave;
}

// Repetition of a literal value: counted in place, no frame per iteration.
State Engine::repeat_value(const Cell* value) {
  repeat_count(value, top().min, top().max);
  send(kWordMatch);
  send(kWordPop);
  pop_frame();
  return kRoute;
}

// Matches [value] between [min] and [max] times (max negative: no bound)
// from the index: sets the match flag, and the index past the matches.
void Engine::repeat_count(const Cell* value, int32_t min, int32_t max) {
  int32_t count = 0;
  int32_t p = pos_;
  if (kind_ == kInputString && value->is(kTypeBitset)) {
    // Characters of a bitset: read in place, nothing runs in between. The
    // run ends at a code point outside the bitset, the end or the bound,
    // where one more match would fail too.
    count = bitset_span(value->node(), input_->node(), p, input_end(), max);
    p += count;
  } else {
    while (max < 0 || count < max) {
      int32_t n = match_literal_at(p, value);
      if (n < 0) break;
      count++;
      if (n == 0) break;
      p += n;
    }
  }
  match_ = count >= min;
  if (match_) pos_ = p;
}

// A repetition of a charset, a character or a text, named by the rule at
// the index or by a word there, runs at once without a frame of its own when
// nothing traces the engine: what the frame would do, from the same lookup.
// False, with nothing changed, for any other rule.
bool Engine::repeat_in_place(int32_t min, int32_t max) {
  if (callback_ || ri_ >= rules_tail() || !simple_value_at(ri_, 3, cur_)) return false;
  ri_++;
  repeat_count(cur_, min, max);
  return true;
}

// The rule at [i] (below the tail) when it is a charset, a character or a
// text, or a word not a keyword that holds one: that value in [*out]; false
// for any other. A [frame] of cells that would run it is checked against the
// stack limit as its push would be.
bool Engine::simple_value_at(int32_t i, int32_t frame, Cell* out) {
  Cell arg = rule_at(i);
  if (arg.is(kTypeWord)) {
    if (keyword_of_word(&arg) >= 0 || !word_context(&arg)) return false;
    if (frame) check_stack(frame);
    arg = *get_word_value(&arg);
    frame = 0;  // checked
  }
  TypeId t = arg.type();
  if (t != kTypeBitset && t != kTypeChar && !is_any_string(t)) return false;
  if (frame) check_stack(frame);
  *out = arg;
  return true;
}

// copy [word] followed by a charset, a character or a text, alone or after
// any, some or opt, runs at once when nothing traces the engine, as its
// frames would. False, with nothing changed, for any other rule.
bool Engine::copy_in_place(const Cell* word) {
  int32_t tail = rules_tail();
  if (callback_ || ri_ >= tail) return false;
  int32_t i = ri_, min = 1, max = 1, frame = 0;
  Cell r = rule_at(i);
  if (r.is(kTypeWord)) {
    int32_t k = keyword_of_word(&r);
    if (k == kSymSome || k == kSymAny || k == kSymOpt) {
      min = k == kSymSome ? 1 : 0;
      max = k == kSymOpt ? 1 : -1;
      frame = 3;
      if (++i >= tail) return false;
    } else if (k >= 0) {
      return false;
    }
  }
  // The copy's own frame counts while its rule is read.
  check_stack(3);
  g_parse_cells += 3;
  cells_held_ += 3;
  bool simple = simple_value_at(i, frame, cur_);
  g_parse_cells -= 3;
  cells_held_ -= 3;
  if (!simple) return false;
  ri_ = i + 1;
  int32_t origin = pos_;
  repeat_count(cur_, min, max);
  if (match_) copy_to_word(word, origin);
  return true;
}

// Sets [word] to a copy of the input from [origin] to the index.
void Engine::copy_to_word(const Cell* word, int32_t origin) {
  input_at(tmp_, origin);
  int32_t n = std::max(0, pos_ - origin);
  Cell w = *word;
  if (kind_ != kInputBlock) {
    // Text and bytes copy by units: the range is in the buffer, as copy/part
    // would clamp it.
    int32_t from = std::min(origin, input_length());
    series_copy_units(tmp_, from, std::min(n, input_length() - from), tmp2_);
    if (Cell* slot = context_plain_store_slot(word_context(&w), word_index(&w))) {
      *slot = *tmp2_;
    } else {
      epoch_++;  // a store with a handler may run Kiv code
      set_word_value(&w, tmp2_);
    }
  } else {
    epoch_++;
    Cell* result = ActionCall(kActionCopy).arg(*tmp_).ref("part", integer_cell(n)).run();
    set_word_value(&w, result);
    g_stack.top = result;
  }
}

// to/thru with a value: searched from the index.
State Engine::to_thru_value(const Cell* value) {
  bool thru = top().code == kCmdThru;
  int32_t end = input_end();
  match_ = false;
  bool by_type = kind_ == kInputBlock && (value->is(kTypeDatatype) || value->is(kTypeTypeset));
  if (kind_ == kInputString && value->is(kTypeChar) && case_) {
    // The common case: one character, exact.
    uint32_t cp = char_get(value);
    for (int32_t p = pos_; p < end; p++) {
      if (string_char_at(input_, uint32_t(p)) == cp) {
        pos_ = thru ? p + 1 : p;
        match_ = true;
        break;
      }
    }
  } else {
    for (int32_t p = pos_; p <= end; p++) {
      int32_t n = by_type ? match_type_at(p, value) : match_literal_at(p, value);
      if (n >= 0) {
        pos_ = thru ? p + n : p;
        match_ = true;
        break;
      }
      end = input_end();
    }
  }
  send(kWordPop);
  pop_frame();
  return kRoute;
}

State Engine::dispatch() {
  switch (cur_->type()) {
    case kTypeWord: {
      int32_t k = keyword_of_word(cur_);
      if (k >= 0) return keyword(k);
      Cell w = *cur_;
      Cell v = *get_word_value(&w);
      if (v.is(kTypeUnset)) raise_error(kErrScriptParseRule, &w);
      if (v.is(kTypeWord) || v.is(kTypeSetWord) || v.is(kTypeGetWord)) {
        if (!as_arg_) raise_error(kErrScriptParseRule, &w);
        // As a command's argument, a word value is matched literally.
        *cur_ = v;
        int32_t n = match_literal_at(pos_, cur_);
        if (top().code == kCmdRepeat || top().code == kCmdWhile) return repeat_value(cur_);
        if (top().code == kCmdTo || top().code == kCmdThru) return to_thru_value(cur_);
        match_ = n >= 0;
        if (match_) pos_ += n;
        send(kWordMatch);
        return kRoute;
      }
      *cur_ = v;
      return dispatch();
    }
    case kTypeBlock: return kEnter;
    case kTypeDatatype:
    case kTypeTypeset: {
      if (as_arg_ && (top().code == kCmdTo || top().code == kCmdThru)) return to_thru_value(cur_);
      as_arg_ = false;
      int32_t n = match_type_at(pos_, cur_);
      match_ = n >= 0;
      if (match_) pos_ += n;
      return kRoute;
    }
    case kTypeSetWord: {
      as_arg_ = false;
      epoch_++;  // a store with a handler may run Kiv code
      input_at(tmp_, pos_);
      set_word_value(cur_, tmp_);
      return kFetch;
    }
    case kTypeGetWord: {
      as_arg_ = false;
      Cell w = *cur_;
      Cell v = *get_word_value(&w);
      if (!input_position_q(&v)) raise_error(kErrScriptParseInvalidRef, &w);
      pos_ = series_clamp_head(&v, input_length());
      match_ = true;
      return kRoute;
    }
    case kTypeInteger: {
      as_arg_ = false;
      int32_t keyword_at = ri_ - 1;
      int32_t n = integer_get(cur_);
      int32_t m = n;
      if (n < 0) raise_error(kErrScriptOutOfRange, cur_);
      if (ri_ >= rules_tail()) raise_error(kErrScriptParseRule, cur_);
      Cell next = rule_at(ri_);
      if (next.is(kTypeWord)) {
        Cell w = next;
        if (keyword_of_word(&w) < 0 && word_context(&w)) {
          Cell v = *get_word_value(&w);
          if (v.is(kTypeInteger)) next = v;
        }
      }
      if (next.is(kTypeInteger)) {
        m = integer_get(&next);
        ri_++;
        if (m < 0) raise_error(kErrScriptOutOfRange, &next);
        if (m < n) raise_error(kErrScriptParseRule, &next);
        if (ri_ >= rules_tail()) raise_error(kErrScriptParseRule, &next);
      }
      if (m == 0) {
        ri_++;  // the rule that follows is skipped
        match_ = true;
        return kRoute;
      }
      if (repeat_in_place(n, m)) return kRoute;
      return start_command(kCmdRepeat, keyword_at, n, m);
    }
    case kTypeParen: {
      as_arg_ = false;
      Status s = eval_paren(cur_, tmp_);
      if (s == kStatusOk) send(kWordParen);
      return after_paren(s);
    }
    case kTypePath:
    case kTypeSetPath:
    case kTypeGetPath: raise_error(kErrScriptParseRule, cur_);
    default: {
      if (as_arg_) {
        int32_t code = top().code;
        if (code == kCmdRepeat || code == kCmdWhile) return repeat_value(cur_);
        if (code == kCmdTo || code == kCmdThru) return to_thru_value(cur_);
      }
      as_arg_ = false;
      int32_t n = match_literal_at(pos_, cur_);
      match_ = n >= 0;
      if (match_) pos_ += n;
      send(kWordMatch);
      return kRoute;
    }
  }
}

State Engine::keyword(int32_t sym) {
  bool as_arg = as_arg_;
  as_arg_ = false;
  int32_t at = ri_ - 1;  // the keyword's index
  switch (sym) {
    case kSymBar:
      if (as_arg) raise_error(kErrScriptParseRule, cur_);
      match_ = true;
      return kLeave;
    case kSymSkip:
      match_ = !at_end();
      if (match_) pos_++;
      return kRoute;
    case kSymAny:
    case kSymSome:
    case kSymOpt: {
      int32_t min = sym == kSymSome ? 1 : 0, max = sym == kSymOpt ? 1 : -1;
      if (repeat_in_place(min, max)) return kRoute;
      return start_command(kCmdRepeat, at, min, max);
    }
    case kSymWhile: return start_command(kCmdWhile, at, 0, -1);
    case kSymTo:
    case kSymThru: {
      if (ri_ < rules_tail()) {
        Cell next = rule_at(ri_);
        if (word_q(&next, kSymEnd)) {
          ri_++;
          pos_ = std::max(pos_, input_end());
          match_ = true;
          return kRoute;
        }
      }
      return start_command(sym == kSymTo ? kCmdTo : kCmdThru, at);
    }
    case kSymEnd: match_ = at_end(); return kRoute;
    case kSymNone: match_ = true; return kRoute;
    case kSymFail: match_ = false; return kRoute;
    case kSymBreak: return do_break(false);
    case kSymReject: return do_break(true);
    case kSymNot: return start_command(kCmdNot, at);
    case kSymAhead: return start_command(kCmdAhead, at);
    case kSymIf: {
      next_arg(tmp_, at);
      if (!tmp_->is(kTypeParen)) raise_error(kErrScriptParseRule, tmp_);
      Status s = eval_paren(tmp_, tmp2_);
      if (s == kStatusOk) {
        match_ = truthy(tmp2_);
        send(kWordParen);
      }
      return after_paren(s);
    }
    case kSymQuote: {
      next_arg(tmp_, at);
      int32_t n = match_literal_at(pos_, tmp_);
      match_ = n >= 0;
      if (match_) pos_ += n;
      send(kWordMatch);
      return kRoute;
    }
    case kSymCase: {
      next_arg(tmp_, at);
      if (!tmp_->is(kTypeWord)) raise_error(kErrScriptParseRule, tmp_);
      Cell w = *tmp_;
      bool strict = !cell_false(get_word_value(&w));
      State s = start_command(kCmdCase, at);
      top().aux = case_;
      case_ = strict;
      return s;
    }
    case kSymCopy:
    case kSymSet: {
      next_arg(tmp_, at);
      if (!tmp_->is(kTypeWord)) raise_error(kErrScriptParseRule, tmp_);
      Cell w = *tmp_;
      if (sym == kSymCopy && copy_in_place(&w)) return kRoute;
      State s = start_command(sym == kSymCopy ? kCmdCopy : kCmdSet, at);
      *frame_cell(frames_.size() - 1, 0) = w;
      return s;
    }
    case kSymInto: {
      if (ri_ >= rules_tail()) raise_error(kErrScriptParseEnd, cur_);
      Cell arg = rule_at(ri_);
      if (arg.is(kTypeWord)) arg = *get_word_value(&arg);
      if (!arg.is(kTypeBlock)) raise_error(kErrScriptParseRule, &arg);
      if (kind_ != kInputBlock) raise_error(kErrScriptParseBlock, input_);
      if (at_end()) {
        ri_++;
        match_ = false;
        return kRoute;
      }
      Cell e = *block_ks_abs_at(input_, pos_);
      TypeId t = e.type();
      if (!(is_any_block(t) || is_any_string(t) || t == kTypeBinary)) {
        ri_++;
        match_ = false;
        return kRoute;
      }
      check_stack(3);
      State s = start_command(kCmdInto, at);
      Frame& f = top();
      f.aux = pos_;
      f.aux2 = limit_;
      *frame_cell(frames_.size() - 1, 1) = *input_;
      g_parse_cells += 1;
      cells_held_ += 1;
      *input_ = e;
      kind_ = input_kind_of(t);
      pos_ = series_clamp_head(&e, input_length());
      limit_ = -1;
      return s;
    }
    case kSymRemove: {
      if (ri_ < rules_tail()) {
        Cell next = rule_at(ri_);
        if (next.is(kTypeWord) && word_context(&next)) {
          bool kw = keyword_of_word(&next) >= 0;
          Cell v = kw ? kNoneCell : *get_word_value(&next);
          if (!kw && input_position_q(&v)) {
            ri_++;
            int32_t p = std::clamp(v.head(), 0, input_length());
            int32_t from = std::min(p, pos_), to = std::max(p, pos_);
            modify_remove(from, to - from);
            pos_ = from;
            match_ = true;
            return kRoute;
          }
        }
      }
      return start_command(kCmdRemove, at);
    }
    case kSymInsert:
    case kSymChange: {
      bool only = false;
      next_arg(tmp_, at);
      if (word_q(tmp_, kSymOnly)) {
        only = true;
        next_arg(tmp_, at);
      }
      int32_t where = -1;
      if (tmp_->is(kTypeWord) && word_context(tmp_)) {
        Cell w = *tmp_;
        Cell v = *get_word_value(&w);
        if (input_position_q(&v) && (sym == kSymInsert || ri_ < rules_tail())) {
          where = std::clamp(v.head(), 0, input_length());
          next_arg(tmp_, at);
        }
      }
      if (sym == kSymChange && where < 0) {
        // change rule value: the value is read once the rule has run.
        ri_--;
        return start_command(only ? kCmdChangeOnly : kCmdChange, at);
      }
      Status s = resolve_value(tmp_);
      if (s != kStatusOk) return after_paren(s);
      if (sym == kSymInsert) {
        if (where < 0) where = pos_;
        int32_t n = modify_insert(where, tmp_, only);
        if (where <= pos_) pos_ += n;
      } else {
        int32_t from = std::min(where, pos_), to = std::max(where, pos_);
        int32_t n = modify_change(from, to - from, tmp_, only);
        pos_ = from + n;
      }
      match_ = true;
      return after_paren(kStatusOk);
    }
    case kSymCollect: {
      int32_t target = kCollectNew;
      Cell word = kNoneCell;
      if (ri_ < rules_tail()) {
        Cell next = rule_at(ri_);
        if (word_q(&next, kSymSet)) target = kCollectSet;
        if (word_q(&next, kSymInto)) target = kCollectInto;
        if (word_q(&next, kSymAfter)) target = kCollectAfter;
        if (target != kCollectNew) {
          ri_++;
          next_arg(tmp_, at);
          if (!tmp_->is(kTypeWord)) raise_error(kErrScriptParseRule, tmp_);
          word = *tmp_;
        }
      }
      if (target == kCollectInto || target == kCollectAfter) {
        Cell v = *get_word_value(&word);
        if (!is_series_type(v.type()) ||
            (!is_any_block(v.type()) && kind_ != kInputBlock && v.type() != input_->type()))
          raise_error(kErrScriptParseIntoType);
        if (v.node() == input_->node()) raise_error(kErrScriptParseIntoBad);
      }
      State s = start_command(kCmdCollect, at);
      top().aux = target;
      *frame_cell(frames_.size() - 1, 0) = word;
      if (target == kCollectInto || target == kCollectAfter)
        *frame_cell(frames_.size() - 1, 2) = *get_word_value(&word);
      init_block(tmp_, 4);
      *frame_cell(frames_.size() - 1, 1) = *tmp_;
      collect_depth_++;
      return s;
    }
    case kSymKeep: {
      if (collect_depth_ == 0) raise_error(kErrScriptParseKeep);
      if (ri_ >= rules_tail()) raise_error(kErrScriptParseEnd, cur_);
      Cell next = rule_at(ri_);
      if (next.is(kTypeParen)) {
        ri_++;
        Status s = eval_paren(&next, tmp2_);
        if (s == kStatusOk) {
          keep_value(tmp2_);
          match_ = true;
          send(kWordParen);
        }
        return after_paren(s);
      }
      bool pick = word_q(&next, kSymPick);
      if (pick) ri_++;
      State s = start_command(kCmdKeep, at);
      top().aux = pick;
      return s;
    }
    default: raise_error(kErrScriptParseRule, cur_);
  }
}

State Engine::finish() {
  Frame& f = top();
  size_t fi = frames_.size() - 1;
  switch (f.code) {
    case kCmdRepeat:
    case kCmdWhile: {
      if (break_flag_) {
        break_flag_ = false;
        match_ = !reject_ && f.count >= f.min;
        if (!match_) pos_ = f.origin;
        break;
      }
      int32_t succeeded = f.count - 1;
      if (match_) {
        succeeded = f.count;
        // Progress: the index moved, or the input grew (an insertion before
        // the index). A removal that leaves the index in place is none: the
        // loop ends, and `while` is the loop for removals.
        bool progress = pos_ != f.start || input_length() > f.start_len;
        if ((f.max < 0 || f.count < f.max) && (f.code == kCmdWhile || progress)) {
          f.count++;
          f.start = pos_;
          f.start_len = input_length();
          ri_ = f.ri;
          send(kWordIterate);
          return kArg;
        }
      } else {
        pos_ = f.start;
      }
      match_ = succeeded >= f.min;
      if (!match_) pos_ = f.origin;
      break;
    }
    case kCmdTo:
    case kCmdThru:
      if (match_) {
        if (f.code == kCmdTo) pos_ = f.start;
        break;
      }
      if (f.start < input_end()) {
        f.start++;
        pos_ = f.start;
        ri_ = f.ri;
        match_ = true;
        send(kWordIterate);
        return kArg;
      }
      pos_ = f.origin;
      break;
    case kCmdCopy:
      if (match_) {
        Cell w = *frame_cell(fi, 0);
        copy_to_word(&w, f.origin);
      }
      break;
    case kCmdSet:
      if (match_) {
        epoch_++;  // a store with a handler may run Kiv code
        Cell v = pos_ > f.origin && f.origin < input_length() ? element_at(f.origin) : kNoneCell;
        *tmp_ = v;
        Cell w = *frame_cell(fi, 0);
        set_word_value(&w, tmp_);
      }
      break;
    case kCmdNot:
      match_ = !match_;
      pos_ = f.origin;
      break;
    case kCmdAhead: pos_ = f.origin; break;
    case kCmdInto: {
      bool sub_ok = match_ && at_end();
      *input_ = *frame_cell(fi, 1);
      kind_ = input_kind_of(input_->type());
      limit_ = f.aux2;
      pos_ = f.aux;
      g_parse_cells -= 1;
      cells_held_ -= 1;
      match_ = sub_ok;
      if (match_) pos_++;
      break;
    }
    case kCmdRemove:
      if (match_) {
        modify_remove(f.origin, pos_ - f.origin);
        pos_ = f.origin;
      }
      break;
    case kCmdChange:
    case kCmdChangeOnly: {
      next_arg(tmp_, f.keyword);
      if (match_) {
        Status s = resolve_value(tmp_);
        if (s != kStatusOk) return after_paren(s);
        int32_t n = modify_change(f.origin, pos_ - f.origin, tmp_, f.code == kCmdChangeOnly);
        pos_ = f.origin + n;
      }
      break;
    }
    case kCmdCollect: {
      epoch_++;  // stores and inserts
      collect_depth_--;
      *tmp_ = *frame_cell(fi, 1);
      int32_t target = f.aux;
      Cell w = *frame_cell(fi, 0);
      if (target == kCollectSet) {
        set_word_value(&w, tmp_);
      } else if (target == kCollectInto || target == kCollectAfter) {
        // The target as it was when the collect started; its word is set
        // back to that position afterwards.
        Cell* series = stack_push_cell(frame_cell(fi, 2));
        set_word_value(&w, series);
        if (target == kCollectAfter) series->set_head(series_total_length(series));
        ActionCall(kActionInsert).arg(*series).arg(*tmp_).run();
        g_stack.top = series;
      } else {
        bool nested = false;
        for (size_t i = 0; i < fi; i++)
          if (frames_[i].code == kCmdCollect) nested = true;
        if (nested) {
          // Into the enclosing collect's block, below this frame.
          frames_[fi].code = kBlockFrame;
          keep_value(tmp_);
        } else {
          *collected_ = *tmp_;
          result_collected_ = true;
        }
      }
      break;
    }
    case kCmdKeep:
      if (match_) keep_range(f.origin, pos_, f.aux != 0);
      break;
    case kCmdCase: case_ = f.aux != 0; break;
    default: break;
  }
  send(kWordPop);
  pop_frame();
  return kRoute;
}

// A block that ends matched as the argument of a repetition that goes on
// with it again: the next round starts in the same block frame, set as its
// pop and a new push would leave it, when nothing traces the engine and the
// repetition's argument is still that block, or a word naming it ([tail]:
// the block's length). The argument is read again only when the epoch moved
// since it was last found.
bool Engine::next_round_in_place_at(int32_t tail) {
  size_t n = frames_.size();
  if (callback_ || !match_ || break_flag_ || pending_ != kStatusOk) return false;
  Frame& r = frames_[n - 2];
  if (r.max >= 0 && r.count >= r.max) return false;
  int32_t length = input_length();
  if (r.code == kCmdRepeat && pos_ == r.start && length <= r.start_len) return false;
  Frame& f = frames_[n - 1];
  if (f.epoch != epoch_) {
    // The repetition's argument, read live in the enclosing block.
    SeriesBuffer* b = series_buffer_of(frame_cell(n - 1, 0));
    if (r.ri < 0 || uint32_t(r.ri) >= b->cell_count()) return false;
    const Cell* arg = b->head_cell() + r.ri;
    if (arg->is(kTypeWord)) {
      // A word naming a block, as dispatch would find it.
      if (keyword_of_word(arg) >= 0 || !word_context(arg)) return false;
      arg = get_word_value(arg);
    }
    if (!arg->is(kTypeBlock) || std::memcmp(arg, rules_, sizeof(Cell)) != 0) return false;
    f.epoch = epoch_;
  }
  r.count++;
  r.start = pos_;
  r.start_len = length;
  f.ri = r.ri + 1;
  f.origin = f.start = pos_;
  f.start_len = length;
  ri_ = series_clamp_head(rules_, tail);
  match_ = true;
  as_arg_ = false;
  return true;
}

// A rule that repeat_in_place and copy_in_place may run at once as it
// reads: a word that is no keyword, bound, or a charset, a char or a text.
bool Engine::simple_rule_q(const Cell* c) const {
  if (c->is(kTypeWord)) return word_context(c) != 0;
  TypeId t = c->type();
  return t == kTypeBitset || t == kTypeChar || is_any_string(t);
}

void Engine::build_plan(RulePlan* plan, const Cell* cells, int32_t n) {
  plan->cells.assign(cells, cells + n);
  plan->ops.assign(size_t(n), PlanOp{});
  const Cell* c = plan->cells.data();
  auto keyword_at = [&](int32_t i) { return c[i].is(kTypeWord) ? keyword_of_word(&c[i]) : -1; };
  auto simple_at = [&](int32_t i) { return i < n && keyword_at(i) < 0 && simple_rule_q(&c[i]); };
  int32_t bar = -1;
  for (int32_t i = n; i-- > 0;) {
    PlanOp& op = plan->ops[size_t(i)];
    int32_t k = keyword_at(i);
    if (k == kSymBar) {
      op.kind = kPlanBar;
      bar = i;
    } else if (k == kSymSome || k == kSymAny || k == kSymOpt) {
      if (simple_at(i + 1)) {
        op.kind = kPlanRepeat;
        op.min = k == kSymSome ? 1 : 0;
        op.max = k == kSymOpt ? 1 : -1;
        op.value = i + 1;
      }
    } else if (k == kSymCopy) {
      if (i + 1 < n && c[i + 1].is(kTypeWord)) {
        int32_t j = i + 2, kj = j < n ? keyword_at(j) : -1;
        op.min = op.max = 1;
        if (kj == kSymSome || kj == kSymAny || kj == kSymOpt) {
          op.min = kj == kSymSome ? 1 : 0;
          op.max = kj == kSymOpt ? 1 : -1;
          op.counted = true;
          j++;
        }
        if (simple_at(j)) {
          op.kind = kPlanCopy;
          op.value = j;
        }
      }
    } else if (k == kSymSkip) {
      op.kind = kPlanSkip;
    } else if (k == kSymEnd) {
      op.kind = kPlanEnd;
    } else if (c[i].is(kTypeParen)) {
      op.kind = kPlanParen;
    } else if (k < 0 && simple_rule_q(&c[i])) {
      op.kind = c[i].is(kTypeWord) ? kPlanWord : kPlanMatch;
    }
    op.next_bar = bar;
  }
}

// The plan of the current rule block, compared with the block again when
// the epoch moved since; unplanned when the block is too long or was
// changed again and again.
RulePlan* Engine::plan_of_rules() {
  Node node = rules_->node();
  RulePlan* plan = nullptr;
  if (plans_.empty()) plans_.resize(kPlanSlots);
  for (RulePlan& p : plans_)
    if (p.node == node) {
      plan = &p;
      break;
    }
  if (plan && plan->checked == epoch_) return plan;
  SeriesBuffer* b = series_buffer(node);
  int32_t n = int32_t(b->cell_count());
  const Cell* cells = b->head_cell();
  if (plan) {
    if (!plan->planned) {
      plan->checked = epoch_;
      return plan;
    }
    if (int32_t(plan->cells.size()) == n &&
        std::memcmp(plan->cells.data(), cells, size_t(n) * sizeof(Cell)) == 0) {
      plan->checked = epoch_;
      return plan;
    }
    plan->rebuilt++;
  } else {
    plan = &plans_[plan_next_];
    plan_next_ = (plan_next_ + 1) % kPlanSlots;
    plan->node = node;
    plan->rebuilt = 0;
  }
  plan->checked = epoch_;
  plan->planned = n <= kPlanMaxCells && plan->rebuilt <= kPlanMaxRebuilds;
  if (plan->planned) build_plan(plan, cells, n);
  return plan;
}

// The block-level rules while nothing traces the engine: those planned run
// here one after another, each as dispatch and the states after it would
// run it; any other goes to the state machine (kFetchGeneral), at its index.
State Engine::run_planned() {
  RulePlan* plan = nullptr;
  for (;;) {
    if (!plan || plan->checked != epoch_) {
      plan = this->plan();
      if (!plan->planned) return kFetchGeneral;
    }
    int32_t tail = int32_t(plan->cells.size());
    if (ri_ >= tail) {
      // The block ends matched (kLeave): its next round, if any, goes on here.
      if (next_round_in_place(tail)) continue;
      return kLeave;
    }
    if (ri_ < 0) return kFetchGeneral;
    const PlanOp& op = plan->ops[size_t(ri_)];
    as_arg_ = false;
    switch (op.kind) {
      case kPlanOther: return kFetchGeneral;
      case kPlanBar:
        ri_++;
        match_ = true;
        if (next_round_in_place(tail)) continue;
        return kLeave;
      case kPlanRepeat: {
        // As keyword() and repeat_in_place: the repetition's frame counts
        // while its rule is read.
        const Cell* rule = &plan->cells[size_t(op.value)];
        check_stack(3);
        *cur_ = rule->is(kTypeWord) ? *get_word_value(rule) : *rule;
        TypeId t = cur_->type();
        if (t != kTypeBitset && t != kTypeChar && !is_any_string(t)) return kFetchGeneral;
        ri_ = op.value + 1;
        repeat_count(cur_, op.min, op.max);
        break;
      }
      case kPlanCopy: {
        // As copy_in_place: the copy's frame counts while its rule is read,
        // and the repetition's too when there is one.
        const Cell* rule = &plan->cells[size_t(op.value)];
        Cell word = plan->cells[size_t(ri_ + 1)];
        check_stack(3);
        if (op.counted && rule->is(kTypeWord)) check_stack(6);
        *cur_ = rule->is(kTypeWord) ? *get_word_value(rule) : *rule;
        TypeId t = cur_->type();
        if (t != kTypeBitset && t != kTypeChar && !is_any_string(t)) return kFetchGeneral;
        if (op.counted && !rule->is(kTypeWord)) check_stack(6);
        ri_ = op.value + 1;
        int32_t origin = pos_;
        repeat_count(cur_, op.min, op.max);
        if (match_) copy_to_word(&word, origin);
        break;
      }
      case kPlanParen: {
        *cur_ = plan->cells[size_t(ri_)];
        ri_++;
        State s = after_paren(eval_paren(cur_, tmp_));
        if (s != kRoute || pending_ != kStatusOk) return s;
        break;
      }
      case kPlanWord: {
        // As dispatch: the word's value, dispatched in its place, for the
        // values that match or enter here; any other goes the general way.
        Cell v = *get_word_value(&plan->cells[size_t(ri_)]);
        TypeId t = v.type();
        if (t == kTypeBlock) {
          *cur_ = v;
          ri_++;
          return kEnter;
        }
        if (t == kTypeDatatype || t == kTypeTypeset) {
          *cur_ = v;
          ri_++;
          int32_t n = match_type_at(pos_, cur_);
          match_ = n >= 0;
          if (match_) pos_ += n;
          break;
        }
        if (t != kTypeBitset && t != kTypeChar && !is_any_string(t)) return kFetchGeneral;
        *cur_ = v;
        ri_++;
        int32_t n = match_literal_at(pos_, cur_);
        match_ = n >= 0;
        if (match_) pos_ += n;
        break;
      }
      case kPlanMatch: {
        *cur_ = plan->cells[size_t(ri_)];
        ri_++;
        int32_t n = match_literal_at(pos_, cur_);
        match_ = n >= 0;
        if (match_) pos_ += n;
        break;
      }
      case kPlanSkip:
        ri_++;
        match_ = !at_end();
        if (match_) pos_++;
        break;
      case kPlanEnd:
        ri_++;
        match_ = at_end();
        break;
    }
    if (match_) continue;
    // As kFail: back to the block's start, on at the next alternative.
    pos_ = top().start;
    if (plan->checked != epoch_) {
      plan = this->plan();
      if (!plan->planned) return kFail;
    }
    if (ri_ >= int32_t(plan->cells.size())) return kLeave;
    int32_t bar = plan->ops[size_t(ri_)].next_bar;
    if (bar < 0) return kLeave;
    ri_ = bar + 1;
    match_ = true;
  }
}

Status Engine::run() {
  // The outermost block frame.
  *cur_ = *rules_;
  State state = kEnter;
  try {
    for (;;) {
      switch (state) {
        case kEnter: {
          Frame f;
          f.code = kBlockFrame;
          f.ri = ri_;
          f.origin = f.start = pos_;
          f.start_len = input_length();
          push_frame(f);
          *frame_cell(frames_.size() - 1, 0) = *rules_;
          *rules_ = *cur_;
          ri_ = series_clamp_head(rules_, rules_tail());
          match_ = true;
          as_arg_ = false;
          send(kWordPush);
          state = kFetch;
          break;
        }
        case kFetch:
          if (!callback_ && general_fetches_ >= kPlanAfter) {
            state = run_planned();
            break;
          }
          general_fetches_++;
          [[fallthrough]];
        case kFetchGeneral:
          if (ri_ >= rules_tail()) {
            state = kLeave;
            break;
          }
          as_arg_ = false;
          *cur_ = rule_at(ri_++);
          send(kWordFetch);
          state = dispatch();
          break;
        case kArg:
          if (ri_ >= rules_tail()) {
            Cell k = rule_at(top().keyword);
            raise_error(kErrScriptParseEnd, &k);
          }
          as_arg_ = true;
          *cur_ = rule_at(ri_++);
          state = cur_->is(kTypeBlock) ? kEnter : dispatch();  // a block: as dispatch would
          break;
        case kRoute:
          if (pending_ != kStatusOk) return pending_;
          if (command_on_top())
            state = kFinish;
          else if (break_flag_)
            state = kLeave;
          else
            state = match_ ? kFetch : kFail;
          break;
        case kFinish: state = finish(); break;
        case kFail: {
          pos_ = top().start;
          int32_t tail = rules_tail();
          int32_t bar = -1;
          for (int32_t i = ri_; i < tail; i++) {
            Cell c = rule_at(i);
            if (c.is(kTypeWord) && keyword_of_word(&c) == kSymBar) {
              bar = i;
              break;
            }
          }
          if (bar >= 0) {
            ri_ = bar + 1;
            match_ = true;
            state = kFetch;
          } else {
            state = kLeave;
          }
          break;
        }
        case kLeave: {
          send(kWordPop);
          if (!match_) pos_ = top().start;
          if (frames_.size() == 1) {
            state = kEnd;
            break;
          }
          if (next_round_in_place(rules_tail())) {
            state = kFetch;
            break;
          }
          Frame f = top();
          *rules_ = *frame_cell(frames_.size() - 1, 0);
          ri_ = std::min(f.ri, rules_tail());
          pop_frame();
          state = kRoute;
          break;
        }
        case kEnd: {
          if (pending_ != kStatusOk) return pending_;
          bool result = match_ && pos_ >= input_end();
          match_ = result;
          send(kWordEnd);
          if (result_collected_)
            *out_ = *collected_;
          else
            *out_ = logic_cell(result);
          return kStatusOk;
        }
      }
    }
  } catch (TraceStop&) {
    *out_ = result_collected_ ? *collected_ : logic_cell(match_);
    return kStatusOk;
  }
}

}  // namespace

Status parse_engine(const ParseRequest& request, Cell* out) {
  Cell* base = g_stack.top;
  Status s;
  {
    Engine engine(request, out);
    s = engine.run();
  }
  if (s == kStatusOk) g_stack.top = base;
  return s;
}

// ---------------------------------------------------------------- the native

KIV_NATIVE(Parse) {
  ParseRequest r;
  r.input = a.input;
  r.rules = a.rules;
  r.case_sensitive = a.case_;
  r.callback = a.trace;
  if (a.part) {
    const Cell* len = a.part;
    int32_t total = series_total_length(a.input);
    int32_t head = series_clamp_head(a.input, total);
    if (len->is(kTypeInteger)) {
      int64_t limit = int64_t(head) + integer_get(len);
      r.limit = int32_t(std::clamp<int64_t>(limit, head, total));
    } else if (len->type() == a.input->type() && len->node() == a.input->node()) {
      r.limit = std::clamp(len->head(), head, total);
    } else {
      raise_refine_arg("part", len);
    }
  }
  Cell* out = stack_push();
  Status s = parse_engine(r, out);
  if (s != kStatusOk) return s;
  return native_result(*out);
}

void natives_parse_register() { KIV_REGISTER(Parse); }

}  // namespace kiv
