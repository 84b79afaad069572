// event!: one user-interface event, made by the back end for the view layer's
// dispatch or by a script with `make event!`. A scalar of one cell; its
// fields are read by path or `pick`.
//
// Value cell (event! 54):
//   header  type id; kEventScriptMade (bit 12) for an event `make event!` built
//   word 1  the type code (kEventTypeNames below, from 1); 0 for a script-made
//           event given no type
//   word 2  script-made: node of a 4-cell block [face window offset picked],
//           0 when none of them was given (the collector marks it).
//           Back-end: a record reference, slot in the low 8 bits and the
//           slot's generation above (never marked, never a pointer)
//   word 3  flag bits (kEventFlag...) OR'ed with, below bit 21, the key's code
//           point of a script-made event; a back-end key event sets bit 0
//           when its record holds a special (negative) key code
//
// A back-end record lives while its event is dispatched: the back end opens
// it, hands the event to the view layer and closes it. An event read after
// its record closed answers none for face, offset, key and picked.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv {

inline constexpr uint32_t kEventScriptMade = 0x1000u;

inline constexpr uint32_t kEventFlagControl = 0x10000000u;
inline constexpr uint32_t kEventFlagShift = 0x20000000u;
inline constexpr uint32_t kEventFlagAlt = 0x40000000u;
inline constexpr uint32_t kEventFlagCommand = 0x80000000u;
inline constexpr uint32_t kEventFlagAway = 0x04000000u;
inline constexpr uint32_t kEventFlagDown = 0x02000000u;
inline constexpr uint32_t kEventFlagMidDown = 0x01000000u;
inline constexpr uint32_t kEventFlagAltDown = 0x00800000u;
inline constexpr uint32_t kEventFlagAuxDown = 0x00400000u;
inline constexpr uint32_t kEventKeyMask = 0x001FFFFFu;
inline constexpr uint32_t kEventSpecialKey = 0x1u;

// The type words by code (index 0 is no type).
inline constexpr const char* kEventTypeNames[] = {
    "",          "down",   "up",        "mid-down", "mid-up",   "alt-down", "alt-up",   "aux-down",
    "aux-up",    "click",  "dbl-click", "wheel",    "over",     "key",      "key-down", "key-up",
    "ime",       "focus",  "unfocus",   "enter",    "zoom",     "pan",      "rotate",   "two-tap",
    "press-tap", "select", "change",    "menu",     "close",    "move",     "resize",   "moving",
    "resizing",  "time",   "drawing",   "scroll",   "minimize", "maximize", "restore"};
inline constexpr uint32_t kEventTypeMax = 38;

// The codes of the types the back end sends (their index above).
enum EventType : uint32_t {
  kEventDown = 1,
  kEventUp = 2,
  kEventClick = 9,
  kEventDblClick = 10,
  kEventTypeWheel = 11,
  kEventOver = 12,
  kEventKey = 13,
  kEventKeyDown = 14,
  kEventFocus = 17,
  kEventUnfocus = 18,
  kEventSelect = 25,
  kEventChange = 26,
  kEventResize = 30,
  kEventTime = 33,
};

// What the back end knows of one event while it is dispatched.
struct EventRecord {
  Cell face;       // the face of the widget that receives it (none when there is none)
  float x = 0.0f;  // offset in the face
  float y = 0.0f;
  int32_t code = 0;  // key code (negative: a special key) or picked value
  float wheel = 0.0f;
};

inline uint32_t event_type_code(const Cell* event) { return event->data1; }
inline bool event_script_made_q(const Cell* event) { return event->header & kEventScriptMade; }

// Opens a record for the dispatch of one back-end event and returns its
// reference. Its face is a collector root until it closes. Raises internal
// no-memory when every slot is in use (dispatch nests only a few deep).
uint32_t event_record_open(const EventRecord& record);
// Closes the record [ref]; events naming it read as gone from now on.
void event_record_close(uint32_t ref);
// A back-end event of type [code] on record [ref] with the flag bits [flags].
Cell event_backend_cell(uint32_t code, uint32_t ref, uint32_t flags);

// The code of the type word [symbol], or 0 when it names no event type.
uint32_t event_type_of_symbol(int32_t symbol);

}  // namespace kiv
