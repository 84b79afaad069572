// Widgets: the native record behind every shown face, and how faces are
// rendered into the screen grid (tui/screen_buffer.h).
//
// A widget lives on the platform heap and is an entry of the external-
// resource registry (runtime/resources.h) of its own class; a WidgetRef
// names it by entry index and generation, so a ref, handle!, `state` or
// event that outlives its widget reads as "no widget" (widget_get answers
// null), never as freed memory. The registry entry's node word holds the
// entry index again; the widgets' mark callback marks every live widget's
// entry and the values it keeps (the face, the UI text).
//
// A Widget* is valid until the widget is destroyed; since any call into
// Kiv code may destroy it, no code holds one across such a call: keep the
// WidgetRef and look the widget up again after.
#pragma once

#include <cstdint>
#include <vector>

#include "datatypes/event.h"
#include "runtime/cell.h"
#include "tui/screen_buffer.h"

namespace kiv {

// ---------------------------------------------------------------- references

struct WidgetRef {
  uint32_t index = 0xFFFFFFFFu;  // registry entry; kNoWidget's index names none
  uint32_t generation = 0;
  bool operator==(const WidgetRef&) const = default;
  explicit operator bool() const { return index != 0xFFFFFFFFu; }
};
inline constexpr WidgetRef kNoWidget{};

// ---------------------------------------------------------------- the record

enum class WidgetKind : uint8_t {
  kGeneric,
  kWindow,
  kField,
  kButton,
  kBase,
  kProgress,
  kGroupBox,
  kCheck,
  kRadio,
  kTextList,
  kRichText,
};

// Widget flags.
inline constexpr uint32_t kWidgetSizePair = 0x10000;         // the face size was a pair! (integers)
inline constexpr uint32_t kWidgetHidden = 0x20000;           // `visible?` not true
inline constexpr uint32_t kWidgetDisabled = 0x40000;         // `enabled?` not true
inline constexpr uint32_t kWidgetAllOver = 0x100000;         // face flag all-over
inline constexpr uint32_t kWidgetCaret = 0x200000;           // shows a caret
inline constexpr uint32_t kWidgetFocusable = 0x400000;       // face flag focusable
inline constexpr uint32_t kWidgetPressedLeft = 0x1000000;    // pressed and left by the mouse
inline constexpr uint32_t kWidgetFocused = 0x2000000;        // has the focus
inline constexpr uint32_t kWidgetPassword = 0x10000000;      // face flag password
inline constexpr uint32_t kWidgetFullscreen = 0x40000000;    // face flag fullscreen
inline constexpr uint32_t kWidgetCaretMarker = 0x80000000u;  // a base face naming a caret face

// Face flag bits (the `flags` facet's words).
inline constexpr uint32_t kFaceFlagAllOver = 0x1;
inline constexpr uint32_t kFaceFlagFocusable = 0x2;
inline constexpr uint32_t kFaceFlagTriState = 0x20000;
inline constexpr uint32_t kFaceFlagScrollable = 0x40000;
inline constexpr uint32_t kFaceFlagPassword = 0x80000;
inline constexpr uint32_t kFaceFlagNoSync = 0x100000;
inline constexpr uint32_t kFaceFlagFullscreen = 0x200000;
inline constexpr uint32_t kFaceFlagPopup = 0x1000000;
inline constexpr uint32_t kFaceFlagModal = 0x2000000;
inline constexpr uint32_t kFaceFlagResize = 0x4000000;
inline constexpr uint32_t kFaceFlagNoButtons = 0x8000000;
inline constexpr uint32_t kFaceFlagNoMax = 0x10000000;
inline constexpr uint32_t kFaceFlagNoMin = 0x20000000;
inline constexpr uint32_t kFaceFlagNoTitle = 0x40000000;
inline constexpr uint32_t kFaceFlagNoBorder = 0x80000000u;

// A field's caret: index in characters, column in cells, the text's width.
struct CaretRecord {
  int32_t index = 0;
  int32_t column = 0;
  int32_t text_width = 0;
};

// One shown window.
struct WindowRecord {
  WidgetRef widget;                      // the window's widget
  WidgetRef focused;                     // its focused widget, kNoWidget when none
  float x1 = 0, y1 = 0, x2 = 0, y2 = 0;  // bounding box of its widgets (the grid size)
  int32_t caret_count = 0;               // widgets that show a caret
};

struct Widget {
  WidgetRef self;
  WidgetKind kind = WidgetKind::kGeneric;
  int32_t type = 0;  // symbol id of the face's `type` word
  uint32_t flags = 0;
  float x1 = 0, y1 = 0, x2 = 0, y2 = 0;  // cells, relative to the parent (window: 0,0)
  WidgetRef parent;                      // kNoWidget for a window
  WidgetRef window;                      // the window it belongs to (itself for a window)
  std::vector<WidgetRef> children;       // in `pane` order
  // Cells made from the face `image` (half blocks), image_width x image_height.
  std::vector<ScreenCell> image_cells;
  int32_t image_width = 0;
  int32_t image_height = 0;
  Cell ui_text;                // string! attached by set-face-ui, or none (marked)
  int32_t data = 0;            // widget-data: a text list's scroll position
  CaretRecord caret;           // fields
  std::vector<RichCell> rich;  // rich-text faces: the cell array
  Cell face;                   // the face object (marked)
  // Timer from `rate`: 0 when none; the loop ticks it (tui-loop).
  int32_t timer_ms = 0;
  int64_t timer_due = 0;
};

// ---------------------------------------------------------------- lifecycle

// Registers the widgets' resource class and mark callback. Start-up calls
// it once the runtime is up; later calls do nothing.
void widgets_init();

// Makes the widget of [face] (an object!, a stable cell) under [parent]
// (kNoWidget for a window), stores its handle! in the face's `state` block
// and runs the kind's update. Raises invalid-arg for a flag word outside the
// table and invalid-facet-type for a bad `rate`. MAY RUN KIV CODE.
WidgetRef widget_make(const Cell* face, WidgetRef parent);
// Destroys the widget of [face] and its `pane` children: stops its timer,
// takes the face out of the `parent` blocks of its font and para, frees the
// widget (a window also leaves the window list) and sets `state` to none.
// Does nothing when [face] has no live widget. MAY ALLOCATE.
void widget_destroy_face(const Cell* face);
// Frees [ref] and its children without touching their faces (teardown).
void widget_free(WidgetRef ref);
// Runs the kind's update routine (rebuilds the UI text). MAY RUN KIV CODE.
void widget_update(WidgetRef ref);

// The widget [ref] names, or null when it is gone.
Widget* widget_get(WidgetRef ref);
// The widget of [face]: its `state` block's first cell as a live handle!.
WidgetRef widget_of_face(const Cell* face);
// The handle! of [ref], and back (kNoWidget when not a live widget's).
Cell widget_handle(WidgetRef ref);
WidgetRef widget_of_handle(const Cell* handle);
// Every live widget (tests, teardown).
uint32_t widget_count();

// ---------------------------------------------------------------- windows, focus

// Shown windows in showing order, and the window record of [window].
const std::vector<WidgetRef>& window_list();
WindowRecord* window_record(WidgetRef window);
// The active window (the one drawn), kNoWidget when none.
WidgetRef active_window();
void set_active_window(WidgetRef window);

// The focused widget of [window]; moving the focus sets and clears
// kWidgetFocused and requests a redraw (no events: the loop sends them).
WidgetRef focused_widget(WidgetRef window);
void widget_set_focus(WidgetRef window, WidgetRef target);
bool widget_focused_q(WidgetRef ref);
// Absolute cell position of [ref] (the sum of its and its ancestors' x1, y1
// below the window).
void widget_origin(WidgetRef ref, int32_t* x, int32_t* y);
// The deepest visible widget of [window] whose rectangle holds cell
// [column], [row]; [*local_x], [*local_y] get the offset inside it.
// kNoWidget when only the window is there.
WidgetRef widget_at(WidgetRef window, int32_t column, int32_t row, float* local_x, float* local_y);
// Widgets of [window] that take the focus (focusable, visible, enabled), in
// rendering order.
std::vector<WidgetRef> focus_chain(WidgetRef window);

// ---------------------------------------------------------------- rendering

// Renders [window]'s widget tree into [screen]: depth first in `pane` order,
// hidden widgets and their children skipped; sets the caret position.
// MAY RUN KIV CODE (the draw step).
void window_render(ScreenBuffer& screen, WidgetRef window);
// The frame step: resizes the grid to the active window (only when
// [gui_mode]; console [columns] x [rows]), clears and renders it, and
// writes the frame with the cursor hidden unless a caret shows. Does
// nothing unless a redraw was requested. MAY RUN KIV CODE.
void screen_redraw(ScreenBuffer& screen, bool gui_mode, int32_t columns, int32_t rows);
// Requests a redraw at the next frame.
void request_redraw();

// ---------------------------------------------------------------- events

// Hands an event to the view layer (system/view/awake) for [ref]'s face and
// returns the handler's answer into [*result] (a stable cell). Set by the
// event loop; with none set, widgets send nothing. MAY RUN KIV CODE.
using WidgetSendFn = void (*)(WidgetRef ref, uint32_t type, const EventRecord& record, Cell* result);
void widgets_set_sender(WidgetSendFn send);

// The kind's event handling for an event of [type] (event type code) with
// [record] (key code, offset): field editing, button Space clicks, check
// and radio toggles, text-list navigation. True when handled. MAY RUN KIV CODE.
bool widget_handle_event(WidgetRef ref, uint32_t type, const EventRecord& record);

// The timer interval of a `rate` value in ms: 0 for none; raises
// invalid-facet-type for a value not above 0 or of another type.
int32_t rate_interval_ms(const Cell* rate);

}  // namespace kiv
