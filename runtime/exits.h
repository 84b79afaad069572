// Non-local exits: the 32-bit throw codes and the C++ exception that carries them.
//
// Errors and `throw` travel as a KivThrow; a catch point declares the highest
// code it accepts and rethrows anything above it (unsigned compare). break,
// continue, return and exit normally travel as status codes returned by native
// entries; they become a KivThrow only where C++ code that cannot pass a status
// on (sort comparators, change handlers) runs Kiv code.
#pragma once

#include <cstdint>

namespace kiv {

enum ThrowCode : uint32_t {
  kThrowNone = 0,
  kThrowError = 0x7FFFFFFF,
  kThrowBreak = 0x7FFFFFFE,
  kThrowContinue = 0x7FFFFFFD,
  kThrowReturn = 0x7FFFFFFC,
  kThrowExit = 0x7FFFFFFB,
  kThrowThrow = 0x7FFFFFFA,
  kThrowQuiet = 0x0BADCAFE,  // ends the process with 0 when nothing catches it
};

// How a piece of Kiv code ended: normally, or by one of the exits that travel
// as statuses (their values are those exits' throw codes). A status is never
// dropped: the enum is [[nodiscard]], so every function returning one is.
enum class [[nodiscard]] Status : uint32_t{
    kOk = kThrowNone,       kBreak = kThrowBreak, kContinue = kThrowContinue,
    kReturn = kThrowReturn, kExit = kThrowExit,
};
inline constexpr Status kStatusOk = Status::kOk;
// The status of the exit with throw code [code] (one of the four above).
constexpr Status status_of(uint32_t code) { return Status(code); }
// The throw code an exit travels with outside Kiv code.
constexpr uint32_t status_code(Status s) { return uint32_t(s); }

struct KivThrow {
  uint32_t code;
};

// The code of the last exit that reached a catch point (0 once dealt with).
extern uint32_t g_last_throw_code;

// Throws [code] to the nearest catch point whose threshold is at or above it.
[[noreturn]] void throw_code(uint32_t code);

// True when a catch point with [threshold] receives [code].
inline bool catches(uint32_t threshold, uint32_t code) { return code <= threshold; }

}  // namespace kiv
