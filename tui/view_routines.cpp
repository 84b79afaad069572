// The routines of system/view/platform that reach the text-mode back end:
// making, updating and destroying widgets, showing windows, redraws, the
// event loop, the requesters and the back end's initialiser; with the
// face-to-image hook and the wait hook the core calls.
//
// Every face is read through its object fields again after any call that
// can run Kiv code: an actor may change or remove it meanwhile.
#include "tui/view_routines.h"

#include <algorithm>
#include <cstdlib>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/handle.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "library/library.h"
#include "library/routine_args.h"
#include "library/routines.h"
#include "runtime/errors.h"
#include "runtime/gc_root.h"
#include "runtime/stack.h"
#include "tui/event_loop.h"
#include "tui/screen_buffer.h"
#include "tui/widgets.h"

namespace kiv {

namespace {

// Change bits of a face's `state` block (its second cell).
constexpr uint32_t kChangeOffset = 0x2;
constexpr uint32_t kChangeSize = 0x4;
constexpr uint32_t kChangeImage = 0x10;
constexpr uint32_t kChangeEnabled = 0x100;
constexpr uint32_t kChangeVisible = 0x200;
constexpr uint32_t kChangeSelected = 0x400;
constexpr uint32_t kChangeFlags = 0x800;
constexpr uint32_t kChangeRate = 0x10000;

// MAY ALLOCATE. The field [name] of [object], copied (none when absent).
Cell field(const Cell* object, const char* name) {
  Root word(load_word(name));
  const Cell* value = object_field_by_word(object, word.get());
  return value ? *value : kNoneCell;
}

// MAY ALLOCATE. Sets the field [name] of [object] without notice.
void set_field_quietly(const Cell* object, const char* name, const Cell& value) {
  Root word(load_word(name));
  int32_t i = object_field_index(object, word.get());
  if (i >= 0) object_get_values(object)[i] = value;
}

// MAY ALLOCATE. True when [value] is the word [name].
bool word_is(const Cell& value, const char* name) {
  if (!value.is(kTypeWord) && !value.is(kTypeLitWord)) return false;
  int32_t symbol = word_symbol(&value);
  Cell wanted = load_word(name);
  return symbol_same_name_q(symbol, word_symbol(&wanted));
}

// MAY ALLOCATE. True when the flags facet [flags] (a word or a block of
// words) holds [name].
bool has_flag(const Cell& flags, const char* name) {
  if (flags.is(kTypeWord)) return word_is(flags, name);
  if (!flags.is(kTypeBlock)) return false;
  Root held(flags);
  int32_t total = block_total_length(held.get());
  for (int32_t i = 0; i < total; i++) {
    Cell item = *block_ks_abs_at(held.get(), i);
    if (word_is(item, name)) return true;
  }
  return false;
}

// The change flags of [face] (the integer in its `state` block's second
// cell), 0 when there are none.
uint32_t change_flags(const Cell& state) {
  if (!state.is(kTypeBlock) || block_total_length(&state) < 2) return 0;
  const Cell* flags = block_ks_abs_at(&state, 1);
  return flags->is(kTypeInteger) ? uint32_t(integer_get(flags)) : 0;
}

void clear_change_flags(const Cell& state) {
  if (!state.is(kTypeBlock) || block_total_length(&state) < 2) return;
  *block_ks_abs_at(&state, 1) = integer_cell(0);
}

// The x and y of a pair! or point2D! [value]; false for anything else.
bool planar_of(const Cell& value, float* x, float* y) {
  if (value.is(kTypePair)) {
    *x = float(pair_x(&value));
    *y = float(pair_y(&value));
    return true;
  }
  if (value.is(kTypePoint2D)) {
    *x = point_x(&value);
    *y = point_y(&value);
    return true;
  }
  return false;
}

// MAY ALLOCATE. system/view/auto-sync? set to [value]; the one it had.
Cell set_auto_sync(const Cell& value) {
  StackSave save;
  Cell* view = library_eval_in_library("system/view");
  if (!view->is(kTypeObject)) return kNoneCell;
  Cell held = *view;
  Cell old = field(&held, "auto-sync?");
  set_field_quietly(&held, "auto-sync?", value);
  return old;
}

// MAY RUN KIV CODE. Applies the change flags of [face] (a stable cell) to
// its widget, runs the kind's update with auto-sync? off, requests a redraw
// and clears the flags. A face without a live widget (a rich-text face never
// shown) only has its flags cleared.
void os_update_view(const Cell* face) {
  WidgetRef ref = widget_of_face(face);
  Cell state = field(face, "state");
  if (!widget_get(ref)) {
    clear_change_flags(state);
    return;
  }
  uint32_t changes = change_flags(state);
  Root rate(field(face, "rate"));
  if (changes & kChangeRate) {
    int32_t interval = rate_interval_ms(rate.get());  // may raise
    if (Widget* w = widget_get(ref)) {
      w->timer_ms = interval;
      w->timer_due = 0;
    }
  }
  Cell offset = field(face, "offset");
  Cell size = field(face, "size");
  Cell enabled = field(face, "enabled?");
  Cell visible = field(face, "visible?");
  Root flags(field(face, "flags"));
  bool all_over = has_flag(*flags.get(), "all-over");
  bool password = has_flag(*flags.get(), "password");
  Root selected(field(face, "selected"));
  Widget* w = widget_get(ref);
  if (!w) return;
  float x, y;
  if ((changes & kChangeOffset) && w->kind != WidgetKind::kWindow && planar_of(offset, &x, &y)) {
    float width = w->x2 - w->x1, height = w->y2 - w->y1;
    w->x1 = x;
    w->y1 = y;
    w->x2 = x + width;
    w->y2 = y + height;
  }
  if ((changes & kChangeSize) && planar_of(size, &x, &y)) {
    w->x2 = w->x1 + x;
    w->y2 = w->y1 + y;
    if (w->kind == WidgetKind::kWindow) {
      if (WindowRecord* record = window_record(ref)) {
        record->x2 = std::max(record->x2, record->x1 + x);
        record->y2 = std::max(record->y2, record->y1 + y);
      }
    }
  }
  if (changes & kChangeEnabled) {
    if (enabled.is(kTypeLogic) && logic_get(&enabled))
      w->flags &= ~kWidgetDisabled;
    else
      w->flags |= kWidgetDisabled;
  }
  if (changes & kChangeVisible) {
    if (visible.is(kTypeLogic) && logic_get(&visible))
      w->flags &= ~kWidgetHidden;
    else
      w->flags |= kWidgetHidden;
  }
  if (changes & kChangeFlags) {
    w->flags = all_over ? w->flags | kWidgetAllOver : w->flags & ~kWidgetAllOver;
    w->flags = password ? w->flags | kWidgetPassword : w->flags & ~kWidgetPassword;
  }
  bool window = w->kind == WidgetKind::kWindow;
  if ((changes & kChangeSelected) && window) {
    WidgetRef target = selected.get()->is(kTypeObject) ? widget_of_face(selected.get()) : kNoWidget;
    loop_set_focus(ref, target ? target : ref);
  }
  (void)kChangeImage;  // the image cells are rebuilt by the kind's update
  {
    Root sync(set_auto_sync(kFalseCell));
    struct Restore {
      Root& sync;
      ~Restore() {
        if (sync.get()->is(kTypeLogic)) set_auto_sync(*sync.get());
      }
    } restore{sync};
    widget_update(ref);
  }
  request_redraw();
  clear_change_flags(field(face, "state"));
}

// MAY RUN KIV CODE. update-view of each object of [faces] (a stable cell)
// whose `state` is a block.
void update_block(const Cell* faces) {
  int32_t total = block_total_length(faces);
  int32_t head = std::max(0, faces->head());
  for (int32_t i = head; i < total; i++) {
    Cell item = *block_ks_abs_at(faces, i);
    if (!item.is(kTypeObject)) {
      Cell type = datatype_cell(item.type());
      raise_error(kErrScriptInvalidType, &type);
    }
  }
  for (int32_t i = head; i < block_total_length(faces); i++) {
    Root item(*block_ks_abs_at(faces, i));
    if (field(item.get(), "state").is(kTypeBlock)) os_update_view(item.get());
  }
}

// MAY RUN KIV CODE. Calls TUI-helpers/[name] with [argc] values [args];
// none when the helper is not there.
Status call_helper(const char* name, const Cell* args, int argc) {
  StackSave save;
  std::string path = std::string(":TUI-helpers/") + name;
  Cell* found =
      library_eval_in_library("all [object? :TUI-helpers in TUI-helpers '" + std::string(name) + "]");
  if (!truthy(found)) return native_result(kNoneCell);
  Cell* fn = library_eval_in_library(path);
  Cell result = kNoneCell;
  {
    Cell* pushed = stack_push();
    for (int i = 0; i < argc; i++) *stack_push() = args[i];
    call_value(fn, pushed + 1, argc, pushed);
    result = *pushed;
  }
  return native_result(result);
}

}  // namespace

KIV_ROUTINE(MakeView) {
  WidgetRef parent = widget_of_handle(a.parent);
  WidgetRef made = widget_make(a.face, parent);
  return native_result(widget_handle(made));
}

KIV_ROUTINE(UpdateView) {
  Cell face = *a.face;
  if (face.is(kTypeBlock)) {
    update_block(a.face);
  } else if (face.is(kTypeObject)) {
    if (!word_is(field(a.face, "type"), "screen")) os_update_view(a.face);
  } else {
    Cell type = datatype_cell(face.type());
    raise_error(kErrScriptInvalidType, &type);
  }
  return native_result(kNoneCell);
}

KIV_ROUTINE(OnChangeFacet) {
  Cell word = *a.word;
  Root owner(*a.owner);
  if (word_is(word, "pane")) {
    os_update_view(owner.get());
    return native_result(kNoneCell);
  }
  if (word_is(word, "data")) {
    WidgetRef ref = widget_of_face(owner.get());
    if (!ref) return native_result(kNoneCell);
    Cell type = field(owner.get(), "type");
    int32_t index = integer_get(a.index);
    int32_t part = integer_get(a.part);
    if (word_is(type, "text-list")) {
      Cell data = field(owner.get(), "data");
      if (!data.is(kTypeBlock)) return native_result(kNoneCell);
      Cell action = *a.action;
      if (word_is(action, "remove") || word_is(action, "take") || word_is(action, "clear") ||
          word_is(action, "move")) {
        int32_t length = std::max(0, block_total_length(&data) - std::max(0, data.head()));
        if (Widget* w = widget_get(ref)) {
          w->data = std::min(w->data, index);
          if (index == 0 && part >= length) w->data = 0;
        }
        Cell selected = field(owner.get(), "selected");
        if (selected.is(kTypeInteger)) {
          int32_t kept = std::min(integer_get(&selected), std::max(0, length - part));
          set_field_quietly(owner.get(), "selected", integer_cell(kept));
        }
      }
    } else if ((word_is(type, "drop-list") || word_is(type, "drop-down")) && part == 0) {
      return native_result(kNoneCell);
    }
  }
  os_update_view(owner.get());
  return native_result(kNoneCell);
}

KIV_ROUTINE(DestroyView) {
  WidgetRef ref = widget_of_face(a.face);
  Widget* w = widget_get(ref);
  if (!w) return native_result(kNoneCell);
  bool window = w->kind == WidgetKind::kWindow;
  widget_destroy_face(a.face);
  // Only a window ends a loop level: an actor removing a button keeps the
  // view running.
  if (window) {
    loop_exit();
    // The last window left is the one drawn now.
    const std::vector<WidgetRef>& windows = window_list();
    if (!windows.empty()) {
      if (!widget_get(active_window())) set_active_window(windows.back());
      request_redraw();
    }
  }
  return native_result(kNoneCell);
}

KIV_ROUTINE(ShowWindow) {
  WidgetRef ref = widget_of_handle(a.id);
  Widget* w = widget_get(ref);
  if (!w || w->kind != WidgetKind::kWindow) return native_result(kNoneCell);
  set_active_window(ref);
  WidgetRef focus = focused_widget(ref);
  loop_set_focus(ref, widget_get(focus) ? focus : ref);
  request_redraw();
  return native_result(kNoneCell);
}

namespace {

// A redraw when [ref] belongs to the active window.
void redraw_if_active(WidgetRef ref) {
  Widget* w = widget_get(ref);
  if (w && w->window == active_window()) request_redraw();
}

}  // namespace

KIV_ROUTINE(RefreshWindow) {
  redraw_if_active(widget_of_handle(a.h));
  return native_result(kNoneCell);
}

KIV_ROUTINE(Redraw) {
  redraw_if_active(widget_of_face(a.face));
  return native_result(kNoneCell);
}

KIV_ROUTINE(DoEventLoop) { return native_result(logic_cell(loop_run(truthy(a.no_wait_q)))); }

KIV_ROUTINE(ExitEventLoop) {
  loop_exit();
  return native_result(kNoneCell);
}

// The requesters of the text-mode back end ask nothing of a title or a
// filter: they go to the TUI helpers' own with those as none.
KIV_ROUTINE(RequestFile) {
  Cell args[5] = {kNoneCell, *a.name, kNoneCell, *a.save_q, *a.multi_q};
  return call_helper("request-file", args, 5);
}

KIV_ROUTINE(RequestDir) {
  Cell args[5] = {kNoneCell, kNoneCell, kNoneCell, *a.keep_q, *a.multi_q};
  return call_helper("request-dir", args, 5);
}

KIV_ROUTINE(InitBackEnd) {
  ScreenBuffer& screen = tui_screen();
  screen.color_depth = color_depth_of(std::getenv("COLORTERM"), std::getenv("TERM"));
  {
    StackSave save;
    Cell* depth = library_eval_in_library(
        "if all [object? :TUI-helpers in TUI-helpers 'check-color-support] "
        "[TUI-helpers/check-color-support]");
    if (depth->is(kTypeInteger)) screen.color_depth = integer_get(depth);
  }
  {
    StackSave save;
    Cell* platform = library_eval_in_library("system/view/platform");
    if (platform->is(kTypeObject)) {
      Cell held = *platform;  // the tuple 10.10.10 is set by its Kiv half
      set_field_quietly(&held, "build", integer_cell(1000));
      set_field_quietly(&held, "product", integer_cell(0));
    }
  }
  return native_result(kNoneCell);
}

// The back end renders no image of a face; any other object is no face.
int tui_face_to_image(const Cell* value, Cell* out) {
  (void)out;
  Root held(*value);
  for (const char* name : {"type", "offset", "size", "pane", "state"}) {
    Root word(load_word(name));
    if (object_field_index(held.get(), word.get()) < 0) return -1;
  }
  return 0;
}

bool tui_view_wait(int64_t ms) { return loop_wait(ms); }

void view_routines_init() {
  event_loop_init();
  KIV_ROUTINE_INSTALL(MakeView);
  KIV_ROUTINE_INSTALL(UpdateView);
  KIV_ROUTINE_INSTALL(OnChangeFacet);
  KIV_ROUTINE_INSTALL(DestroyView);
  KIV_ROUTINE_INSTALL(ShowWindow);
  KIV_ROUTINE_INSTALL(RefreshWindow);
  KIV_ROUTINE_INSTALL(Redraw);
  KIV_ROUTINE_INSTALL(DoEventLoop);
  KIV_ROUTINE_INSTALL(ExitEventLoop);
  KIV_ROUTINE_INSTALL(RequestFile);
  KIV_ROUTINE_INSTALL(RequestDir);
  KIV_ROUTINE_INSTALL(InitBackEnd);
}

}  // namespace kiv
