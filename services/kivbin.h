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
// The encoder writes user data; the decoder reads user data (the codec) and
// boot data (start-up's image), whose words bind by position and whose
// definitions set words.
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
inline constexpr uint8_t kKivbinBootVersion = 1;  // the boot image's

// MAY ALLOCATE. Pushes a new binary! holding [value] encoded, in the compact
// form with [compact], else the plain one. A value no record carries
// (routine!, triple!, handle!, port!, event!, an op! over a routine!)
// raises access no-codec with its datatype; nesting deeper than the native
// stack allows raises internal stack-overflow. Either leaves no state behind.
Cell* kivbin_encode(const Cell* value, bool compact);

// MAY ALLOCATE. Pushes a new binary! holding boot data (compact form,
// version 1): the symbols of the words of the block [names] first in its
// symbol table (the decoder adds every name of the table to the global
// context, in order, before it reads a record), each cell of the block [top]
// as a top-level record, then, for
// each pair of cells of the block [definitions] (a global word, its value),
// a definition (0xC4), which the decoder turns into the word's value and
// drops. A word binds globally, or by position to the context of a top-level
// object! or function!, or of the function! a definition gives; a word bound
// to any other context, or a value no record carries, raises access no-codec
// with its datatype. Reference paths never lead from one top-level value or
// definition into another.
Cell* kivbin_encode_boot(const Cell* names, const Cell* top, const Cell* definitions);

// MAY ALLOCATE, MAY RUN KIV CODE (change handlers of decoded objects are not
// called; map and hash! indexing compare keys). Decodes the [length] bytes at
// [data] (copied first: they may lie in a series) in user mode and appends
// every value the stream holds to the block [target] (a stable cell). Input
// that is not KIVBIN, or a compressed payload that does not inflate, raises
// script invalid-data with [argument]; a malformed record raises script
// kb-invalid-record with the 1-based position of the offending byte counted
// from the magic. The values appended before an error stay in [target].
void kivbin_decode(const uint8_t* data, size_t length, const Cell* target, const Cell* argument);

// MAY ALLOCATE, MAY RUN KIV CODE (a definition sets a word). Decodes boot
// data: the [length] bytes at [data] by the boot rules (a definition sets a
// word and leaves nothing in the block, a word binds to the context of a
// value at a position counted from the first cell appended, objects keep
// their class ids, a native's spec stays after it), appended to the block
// [target] (a stable cell; the root block at start-up), with the collector
// switched off for the decode. Every name of the symbol table is added to the
// global context first, in the table's order. Input that is not KIVBIN prints "Error: Not a
// Kivbin file!" and ends the process with status 1, a compressed payload
// that does not inflate "Error: Kivbin compressed data corrupted!";
// malformed records raise kb-invalid-record. Returns the index of the first
// cell appended.
int32_t kivbin_load_boot_data(const uint8_t* data, size_t length, const Cell* target);

// Microseconds the boot decodes so far spent on their definitions (reading
// each value's records and making it): of natives and actions, and of the
// rest (the library's functions).
struct KivbinBootTimes {
  long long builtins_us = 0;
  long long definitions_us = 0;
};
KivbinBootTimes kivbin_boot_times();

}  // namespace kiv
