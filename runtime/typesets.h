// The typesets of the C++ code: which type ids belong to any-string!, any-block!,
// series! and the rest, as bit sets made from the families column of types.def.
//
// A typeset here is a 64-bit mask over type ids (every id is below 64), so a
// membership test is one shift and one AND. The unions between typesets follow
// the language's own definitions: scalar! holds number! and any-point!,
// any-block! is any-path! plus any-list!, series! is binary!, image!, vector!,
// any-block! and any-string!, and so on.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv {

// Typesets a type may be listed in directly (the families column of types.def).
enum TypeFamily : uint32_t {
  kFamilyNumber = 1u << 0,
  kFamilyAnyPoint = 1u << 1,
  kFamilyPlanar = 1u << 2,
  kFamilyScalar = 1u << 3,
  kFamilyAnyWord = 1u << 4,
  kFamilyAllWord = 1u << 5,
  kFamilyAnyList = 1u << 6,
  kFamilyAnyPath = 1u << 7,
  kFamilyAnyFunction = 1u << 8,
  kFamilyAnyObject = 1u << 9,
  kFamilyAnyString = 1u << 10,
  kFamilySeries = 1u << 11,
  kFamilyImmediate = 1u << 12,
  kFamilyDefault = 1u << 13,
  kFamilyInternal = 1u << 14,
  kFamilyExternal = 1u << 15,
};

class Typeset {
 public:
  constexpr Typeset() = default;
  constexpr explicit Typeset(uint64_t bits) : bits_(bits) {}
  constexpr bool has(TypeId t) const { return t < 64 && ((bits_ >> t) & 1u); }
  constexpr uint64_t bits() const { return bits_; }
  constexpr Typeset operator|(Typeset other) const { return Typeset(bits_ | other.bits_); }

 private:
  uint64_t bits_ = 0;
};
static_assert(kMaxTypeId < 64, "a Typeset holds every type id");

// The types whose families column of types.def lists [family].
constexpr Typeset typeset_listed_in(uint32_t family) {
  uint64_t bits = 0;
#define DEF(id, ident, lower, name, parent, families) \
  if ((families)&family) bits |= uint64_t(1) << id;
#include "runtime/types.def"
#undef DEF
  return Typeset(bits);
}

inline constexpr Typeset kTypesetNumber = typeset_listed_in(kFamilyNumber);
inline constexpr Typeset kTypesetAnyPoint = typeset_listed_in(kFamilyAnyPoint);
inline constexpr Typeset kTypesetPlanar = typeset_listed_in(kFamilyPlanar);
inline constexpr Typeset kTypesetScalar =
    typeset_listed_in(kFamilyScalar) | kTypesetNumber | kTypesetAnyPoint;
inline constexpr Typeset kTypesetAnyWord = typeset_listed_in(kFamilyAnyWord);
inline constexpr Typeset kTypesetAllWord = typeset_listed_in(kFamilyAllWord) | kTypesetAnyWord;
inline constexpr Typeset kTypesetAnyList = typeset_listed_in(kFamilyAnyList);
inline constexpr Typeset kTypesetAnyPath = typeset_listed_in(kFamilyAnyPath);
inline constexpr Typeset kTypesetAnyBlock = kTypesetAnyPath | kTypesetAnyList;
inline constexpr Typeset kTypesetAnyFunction = typeset_listed_in(kFamilyAnyFunction);
inline constexpr Typeset kTypesetAnyObject = typeset_listed_in(kFamilyAnyObject);
inline constexpr Typeset kTypesetAnyString = typeset_listed_in(kFamilyAnyString);
inline constexpr Typeset kTypesetSeries =
    typeset_listed_in(kFamilySeries) | kTypesetAnyBlock | kTypesetAnyString;
inline constexpr Typeset kTypesetImmediate =
    typeset_listed_in(kFamilyImmediate) | kTypesetScalar | kTypesetAllWord;
inline constexpr Typeset kTypesetInternal = typeset_listed_in(kFamilyInternal);
inline constexpr Typeset kTypesetExternal = typeset_listed_in(kFamilyExternal);
inline constexpr Typeset kTypesetDefault = typeset_listed_in(kFamilyDefault) | kTypesetSeries |
                                           kTypesetImmediate | kTypesetAnyObject | kTypesetExternal |
                                           kTypesetAnyFunction;

constexpr bool is_number(TypeId t) { return kTypesetNumber.has(t); }
constexpr bool is_any_point(TypeId t) { return kTypesetAnyPoint.has(t); }
constexpr bool is_planar(TypeId t) { return kTypesetPlanar.has(t); }
constexpr bool is_scalar(TypeId t) { return kTypesetScalar.has(t); }
// word!, set-word!, lit-word!, get-word!.
constexpr bool is_any_word(TypeId t) { return kTypesetAnyWord.has(t); }
// any-word! with refinement! and issue!: every type with the word cell layout.
constexpr bool is_all_word(TypeId t) { return kTypesetAllWord.has(t); }
// block!, paren!, hash!.
constexpr bool is_any_list(TypeId t) { return kTypesetAnyList.has(t); }
// path!, lit-path!, set-path!, get-path!.
constexpr bool is_any_path(TypeId t) { return kTypesetAnyPath.has(t); }
// any-list! and any-path!: every series of value cells.
constexpr bool is_any_block(TypeId t) { return kTypesetAnyBlock.has(t); }
constexpr bool is_any_function(TypeId t) { return kTypesetAnyFunction.has(t); }
constexpr bool is_any_object(TypeId t) { return kTypesetAnyObject.has(t); }
// string!, file!, url!, tag!, email!, ref!: the text types sharing string!'s storage.
constexpr bool is_any_string(TypeId t) { return kTypesetAnyString.has(t); }
constexpr bool is_series(TypeId t) { return kTypesetSeries.has(t); }
constexpr bool is_immediate(TypeId t) { return kTypesetImmediate.has(t); }

static_assert(kTypesetAnyString.has(kTypeRef) && !kTypesetAnyString.has(kTypeBinary));
static_assert(kTypesetAnyBlock.has(kTypeHash) && kTypesetAnyBlock.has(kTypeGetPath));
static_assert(kTypesetAllWord.has(kTypeIssue) && !kTypesetAnyWord.has(kTypeRefinement));
static_assert(kTypesetSeries.has(kTypeImage) && !kTypesetSeries.has(kTypeMap));

}  // namespace kiv
