// Conversion natives: dehex, enhex, debase, enbase, to-hex, uppercase,
// lowercase, as-pair, as-point2D, as-point3D, as-money, as, extend,
// to-local-file, new-line, new-line?, transcode.
//
// These are front ends: the codecs, case tables, money and map logic and the
// lexer live in their own units; here the arguments are checked and handed
// on, and the result is made. Every value made here goes onto the data stack
// before the next allocation.
#include <cmath>
#include <string_view>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/file.h"
#include "datatypes/float.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/runtime_words.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/lexer.h"
#include "evaluator/natives.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/typesets.h"

namespace kiv {

namespace {

// An integer! or float! argument as a double.
double number_of(const Cell* v) { return v->is(kTypeInteger) ? double(integer_get(v)) : float_get(v); }

// A pair coordinate: an integer as it is, a float cut toward zero. Infinity,
// NaN and a float whose integer part int32 cannot hold raise invalid-arg.
int32_t as_pair_coordinate(const Cell* v) {
  if (v->is(kTypeInteger)) return integer_get(v);
  double x = std::trunc(float_get(v));
  if (!(x >= -2147483648.0 && x <= 2147483647.0)) raise_error(kErrScriptInvalidArg, v);
  return int32_t(x);
}

}  // namespace

// ---------------------------------------------------------------- percent coding and base codecs

KIV_NATIVE(Dehex) {
  Cell* out = string_make_at(stack_push(), uint32_t(std::max(string_length(a.value), 0)));
  url_decode(a.value, out);
  return native_result(*out);
}

KIV_NATIVE(Enhex) {
  Cell* out = string_make_at(stack_push(), uint32_t(std::max(string_length(a.value), 0)));
  url_encode(a.value, out, a.value->is(kTypeString) ? UrlTable::kUrl : UrlTable::kFile);
  return native_result(*out);
}

KIV_NATIVE(Debase) { return native_result(*binary_debase(a.value, a.base)); }

KIV_NATIVE(Enbase) { return native_result(*binary_enbase(a.value, a.base)); }

// to-hex: the 32-bit two's-complement value as 8 digits, the last [length] with /size.
KIV_NATIVE(ToHex) {
  int32_t digits = 8;
  if (a.size) {
    int32_t length = integer_get(a.size);
    if (length < 1) raise_error(kErrScriptInvalidArg, a.size);
    if (length < digits) digits = length;
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  uint32_t v = uint32_t(integer_get(a.value));
  char text[9];
  for (int i = 7; i >= 0; i--, v >>= 4) text[i] = kHex[v & 15];
  text[8] = 0;
  Cell* out = stack_push();
  issue_init_cell(out, text + (8 - digits));
  return native_result(*out);
}

// ---------------------------------------------------------------- case

KIV_NATIVE(Uppercase) { return native_result(*change_case(a.string, a.part, true)); }

KIV_NATIVE(Lowercase) { return native_result(*change_case(a.string, a.part, false)); }

// ---------------------------------------------------------------- scalar makers

KIV_NATIVE(AsPair) { return native_result(pair_cell(as_pair_coordinate(a.x), as_pair_coordinate(a.y))); }

KIV_NATIVE(AsPoint2d) { return native_result(point2d_cell(float(number_of(a.x)), float(number_of(a.y)))); }

KIV_NATIVE(AsPoint3d) {
  return native_result(point3d_cell(float(number_of(a.x)), float(number_of(a.y)), float(number_of(a.z))));
}

KIV_NATIVE(AsMoney) {
  int32_t currency = money_currency_index(a.currency);
  if (currency < 1) raise_error(kErrScriptBadDenom, a.currency);
  Cell money = a.amount->is(kTypeInteger) ? money_from_integer(integer_get(a.amount))
                                          : money_from_float(float_get(a.amount), false);
  money_set_currency(&money, uint32_t(currency));
  return native_result(money);
}

// ---------------------------------------------------------------- as

namespace {

// The family `as` converts within: 1 any-path, 2 block!/paren!, 3 any-string, 0 none.
int as_family(TypeId t) {
  if (is_any_path(t)) return 1;
  if (t == kTypeBlock || t == kTypeParen) return 2;
  if (is_any_string(t)) return 3;
  return 0;
}

}  // namespace

KIV_NATIVE(As) {
  TypeId target = a.type->is(kTypeDatatype) ? datatype_type(a.type) : a.type->type();
  TypeId from = a.spec->type();
  int family = as_family(target);
  if (family == 0 || family != as_family(from)) {
    Cell from_type = datatype_cell(from);
    Cell target_type = datatype_cell(target);
    raise_error(kErrScriptNotSameClass, &from_type, &target_type);
  }
  Cell result = *a.spec;
  result.set_type(target);
  return native_result(result);
}

// ---------------------------------------------------------------- extend

KIV_NATIVE(Extend) {
  if (!a.obj->is(kTypeMap)) raise_error(kErrInternalNotDone);
  map_extend(a.obj, a.spec, a.case_);
  return native_result(*a.obj);
}

// ---------------------------------------------------------------- to-local-file

KIV_NATIVE(ToLocalFile) {
  Cell* out = string_make_at(stack_push(), uint32_t(std::max(string_length(a.path), 0)));
  file_write_os_path(a.path, out, a.full);
  return native_result(*out);
}

// ---------------------------------------------------------------- new-line markers

// new-line: the marker of the cell at the position; /all of every cell to the
// tail; /skip of every size-th cell to the tail.
KIV_NATIVE(NewLine) {
  int32_t step = 0;  // 0: the one cell
  if (a.skip) {
    step = integer_get(a.skip);
    if (step < 1) raise_error(kErrScriptOutOfRange, a.skip);
  } else if (a.all) {
    step = 1;
  }
  bool on = logic_get(a.value);
  Node node = a.position->node();
  int32_t total = block_total_length(a.position);
  int32_t i = series_clamp_head(a.position, total);
  // Nothing allocates in the loop: the cells stay where they are.
  Cell* cells = series_cells(node);
  for (; i < total; i += step) {
    if (on) {
      cells[i].header |= kFlagNewLine;
    } else {
      cells[i].clear_new_line();
    }
    if (step == 0 || i > total - step) break;
  }
  return native_result(*a.position);
}

KIV_NATIVE(NewLineQ) {
  int32_t total = block_total_length(a.position);
  int32_t i = a.position->head();
  bool marked = i >= 0 && i < total && series_cells(a.position->node())[i].new_line();
  return native_result(logic_cell(marked));
}

// ---------------------------------------------------------------- transcode

namespace {

// The lexer's callback for a function! (or routine!) given to transcode/trace:
// each event calls it with the event word, the input at the token, the type,
// the line and the token, in a frame named <lexer-callback>; a truthy result
// goes on. The function value is an argument of the native, on the data
// stack, so it needs no marking here. A break, continue, return or exit out of
// the call travels on as a KivThrow (call_value), and errors and throw as
// themselves: the lexer unwinds its state for each.
class FunctionLexerCallback : public LexerCallback {
 public:
  explicit FunctionLexerCallback(const Cell* fn) : fn_(fn), mask_(mask_of(fn)) {}

  uint32_t event_mask() const override { return mask_; }

  bool on_event(LexEvent event, Cell* input, const Cell* type, int32_t line, const Cell* token) override {
    StackSave save;
    Cell* args = stack_push_value(event_word(event));
    stack_push_cell(input);
    stack_push_cell(type);
    stack_push_value(integer_cell(line));
    stack_push_cell(token);
    Cell* result = stack_push();
    Cell* after = stack_push();  // the arguments as the callback left them
    for (int i = 1; i < 5; i++) stack_push();
    Cell name = runtime_value(kWordLexerCallback);
    call_value(fn_, args, 5, result, &name, after);
    // A callback that moved its input (input: skip input 2) moves the scan.
    const Cell& moved = after[1];
    if (moved.type() == input->type() && moved.node() == input->node()) input->set_head(moved.head());
    return truthy(result);
  }

 private:
  static Cell event_word(LexEvent event) {
    switch (event) {
      case kLexEventPrescan: return runtime_value(kWordPrescan);
      case kLexEventScan: return runtime_value(kWordScan);
      case kLexEventLoad: return runtime_value(kWordLoad);
      case kLexEventOpen: return runtime_value(kWordOpen);
      case kLexEventClose: return runtime_value(kWordClose);
      default: return runtime_value(kWordError);
    }
  }

  // The events a callback wants: the event words of the block that opens a
  // function's body (letter case ignored, other values skipped), else all.
  static uint32_t mask_of(const Cell* fn) {
    if (!fn->is(kTypeFunction)) return kLexEventAll;
    Cell body = function_body(fn);
    if (!body.is(kTypeBlock)) return kLexEventAll;
    int32_t at = std::max(body.head(), 0);
    if (at >= block_total_length(&body)) return kLexEventAll;
    Cell first = series_cells(body.node())[at];
    if (!first.is(kTypeBlock)) return kLexEventAll;
    uint32_t mask = 0;
    int32_t total = block_total_length(&first);
    for (int32_t i = std::max(first.head(), 0); i < total; i++) {
      Cell w = series_cells(first.node())[i];
      if (!w.is(kTypeWord)) continue;
      std::string_view name = symbol_name(word_symbol(&w));
      for (uint32_t bit = kLexEventPrescan; bit <= kLexEventError; bit <<= 1) {
        std::string_view event = lexer_event_name(LexEvent(bit));
        if (name.size() == event.size() && std::equal(name.begin(), name.end(), event.begin(),
                                                      [](char x, char y) { return (x | 0x20) == y; }))
          mask |= bit;
      }
    }
    return mask;
  }

  const Cell* fn_;
  uint32_t mask_;
};

}  // namespace

KIV_NATIVE(Transcode) {
  TranscodeArgs args;
  args.next = a.next;
  args.one = a.one;
  args.prescan = a.prescan;
  args.scan = a.scan;
  args.part = a.part;
  args.into = a.into;
  FunctionLexerCallback callback(a.trace ? a.trace : &kNoneCell);
  if (a.trace) args.trace = &callback;
  Cell* out = stack_push();
  transcode(out, a.src, args);
  return native_result(*out);
}

void natives_convert_register() {
  KIV_REGISTER(Dehex);
  KIV_REGISTER(Enhex);
  KIV_REGISTER(Debase);
  KIV_REGISTER(Enbase);
  KIV_REGISTER(ToHex);
  KIV_REGISTER(Uppercase);
  KIV_REGISTER(Lowercase);
  KIV_REGISTER(AsPair);
  KIV_REGISTER(AsPoint2d);
  KIV_REGISTER(AsPoint3d);
  KIV_REGISTER(AsMoney);
  KIV_REGISTER(As);
  KIV_REGISTER(Extend);
  KIV_REGISTER(ToLocalFile);
  KIV_REGISTER(NewLine);
  KIV_REGISTER(NewLineQ);
  KIV_REGISTER(Transcode);
}

}  // namespace kiv
