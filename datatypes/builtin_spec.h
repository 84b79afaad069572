// The specs of the built-in callables: the natives, the actions and the
// routines, whose C++ code reads its arguments by position.
//
// Each one is declared once, by a line of its .def file that lists its
// arguments and refinements (DeclaredParam) beside its spec text. Start-up
// loads the text, checks it against the line word for word and keeps it as
// the code's own spec: the number of arguments, the refinements in their
// places and the types each argument accepts, held in C++ where no script can
// change them. A value that calls the same code must fit it: make native!
// and make action! refuse a spec that does not (script bad-make-arg), and so
// does the first call of a value whose spec was changed since it was made
// (its argument list is built then, datatypes/arglist.h). So the code never
// reads an argument slot the call did not fill, nor a value of a type its own
// spec refuses.
#pragma once

#include <cstdint>
#include <string>

#include "datatypes/named_args.h"
#include "runtime/cell.h"

namespace kiv {

enum class Builtin : uint8_t { kNative, kAction, kRoutine };

// Ids of every kind run from 1 to this.
inline constexpr int32_t kBuiltinIdMax = 255;

// "" when the spec block [spec] (from its first cell, where a callable holds
// its spec) lists exactly [first] (an argument's word, or null for none) and
// then the arguments and refinements of [declared], in order and by word;
// else a line saying where the two part. Spec items are its word!, lit-word!
// and get-word! cells (arguments) and its refinement! cells up to /local;
// doc strings, type blocks and return: are not compared. A declared
// argument's C++ name reads with - for _ and without a trailing _
// (then_blk, then-blk).
std::string builtin_spec_disagreement(const Cell* spec, const char* first, const DeclaredParam* declared);

// MAY ALLOCATE. Start-up, for the built-in [kind] [id] called [word]: checks
// its spec block [spec] against its line ([first], [declared]) as
// builtin_spec_disagreement does, ending the process with a report naming it
// when they disagree (a table written wrong), and keeps the spec as the own
// spec of [id]. Script no-value or invalid-type-spec for a bad type block.
void builtin_keep_own_spec(Builtin kind, int32_t id, const char* word, const Cell* spec, const char* first,
                           const DeclaredParam* declared);

// MAY ALLOCATE. True when the spec block [spec] (from its first cell) fits
// the own spec of [kind] [id]: as many arguments, the same refinements (by
// word, letter case aside) in the same places, and no argument accepting a
// type its own refuses; argument names, fetch modes, doc strings and return:
// are free. False when [id] has no own spec. Script no-value or
// invalid-type-spec for a bad type block.
bool builtin_spec_fits(Builtin kind, int32_t id, const Cell* spec);
// True once builtin_keep_own_spec has kept a spec for [kind] [id].
bool builtin_has_own_spec(Builtin kind, int32_t id);

// The same for an argument list (datatypes/arglist.h): its first [count]
// cells, a typeset! for each argument (the types it accepts) and a
// refinement! for each refinement, in spec order.
bool builtin_list_fits(Builtin kind, int32_t id, Node list, int32_t count);

// For calls that come from elsewhere than the interpreter, which checks the
// types itself: script expect-arg for the first argument of the running call
// of [kind] [id] (arguments from the arguments base, refinement slots [r])
// that its own spec refuses: each plain argument, and each argument of a
// refinement present. Nothing when [id] has no own spec.
void builtin_check_args(Builtin kind, int32_t id, const int32_t* r);

}  // namespace kiv
