// The record layout the KIVBIN encoder and decoder share (services/kivbin.h):
// lead bytes, plain header bits and the classes of types.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::kivbin {

// Compact lead and prefix bytes.
inline constexpr uint8_t kNewLinePrefix = 0xC0;
inline constexpr uint8_t kReferencePrefix = 0xC1;
inline constexpr uint8_t kTrueByte = 0xC2;
inline constexpr uint8_t kFalseByte = 0xC3;
inline constexpr uint8_t kDefinitionPrefix = 0xC4;  // boot data only
inline constexpr uint8_t kReferenceRecord = 0xFF;
inline constexpr uint8_t kShortIntegerBase = 0x80;  // 0x80-0xBF: the integers 0 to 63
inline constexpr uint8_t kVariantBit = 0x40;
inline constexpr uint8_t kTypeIdMask = 0x3F;
inline constexpr uint8_t kTypeIdFollows = 63;

// Compact context flags byte.
inline constexpr uint8_t kContextKindBits = 0x03;
inline constexpr uint8_t kContextOnStack = 0x04;
inline constexpr uint8_t kContextSelf = 0x08;
inline constexpr uint8_t kContextValues = 0x10;

// Plain header bits (bits 0-7 the type id).
inline constexpr uint32_t kPlainPadding = 0;
inline constexpr uint32_t kPlainReference = 255;
inline constexpr uint32_t kPlainNewLine = 1u << 31;
inline constexpr uint32_t kPlainRefForm = 1u << 19;
inline constexpr uint32_t kPlainGlobalWord = 1u << 25;
inline constexpr uint32_t kPlainMoneyNegative = 1u << 22;
inline constexpr uint32_t kPlainComplement = 1u << 23;
inline constexpr uint32_t kPlainEvents = 1u << 24;
inline constexpr uint32_t kPlainContextValues = 1u << 30;
inline constexpr uint32_t kPlainContextOnStack = 1u << 29;
inline constexpr uint32_t kPlainContextSelf = 1u << 28;
inline constexpr uint32_t kPlainContextKindShift = 26;
inline constexpr uint32_t kPlainByteShift = 8;  // unit, tuple length: bits 8-15
inline constexpr uint32_t kPlainOpTypeShift = 16;

// Reference paths hold 1 to this many indexes.
inline constexpr uint32_t kMaxPathLength = 65536;

// Compact unit codes of strings and vectors: 0, 1, 2 for units of 1, 2 and 4
// bytes; vectors also take 3 for 8-byte elements (float! and percent!
// doubles), which a string never has.
inline constexpr uint32_t unit_code(uint32_t unit) {
  return unit == 1 ? 0 : unit == 2 ? 1 : unit == 4 ? 2 : 3;
}
inline constexpr uint32_t unit_of_code(uint32_t code) { return 1u << code; }

// The block family: cells from the buffer's head.
inline bool block_family_q(TypeId t) {
  return t == kTypeBlock || t == kTypeParen || t == kTypeHash || (t >= kTypePath && t <= kTypeGetPath);
}
// The text family: code units of 1, 2 or 4 bytes.
inline bool text_family_q(TypeId t) {
  return t == kTypeString || t == kTypeFile || t == kTypeUrl || t == kTypeTag || t == kTypeEmail ||
         t == kTypeRef;
}
// The word types that bind (issue! never does).
inline bool binding_word_q(TypeId t) { return t >= kTypeWord && t <= kTypeRefinement; }

// Zigzag mapping of a signed 32-bit number.
inline uint32_t zigzag(int32_t n) { return (uint32_t(n) << 1) ^ uint32_t(n >> 31); }
inline int32_t unzigzag(uint32_t u) { return int32_t((u >> 1) ^ (0u - (u & 1))); }

}  // namespace kiv::kivbin
