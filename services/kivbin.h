// KIVBIN: the binary form values are stored and exchanged in, in its two
// layouts (plain: 32-bit little-endian words; compact: bytes and LEB128
// varints), written by the encoder (kivbin_encode.cpp) and read back by the
// decoder (kivbin_decode.cpp).
//
// A stream is the 8-byte header ("KIVBIN", the version, the flags byte), the
// root count and data size, an optional symbol table (names in order of first
// use) and the records. A series, context or function met a second time is
// written as a reference path to its first place, so shared series stay one
// series and a value holding itself survives the round trip.
//
// User mode only here: words bind to the global context, or take the context
// of an object or function written inline or reached by a reference path.
// The boot image's rules (definitions, positioned contexts) are refused.
//
// Collector safety: the encoder walks the value without allocating (its
// output builds in C++ memory, turned into one binary! at the end); the
// decoder reads a private copy of its input and builds every value inside
// the target block, so the collector may run and move buffers at any of its
// allocations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/cell.h"

namespace kiv {

// Header flags (byte 7).
inline constexpr uint8_t kKivbinCompact = 1;
inline constexpr uint8_t kKivbinCompressed = 2;
inline constexpr uint8_t kKivbinSymbols = 4;
inline constexpr uint8_t kKivbinVersion = 2;

// MAY ALLOCATE. Pushes a new binary! holding [value] encoded, in the compact
// form with [compact], else the plain one. A value no record carries
// (routine!, triple!, handle!, port!, event!, image!, an op! over a routine!)
// raises access no-codec with its datatype; nesting deeper than the native
// stack allows raises internal stack-overflow. Either leaves no state behind.
Cell* kivbin_encode(const Cell* value, bool compact);

// MAY ALLOCATE, MAY RUN KIV CODE (change handlers of decoded objects are not
// called; map and hash! indexing compare keys). Decodes the [length] bytes at
// [data] (copied first: they may lie in a series) in user mode and appends
// every value the stream holds to the block [target] (a stable cell). Input
// that is not KIVBIN, or a compressed payload that does not inflate, raises
// script invalid-data with [argument]; a malformed record raises script
// kb-invalid-record with the 1-based position of the offending byte counted
// from the magic. The values appended before an error stay in [target].
void kivbin_decode(const uint8_t* data, size_t length, const Cell* target, const Cell* argument);

// The payload of a compressed stream, inflated by the LZ codec into [out]:
// false when [in] is not a valid LZ stream. The LZ codec is not linked in
// yet, so every compressed payload is refused for now.
bool kivbin_lz_inflate(const uint8_t* in, size_t n, std::vector<uint8_t>* out);

}  // namespace kiv
