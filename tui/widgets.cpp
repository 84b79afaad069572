// Widgets (widgets.h): the records behind shown faces, their kinds, the
// generic face renderer and the kinds' event handling.
//
// Widgets are kept in a table indexed by their resource entry; the entry's
// generation, stored in the widget's own ref, tells a live widget from a
// stale ref. The faces and UI texts they keep are marked by the widgets'
// mark callback, and every live widget's entry with them, so the
// collector's resource sweep never takes a widget: widgets end only by
// widget_free.
//
// Rendering walks the faces' `pane` blocks (not the widgets' own child
// lists), so it follows the order the faces have now. Each face is read
// through copies of its cells; the draw step and the kinds' updates run Kiv
// code, after which every widget is looked up again by its ref.
#include "tui/widgets.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "console/char_width.h"
#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/context.h"
#include "datatypes/event.h"
#include "datatypes/float.h"
#include "datatypes/handle.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/time.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "platform/terminal_keys.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/gc_root.h"
#include "runtime/resources.h"
#include "runtime/stack.h"
#include "runtime/typesets.h"
#include "tui/draw_hooks.h"

namespace kiv {

TuiDrawHooks& tui_draw_hooks() {
  static TuiDrawHooks hooks;
  return hooks;
}

namespace {

// ---------------------------------------------------------------- words

struct Words {
  int32_t type, offset, size, text, data, flags, visible_q, enabled_q, color, font, para, align, v_align,
      wrap_q, options, hint, image, draw, pane, state, rate, selected, parent, caret, border_corners,
      border_color, round, right, center, middle, bottom, done, tui_helpers, make_progress_ui,
      make_checkbox_ui, make_radio_ui, make_text_list_ui;
  int32_t window, field, button, base, progress, group_box, check, radio, text_list, rich_text;
};

struct FlagWord {
  const char* word;
  uint32_t bit;
};

constexpr FlagWord kFlagWords[] = {
    {"all-over", kFaceFlagAllOver},  {"focusable", kFaceFlagFocusable},  {"resize", kFaceFlagResize},
    {"no-title", kFaceFlagNoTitle},  {"no-border", kFaceFlagNoBorder},   {"no-min", kFaceFlagNoMin},
    {"no-max", kFaceFlagNoMax},      {"no-buttons", kFaceFlagNoButtons}, {"modal", kFaceFlagModal},
    {"popup", kFaceFlagPopup},       {"tri-state", kFaceFlagTriState},   {"scrollable", kFaceFlagScrollable},
    {"password", kFaceFlagPassword}, {"no-sync", kFaceFlagNoSync},       {"fullscreen", kFaceFlagFullscreen},
};
constexpr size_t kFlagWordCount = sizeof kFlagWords / sizeof kFlagWords[0];

Words g_words;
int32_t g_flag_symbols[kFlagWordCount];
bool g_words_ready = false;

// MAY ALLOCATE (the symbols, once).
const Words& words() {
  if (g_words_ready) return g_words;
  Words& w = g_words;
  const struct {
    int32_t* slot;
    const char* name;
  } names[] = {
      {&w.type, "type"},
      {&w.offset, "offset"},
      {&w.size, "size"},
      {&w.text, "text"},
      {&w.data, "data"},
      {&w.flags, "flags"},
      {&w.visible_q, "visible?"},
      {&w.enabled_q, "enabled?"},
      {&w.color, "color"},
      {&w.font, "font"},
      {&w.para, "para"},
      {&w.align, "align"},
      {&w.v_align, "v-align"},
      {&w.wrap_q, "wrap?"},
      {&w.options, "options"},
      {&w.hint, "hint"},
      {&w.image, "image"},
      {&w.draw, "draw"},
      {&w.pane, "pane"},
      {&w.state, "state"},
      {&w.rate, "rate"},
      {&w.selected, "selected"},
      {&w.parent, "parent"},
      {&w.caret, "caret"},
      {&w.border_corners, "border-corners"},
      {&w.border_color, "border-color"},
      {&w.round, "round"},
      {&w.right, "right"},
      {&w.center, "center"},
      {&w.middle, "middle"},
      {&w.bottom, "bottom"},
      {&w.done, "done"},
      {&w.tui_helpers, "TUI-helpers"},
      {&w.make_progress_ui, "make-progress-ui"},
      {&w.make_checkbox_ui, "make-checkbox-ui"},
      {&w.make_radio_ui, "make-radio-ui"},
      {&w.make_text_list_ui, "make-text-list-ui"},
      {&w.window, "window"},
      {&w.field, "field"},
      {&w.button, "button"},
      {&w.base, "base"},
      {&w.progress, "progress"},
      {&w.group_box, "group-box"},
      {&w.check, "check"},
      {&w.radio, "radio"},
      {&w.text_list, "text-list"},
      {&w.rich_text, "rich-text"},
  };
  for (const auto& n : names) *n.slot = symbol_make(n.name);
  for (size_t i = 0; i < kFlagWordCount; i++) g_flag_symbols[i] = symbol_make(kFlagWords[i].word);
  g_words_ready = true;
  return g_words;
}

bool same_symbol(int32_t a, int32_t b) { return symbol_same_name_q(a, b); }

// A cell coordinate or extent of a float, rounded down and kept within
// +-kCellLimit (no terminal is near it), so that sums of them never overflow.
constexpr int32_t kCellLimit = 1000000;
int32_t cells(float v) {
  if (!(v == v)) return 0;
  float f = std::floor(v);
  return f >= float(kCellLimit) ? kCellLimit : f <= -float(kCellLimit) ? -kCellLimit : int32_t(f);
}

// ---------------------------------------------------------------- face access

// A copy of the field [symbol] of the object [face]; none when absent.
Cell field_of(const Cell* face, int32_t symbol) {
  if (!face->is(kTypeObject)) return kNoneCell;
  Node ctx = object_context(face);
  int32_t i = context_find_symbol(ctx, symbol, true);
  if (i < 0) return kNoneCell;
  return *word_get_in(ctx, i);
}

// Stores [value] (a stable cell) in field [symbol] of [face] (a stable
// cell), telling the face's change handler when [fire]. MAY RUN KIV CODE.
void set_field(const Cell* face, int32_t symbol, const Cell* value, bool fire) {
  if (!face->is(kTypeObject)) return;
  Node ctx = object_context(face);
  int32_t i = context_find_symbol(ctx, symbol, true);
  if (i < 0) return;
  Root word(context_node_word_at(ctx, i));
  word_bind(word.get(), ctx, i);
  context_set_in(word.get(), value, ctx, fire);
}

bool word_is(const Cell& cell, int32_t symbol) {
  return kTypesetAnyWord.has(cell.type()) && same_symbol(word_symbol(&cell), symbol);
}

bool true_q(const Cell& cell) { return cell.is(kTypeLogic) && cell.data1 == 1; }

// The cells of a block-like value from its head.
int32_t block_count(const Cell& block) {
  if (!kTypesetAnyList.has(block.type())) return 0;
  int32_t total = int32_t(series_buffer(block.node())->length());
  return std::max(0, total - std::max(0, block.head()));
}
Cell block_item(const Cell& block, int32_t i) {
  if (i < 0 || i >= block_count(block)) return kNoneCell;
  return series_buffer(block.node())->cells()[std::max(0, block.head()) + i];
}

// The value after the word [symbol] in the block [block] (as `select`
// finds a key), none when absent.
Cell select_key(const Cell& block, int32_t symbol) {
  int32_t n = block_count(block);
  for (int32_t i = 0; i + 1 < n; i++) {
    Cell c = block_item(block, i);
    if (word_is(c, symbol)) return block_item(block, i + 1);
  }
  return kNoneCell;
}

// A colour tuple's colour; [fallback] for anything else.
uint32_t color_of_value(const Cell& value, uint32_t fallback) {
  if (!value.is(kTypeTuple) || tuple_length(&value) < 3) return fallback;
  const uint8_t* b = tuple_bytes(&value);
  uint32_t alpha = tuple_length(&value) > 3 ? b[3] : 0;
  return color_of_packed(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | alpha << 24);
}

// The code points of a string! from its head.
std::vector<uint32_t> string_codes(const Cell& str) {
  std::vector<uint32_t> codes;
  if (!kTypesetAnyString.has(str.type())) return codes;
  int32_t n = string_length(&str);
  int32_t head = string_head_index(&str);
  codes.reserve(size_t(n));
  for (int32_t i = 0; i < n; i++) codes.push_back(string_char_at(&str, uint32_t(head + i)));
  return codes;
}

// ---------------------------------------------------------------- the table

std::vector<std::unique_ptr<Widget>> g_widgets;  // by resource entry
uint32_t g_widget_class = 0;
uint32_t g_live = 0;
std::vector<WidgetRef> g_window_refs;
std::vector<WindowRecord> g_window_records;
WidgetRef g_active;
WidgetSendFn g_send = nullptr;

void mark_widgets() {
  for (const auto& w : g_widgets) {
    if (!w) continue;
    gc_mark_resource(w->self.index);
    gc_mark_cell(&w->face);
    gc_mark_cell(&w->ui_text);
  }
}

// Widgets are freed by widget_free alone; a sweep never reaches a marked one.
void release_widget_entry(Node) {}

WindowRecord* record_of(WidgetRef window) {
  for (size_t i = 0; i < g_window_refs.size(); i++)
    if (g_window_refs[i] == window) return &g_window_records[i];
  return nullptr;
}

}  // namespace

void widget_routines_install();  // widget_routines.cpp

void widgets_init() {
  if (g_widget_class != 0) return;
  g_widget_class = register_resource_class("widget", release_widget_entry);
  add_mark_callback(mark_widgets);
  widget_routines_install();
}

Widget* widget_get(WidgetRef ref) {
  if (!ref || ref.index >= g_widgets.size()) return nullptr;
  Widget* w = g_widgets[ref.index].get();
  return w && w->self.generation == ref.generation ? w : nullptr;
}

Cell widget_handle(WidgetRef ref) {
  if (!widget_get(ref)) return kNoneCell;
  return make_cell(kTypeHandle, kHandleWindow, ref.index, ref.generation);
}

WidgetRef widget_of_handle(const Cell* handle) {
  if (!handle->is(kTypeHandle) || handle_kind(handle) != kHandleWindow) return kNoWidget;
  WidgetRef ref{handle_value(handle), handle_generation(handle)};
  return widget_get(ref) ? ref : kNoWidget;
}

WidgetRef widget_of_face(const Cell* face) {
  if (!face->is(kTypeObject)) return kNoWidget;
  Cell state = field_of(face, words().state);
  if (!state.is(kTypeBlock)) return kNoWidget;
  Cell first = block_item(state, 0);
  return widget_of_handle(&first);
}

uint32_t widget_count() { return g_live; }

const std::vector<WidgetRef>& window_list() { return g_window_refs; }
WindowRecord* window_record(WidgetRef window) { return record_of(window); }
WidgetRef active_window() { return widget_get(g_active) ? g_active : kNoWidget; }
void set_active_window(WidgetRef window) { g_active = window; }
void request_redraw() { tui_screen().redraw_needed = true; }
void widgets_set_sender(WidgetSendFn send) { g_send = send; }

// ---------------------------------------------------------------- making

namespace {

// The flag bits of the `flags` facet: a word or a block of words. A word
// outside the table raises invalid-arg.
uint32_t face_flag_bits(const Cell& flags) {
  words();
  uint32_t bits = 0;
  auto one = [&](const Cell& word) {
    if (!kTypesetAnyWord.has(word.type())) return;
    for (size_t i = 0; i < kFlagWordCount; i++)
      if (same_symbol(word_symbol(&word), g_flag_symbols[i])) {
        bits |= kFlagWords[i].bit;
        return;
      }
    Cell arg = word;
    raise_error(kErrScriptInvalidArg, &arg);
  };
  if (kTypesetAnyList.has(flags.type())) {
    for (int32_t i = 0, n = block_count(flags); i < n; i++) one(block_item(flags, i));
  } else {
    one(flags);
  }
  return bits;
}

uint32_t widget_flags_of(uint32_t face_bits) {
  uint32_t flags = 0;
  if (face_bits & kFaceFlagAllOver) flags |= kWidgetAllOver;
  if (face_bits & kFaceFlagFocusable) flags |= kWidgetFocusable;
  if (face_bits & kFaceFlagPassword) flags |= kWidgetPassword;
  if (face_bits & kFaceFlagFullscreen) flags |= kWidgetFullscreen;
  return flags;
}

WidgetKind kind_of(int32_t type) {
  const Words& w = words();
  const struct {
    int32_t symbol;
    WidgetKind kind;
  } kinds[] = {{w.window, WidgetKind::kWindow},      {w.field, WidgetKind::kField},
               {w.button, WidgetKind::kButton},      {w.base, WidgetKind::kBase},
               {w.progress, WidgetKind::kProgress},  {w.group_box, WidgetKind::kGroupBox},
               {w.check, WidgetKind::kCheck},        {w.radio, WidgetKind::kRadio},
               {w.text_list, WidgetKind::kTextList}, {w.rich_text, WidgetKind::kRichText}};
  for (const auto& k : kinds)
    if (same_symbol(type, k.symbol)) return k.kind;
  return WidgetKind::kGeneric;
}

// The widget's flags from the face (kept bits preserved), and its rectangle.
// Raises invalid-arg for a bad flag word. MAY RUN KIV CODE (a pair! offset is
// stored back as a point2D!).
void read_face_geometry(WidgetRef ref, const Cell* face) {
  const Words& w = words();
  uint32_t flags = widget_flags_of(face_flag_bits(field_of(face, w.flags)));
  if (!true_q(field_of(face, w.visible_q))) flags |= kWidgetHidden;
  if (!true_q(field_of(face, w.enabled_q))) flags |= kWidgetDisabled;
  Cell offset = field_of(face, w.offset);
  if (offset.is(kTypePair)) {
    Root point(point2d_cell(float(pair_x(&offset)), float(pair_y(&offset))));
    set_field(face, w.offset, point.get(), false);
    offset = *point;
  }
  Cell size = field_of(face, w.size);
  Widget* widget = widget_get(ref);
  if (!widget) return;
  const uint32_t kept = kWidgetCaret | kWidgetFocused | kWidgetPressedLeft | kWidgetCaretMarker;
  widget->flags = (widget->flags & kept) | flags;
  float x = 0, y = 0, width = 0, height = 0;
  if (offset.is(kTypePoint2D)) {
    x = point_x(&offset);
    y = point_y(&offset);
  }
  if (size.is(kTypePair)) {
    width = float(pair_x(&size));
    height = float(pair_y(&size));
    widget->flags |= kWidgetSizePair;
  } else if (size.is(kTypePoint2D)) {
    width = point_x(&size);
    height = point_y(&size);
  }
  if (!std::isfinite(x)) x = 0;
  if (!std::isfinite(y)) y = 0;
  if (!std::isfinite(width) || width < 0) width = 0;
  if (!std::isfinite(height) || height < 0) height = 0;
  if (widget->kind == WidgetKind::kWindow) x = y = 0;
  widget->x1 = x;
  widget->y1 = y;
  widget->x2 = x + width;
  widget->y2 = y + height;
}

// Half-block cells of the image [image] for [widget]'s size, at [depth].
// Image pixels are 0xAARRGGBB with alpha 255 opaque.
void make_image_cells(Widget* widget, const Cell& image, int32_t depth) {
  widget->image_cells.clear();
  widget->image_width = widget->image_height = 0;
  ImageView view = image_view(&image);
  int32_t width = cells(widget->x2 - widget->x1);
  int32_t height = cells(widget->y2 - widget->y1);
  if (!view.pixels || view.width <= 0 || view.height <= 0 || width <= 0 || height <= 0) return;
  // Cells for no more than a very large terminal.
  width = std::min(width, 1000);
  height = std::min(height, 500);
  widget->image_cells.resize(size_t(width) * height);
  widget->image_width = width;
  widget->image_height = height;
  auto pixel = [&](int32_t px, int32_t py) {
    // Nearest-neighbour sampling of a width x (2 x height) picture.
    int64_t sx = int64_t(px) * view.width / width;
    int64_t sy = int64_t(py) * view.height / (2 * int64_t(height));
    return view.pixels[size_t(sy) * size_t(view.width) + size_t(sx)];
  };
  auto color = [&](uint32_t p) { return color_at_depth((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF, depth); };
  for (int32_t cy = 0; cy < height; cy++)
    for (int32_t cx = 0; cx < width; cx++) {
      uint32_t upper = pixel(cx, 2 * cy);
      uint32_t lower = pixel(cx, 2 * cy + 1);
      ScreenCell& cell = widget->image_cells[size_t(cy) * width + cx];
      if ((upper >> 24) == 0)
        cell = ScreenCell{' ', kColorDefault, kColorDefault, 0};
      else
        cell = ScreenCell{0x2584, color(upper), color(lower), 0};
    }
}

void read_face_image(WidgetRef ref, const Cell* face) {
  Cell image = field_of(face, words().image);
  Widget* widget = widget_get(ref);
  if (!widget) return;
  if (image.is(kTypeImage))
    make_image_cells(widget, image, tui_screen().color_depth);
  else {
    widget->image_cells.clear();
    widget->image_width = widget->image_height = 0;
  }
}

// Calls TUI-helpers/[symbol] with [face] (a stable cell) when the object and
// the function are there; the result goes to [*result] (a stable cell), none
// otherwise. MAY RUN KIV CODE.
void call_helper(int32_t symbol, const Cell* face, Cell* result) {
  *result = kNoneCell;
  Cell* helpers = context_find_value(words().tui_helpers, g_global_context);
  if (!helpers || !helpers->is(kTypeObject)) return;
  Cell fn = field_of(helpers, symbol);
  if (!kTypesetAnyFunction.has(fn.type())) return;
  StackSave save;
  Cell* callee = stack_push();
  *callee = fn;
  Cell* arg = stack_push();
  *arg = *face;
  call_value(callee, arg, 1, result);
}

// Adds [ref]'s rectangle (absolute) to its window's bounding box.
void extend_window_box(WidgetRef ref) {
  Widget* w = widget_get(ref);
  if (!w) return;
  WindowRecord* rec = record_of(w->window);
  if (!rec) return;
  int32_t x = 0, y = 0;
  widget_origin(ref, &x, &y);
  float width = w->x2 - w->x1, height = w->y2 - w->y1;
  rec->x1 = std::min(rec->x1, float(x));
  rec->y1 = std::min(rec->y1, float(y));
  rec->x2 = std::max(rec->x2, float(x) + width);
  rec->y2 = std::max(rec->y2, float(y) + height);
}

}  // namespace

int32_t rate_interval_ms(const Cell* rate) {
  if (rate->is(kTypeNone)) return 0;
  // Rates above 1000 a second tick at every step rather than never.
  if (rate->is(kTypeInteger) && integer_get(rate) > 0) return std::max(1000 / integer_get(rate), 1);
  if (rate->is(kTypeTime) && time_get(rate) > 0) {
    double ms = std::trunc(time_get(rate) * 1000.0);
    return ms >= 2147483647.0 ? 2147483647 : std::max(int32_t(ms), 1);
  }
  Cell arg = *rate;
  raise_error(kErrScriptInvalidFacetType, &arg);
}

WidgetRef widget_make(const Cell* face_in, WidgetRef parent) {
  widgets_init();
  const Words& w = words();
  Root face(*face_in);
  if (!face->is(kTypeObject)) {
    Cell arg = *face;
    raise_error(kErrScriptInvalidArg, &arg);
  }
  // Everything that can raise comes before the widget exists.
  face_flag_bits(field_of(face.get(), w.flags));
  Cell rate = field_of(face.get(), w.rate);
  int32_t timer = rate_interval_ms(&rate);
  Cell type = field_of(face.get(), w.type);
  int32_t type_symbol = kTypesetAnyWord.has(type.type()) ? word_symbol(&type) : 0;

  uint32_t index = register_resource(0, g_widget_class);
  if (g_widgets.size() <= index) g_widgets.resize(index + 1);
  auto widget = std::make_unique<Widget>();
  widget->self = WidgetRef{index, resource_at(index).generation};
  widget->type = type_symbol;
  widget->kind = type_symbol ? kind_of(type_symbol) : WidgetKind::kGeneric;
  widget->face = *face;
  widget->ui_text = kNoneCell;
  widget->timer_ms = timer;
  WidgetRef ref = widget->self;
  Widget* parent_widget = widget_get(parent);
  if (widget->kind == WidgetKind::kWindow || !parent_widget) {
    widget->window = ref;
  } else {
    widget->parent = parent;
    widget->window = parent_widget->window;
    parent_widget->children.push_back(ref);
  }
  if (widget->kind == WidgetKind::kField) widget->flags |= kWidgetCaret;
  g_widgets[index] = std::move(widget);
  g_live++;
  if (g_widgets[index]->window == ref) {
    g_window_refs.push_back(ref);
    g_window_records.push_back(WindowRecord{ref, kNoWidget, 0, 0, 0, 0, 0});
    g_active = ref;
  }
  read_face_geometry(ref, face.get());
  read_face_image(ref, face.get());
  Widget* made = widget_get(ref);
  if (!made) return ref;
  if (made->kind == WidgetKind::kBase) {
    Cell options = field_of(face.get(), w.options);
    if (select_key(options, w.caret).is(kTypeObject)) made->flags |= kWidgetCaretMarker;
  }
  if (made->parent) {
    extend_window_box(ref);
    WindowRecord* rec = record_of(made->window);
    if (rec) {
      if (made->flags & (kWidgetCaret | kWidgetCaretMarker)) rec->caret_count++;
      if ((made->flags & kWidgetFocusable) && !widget_get(rec->focused)) widget_set_focus(made->window, ref);
    }
  } else if (made->kind == WidgetKind::kWindow) {
    if (made->flags & kWidgetFullscreen) tui_screen().full_screen = true;
  }
  widget_update(ref);
  request_redraw();
  return ref;
}

void widget_free(WidgetRef ref) {
  Widget* w = widget_get(ref);
  if (!w) return;
  std::vector<WidgetRef> children = std::move(w->children);
  for (WidgetRef child : children) widget_free(child);
  w = widget_get(ref);
  if (!w) return;
  if (Widget* parent = widget_get(w->parent)) {
    auto& siblings = parent->children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), ref), siblings.end());
  }
  if (WindowRecord* rec = record_of(w->window)) {
    if (rec->focused == ref) rec->focused = kNoWidget;
    if ((w->flags & (kWidgetCaret | kWidgetCaretMarker)) && rec->caret_count > 0 && w->window != ref)
      rec->caret_count--;
  }
  if (w->window == ref) {
    for (size_t i = 0; i < g_window_refs.size(); i++)
      if (g_window_refs[i] == ref) {
        g_window_refs.erase(g_window_refs.begin() + ptrdiff_t(i));
        g_window_records.erase(g_window_records.begin() + ptrdiff_t(i));
        break;
      }
    if (g_active == ref) g_active = g_window_refs.empty() ? kNoWidget : g_window_refs.back();
  }
  uint32_t index = ref.index;
  g_widgets[index].reset();
  g_live--;
  unregister_resource(index, false);
  request_redraw();
}

namespace {

// Removes [face] (a stable cell) from the `parent` block of the object in
// field [sub] of the face, by identity. True when the block is left empty.
// MAY RUN KIV CODE.
bool unlink_from_sub(const Cell* face, int32_t sub) {
  Cell object = field_of(face, sub);
  if (!object.is(kTypeObject)) return false;
  Root holder(object);
  Cell parents = field_of(holder.get(), words().parent);
  if (!kTypesetAnyList.has(parents.type())) return false;
  for (int32_t i = 0, n = block_count(parents); i < n; i++) {
    Cell c = block_item(parents, i);
    if (c.is(kTypeObject) && object_context(&c) == object_context(face)) {
      Cell at = parents;
      at.data1 = uint32_t(std::max(0, parents.head()) + i);
      ActionCall(kActionRemove).arg(at).run();
      break;
    }
  }
  parents = field_of(holder.get(), words().parent);
  if (block_count(parents) != 0) return false;
  return true;
}

}  // namespace

void widget_destroy_face(const Cell* face_in) {
  Root face(*face_in);
  WidgetRef ref = widget_of_face(face.get());
  if (!ref) return;
  const Words& w = words();
  if (Widget* widget = widget_get(ref)) widget->timer_ms = 0;
  if (unlink_from_sub(face.get(), w.font)) {
    Root font(field_of(face.get(), w.font));
    Root none;
    set_field(font.get(), w.state, none.get(), false);
  }
  unlink_from_sub(face.get(), w.para);
  Root pane(field_of(face.get(), w.pane));
  for (int32_t i = 0; i < block_count(*pane); i++) {
    Root child(block_item(*pane, i));
    if (child->is(kTypeObject)) widget_destroy_face(child.get());
  }
  widget_free(ref);
  Root none;
  set_field(face.get(), w.state, none.get(), false);
}

// ---------------------------------------------------------------- update

namespace {

// The rich-text cell array of [widget] from the face's text and color, then
// the style block through the draw back end's hook. MAY RUN KIV CODE.
void rebuild_rich(WidgetRef ref, const Cell* face) {
  const Words& w = words();
  std::vector<RichCell> cells;
  Cell text = field_of(face, w.text);
  uint32_t fg = color_of_value(field_of(face, w.color), kColorDefault);
  for (uint32_t code : string_codes(text)) cells.push_back(RichCell{code, fg, 0});
  Root styles(field_of(face, w.data));
  if (tui_draw_hooks().style_rich_text && kTypesetAnyList.has(styles->type()))
    tui_draw_hooks().style_rich_text(cells, styles.get());
  if (Widget* widget = widget_get(ref)) widget->rich = std::move(cells);
}

}  // namespace

void widget_update(WidgetRef ref) {
  Widget* widget = widget_get(ref);
  if (!widget) return;
  const Words& w = words();
  Root face(widget->face);
  if (widget->parent || widget->kind == WidgetKind::kWindow) {
    read_face_geometry(ref, face.get());
    read_face_image(ref, face.get());
    if (widget_get(ref) && widget_get(ref)->parent) extend_window_box(ref);
  }
  widget = widget_get(ref);
  if (!widget) return;
  // The helpers attach their text through set-face-ui; a string they
  // answer is taken as the UI text too, so the text shows however the
  // helpers reach the widget.
  int32_t helper = 0;
  switch (widget->kind) {
    case WidgetKind::kProgress: helper = w.make_progress_ui; break;
    case WidgetKind::kTextList: helper = w.make_text_list_ui; break;
    case WidgetKind::kCheck: helper = w.make_checkbox_ui; break;
    case WidgetKind::kRadio: helper = w.make_radio_ui; break;
    default: break;
  }
  Root result;
  if (helper) {
    call_helper(helper, face.get(), result.get());
    if (Widget* again = widget_get(ref); again && kTypesetAnyString.has(result->type()))
      again->ui_text = *result;
  }
  widget = widget_get(ref);
  if (widget && widget->kind == WidgetKind::kRichText) rebuild_rich(ref, face.get());
  request_redraw();
}

// ---------------------------------------------------------------- focus, geometry

WidgetRef focused_widget(WidgetRef window) {
  WindowRecord* rec = record_of(window);
  return rec && widget_get(rec->focused) ? rec->focused : kNoWidget;
}

void widget_set_focus(WidgetRef window, WidgetRef target) {
  WindowRecord* rec = record_of(window);
  if (!rec) return;
  if (Widget* old = widget_get(rec->focused)) old->flags &= ~kWidgetFocused;
  rec->focused = widget_get(target) ? target : kNoWidget;
  if (Widget* now = widget_get(rec->focused)) now->flags |= kWidgetFocused;
  request_redraw();
}

bool widget_focused_q(WidgetRef ref) {
  Widget* w = widget_get(ref);
  return w && focused_widget(w->window) == ref;
}

void widget_origin(WidgetRef ref, int32_t* x, int32_t* y) {
  float fx = 0, fy = 0;
  for (Widget* w = widget_get(ref); w && w->parent; w = widget_get(w->parent)) {
    fx += w->x1;
    fy += w->y1;
  }
  *x = cells(fx);
  *y = cells(fy);
}

namespace {

// Calls [visit] for every visible widget below [face]'s in rendering order,
// with its absolute position; [visit] answers false to stop. The faces'
// panes are read again at each step: [visit] may run Kiv code.
template <typename Visit>
bool walk_panes(const Cell* face, int32_t x, int32_t y, Visit& visit) {
  Root pane(field_of(face, words().pane));
  for (int32_t i = 0; i < block_count(*pane); i++) {
    Root child(block_item(*pane, i));
    WidgetRef ref = widget_of_face(child.get());
    Widget* w = widget_get(ref);
    if (!w || (w->flags & kWidgetHidden)) continue;
    int32_t cx = int32_t(std::clamp(int64_t(x) + cells(w->x1), int64_t(-kCellLimit), int64_t(kCellLimit)));
    int32_t cy = int32_t(std::clamp(int64_t(y) + cells(w->y1), int64_t(-kCellLimit), int64_t(kCellLimit)));
    if (!visit(ref, cx, cy)) return false;
    if (!walk_panes(child.get(), cx, cy, visit)) return false;
  }
  return true;
}

ScreenRect widget_rect_at(const Widget* w, int32_t x, int32_t y) {
  return ScreenRect{x, y, x + cells(w->x2 - w->x1), y + cells(w->y2 - w->y1)};
}

}  // namespace

WidgetRef widget_at(WidgetRef window, int32_t column, int32_t row, float* local_x, float* local_y) {
  Widget* win = widget_get(window);
  if (!win) return kNoWidget;
  Root face(win->face);
  WidgetRef found = kNoWidget;
  auto visit = [&](WidgetRef ref, int32_t x, int32_t y) {
    Widget* w = widget_get(ref);
    ScreenRect r = widget_rect_at(w, x, y);
    if (column >= r.left && column < r.right && row >= r.top && row < r.bottom) {
      found = ref;
      if (local_x) *local_x = float(column - x);
      if (local_y) *local_y = float(row - y);
    }
    return true;
  };
  walk_panes(face.get(), 0, 0, visit);
  return found;
}

std::vector<WidgetRef> focus_chain(WidgetRef window) {
  std::vector<WidgetRef> chain;
  Widget* win = widget_get(window);
  if (!win) return chain;
  Root face(win->face);
  auto visit = [&](WidgetRef ref, int32_t, int32_t) {
    Widget* w = widget_get(ref);
    if ((w->flags & kWidgetFocusable) && !(w->flags & kWidgetDisabled)) chain.push_back(ref);
    return true;
  };
  walk_panes(face.get(), 0, 0, visit);
  return chain;
}

// ---------------------------------------------------------------- rendering

namespace {

constexpr uint32_t kRenderAttributeMask = 0xFFF;

uint32_t para_flags(const Cell& para) {
  const Words& w = words();
  if (!para.is(kTypeObject)) return 0;
  uint32_t flags = 0;
  Cell align = field_of(&para, w.align);
  if (word_is(align, w.right)) flags |= kParaRight;
  if (word_is(align, w.center)) flags |= kParaCenter;
  Cell v = field_of(&para, w.v_align);
  if (word_is(v, w.middle)) flags |= kParaMiddle;
  if (word_is(v, w.bottom)) flags |= kParaBottom;
  if (true_q(field_of(&para, w.wrap_q))) flags |= kParaWrap;
  return flags;
}

// The clip of a widget drawn at [x], [y]: its rectangle cut to its parent's
// (unless the parent is the window) and to the grid.
ScreenRect clip_of(ScreenBuffer& screen, WidgetRef ref, int32_t x, int32_t y) {
  Widget* w = widget_get(ref);
  ScreenRect r = widget_rect_at(w, x, y);
  Widget* parent = widget_get(w->parent);
  if (parent && parent->kind != WidgetKind::kWindow && parent->parent) {
    int32_t px = x - cells(w->x1);
    int32_t py = y - cells(w->y1);
    ScreenRect p = widget_rect_at(parent, px, py);
    r = ScreenRect{std::max(r.left, p.left), std::max(r.top, p.top), std::min(r.right, p.right),
                   std::min(r.bottom, p.bottom)};
  }
  ScreenRect g = screen.bounds();
  return ScreenRect{std::max(r.left, g.left), std::max(r.top, g.top), std::min(r.right, g.right),
                    std::min(r.bottom, g.bottom)};
}

// Where a text of [m] goes in a widget of [width] x [height] at [x], [y].
void place(uint32_t para, TextMeasure m, int32_t width, int32_t height, int32_t* x, int32_t* y) {
  if (para & kParaCenter)
    *x += (width - m.width) / 2;
  else if (para & kParaRight)
    *x += width - m.width;
  if (para & kParaMiddle)
    *y += (height - m.lines) / 2;
  else if (para & kParaBottom)
    *y += height - m.lines;
}

// The generic face renderer. MAY RUN KIV CODE (the draw step).
void render_generic(ScreenBuffer& screen, WidgetRef ref, int32_t x, int32_t y, uint32_t render_flags) {
  const Words& w = words();
  Widget* widget = widget_get(ref);
  Root face(widget->face);
  ScreenRect clip = clip_of(screen, ref, x, y);
  if (widget->kind == WidgetKind::kField) clip.bottom = std::min(clip.bottom, y + 1);
  int32_t width = cells(widget->x2 - widget->x1);
  int32_t height = cells(widget->y2 - widget->y1);
  uint32_t background = color_of_value(field_of(face.get(), w.color), kColorDefault);
  Cell font = field_of(face.get(), w.font);
  uint32_t foreground =
      font.is(kTypeObject) ? color_of_value(field_of(&font, w.color), kColorDefault) : kColorDefault;
  uint32_t para = para_flags(field_of(face.get(), w.para));
  screen_fill(screen, clip, background);
  // Image cells, wrapping at the clip edge.
  if (!widget->image_cells.empty()) {
    for (int32_t cy = 0; cy < widget->image_height; cy++)
      for (int32_t cx = 0; cx < widget->image_width; cx++) {
        const ScreenCell& cell = widget->image_cells[size_t(cy) * widget->image_width + cx];
        int32_t px = x + cx, py = y + cy;
        if (px >= clip.left && px < clip.right && py >= clip.top && py < clip.bottom)
          *screen.at(px, py) = cell;
      }
  }
  RenderRecord render;
  render.attributes = render_flags & kRenderAttributeMask;
  render.flags = render_flags & ~kRenderAttributeMask;
  render.para = para;
  render.foreground = foreground;
  if (kTypesetAnyString.has(widget->ui_text.type())) {
    std::vector<uint32_t> ui = string_codes(widget->ui_text);
    screen_write_text(screen, ui.data(), ui.size(), x, y, clip, render);
  }
  if (!(render_flags & kRenderNoText)) {
    int32_t wrap = (para & kParaWrap) ? width : -1;
    if (widget->kind == WidgetKind::kRichText && !widget->rich.empty()) {
      TextMeasure m = text_measure_rich(widget->rich.data(), widget->rich.size(), wrap);
      int32_t tx = x, ty = y;
      place(para, m, width, height, &tx, &ty);
      screen_write_rich(screen, widget->rich.data(), widget->rich.size(), tx, ty, clip, render);
    } else if (widget->kind != WidgetKind::kRichText) {
      Cell text = field_of(face.get(), w.text);
      std::vector<uint32_t> codes = string_codes(text);
      if (codes.empty()) {
        Cell options = field_of(face.get(), w.options);
        Cell hint = kTypesetAnyList.has(options.type()) ? select_key(options, w.hint) : kNoneCell;
        codes = string_codes(hint);
        if (!codes.empty()) render.attributes |= kAttrDim;
      }
      if (!codes.empty()) {
        bool embedded = render.flags & kRenderEmbeddedSgr;
        TextMeasure m = text_measure(codes.data(), codes.size(), wrap, embedded);
        int32_t tx = x, ty = y;
        place(para, m, width, height, &tx, &ty);
        screen_write_text(screen, codes.data(), codes.size(), tx, ty, clip, render);
      }
    }
  }
  Root draw(field_of(face.get(), w.draw));
  if (tui_draw_hooks().draw_block && kTypesetAnyList.has(draw->type()) && block_count(*draw) > 0)
    tui_draw_hooks().draw_block(screen, clip, x, y, draw.get());
}

void render_group_box_border(ScreenBuffer& screen, WidgetRef ref, int32_t x, int32_t y) {
  const Words& w = words();
  Widget* widget = widget_get(ref);
  if (!widget) return;
  Root face(widget->face);
  ScreenRect clip = clip_of(screen, ref, x, y);
  int32_t right = x + cells(widget->x2 - widget->x1) - 1;
  int32_t bottom = y + cells(widget->y2 - widget->y1) - 1;
  if (right < x || bottom < y) return;
  Cell options = field_of(face.get(), w.options);
  bool round = false;
  uint32_t border = kColorDefault;
  if (kTypesetAnyList.has(options.type())) {
    round = word_is(select_key(options, w.border_corners), w.round);
    border = color_of_value(select_key(options, w.border_color), kColorDefault);
  }
  auto put = [&](int32_t px, int32_t py, uint32_t code) {
    screen_put(screen, clip, px, py, code, border, 0, 0);
  };
  // Only the sides' cells inside the clip are visited.
  for (int32_t px = std::max(x + 1, clip.left); px < std::min(right, clip.right); px++) {
    put(px, y, 0x2500);
    put(px, bottom, 0x2500);
  }
  for (int32_t py = std::max(y + 1, clip.top); py < std::min(bottom, clip.bottom); py++) {
    put(x, py, 0x2502);
    put(right, py, 0x2502);
  }
  put(x, y, round ? 0x256D : 0x250C);
  put(right, y, round ? 0x256E : 0x2510);
  put(x, bottom, round ? 0x2570 : 0x2514);
  put(right, bottom, round ? 0x256F : 0x2518);
  Cell text = field_of(face.get(), w.text);
  std::vector<uint32_t> codes = string_codes(text);
  if (codes.empty()) return;
  Cell font = field_of(face.get(), w.font);
  RenderRecord render;
  render.foreground =
      font.is(kTypeObject) ? color_of_value(field_of(&font, w.color), kColorDefault) : kColorDefault;
  ScreenRect top = clip;
  top.bottom = std::min(top.bottom, y + 1);
  screen_write_text(screen, codes.data(), codes.size(), x + 1, y, top, render);
}

// Renders one widget at [x], [y]. MAY RUN KIV CODE.
void render_widget(ScreenBuffer& screen, WidgetRef ref, int32_t x, int32_t y) {
  Widget* w = widget_get(ref);
  if (!w) return;
  bool focused = widget_focused_q(ref);
  switch (w->kind) {
    case WidgetKind::kWindow: return;
    case WidgetKind::kField:
      render_generic(screen, ref, x, y, (w->flags & kWidgetPassword) ? 0x1800 : 0x1000);
      if (focused) {
        if (Widget* again = widget_get(ref)) {
          screen.caret_column = x + again->caret.column;
          screen.caret_row = y;
        }
      }
      return;
    case WidgetKind::kButton:
      render_generic(screen, ref, x, y, kRenderEmbeddedSgr | (focused ? kAttrInverse : 0));
      return;
    case WidgetKind::kBase:
      if (w->flags & kWidgetCaretMarker) {
        Cell options = field_of(&w->face, words().options);
        Cell target = select_key(options, words().caret);
        if (widget_focused_q(widget_of_face(&target))) {
          screen.caret_column = x;
          screen.caret_row = y;
        }
        return;
      }
      render_generic(screen, ref, x, y, kRenderEmbeddedSgr);
      return;
    case WidgetKind::kProgress:
    case WidgetKind::kRichText: render_generic(screen, ref, x, y, 0); return;
    case WidgetKind::kGroupBox:
      render_generic(screen, ref, x, y, kRenderNoText);
      render_group_box_border(screen, ref, x, y);
      return;
    case WidgetKind::kCheck:
    case WidgetKind::kRadio:
      render_generic(screen, ref, x, y, kRenderEmbeddedSgr | kRenderNoText | (focused ? kAttrInverse : 0));
      return;
    case WidgetKind::kTextList:
    case WidgetKind::kGeneric: render_generic(screen, ref, x, y, kRenderEmbeddedSgr); return;
  }
}

// True when the caret shows: the focused widget shows one, or a caret
// marker names it.
bool caret_shown_q(WidgetRef window) {
  Widget* focused = widget_get(focused_widget(window));
  if (!focused) return false;
  if (focused->flags & kWidgetCaret) return true;
  WindowRecord* rec = record_of(window);
  return rec && rec->caret_count > 0;
}

}  // namespace

void window_render(ScreenBuffer& screen, WidgetRef window) {
  screen.caret_column = screen.caret_row = -1;
  Widget* win = widget_get(window);
  if (!win) return;
  Root face(win->face);
  auto visit = [&](WidgetRef ref, int32_t x, int32_t y) {
    render_widget(screen, ref, x, y);
    return true;
  };
  walk_panes(face.get(), 0, 0, visit);
}

void screen_redraw(ScreenBuffer& screen, bool gui_mode, int32_t columns, int32_t rows) {
  if (!screen.redraw_needed) return;
  WidgetRef window = active_window();
  Widget* win = widget_get(window);
  if (!win) return;
  screen.full_screen = win->flags & kWidgetFullscreen;
  if (gui_mode) {
    WindowRecord* rec = record_of(window);
    screen_resize_to(screen, rec->x1, rec->y1, rec->x2, rec->y2, columns, rows);
    if (!screen.full_screen && rows < screen.origin_row + screen.height)
      screen.origin_row = std::max(0, rows - screen.height);
  }
  screen_clear(screen);
  window_render(screen, window);
  bool caret = caret_shown_q(window) && screen.caret_row >= 0;
  if (screen.width <= 0 || screen.height <= 0) {
    screen.redraw_needed = false;
    return;
  }
  if (screen.full_screen && !screen.alternate_entered) screen_alternate(screen, true);
  if (!caret) screen_cursor_visible(screen, false);
  screen_build_frame(screen, caret);
  if (caret) screen_cursor_visible(screen, true);
  screen_flush(screen);
  screen.something_drawn = true;
  screen.redraw_needed = false;
}

// ---------------------------------------------------------------- events

namespace {

// Sends [type] to [ref]'s face; true when the handler answered `done`.
// MAY RUN KIV CODE.
bool send(WidgetRef ref, uint32_t type, const EventRecord& record) {
  if (!g_send || !widget_get(ref)) return false;
  Root result;
  g_send(ref, type, record, result.get());
  return word_is(*result, words().done);
}

EventRecord record_for(WidgetRef ref) {
  EventRecord r;
  if (Widget* w = widget_get(ref)) r.face = w->face;
  return r;
}

// The caret's column for index [index] over [codes].
int32_t column_of(const std::vector<uint32_t>& codes, int32_t index) {
  int32_t column = 0;
  for (int32_t i = 0; i < index && i < int32_t(codes.size()); i++) column += char_width(codes[size_t(i)]);
  return column;
}

int32_t width_of(const std::vector<uint32_t>& codes) { return column_of(codes, int32_t(codes.size())); }

// Field editing. MAY RUN KIV CODE (the text's owner hears of each change).
bool field_event(WidgetRef ref, uint32_t type, const EventRecord& record) {
  const Words& w = words();
  Widget* widget = widget_get(ref);
  Root face(widget->face);
  Root text(field_of(face.get(), w.text));
  if (!text->is(kTypeString)) {
    string_make_at(text.get(), 0);
    set_field(face.get(), w.text, text.get(), true);
    *text = field_of(face.get(), w.text);
    if (!text->is(kTypeString)) return false;
  }
  std::vector<uint32_t> codes = string_codes(*text);
  widget = widget_get(ref);
  if (!widget) return true;
  CaretRecord& caret = widget->caret;
  int32_t length = int32_t(codes.size());
  caret.index = std::clamp(caret.index, 0, length);
  if (type == kEventClick || type == kEventDown) {
    int32_t target = cells(record.x);
    int32_t i = 0, column = 0;
    while (i < length && column + char_width(codes[size_t(i)]) <= target)
      column += char_width(codes[size_t(i++)]);
    caret.index = i;
  } else if (type == kEventKey) {
    int32_t k = record.code;
    if (k == 0 || k == 9 || k == 13) return false;
    if (k == 2 || k == kKeyLeft) {
      if (caret.index > 0) caret.index--;
    } else if (k == 6 || k == kKeyRight) {
      if (caret.index < length) caret.index++;
    } else if (k == 8 || k == 127) {
      if (caret.index > 0) {
        int32_t at = caret.index - 1;
        caret.index = at;
        Cell position = *text;
        position.data1 = uint32_t(string_head_index(text.get()) + at);
        ActionCall(kActionRemove).arg(position).run();
        codes.erase(codes.begin() + at);
      }
    } else if (k >= 32 && k != 127 && k <= 0x10FFFF && !(k >= 0xD800 && k <= 0xDFFF)) {
      int32_t room = cells(widget->x2 - widget->x1);
      if (width_of(codes) + char_width(uint32_t(k)) <= room) {
        int32_t at = caret.index;
        caret.index = at + 1;
        Cell position = *text;
        position.data1 = uint32_t(string_head_index(text.get()) + at);
        ActionCall(kActionInsert).arg(position).arg(char_cell(uint32_t(k))).run();
        codes.insert(codes.begin() + at, uint32_t(k));
      }
    } else if (k != 10) {
      return false;
    }
  } else {
    return false;
  }
  if (Widget* again = widget_get(ref)) {
    again->caret.column = column_of(codes, again->caret.index);
    again->caret.text_width = width_of(codes);
  }
  request_redraw();
  return true;
}

// Check and radio: flip or set `data`, rebuild the UI text, send `change`.
// MAY RUN KIV CODE.
bool toggle_event(WidgetRef ref, uint32_t type, const EventRecord& record) {
  bool key_space = type == kEventKey && record.code == ' ';
  if (!key_space && type != kEventClick) return false;
  Widget* widget = widget_get(ref);
  Root face(widget->face);
  const Words& w = words();
  Root value;
  if (widget->kind == WidgetKind::kRadio) {
    *value = kTrueCell;
  } else {
    Cell data = field_of(face.get(), w.data);
    *value = data.is(kTypeNone) ? kTrueCell : data.is(kTypeLogic) ? logic_cell(data.data1 != 1) : kFalseCell;
  }
  set_field(face.get(), w.data, value.get(), true);
  widget_update(ref);
  request_redraw();
  EventRecord change;
  change.face = *face;
  send(ref, kEventChange, change);
  return true;
}

int32_t list_count(const Cell& data) {
  if (data.is(kTypeBlock) || data.is(kTypeHash)) return block_count(data);
  if (data.is(kTypeMap)) {
    Cell pairs = series_cell(kTypeBlock, map_pairs(&data));
    return block_count(pairs) / 2;
  }
  return 0;
}

// Text-list navigation. MAY RUN KIV CODE.
bool list_event(WidgetRef ref, uint32_t type, const EventRecord& record) {
  const Words& w = words();
  Widget* widget = widget_get(ref);
  Root face(widget->face);
  if (type == kEventFocus || type == kEventUnfocus) {
    widget_update(ref);
    request_redraw();
    return true;
  }
  Cell data = field_of(face.get(), w.data);
  int32_t count = list_count(data);
  Cell selected = field_of(face.get(), w.selected);
  int32_t old = selected.is(kTypeInteger) ? integer_get(&selected) : 0;
  int32_t rows = std::max(1, cells(widget->y2 - widget->y1));
  int32_t next = old;
  int32_t scroll = widget->data;
  if (type == kEventKey) {
    if (record.code == kKeyUp) {
      if (old > 1) next = old - 1;
    } else if (record.code == kKeyDown) {
      if (old < count) next = std::max(old + 1, 1);
    } else {
      return false;
    }
  } else if (type == kEventClick) {
    int32_t picked = scroll + cells(record.y) + 1;
    if (picked < 1 || picked > count) return true;
    next = picked;
  } else {
    return false;
  }
  if (next - 1 < scroll) scroll = next - 1;
  if (next > scroll + rows) scroll = next - rows;
  widget->data = std::max(0, scroll);
  if (next == old) return true;
  EventRecord pick = record;
  pick.face = *face;
  pick.code = next;
  bool done = send(ref, kEventSelect, pick);
  Cell now = field_of(face.get(), w.selected);
  if (!(now.is(kTypeInteger) ? integer_get(&now) == old : old == 0)) return true;
  Root value(integer_cell(next));
  set_field(face.get(), w.selected, value.get(), true);
  widget_update(ref);
  request_redraw();
  if (!done) send(ref, kEventChange, pick);
  return true;
}

}  // namespace

bool widget_handle_event(WidgetRef ref, uint32_t type, const EventRecord& record) {
  Widget* w = widget_get(ref);
  if (!w) return false;
  switch (w->kind) {
    case WidgetKind::kField: return field_event(ref, type, record);
    case WidgetKind::kButton:
      // Space clicks; Enter reaches a button as a click through the view layer.
      if (type == kEventKey && record.code == ' ') {
        EventRecord click = record_for(ref);
        send(ref, kEventClick, click);
        return true;
      }
      return false;
    case WidgetKind::kCheck:
    case WidgetKind::kRadio: return toggle_event(ref, type, record);
    case WidgetKind::kTextList: return list_event(ref, type, record);
    default: return false;
  }
}

}  // namespace kiv
