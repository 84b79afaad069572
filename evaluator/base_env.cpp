// The base environment (base_env.h): typesets first (the specs' type blocks
// name them), then constants, natives, actions and operators.
#include "evaluator/base_env.h"

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/builtin_spec.h"
#include "datatypes/char.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/handle.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/native.h"
#include "datatypes/registry.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/natives.h"
#include "runtime/gc_root.h"
#include "runtime/stack.h"
#include "runtime/typesets.h"

namespace kiv {

namespace {

bool g_base_ready = false;

// MAY ALLOCATE. Binds [name] in the global context to [value].
void bind_global(const char* name, const Cell& value) {
  StackSave save;
  Cell* held = stack_push_cell(&value);  // [value] may be a C++ local
  Root word(load_word(name));
  set_word_value(word.get(), held);
}

// MAY ALLOCATE. Pushes the native! or action! [id] of [type], made from its
// spec text (builtin_spec.h).
Cell* push_builtin(TypeId type, int32_t id, const char* spec) {
  Cell made;
  {
    // The scratch cells go before the value is pushed: a StackSave alive at
    // the return would pop it again.
    StackSave save;
    Cell* spec_block = lexer_push_utf8(spec);
    made = *base_environment_push_builtin(type, id, spec_block);
  }
  return stack_push_value(made);
}

void bind_datatypes() {
  for (int t = 1; t <= kMaxTypeId; t++)
    if (type_name(TypeId(t))) bind_global(type_name(TypeId(t)), datatype_cell(TypeId(t)));
}

void bind_typesets() {
  struct Named {
    const char* name;
    Typeset types;
  };
  const Named kTypesets[] = {
      {"internal!", kTypesetInternal},    {"external!", kTypesetExternal},
      {"number!", kTypesetNumber},        {"planar!", kTypesetPlanar},
      {"any-point!", kTypesetAnyPoint},   {"scalar!", kTypesetScalar},
      {"any-word!", kTypesetAnyWord},     {"all-word!", kTypesetAllWord},
      {"any-list!", kTypesetAnyList},     {"any-path!", kTypesetAnyPath},
      {"any-block!", kTypesetAnyBlock},   {"any-function!", kTypesetAnyFunction},
      {"any-object!", kTypesetAnyObject}, {"any-string!", kTypesetAnyString},
      {"series!", kTypesetSeries},        {"immediate!", kTypesetImmediate},
      {"default!", kTypesetDefault},      {"any-type!", kTypesetDefault | kTypesetInternal},
  };
  for (const Named& t : kTypesets) bind_global(t.name, typeset_cell(t.types));
}

void bind_constants() {
  bind_global("none", kNoneCell);
  for (const char* w : {"true", "on", "yes"}) bind_global(w, kTrueCell);
  for (const char* w : {"false", "off", "no"}) bind_global(w, kFalseCell);
  struct NamedChar {
    const char* name;
    uint32_t code;
  };
  const NamedChar kChars[] = {{"tab", 9},        {"cr", 13},     {"lf", 10},     {"newline", 10},
                              {"escape", 27},    {"slash", '/'}, {"space", ' '}, {"sp", ' '},
                              {"null", 0},       {"enter", 13},  {"dot", '.'},   {"comma", ','},
                              {"dbl-quote", '"'}};
  for (const NamedChar& c : kChars) bind_global(c.name, char_cell(c.code));
  bind_global("pi", float_cell(3.141592653589793));
  bind_global("null-handle", handle_cell(0, 0));
}

void bind_natives() {
  for (int32_t id = 1; id <= kNativeCount; id++) {
    StackSave save;
    const NativeInfo& info = g_natives_info[id];
    Cell* native = push_builtin(kTypeNative, id, info.spec);
    bind_global(info.word, *native);
  }
}

void bind_actions() {
  for (int32_t id = 1; id <= kActionCount; id++) {
    const ActionInfo& info = g_actions_table[id];
    if (!action_callable_q(id)) continue;
    StackSave save;
    Cell* action = push_builtin(kTypeAction, id, info.spec);
    bind_global(info.word, *action);
  }
}

}  // namespace

Cell* base_environment_push_builtin(TypeId type, int32_t id, const Cell* spec) {
  const bool native = type == kTypeNative;
  const Builtin kind = native ? Builtin::kNative : Builtin::kAction;
  if (builtin_has_own_spec(kind, id)) {
    Cell made;
    {
      StackSave save;
      Cell* make_spec = block_push_only(2);
      block_append_value(make_spec, spec);
      const Cell number = integer_cell(id);
      block_append_value(make_spec, &number);
      MakeArgs args;
      args.spec = make_spec;
      made = native ? *native_make(nullptr, args) : *action_value_make(nullptr, args);
    }
    return stack_push_value(made);
  }
  if (native) {
    const NativeInfo& info = g_natives_info[id];
    builtin_keep_own_spec(kind, id, info.word, spec, nullptr, info.params);
  } else {
    const ActionInfo& info = g_actions_table[id];
    builtin_keep_own_spec(kind, id, info.word, spec, info.first_arg, info.params);
  }
  return native_make_own(type, spec, id);
}

// The operators whose functions exist now (modulo and the shift routines
// come with the library).
void base_environment_bind_operators() {
  struct Op {
    const char* name;
    const char* from;
  };
  const Op kOps[] = {{"+", "add"},
                     {"-", "subtract"},
                     {"*", "multiply"},
                     {"/", "divide"},
                     {"%", "remainder"},
                     {"=", "equal?"},
                     {"<>", "not-equal?"},
                     {"==", "strict-equal?"},
                     {"=?", "same?"},
                     {"<", "lesser?"},
                     {">", "greater?"},
                     {"<=", "lesser-or-equal?"},
                     {">=", "greater-or-equal?"},
                     {"**", "power"},
                     {"and", "and~"},
                     {"or", "or~"},
                     {"xor", "xor~"}};
  for (const Op& op : kOps) {
    StackSave save;
    Root from(load_word(op.from));
    Cell* value = stack_push_cell(get_word_value(from.get()));
    Cell* proto = stack_push_value(datatype_cell(kTypeOp));
    Cell made = *action_make(proto, value);
    bind_global(op.name, made);
  }
}

void base_environment_init(bool builtins) {
  if (!g_base_ready) {
    g_base_ready = true;
    natives_init();
  }
  interp_init();
  bind_datatypes();
  bind_typesets();
  bind_constants();
  if (!builtins) return;
  bind_actions();
  bind_natives();
  base_environment_bind_operators();
}

}  // namespace kiv
