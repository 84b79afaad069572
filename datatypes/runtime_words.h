// The runtime word cache: symbols, words, refinements and one issue that the
// runtime makes once at start-up and then uses directly instead of looking
// names up (path selectors, spec and dialect keywords, event names, frame names).
//
// The two lists below are the one source of the cache, in the order the
// entries are made. All symbols come first, then the word, refinement and
// issue values. Symbols are ids; code compares them with a word's symbol
// through symbol_resolve on both sides, so the comparison ignores letter case
// (runtime_symbol_q). Words are word! cells bound to the global context;
// refinements have no context; the issue belongs to the global context.
//
// The value cells are kept in a block held by root slot kRootWordCache, so the
// collector sees them; runtime_value gives a copy. Cells hold handles, never
// addresses, so a copy never goes stale. Nothing changes an entry after init.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv {

// SYM(Ident, "text"): a symbol made from the text.
// clang-format off
#define KIV_RUNTIME_SYMBOLS(SYM)                                                                      \
  /* reflection keys */                                                                             \
  SYM(Spec, "spec") SYM(Body, "body") SYM(Words, "words") SYM(Class, "class")                       \
  /* spec type words */                                                                             \
  SYM(LogicType, "logic!") SYM(IntegerType, "integer!") SYM(CharType, "char!")                      \
  SYM(FloatType, "float!") SYM(PercentType, "percent!") SYM(AnyTypeType, "any-type!")               \
  /* function exits */                                                                              \
  SYM(Exit, "exit") SYM(Return, "return")                                                           \
  /* platform names */                                                                              \
  SYM(Windows, "Windows") SYM(Syllable, "Syllable") SYM(MacOS, "macOS") SYM(Linux, "Linux")         \
  SYM(NetBSD, "NetBSD")                                                                             \
  /* loop words */                                                                                  \
  SYM(Repeat, "repeat") SYM(Foreach, "foreach") SYM(MapEach, "map-each")                            \
  SYM(RemoveEach, "remove-each")                                                                    \
  /* PARSE keywords */                                                                              \
  SYM(Any, "any") SYM(Break, "break") SYM(Copy, "copy") SYM(End, "end") SYM(Fail, "fail")           \
  SYM(Into, "into") SYM(Opt, "opt") SYM(Not, "not") SYM(Quote, "quote") SYM(Case, "case")           \
  SYM(Reject, "reject") SYM(Set, "set") SYM(Skip, "skip") SYM(Some, "some") SYM(Thru, "thru")       \
  SYM(To, "to") SYM(None, "none") SYM(Bar, "|") SYM(Minus, "-") SYM(If, "if")                       \
  SYM(Remove, "remove") SYM(While, "while") SYM(Insert, "insert") SYM(Only, "only")                 \
  SYM(Collect, "collect") SYM(Keep, "keep") SYM(Pick, "pick") SYM(Ahead, "ahead")                   \
  SYM(After, "after") SYM(Change, "change")                                                         \
  /* coordinates */                                                                                 \
  SYM(X, "x") SYM(Y, "y") SYM(Z, "z")                                                               \
  /* object keys */                                                                                 \
  SYM(Self, "self") SYM(Values, "values") SYM(Owner, "owner") SYM(Owned, "owned")                   \
  SYM(EventsQ, "events?")                                                                           \
  /* logic words */                                                                                 \
  SYM(True, "true") SYM(False, "false") SYM(Yes, "yes") SYM(No, "no") SYM(On, "on")                 \
  SYM(Off, "off")                                                                                   \
  /* event facets */                                                                                \
  SYM(Type, "type") SYM(Face, "face") SYM(Window, "window") SYM(Offset, "offset") SYM(Key, "key")   \
  SYM(Flag, "flag") SYM(Code, "code") SYM(Picked, "picked") SYM(Flags, "flags")                     \
  SYM(AwayQ, "away?") SYM(CtrlQ, "ctrl?") SYM(ShiftQ, "shift?") SYM(DownQ, "down?")                 \
  SYM(MidDownQ, "mid-down?") SYM(AltDownQ, "alt-down?") SYM(AuxDownQ, "aux-down?")                  \
  SYM(Orientation, "orientation")                                                                   \
  /* HTTP methods */                                                                                \
  SYM(Get, "get") SYM(Put, "put") SYM(Post, "post") SYM(Head, "head")                               \
  /* image accessors */                                                                             \
  SYM(Size, "size") SYM(Rgb, "rgb") SYM(Alpha, "alpha") SYM(Argb, "argb")                           \
  /* date and time accessors */                                                                     \
  SYM(Date, "date") SYM(Year, "year") SYM(Month, "month") SYM(Day, "day") SYM(Zone, "zone")         \
  SYM(Isoweek, "isoweek") SYM(Week, "week") SYM(Weekday, "weekday") SYM(Yearday, "yearday")         \
  SYM(Julian, "julian") SYM(Time, "time") SYM(Hour, "hour") SYM(Minute, "minute")                   \
  SYM(Second, "second") SYM(Timezone, "timezone")                                                   \
  /* money accessors (with "code" above) */                                                         \
  SYM(Amount, "amount")                                                                             \
  /* checksum methods */                                                                            \
  SYM(Tcp, "tcp") SYM(Md5, "md5") SYM(Sha1, "sha1") SYM(Crc32, "crc32") SYM(Adler32, "adler32")    \
  SYM(Sha256, "sha256") SYM(Sha384, "sha384") SYM(Sha512, "sha512") SYM(Hash, "hash")               \
  /* compression methods */                                                                         \
  SYM(Zlib, "zlib") SYM(Deflate, "deflate") SYM(Gzip, "gzip")                                       \
  /* email accessors */                                                                             \
  SYM(User, "user") SYM(Host, "host")                                                               \
  /* context names */                                                                               \
  SYM(System, "system") SYM(SystemGlobal, "system-global")                                          \
  /* function attributes */                                                                         \
  SYM(Trace, "trace") SYM(NoTrace, "no-trace")

// WORD(Ident, "text"): a global word! loaded from the text.
// FROM_SYMBOL(Ident, SymbolIdent): the global word! of a symbol made above (exact spelling).
// REFINEMENT(Ident, "text"): a refinement! with no context.
// ISSUE(Ident, "text"): an issue! of the global context.
#define KIV_RUNTIME_VALUES(WORD, FROM_SYMBOL, REFINEMENT, ISSUE)                                      \
  /* global words from symbols */                                                                   \
  FROM_SYMBOL(Windows, Windows) FROM_SYMBOL(Syllable, Syllable) FROM_SYMBOL(MacOS, MacOS)           \
  FROM_SYMBOL(Linux, Linux) FROM_SYMBOL(NetBSD, NetBSD) FROM_SYMBOL(To, To)                         \
  FROM_SYMBOL(Thru, Thru) FROM_SYMBOL(Not, Not) FROM_SYMBOL(Remove, Remove)                         \
  FROM_SYMBOL(While, While) FROM_SYMBOL(Collect, Collect) FROM_SYMBOL(Keep, Keep)                   \
  FROM_SYMBOL(Ahead, Ahead) FROM_SYMBOL(Bar, Bar) FROM_SYMBOL(Any, Any) FROM_SYMBOL(Some, Some)     \
  FROM_SYMBOL(Copy, Copy) FROM_SYMBOL(Opt, Opt) FROM_SYMBOL(Into, Into) FROM_SYMBOL(Insert, Insert) \
  FROM_SYMBOL(If, If) FROM_SYMBOL(Quote, Quote) FROM_SYMBOL(Set, Set) FROM_SYMBOL(Case, Case)       \
  /* series accessor actions */                                                                     \
  WORD(At, "at") WORD(Back, "back") WORD(Find, "find") WORD(Head, "head") WORD(HeadQ, "head?")      \
  WORD(IndexQ, "index?") WORD(LengthQ, "length?") WORD(Next, "next") WORD(Pick, "pick")             \
  WORD(Skip, "skip") WORD(Select, "select") WORD(Tail, "tail") WORD(TailQ, "tail?")                 \
  /* change events */                                                                               \
  WORD(Change, "change") WORD(Changed, "changed") WORD(Clear, "clear") WORD(Cleared, "cleared")     \
  WORD(SetPath, "set-path") WORD(Append, "append") WORD(Appended, "appended") WORD(Move, "move")    \
  WORD(Moved, "moved") WORD(Poke, "poke") WORD(Poked, "poked") WORD(Put, "put")                     \
  WORD(PutEd, "put-ed") WORD(Removed, "removed") WORD(Random, "random")                             \
  WORD(Randomized, "randomized") WORD(Reverse, "reverse") WORD(Reversed, "reversed")                \
  WORD(Sort, "sort") WORD(Sorted, "sorted") WORD(Swap, "swap") WORD(Swaped, "swaped")               \
  WORD(Take, "take") WORD(Taken, "taken") WORD(Trim, "trim") WORD(Trimmed, "trimmed")               \
  WORD(Inserted, "inserted") WORD(Uppercase, "uppercase") WORD(Lowercase, "lowercase")              \
  WORD(Checksum, "checksum")                                                                        \
  /* PARSE trace events */                                                                          \
  WORD(Push, "push") WORD(Pop, "pop") WORD(Fetch, "fetch") WORD(Match, "match")                     \
  WORD(Iterate, "iterate") WORD(Paren, "paren")                                                     \
  /* frame names */                                                                                 \
  WORD(Anon, "<anon>") WORD(Body, "<body>") WORD(NotFound, "<not-found>")                           \
  /* the global word end */                                                                         \
  FROM_SYMBOL(End, End)                                                                             \
  /* arithmetic actions */                                                                          \
  WORD(Add, "add") WORD(Subtract, "subtract") WORD(Divide, "divide")                                \
  /* change hooks */                                                                                \
  WORD(OnParseEvent, "on-parse-event") WORD(OnChangeStar, "on-change*")                             \
  WORD(OnDeepChangeStar, "on-deep-change*")                                                         \
  /* error fields */                                                                                \
  WORD(Type, "type") WORD(Id, "id")                                                                 \
  /* control words */                                                                               \
  WORD(Try, "try") WORD(Catch, "catch") WORD(Name, "name") WORD(Multiply, "multiply")               \
  WORD(Browse, "browse")                                                                            \
  /* port actions */                                                                                \
  WORD(Open, "open") WORD(Create, "create") WORD(Close, "close") WORD(Delete, "delete")             \
  WORD(Modify, "modify") WORD(Query, "query") WORD(Read, "read") WORD(Rename, "rename")             \
  WORD(Update, "update") WORD(Write, "write")                                                       \
  /* lexer events */                                                                                \
  WORD(Prescan, "prescan") WORD(Scan, "scan") WORD(Load, "load") WORD(Error, "error")               \
  WORD(Comment, "comment")                                                                          \
  /* interpreter events */                                                                          \
  WORD(Init, "init") WORD(Exec, "exec") WORD(Call, "call") WORD(Return, "return")                   \
  WORD(Enter, "enter") WORD(Exit, "exit") WORD(Prolog, "prolog") WORD(Epilog, "epilog")             \
  WORD(Throw, "throw") WORD(Expr, "expr")                                                           \
  /* callback frame names */                                                                        \
  WORD(InterpCallback, "<interp-callback>") WORD(LexerCallback, "<lexer-callback>")                 \
  WORD(ParseCallback, "<parse-callback>") WORD(CompareCallback, "<compare-callback>")               \
  /* error categories ("throw" is the interpreter event word above) */                              \
  WORD(Note, "note") WORD(Syntax, "syntax") WORD(Script, "script") WORD(Math, "math")               \
  WORD(Access, "access") WORD(User, "user") WORD(Internal, "internal")                              \
  WORD(InvalidError, "invalid-error")                                                               \
  /* locals and apply */                                                                            \
  WORD(Local, "local") WORD(Applied, "<applied>")                                                   \
  /* the remaining PARSE keywords as words (error arguments) */                                     \
  FROM_SYMBOL(Break, Break) FROM_SYMBOL(Fail, Fail) FROM_SYMBOL(Reject, Reject)                     \
  FROM_SYMBOL(None, None) FROM_SYMBOL(Only, Only) FROM_SYMBOL(After, After)                         \
  /* refinements */                                                                                 \
  REFINEMENT(Local, "local") REFINEMENT(Extern, "extern") REFINEMENT(Compare, "compare")            \
  REFINEMENT(Part, "part") REFINEMENT(Skip, "skip") REFINEMENT(With, "with")                        \
  /* issues */                                                                                      \
  ISSUE(Ooo, "ooo")
// clang-format on

enum RuntimeSymbol : uint16_t {
#define KIV_SYM(ident, text) kSym##ident,
  KIV_RUNTIME_SYMBOLS(KIV_SYM)
#undef KIV_SYM
      kRuntimeSymbolCount
};

enum RuntimeValue : uint16_t {
#define KIV_WORD(ident, text) kWord##ident,
#define KIV_FROM_SYMBOL(ident, symbol) kWord##ident,
#define KIV_REFINEMENT(ident, text) kRefinement##ident,
#define KIV_ISSUE(ident, text) kIssue##ident,
  KIV_RUNTIME_VALUES(KIV_WORD, KIV_FROM_SYMBOL, KIV_REFINEMENT, KIV_ISSUE)
#undef KIV_WORD
#undef KIV_FROM_SYMBOL
#undef KIV_REFINEMENT
#undef KIV_ISSUE
      kRuntimeValueCount
};

// The text of an entry, as listed.
const char* runtime_symbol_text(RuntimeSymbol s);
const char* runtime_value_text(RuntimeValue v);

// MAY ALLOCATE. Makes every entry, in list order (once; later calls do
// nothing). Needs the symbol table and the global context. Sets the ids the
// binding and the call stack read: g_self_symbol, g_stack.body_symbol and
// g_stack.anon_symbol.
void runtime_words_init();
bool runtime_words_ready();

extern int32_t g_runtime_symbols[kRuntimeSymbolCount];
// Symbol id of `self` (0 before runtime_words_init): a word bound as `self`
// names its object's block rather than a slot.
extern uint32_t g_self_symbol;
extern Cell g_runtime_values[kRuntimeValueCount];

// The symbol id of an entry (its exact spelling).
inline int32_t runtime_symbol(RuntimeSymbol s) { return g_runtime_symbols[s]; }
// True when [symbol] is the entry's name, ignoring letter case.
bool runtime_symbol_q(int32_t symbol, RuntimeSymbol s);
// A copy of a word, refinement or issue entry.
inline Cell runtime_value(RuntimeValue v) { return g_runtime_values[v]; }

}  // namespace kiv
