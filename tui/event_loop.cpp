// The event loop (event_loop.h): loop levels, frames, input to events,
// hover, press, click and focus state, timers, dispatch to the widgets and to
// system/view/awake, the console output hooks and the teardown.
//
// State that names widgets keeps WidgetRefs: any dispatch runs Kiv code that
// may destroy them, so a Widget* is looked up again after every such call.
// The Kiv values kept here (system/view, the teardown's helper function) are
// marked by the loop's mark callback.
#include "tui/event_loop.h"

#include <unistd.h>

#include <algorithm>
#include <exception>
#include <string>
#include <vector>

#include "datatypes/error.h"
#include "datatypes/event.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/point.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "library/library.h"
#include "platform/clock.h"
#include "platform/stdio.h"
#include "platform/terminal_gui.h"
#include "platform/terminal_size.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/gc_root.h"
#include "runtime/stack.h"
#include "services/console_output.h"
#include "tui/screen_buffer.h"

namespace kiv {

namespace {

constexpr int32_t kFrameMs = 33;
constexpr int64_t kDoubleClickMs = 500;

struct LoopState {
  int32_t level = 0;
  bool gui = false;  // GUI mode entered by the running loop
  KeyDecoder decoder;
  int64_t held_since = -1;  // when the bytes held began to wait; -1: none held
  uint32_t buttons = 0;     // bit n: mouse button n held
  WidgetRef hover;
  WidgetRef pressed;
  std::vector<WidgetRef> pressed_list;
  bool double_clicked = false;  // the last click was a double click
  int64_t last_click = -1;      // when the last click was; -1: none
  int32_t last_x = 0, last_y = 0;
  int32_t frame_ms = 0;  // the last frame's duration
  bool input_seen = false;
  Cell view = kNoneCell;    // system/view, found at the first dispatch
  Cell unlink = kNoneCell;  // the teardown's helper function
};

LoopState g;

void mark_loop_values() {
  gc_mark_cell(&g.view);
  gc_mark_cell(&g.unlink);
}

// The console's size; 80x24 when it cannot be read or is 0.
void console_size(int32_t* columns, int32_t* rows) {
  int c = 0, r = 0;
  if (!terminal_size(STDOUT_FILENO, &c, &r) || c <= 0 || r <= 0) {
    c = 80;
    r = 24;
  }
  *columns = c;
  *rows = r;
}

// MAY RUN KIV CODE. Runs [body] inside a catch-all frame: an error is
// printed, any other exit but quitting the process is dropped.
template <class F>
void catch_all(F&& body) {
  CatchPoint point;
  try {
    body();
  } catch (KivThrow& t) {
    if (t.code == kThrowQuiet) throw;
    bool error = t.code == kThrowError;
    Cell raised = error ? raised_error_value() : kNoneCell;
    point.take(0);
    if (error && raised.is(kTypeError)) {
      Root held(raised);
      std::string report = error_report(held.get());
      report += '\n';
      conout_write_cstring(report.c_str());
    }
  }
}

// MAY RUN KIV CODE. system/view, looked up once.
const Cell* view_object() {
  if (!g.view.is(kTypeObject)) {
    StackSave save;
    catch_all([] {
      Cell* view = library_eval_in_library("system/view");
      if (view->is(kTypeObject)) g.view = *view;
    });
  }
  return &g.view;
}

bool disabled_q(WidgetRef ref) {
  Widget* w = widget_get(ref);
  return !w || (w->flags & kWidgetDisabled);
}

// The modifier flags of an event from the decoder's modifier bits.
uint32_t modifier_flags(uint8_t mods) {
  uint32_t flags = 0;
  if (mods & kModShift) flags |= kEventFlagShift;
  if (mods & kModAlt) flags |= kEventFlagAlt;
  if (mods & kModControl) flags |= kEventFlagControl;
  return flags;
}

// MAY RUN KIV CODE. The kind's own handling, then awake: the order of the
// mouse and focus events.
bool dispatch(WidgetRef ref, uint32_t type, const EventRecord& record, uint32_t flags) {
  if (disabled_q(ref)) return false;
  bool handled = widget_handle_event(ref, type, record);
  if (loop_send_awake(ref, type, record, flags)) handled = true;
  return handled;
}

EventRecord record_at(float x, float y, int32_t code = 0) {
  EventRecord r;
  r.face = kNoneCell;
  r.x = x;
  r.y = y;
  r.code = code;
  return r;
}

// The offset of absolute cell [x], [y] inside [ref].
void offset_in(WidgetRef ref, int32_t x, int32_t y, float* lx, float* ly) {
  int32_t ox = 0, oy = 0;
  widget_origin(ref, &ox, &oy);
  *lx = float(x - ox);
  *ly = float(y - oy);
}

// The widget under absolute cell [x], [y] of the active window (the window
// itself when no child is there) and the offset in it.
WidgetRef target_at(int32_t x, int32_t y, float* lx, float* ly) {
  WidgetRef window = active_window();
  if (!window) return kNoWidget;
  WidgetRef hit = widget_at(window, x, y, lx, ly);
  if (hit) return hit;
  *lx = float(x);
  *ly = float(y);
  return window;
}

// ---------------------------------------------------------------- keys

// MAY RUN KIV CODE. A key to the focused widget: key-down, then key, then
// the widget's own key handling, each only when the one before was not
// handled.
void dispatch_key(int32_t key, uint8_t mods) {
  WidgetRef window = active_window();
  if (!window || key == 0) return;
  if (key == 8) key = 127;
  WidgetRef target = focused_widget(window);
  if (!target) target = window;
  if (disabled_q(target)) return;
  uint32_t flags = modifier_flags(mods);
  if (key < 0) flags |= kEventSpecialKey;
  EventRecord record = record_at(0, 0, key);
  if (loop_send_awake(target, kEventKeyDown, record, flags)) return;
  if (!widget_get(target) || loop_send_awake(target, kEventKey, record, flags)) return;
  if (!widget_get(target) || disabled_q(target)) return;
  widget_handle_event(target, kEventKey, record);
}

// ---------------------------------------------------------------- mouse

bool in_pressed_list(WidgetRef ref) {
  return std::find(g.pressed_list.begin(), g.pressed_list.end(), ref) != g.pressed_list.end();
}

// True when [ref] has a live widget that takes the focus.
bool takes_focus_q(WidgetRef ref) {
  Widget* w = widget_get(ref);
  return w && w->children.empty() && (w->flags & (kWidgetFocusable | kWidgetCaret)) &&
         !(w->flags & (kWidgetFocused | kWidgetDisabled | kWidgetHidden));
}

// MAY RUN KIV CODE.
void mouse_button(int n, bool press, int32_t x, int32_t y, uint32_t flags) {
  float lx, ly;
  WidgetRef target = target_at(x, y, &lx, &ly);
  if (!target) return;
  uint32_t down_code = uint32_t(n * 2 + 1);
  if (press) {
    dispatch(target, down_code, record_at(lx, ly), flags);
    if (!in_pressed_list(target)) g.pressed_list.push_back(target);
    g.pressed = target;
    return;
  }
  dispatch(target, down_code + 1, record_at(lx, ly), flags);
  if (n == 0 && in_pressed_list(target) && widget_get(target)) {
    int64_t now = os_monotonic_ms();
    bool dbl = !g.double_clicked && g.last_click >= 0 && now - g.last_click < kDoubleClickMs;
    dispatch(target, kEventClick, record_at(lx, ly), flags);
    if (dbl && widget_get(target)) dispatch(target, kEventDblClick, record_at(lx, ly), flags);
    g.double_clicked = dbl;
    g.last_click = now;
    WidgetRef window = active_window();
    if (window && takes_focus_q(target)) loop_set_focus(window, target);
  }
  WidgetRef left = g.pressed;
  if (left && left != target && widget_get(left)) {
    float px, py;
    offset_in(left, x, y, &px, &py);
    dispatch(left, down_code + 1, record_at(px, py), flags);
  }
  if (Widget* w = widget_get(left)) w->flags &= ~kWidgetPressedLeft;
  g.pressed = kNoWidget;
  g.pressed_list.clear();
}

// True when [a] is an ancestor of [b].
bool ancestor_q(WidgetRef a, WidgetRef b) {
  Widget* w = widget_get(b);
  for (int depth = 0; w && depth < 10000; depth++) {
    if (w->parent == a) return true;
    w = widget_get(w->parent);
  }
  return false;
}

bool siblings_q(WidgetRef a, WidgetRef b) {
  Widget* x = widget_get(a);
  Widget* y = widget_get(b);
  return x && y && x->parent && x->parent == y->parent;
}

// MAY RUN KIV CODE. Motion: over and away as the widget under the pointer
// changes; a drag sends over with the down flag.
void mouse_motion(int32_t x, int32_t y, uint32_t flags, bool drag) {
  float lx, ly;
  WidgetRef target = target_at(x, y, &lx, &ly);
  if (!target) return;
  if (drag) flags |= kEventFlagDown;
  WidgetRef previous = g.hover;
  bool handled = false;
  if (!widget_get(previous)) {
    // The first move: the window hears of it.
    WidgetRef window = active_window();
    g.hover = window;
    handled = dispatch(window, kEventOver, record_at(float(x), float(y)), flags);
  } else if (previous != target) {
    // Over and away pass between a widget and its parent or its siblings.
    if (ancestor_q(target, previous) || siblings_q(target, previous)) {
      float px, py;
      offset_in(previous, g.last_x, g.last_y, &px, &py);
      if (previous == g.pressed) {
        if (Widget* w = widget_get(previous)) w->flags |= kWidgetPressedLeft;
      }
      dispatch(previous, kEventOver, record_at(px, py), flags | kEventFlagAway);
    }
    if (ancestor_q(previous, target) || siblings_q(target, previous)) {
      if (Widget* w = widget_get(target)) w->flags &= ~kWidgetPressedLeft;
      handled = dispatch(target, kEventOver, record_at(lx, ly), flags);
    }
    g.hover = target;
  } else if (Widget* w = widget_get(target); w && (w->flags & kWidgetAllOver)) {
    handled = dispatch(target, kEventOver, record_at(lx, ly), flags);
  }
  WidgetRef pressed = g.pressed;
  if (drag && !handled && pressed && pressed != target) {
    Widget* w = widget_get(pressed);
    if (w && (w->flags & kWidgetAllOver) && (w->flags & kWidgetPressedLeft)) {
      float px, py;
      offset_in(pressed, x, y, &px, &py);
      dispatch(pressed, kEventOver, record_at(px, py), flags);
    }
  }
}

// MAY RUN KIV CODE. One mouse report: button code [b], 1-based [col] and [row].
void mouse_report(int b, int col, int row, bool release, uint8_t mods) {
  int32_t x = col - 1;
  int32_t y = row - tui_screen().origin_row - 1;
  uint32_t flags = modifier_flags(mods);
  int n = (b & 3) | ((b & 0x40) >> 4);
  if (n <= 2) {
    bool was = g.buttons & (1u << n);
    bool motion = b & 32;
    if (motion || was == !release) {
      if (!release) mouse_motion(x, y, flags, true);
    } else {
      if (release)
        g.buttons &= ~(1u << n);
      else
        g.buttons |= 1u << n;
      mouse_button(n, !release, x, y, flags);
    }
  } else if (n == 3) {
    mouse_motion(x, y, flags, g.buttons != 0);
  } else if (n == 4 || n == 5) {
    if (!release) {
      float lx, ly;
      WidgetRef target = target_at(x, y, &lx, &ly);
      EventRecord record = record_at(lx, ly, n == 4 ? 1 : -1);
      record.wheel = n == 4 ? 1.0f : -1.0f;
      if (target) dispatch(target, kEventTypeWheel, record, flags);
    }
  }
  g.last_x = x;
  g.last_y = y;
}

// ---------------------------------------------------------------- frames

// MAY RUN KIV CODE. Decodes what the decoder holds; a sequence's start
// waits unless the escape wait is over.
void interpret_input() {
  int64_t now = os_monotonic_ms();
  bool final = g.held_since >= 0 && now - g.held_since >= kEscapeWaitMs;
  for (;;) {
    TerminalInputEvent in;
    KeyDecoder::Event e = g.decoder.next_input(final, &in);
    if (e == KeyDecoder::Event::kNone) break;
    g.input_seen = true;
    switch (e) {
      case KeyDecoder::Event::kKey: catch_all([&] { dispatch_key(in.key, in.modifiers); }); break;
      case KeyDecoder::Event::kMouse:
        catch_all([&] { mouse_report(in.button, in.col, in.row, in.release, in.modifiers); });
        break;
      case KeyDecoder::Event::kPosition: {
        // Where the drawn area starts; an area that cannot fit below it
        // scrolled the terminal up when it was drawn.
        ScreenBuffer& screen = tui_screen();
        if (screen.full_screen) break;
        int32_t columns, rows;
        console_size(&columns, &rows);
        screen.origin_row = std::max(0, std::min(in.row - 1, rows - screen.height));
        break;
      }
      case KeyDecoder::Event::kNone: break;
    }
  }
  g.held_since = g.decoder.empty() ? -1 : (g.held_since >= 0 ? g.held_since : now);
}

// Reads what the terminal sent; true when bytes came.
bool read_input() {
  if (!terminal_gui_active()) return false;
  size_t n = terminal_gui_read(g.decoder);
  if (n > 0) g.held_since = g.held_since >= 0 ? g.held_since : os_monotonic_ms();
  return n > 0;
}

// Whether the active window asked for the full screen.
bool full_screen_wanted() {
  Widget* w = widget_get(active_window());
  return w && (w->flags & kWidgetFullscreen);
}

// MAY RUN KIV CODE.
void redraw_screen() {
  int32_t columns, rows;
  console_size(&columns, &rows);
  // A full-screen window shown while the loop runs: the alternate screen is
  // entered here, where the exit hook hears of it.
  ScreenBuffer& screen = tui_screen();
  if (terminal_gui_active() && full_screen_wanted() && !terminal_gui_alternate_screen_q()) {
    terminal_gui_alternate_screen(true);
    screen.alternate_entered = true;
    screen.origin_row = 0;
  }
  catch_all([&] { screen_redraw(tui_screen(), terminal_gui_active(), columns, rows); });
}

// MAY RUN KIV CODE. One frame: wait out what is left of the 33 ms (woken by
// input), tick the timers, redraw, then handle what was read. [wait_ms]
// caps the wait.
void frame(int32_t wait_ms) {
  int32_t d = g.frame_ms;
  if (d < kFrameMs + 1) {
    int32_t wait = std::min(kFrameMs - d, wait_ms);
    uint8_t woke = terminal_gui_wait(wait);
    if (woke & kGuiWakeResized) loop_resize_windows();
    d = kFrameMs;
  }
  int64_t start = os_monotonic_ms();
  read_input();
  catch_all([&] { loop_advance_timers(d); });
  redraw_screen();
  interpret_input();
  g.frame_ms = int32_t(os_monotonic_ms() - start);
}

// Switches the terminal into GUI mode for a loop that is not nested.
void enter_gui() {
  if (!terminal_gui_active() && !terminal_gui_enter()) return;
  g.gui = true;
  ScreenBuffer& screen = tui_screen();
  if (full_screen_wanted()) {
    terminal_gui_alternate_screen(true);
    screen.full_screen = true;
    screen.alternate_entered = true;
    screen.origin_row = 0;
  } else {
    static const char kQuery[] = "\x1b[6n";
    (void)fd_write_all(STDOUT_FILENO, kQuery, sizeof kQuery - 1);
  }
  // Mouse reporting follows system/view/platform/mouse-event?: anything but
  // false or none turns it on.
  bool mouse = true;
  StackSave save;
  catch_all([&] {
    Cell* flag = library_eval_in_library(":system/view/platform/mouse-event?");
    mouse = !(flag->is(kTypeNone) || (flag->is(kTypeLogic) && !logic_get(flag)));
  });
  terminal_gui_mouse(mouse);
}

// MAY RUN KIV CODE. The end of a loop that is not nested: the cursor below
// the drawn area, the terminal back, every window's widgets destroyed and
// the windows taken out of their screens without notice.
void teardown() {
  ScreenBuffer& screen = tui_screen();
  if (terminal_gui_active() && !screen.full_screen && screen.something_drawn) {
    std::string out;
    if (screen.caret_row >= 0 && screen.height - 1 - screen.caret_row > 0)
      out += "\x1b[" + std::to_string(screen.height - 1 - screen.caret_row) + "B";
    out += "\r\n";
    (void)fd_write_all(STDOUT_FILENO, out.data(), out.size());
  }
  if (g.gui) {
    terminal_gui_discard();
    terminal_gui_leave();
  }
  g.gui = false;
  std::vector<WidgetRef> windows = window_list();
  for (WidgetRef ref : windows) {
    Widget* w = widget_get(ref);
    if (!w) continue;
    StackSave save;
    Cell* face = stack_push_value(w->face);
    widget_destroy_face(face);
    catch_all([&] {
      if (!g.unlink.is(kTypeFunction)) {
        Cell* fn = library_eval_in_library(
            "func [win /local pos][if all [object? win/parent block? win/parent/pane pos: find/same head "
            "win/parent/pane win][remove pos]]");
        g.unlink = *fn;
      }
      Cell* fn = stack_push_value(g.unlink);
      Cell* result = stack_push_value(kNoneCell);
      call_value(fn, face, 1, result);
    });
  }
  screen_reset(screen);
  loop_reset_state();
}

}  // namespace

// ---------------------------------------------------------------- interface

namespace {

// MAY RUN KIV CODE. loop_send_awake, the handler's answer also written into
// [*answer] (a stable cell) when given.
bool send_awake(WidgetRef ref, uint32_t type, const EventRecord& record, uint32_t flags, Cell* answer) {
  Widget* w = widget_get(ref);
  if (!w || !w->face.is(kTypeObject)) return false;
  EventRecord r = record;
  r.face = w->face;
  const Cell* view = view_object();
  if (!view->is(kTypeObject)) return false;
  bool handled = false;
  StackSave save;
  uint32_t id = event_record_open(r);
  struct Closer {
    uint32_t id;
    ~Closer() { event_record_close(id); }
  } closer{id};
  Cell* event = stack_push_value(event_backend_cell(type, id, flags));
  Cell* result = stack_push_value(kNoneCell);
  catch_all([&] {
    Root awake_word(load_word("awake"));
    const Cell* awake = object_field_by_word(view, awake_word.get());
    if (!awake || !awake->is(kTypeFunction)) return;
    Cell* fn = stack_push_value(*awake);
    call_value(fn, event, 1, result);
    if (result->is(kTypeWord)) {
      Root done(load_word("done"));
      handled = symbol_same_name_q(word_symbol(result), word_symbol(done.get()));
    }
  });
  if (answer) *answer = *result;
  return handled;
}

}  // namespace

bool loop_send_awake(WidgetRef ref, uint32_t type, const EventRecord& record, uint32_t flags) {
  return send_awake(ref, type, record, flags, nullptr);
}

void loop_set_focus(WidgetRef window, WidgetRef target) {
  WidgetRef old = focused_widget(window);
  if (old == target) return;
  widget_set_focus(window, target);
  if (widget_get(old)) loop_send_awake(old, kEventUnfocus, record_at(0, 0), 0);
  if (widget_get(target)) dispatch(target, kEventFocus, record_at(0, 0), 0);
}

void loop_resize_windows() {
  int32_t columns, rows;
  console_size(&columns, &rows);
  {
    StackSave save;
    catch_all([] {
      library_eval_in_library(
          "if all [block? system/view/screens object? system/view/screens/1] [system/view/screens/1/size: "
          "system/view/platform/get-screen-size 0]");
    });
  }
  std::vector<WidgetRef> windows = window_list();
  for (WidgetRef ref : windows)
    if (widget_get(ref)) loop_send_awake(ref, kEventResize, record_at(float(columns), float(rows)), 0);
  request_redraw();
  if (tui_screen().full_screen) redraw_screen();
}

namespace {

// True when a widget of a shown window has a running timer.
bool timer_running_q() {
  std::vector<WidgetRef> todo = window_list();
  while (!todo.empty()) {
    Widget* w = widget_get(todo.back());
    todo.pop_back();
    if (!w) continue;
    if (w->timer_ms > 0) return true;
    todo.insert(todo.end(), w->children.begin(), w->children.end());
  }
  return false;
}

}  // namespace

void loop_advance_timers(int32_t ms) {
  std::vector<WidgetRef> due;
  std::vector<WidgetRef> todo = window_list();
  while (!todo.empty()) {
    WidgetRef ref = todo.back();
    todo.pop_back();
    Widget* w = widget_get(ref);
    if (!w) continue;
    todo.insert(todo.end(), w->children.begin(), w->children.end());
    if (w->timer_ms <= 0) continue;
    w->timer_due += ms;
    if (w->timer_due >= w->timer_ms) {
      w->timer_due = 0;
      due.push_back(ref);
    }
  }
  // A tick may remove its own widget or others: each is looked up again.
  for (WidgetRef ref : due)
    if (widget_get(ref)) loop_send_awake(ref, kEventTime, record_at(0, 0), 0);
}

void loop_feed(const uint8_t* bytes, size_t n, bool final) {
  g.decoder.feed(bytes, n);
  if (final) g.held_since = os_monotonic_ms() - kEscapeWaitMs;
  interpret_input();
}

bool loop_run(bool poll) {
  bool nested = poll || g.level > 0;
  int32_t start_level = g.level;
  if (!poll) g.level++;
  g.input_seen = false;
  if (!nested) enter_gui();
  if (nested && !poll) {
    g.decoder.clear();
    g.held_since = -1;
  }
  // However the run ends (an exit of the process passes through here too),
  // the terminal is put back and the windows torn down.
  struct Ending {
    bool nested;
    bool poll;
    int32_t start_level;
    ~Ending() {
      if (std::uncaught_exceptions() > 0) {
        // Something ends the process or passes out of every view: the
        // terminal is put back, and no Kiv code runs while it goes.
        if (!poll) g.level = start_level;
        if (!nested) {
          terminal_gui_leave();
          g.gui = false;
          screen_reset(tui_screen());
        }
        return;
      }
      if (nested) {
        if (!poll) {
          terminal_gui_discard();
          g.decoder.clear();
          g.held_since = -1;
        }
        return;
      }
      try {
        teardown();
      } catch (...) {
        terminal_gui_leave();
        loop_reset_state();
      }
    }
  } ending{nested, poll, start_level};
  for (;;) {
    if (poll) {
      bool got = read_input();
      if (!got && g.decoder.empty()) break;
      redraw_screen();
      interpret_input();
      break;
    }
    // A run with no window left, or without a terminal and with no timer to
    // run an actor, would wait for an exit nothing can send.
    if (window_list().empty() || (!terminal_gui_active() && !timer_running_q())) g.level = start_level;
    if (g.level <= start_level) break;
    frame(kFrameMs);
    if (g.level <= start_level) break;
  }
  return g.input_seen;
}

void loop_exit() {
  if (g.level > 0) g.level--;
}

int32_t loop_level() { return g.level; }

bool loop_wait(int64_t ms) {
  if (!terminal_gui_active()) return false;
  int64_t deadline = os_monotonic_ms() + ms;
  for (;;) {
    int64_t left = deadline - os_monotonic_ms();
    if (left <= 0) break;
    g.frame_ms = 0;
    frame(int32_t(std::min<int64_t>(left, kFrameMs)));
  }
  return true;
}

void loop_before_print() {
  if (!terminal_gui_active()) return;
  ScreenBuffer& screen = tui_screen();
  if (screen.full_screen) return;
  screen_erase_before_print(screen);
  screen_flush(screen);
}

void loop_after_print() {
  if (!terminal_gui_active()) return;
  request_redraw();
  // The text may have scrolled the terminal: the answer places the area again.
  if (!tui_screen().full_screen) {
    static const char kQuery[] = "\x1b[6n";
    (void)fd_write_all(STDOUT_FILENO, kQuery, sizeof kQuery - 1);
  }
}

void loop_reset_state() {
  KeyDecoder empty;
  g.decoder = empty;
  g.held_since = -1;
  g.buttons = 0;
  g.hover = kNoWidget;
  g.pressed = kNoWidget;
  g.pressed_list.clear();
  g.double_clicked = false;
  g.last_click = -1;
  g.frame_ms = 0;
  g.level = 0;
}

void event_loop_init() {
  add_mark_callback(mark_loop_values);
  widgets_set_sender([](WidgetRef ref, uint32_t type, const EventRecord& record, Cell* result) {
    *result = kNoneCell;
    send_awake(ref, type, record, 0, result);
  });
  conout_set_print_hooks(loop_before_print, loop_after_print);
}

}  // namespace kiv
