// The DRAW interpreter (tui/draw/draw_dialect.h).
//
// A cursor walks one command block: the block value, held in a Root, and the
// absolute index of the next value. Values are copied out of the block before
// anything that can allocate or run Kiv code (set-words, an object's change
// handler behind them), and the block's length is read again at each step,
// since such code may change the block being drawn.
#include "tui/draw/draw_dialect.h"

#include <string>
#include <unordered_map>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/float.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "runtime/cycle.h"
#include "runtime/errors.h"
#include "runtime/exits.h"
#include "runtime/gc_root.h"
#include "runtime/numbers.h"
#include "runtime/stack.h"
#include "services/console_output.h"

namespace kiv {

namespace {

// The keywords of DRAW, SHAPE, the pen specifications and the rich-text styles.
// clang-format off
#define KIV_DRAW_WORDS(X)                                                                               \
  X(Pen, "pen") X(FillPen, "fill-pen") X(Line, "line") X(LineWidth, "line-width")                     \
  X(LineJoin, "line-join") X(LineCap, "line-cap") X(LinePattern, "line-pattern") X(Box, "box")        \
  X(Triangle, "triangle") X(Polygon, "polygon") X(Circle, "circle") X(Ellipse, "ellipse")             \
  X(AntiAlias, "anti-alias") X(Font, "font") X(Text, "text") X(Arc, "arc") X(Curve, "curve")          \
  X(Spline, "spline") X(Image, "image") X(Shadow, "shadow") X(Clip, "clip") X(Shape, "shape")         \
  X(Rotate, "rotate") X(Scale, "scale") X(Translate, "translate") X(Skew, "skew")                     \
  X(Transform, "transform") X(Push, "push") X(Matrix, "matrix") X(ResetMatrix, "reset-matrix")        \
  X(InvertMatrix, "invert-matrix")                                                                    \
  X(Off, "off") X(Closed, "closed") X(Border, "border") X(Crop, "crop") X(Inset, "inset")             \
  X(Linear, "linear") X(Radial, "radial") X(Diamond, "diamond") X(Pattern, "pattern")                 \
  X(Bitmap, "bitmap") X(Pad, "pad") X(Repeat, "repeat") X(Reflect, "reflect") X(Tile, "tile")         \
  X(FlipX, "flip-x") X(FlipY, "flip-y") X(FlipXY, "flip-xy") X(Clamp, "clamp")                        \
  X(Replace, "replace") X(Intersect, "intersect") X(Union, "union") X(Xor, "xor")                     \
  X(Exclude, "exclude")                                                                               \
  X(Move, "move") X(Hline, "hline") X(Vline, "vline") X(Curv, "curv") X(Qcurve, "qcurve")             \
  X(Qcurv, "qcurv") X(Close, "close") X(Sweep, "sweep") X(Large, "large")                             \
  X(Backdrop, "backdrop") X(Bold, "bold") X(Italic, "italic") X(Underline, "underline")               \
  X(Strike, "strike") X(Color, "color")
// clang-format on

enum DrawWord : int32_t {
  kNotKeyword = 0,
#define KIV_DRAW_WORD_ENUM(ident, text) kDraw##ident,
  KIV_DRAW_WORDS(KIV_DRAW_WORD_ENUM)
#undef KIV_DRAW_WORD_ENUM
      kDrawWordCount
};

// The first keyword that starts a DRAW command; those before kDrawOff are commands.
constexpr DrawWord kFirstArgumentWord = kDrawOff;

std::unordered_map<int32_t, DrawWord> g_keywords;  // resolved symbol -> keyword
int32_t g_color_symbol = 0;
int32_t g_text_symbol = 0;
int32_t g_system_symbol = 0;
int32_t g_view_symbol = 0;
int32_t g_silent_symbol = 0;

DrawWord keyword_of(const Cell& value) {
  if (!value.is(kTypeWord) && !value.is(kTypeLitWord)) return kNotKeyword;
  auto found = g_keywords.find(symbol_resolve(word_symbol(&value)));
  return found == g_keywords.end() ? kNotKeyword : found->second;
}

// The value of the word [word], or none! when it has none (unbound, absent).
Cell word_value_or_none(const Cell& word) {
  if (word_context(&word) == 0) return Cell{kTypeNone, 0, 0, 0};
  const Cell* value = context_find_value(word_symbol(&word), word_context(&word));
  return value ? *value : Cell{kTypeNone, 0, 0, 0};
}

bool colour_tuple_q(const Cell& value) {
  return value.is(kTypeTuple) && (tuple_length(&value) == 3 || tuple_length(&value) == 4);
}

uint32_t colour_of_tuple(const Cell& tuple) {
  return draw_colour_of_tuple(tuple_bytes(&tuple), tuple_length(&tuple));
}

int32_t coordinate(float v) { return double_to_int32(double(v)); }

// One command block being walked.
class Cursor {
 public:
  explicit Cursor(const Cell& block) : block_(block), i_(block.head()) {}

  bool at_end() { return i_ >= series_total_cells(block_.get()); }
  // A copy of the next value (unset! at the end).
  Cell peek() {
    if (at_end()) return Cell{kTypeUnset, 0, 0, 0};
    return *block_ks_abs_at(block_.get(), i_);
  }
  void skip() { i_++; }
  int32_t index() const { return i_; }
  Node node() { return block_.node(); }
  Cell at(int32_t i) { return series_cell(kTypeBlock, block_.node(), i); }

  [[noreturn]] void invalid() { invalid_at(i_); }
  [[noreturn]] void invalid_at(int32_t i) {
    Cell position = at(i);
    raise_error(kErrScriptDrawInvalid, &position);
  }

 private:
  Root block_;
  int32_t i_;
};

class DrawInterpreter {
 public:
  explicit DrawInterpreter(DrawPainter& painter) : painter_(&painter) {}

  // The top block of a run, on the cycle stack for its duration.
  void run(const Cell& block) {
    CycleGuard guard(block.node());
    Cursor c(block);
    walk(c, false);
  }

  // The styles of a rich-text block.
  void text_styles(const Cell& block, int32_t text_length, DrawTextStyles& out);

 private:
  void walk(Cursor& c, bool shape);
  void command(Cursor& c, DrawWord word);
  // The nested block [block] (found at the index before [c]'s), with the pen
  // state saved and restored around it when [save].
  void nested(Cursor& c, const Cell& block, bool save, bool shape);
  void shape_command(Cursor& c, DrawWord word);
  void pen_spec(Cursor& c, bool fill);
  void gradient(Cursor& c, DrawWord kind);
  void colour_stops(Cursor& c);
  void set_word(Cursor& c, const Cell& word);

  // Readers: take_* consume a value of the kind and say so; need_* raise
  // draw-invalid at the value when it is not of the kind.
  bool take_point(Cursor& c, int32_t* x = nullptr, int32_t* y = nullptr);
  void need_point(Cursor& c, int32_t* x = nullptr, int32_t* y = nullptr) {
    if (!take_point(c, x, y)) c.invalid();
  }
  int32_t need_points(Cursor& c, int32_t least) {
    int32_t n = 0;
    while (take_point(c)) n++;
    if (n < least) c.invalid();
    return n;
  }
  bool take_number(Cursor& c, double* value = nullptr, bool percent = false);
  void need_number(Cursor& c, double* value = nullptr, bool percent = false) {
    if (!take_number(c, value, percent)) c.invalid();
  }
  bool take_type(Cursor& c, TypeId type) {
    if (!c.peek().is(type)) return false;
    c.skip();
    return true;
  }
  void need_type(Cursor& c, TypeId type) {
    if (!take_type(c, type)) c.invalid();
  }
  bool take_keyword(Cursor& c, DrawWord word) {
    Cell v = c.peek();
    if (!v.is(kTypeWord) || keyword_of(v) != word) return false;
    c.skip();
    return true;
  }
  bool take_any_keyword(Cursor& c, std::initializer_list<DrawWord> words) {
    for (DrawWord w : words)
      if (take_keyword(c, w)) return true;
    return false;
  }
  // A colour: a tuple, or a word (not a keyword) whose value is one.
  bool take_colour(Cursor& c, uint32_t* colour = nullptr);
  // A value of [type], or a word whose value is one; *[out] gets the value.
  bool take_value(Cursor& c, TypeId type, Cell* out);
  void pen_target(Cursor& c) {
    Cell v = c.peek();
    if (v.is(kTypeLitWord) && (keyword_of(v) == kDrawPen || keyword_of(v) == kDrawFillPen)) c.skip();
  }
  // A trailing block of commands drawn with the state saved.
  void optional_block(Cursor& c) {
    Cell v = c.peek();
    if (!v.is(kTypeBlock)) return;
    c.skip();
    nested(c, v, true, false);
  }

  DrawPainter* painter_;
};

bool DrawInterpreter::take_point(Cursor& c, int32_t* x, int32_t* y) {
  Cell v = c.peek();
  int32_t px, py;
  if (v.is(kTypePair)) {
    px = pair_x(&v);
    py = pair_y(&v);
  } else if (v.is(kTypePoint2D)) {
    px = coordinate(point_x(&v));
    py = coordinate(point_y(&v));
  } else {
    return false;
  }
  c.skip();
  if (x) *x = px;
  if (y) *y = py;
  return true;
}

bool DrawInterpreter::take_number(Cursor& c, double* value, bool percent) {
  Cell v = c.peek();
  double d;
  if (v.is(kTypeInteger))
    d = integer_get(&v);
  else if (v.is(kTypeFloat) || (percent && v.is(kTypePercent)))
    d = float_get(&v);
  else
    return false;
  c.skip();
  if (value) *value = d;
  return true;
}

bool DrawInterpreter::take_colour(Cursor& c, uint32_t* colour) {
  Cell v = c.peek();
  if (v.is(kTypeWord) && keyword_of(v) == kNotKeyword) v = word_value_or_none(v);
  if (!colour_tuple_q(v)) return false;
  c.skip();
  if (colour) *colour = colour_of_tuple(v);
  return true;
}

bool DrawInterpreter::take_value(Cursor& c, TypeId type, Cell* out) {
  Cell v = c.peek();
  if (v.is(kTypeWord)) v = word_value_or_none(v);
  if (!v.is(type)) return false;
  c.skip();
  *out = v;
  return true;
}

void DrawInterpreter::set_word(Cursor& c, const Cell& word) {
  Cell target = word;
  Cell position = c.at(c.index());
  set_word_value(&target, &position);  // MAY RUN KIV CODE
}

void DrawInterpreter::nested(Cursor& c, const Cell& block, bool save, bool shape) {
  if (cycle_stack_find(block.node())) {
    Cell position = c.at(c.index() - 1);
    raise_error(kErrScriptDrawInfinite, &position);
  }
  CycleGuard guard(block.node());
  struct Saved {
    DrawPainter* painter;
    DrawPenState state;
    bool active;
    ~Saved() {
      if (active) painter->state() = state;
    }
  } saved{painter_, painter_->state(), save};
  Cursor inner(block);
  walk(inner, shape);
}

// A command block, or with [shape] a SHAPE block: set-words and nested
// blocks work alike in both.
void DrawInterpreter::walk(Cursor& c, bool shape) {
  while (!c.at_end()) {
    Cell v = c.peek();
    c.skip();
    if (v.is(kTypeSetWord)) {
      set_word(c, v);
    } else if (v.is(kTypeBlock)) {
      nested(c, v, false, shape);
    } else if (shape) {
      shape_command(c, keyword_of(v));
    } else {
      DrawWord word = v.is(kTypeWord) ? keyword_of(v) : kNotKeyword;
      if (word == kNotKeyword || word >= kFirstArgumentWord) c.invalid_at(c.index() - 1);
      command(c, word);
    }
  }
}

void DrawInterpreter::command(Cursor& c, DrawWord word) {
  int32_t x1, y1, x2, y2, x3, y3;
  double number;
  DrawPainter& p = *painter_;
  switch (word) {
    case kDrawPen:
    case kDrawFillPen: pen_spec(c, word == kDrawFillPen); break;
    case kDrawLine: {
      std::vector<int32_t> points;
      while (take_point(c, &x1, &y1)) points.insert(points.end(), {x1, y1});
      if (points.size() < 4) c.invalid();
      for (size_t i = 2; i < points.size(); i += 2)
        p.line(points[i - 2], points[i - 1], points[i], points[i + 1]);
      break;
    }
    case kDrawLineWidth: need_number(c); break;
    case kDrawLineJoin:
    case kDrawLineCap:
    case kDrawAntiAlias: need_type(c, kTypeWord); break;
    case kDrawLinePattern:
      while (take_type(c, kTypeInteger)) {
      }
      break;
    case kDrawBox:
      need_point(c, &x1, &y1);
      need_point(c, &x2, &y2);
      take_number(c);
      p.box(x1, y1, x2, y2);
      break;
    case kDrawTriangle:
      need_point(c, &x1, &y1);
      need_point(c, &x2, &y2);
      need_point(c, &x3, &y3);
      p.triangle(x1, y1, x2, y2, x3, y3);
      break;
    case kDrawPolygon: need_points(c, 3); break;
    case kDrawCircle:
      need_point(c, &x1, &y1);
      need_number(c, &number);
      take_number(c);
      p.circle(x1, y1, double_to_int32(number));
      break;
    case kDrawEllipse:
      need_point(c, &x1, &y1);
      need_point(c, &x2, &y2);
      p.ellipse(x1, y1, x2, y2);
      break;
    case kDrawFont: {
      Cell font;
      if (!take_value(c, kTypeObject, &font)) c.invalid();
      Cell color_word = word_cell(kTypeWord, 0, g_color_symbol, -1);
      const Cell* colour = object_field_by_word(&font, &color_word);
      if (colour && colour_tuple_q(*colour))
        p.set_font_colour(true, colour_of_tuple(*colour));
      else
        p.set_font_colour(false, 0);
      break;
    }
    case kDrawText: {
      need_point(c, &x1, &y1);
      Cell text = c.peek();
      if (text.is(kTypeObject)) {
        Cell text_word = word_cell(kTypeWord, 0, g_text_symbol, -1);
        const Cell* field = object_field_by_word(&text, &text_word);
        text = field ? *field : Cell{kTypeNone, 0, 0, 0};
        c.skip();
        if (!text.is(kTypeString)) break;  // a face without text draws nothing
      } else if (!text.is(kTypeString)) {
        c.invalid();
      } else {
        c.skip();
      }
      if (!p.paints()) break;
      std::vector<uint32_t> chars;
      const int32_t total = string_total_length(&text);
      for (int32_t i = std::min(text.head(), total); i < total; i++)
        chars.push_back(string_char_at(&text, uint32_t(i)));
      p.text(x1, y1, chars.data(), int32_t(chars.size()));
      break;
    }
    case kDrawArc:
      need_point(c);
      need_point(c);
      need_number(c);
      need_number(c);
      take_keyword(c, kDrawClosed);
      break;
    case kDrawCurve:
      need_point(c);
      need_point(c);
      need_point(c);
      take_point(c);
      break;
    case kDrawSpline:
      need_points(c, 2);
      take_keyword(c, kDrawClosed);
      break;
    case kDrawImage: {
      Cell image;
      if (!take_value(c, kTypeImage, &image)) c.invalid();
      if (take_point(c)) take_point(c);
      take_colour(c);
      if (take_keyword(c, kDrawCrop)) {
        need_point(c);
        need_point(c);
      } else {
        take_keyword(c, kDrawBorder);
      }
      break;
    }
    case kDrawShadow:
      if (take_keyword(c, kDrawOff)) break;
      need_point(c);
      if (take_type(c, kTypeInteger)) take_type(c, kTypeInteger);
      take_colour(c);
      take_keyword(c, kDrawInset);
      break;
    case kDrawClip: {
      Cell v = c.peek();
      if (v.is(kTypeBlock)) {
        c.skip();
        nested(c, v, false, true);
      } else {
        need_point(c);
        need_point(c);
      }
      take_any_keyword(c, {kDrawReplace, kDrawIntersect, kDrawUnion, kDrawXor, kDrawExclude});
      optional_block(c);
      break;
    }
    case kDrawShape: {
      Cell v = c.peek();
      if (!v.is(kTypeBlock)) c.invalid();
      c.skip();
      nested(c, v, false, true);
      break;
    }
    case kDrawRotate:
      pen_target(c);
      need_number(c);
      take_point(c);
      optional_block(c);
      break;
    case kDrawScale:
      pen_target(c);
      need_number(c, nullptr, true);
      need_number(c, nullptr, true);
      take_point(c);
      optional_block(c);
      break;
    case kDrawTranslate:
      pen_target(c);
      need_point(c);
      optional_block(c);
      break;
    case kDrawSkew:
      pen_target(c);
      need_number(c);
      take_number(c);
      take_point(c);
      optional_block(c);
      break;
    case kDrawTransform:
      pen_target(c);
      take_point(c);
      need_number(c);
      need_number(c, nullptr, true);
      need_number(c, nullptr, true);
      need_point(c);
      optional_block(c);
      break;
    case kDrawPush: {
      Cell v = c.peek();
      if (!v.is(kTypeBlock)) c.invalid();
      c.skip();
      nested(c, v, true, false);
      break;
    }
    case kDrawMatrix: {
      pen_target(c);
      Cell v = c.peek();
      if (!v.is(kTypeBlock)) c.invalid();
      Cursor numbers(v);
      int32_t n = 0;
      while (take_number(numbers)) n++;
      if (n != 6 || !numbers.at_end()) c.invalid();
      c.skip();
      break;
    }
    case kDrawResetMatrix:
    case kDrawInvertMatrix: pen_target(c); break;
    default: c.invalid_at(c.index() - 1);
  }
}

void DrawInterpreter::pen_spec(Cursor& c, bool fill) {
  DrawPainter& p = *painter_;
  Cell v = c.peek();
  uint32_t colour;
  switch (v.is(kTypeWord) ? keyword_of(v) : kNotKeyword) {
    case kDrawOff:
      c.skip();
      if (fill)
        p.fill_off();
      else
        p.pen_off();
      return;
    case kDrawLinear:
    case kDrawRadial:
    case kDrawDiamond:
      c.skip();
      gradient(c, keyword_of(v));
      return;
    case kDrawPattern: {
      c.skip();
      need_point(c);
      if (take_point(c)) take_point(c);
      take_any_keyword(c, {kDrawTile, kDrawFlipX, kDrawFlipY, kDrawFlipXY, kDrawClamp});
      Cell block = c.peek();
      if (!block.is(kTypeBlock)) c.invalid();
      c.skip();
      // The pattern's commands are checked, never painted.
      DrawPainter silent;
      DrawPainter* outer = painter_;
      painter_ = &silent;
      struct Back {
        DrawPainter** at;
        DrawPainter* to;
        ~Back() { *at = to; }
      } back{&painter_, outer};
      nested(c, block, false, false);
      return;
    }
    case kDrawBitmap: {
      c.skip();
      Cell image;
      if (!take_value(c, kTypeImage, &image)) c.invalid();
      if (take_point(c)) take_point(c);
      take_any_keyword(c, {kDrawTile, kDrawFlipX, kDrawFlipY, kDrawFlipXY, kDrawClamp});
      return;
    }
    default:
      if (!take_colour(c, &colour)) c.invalid();
      if (fill)
        p.set_fill(colour);
      else
        p.set_pen(colour);
  }
}

void DrawInterpreter::colour_stops(Cursor& c) {
  int32_t n = 0;
  while (take_colour(c)) {
    n++;
    take_type(c, kTypeFloat);
  }
  if (n < 2) c.invalid();
}

void DrawInterpreter::gradient(Cursor& c, DrawWord kind) {
  if (take_point(c)) {
    need_type(c, kTypeInteger);
    need_type(c, kTypeInteger);
    for (int i = 0; i < 3 && take_number(c); i++) {
    }
    colour_stops(c);
    return;
  }
  colour_stops(c);
  switch (kind) {
    case kDrawLinear:
      need_point(c);
      take_point(c);
      break;
    case kDrawRadial:
      take_point(c);
      need_number(c);
      take_point(c);
      break;
    default:
      need_point(c);
      if (take_point(c)) take_point(c);
      break;
  }
  take_any_keyword(c, {kDrawPad, kDrawRepeat, kDrawReflect});
}

void DrawInterpreter::shape_command(Cursor& c, DrawWord word) {
  switch (word) {
    case kDrawMove: need_point(c); break;
    case kDrawLine: need_points(c, 1); break;
    case kDrawHline:
    case kDrawVline: need_number(c); break;
    case kDrawArc:
      need_point(c);
      need_number(c);
      need_number(c);
      need_number(c);
      take_keyword(c, kDrawSweep);
      take_keyword(c, kDrawLarge);
      break;
    case kDrawCurve: need_points(c, 3); break;
    case kDrawCurv:
    case kDrawQcurve: need_points(c, 2); break;
    case kDrawQcurv: need_points(c, 1); break;
    case kDrawClose: break;
    default: c.invalid_at(c.index() - 1);
  }
}

void DrawInterpreter::text_styles(const Cell& block, int32_t text_length, DrawTextStyles& out) {
  CycleGuard guard(block.node());
  Cursor c(block);
  int32_t start = 0, length = 0;
  bool range = false;
  while (!c.at_end()) {
    Cell v = c.peek();
    if (v.is(kTypePair)) {
      c.skip();
      range = true;
      // The range [start - 1, start - 1 + length) cut to the text.
      const int64_t first = int64_t(pair_x(&v)) - 1;
      const int64_t end = std::clamp<int64_t>(first + std::max<int64_t>(pair_y(&v), 0), 0, text_length);
      start = int32_t(std::clamp<int64_t>(first, 0, text_length));
      length = int32_t(std::max<int64_t>(end - start, 0));
      continue;
    }
    if (!range) c.invalid();
    if (v.is(kTypeTuple)) {
      if (!colour_tuple_q(v)) c.invalid();
      c.skip();
      out.colour(start, length, colour_of_tuple(v));
      continue;
    }
    if (v.is(kTypeString) || v.is(kTypeInteger) || v.is(kTypeFloat)) {  // font name, font size
      c.skip();
      continue;
    }
    const DrawWord word = v.is(kTypeWord) ? keyword_of(v) : kNotKeyword;
    c.skip();
    uint32_t colour;
    switch (word) {
      case kDrawBackdrop:
        if (!take_colour(c, &colour)) c.invalid();
        out.backdrop(start, length, colour);
        break;
      case kDrawBold: out.attribute(start, length, kAttrBold); break;
      case kDrawItalic: out.attribute(start, length, kAttrItalic); break;
      case kDrawUnderline:
      case kDrawStrike:
      case kDrawBorder:
        take_colour(c);
        take_type(c, kTypeLitWord);
        if (word == kDrawUnderline) out.attribute(start, length, kAttrUnderline);
        if (word == kDrawStrike) out.attribute(start, length, kAttrStrike);
        break;
      default: c.invalid_at(c.index() - 1);
    }
  }
}

// True when system/view/silent? is true; false when it cannot be read.
// Reads the fields without running Kiv code.
bool view_silent_q() {
  const Cell* system = context_find_value(g_system_symbol, g_global_context);
  if (!system || !system->is(kTypeObject)) return false;
  Cell view_word = word_cell(kTypeWord, 0, g_view_symbol, -1);
  Cell view = *object_field_by_word(system, &view_word);
  if (!view.is(kTypeObject)) return false;
  Cell silent_word = word_cell(kTypeWord, 0, g_silent_symbol, -1);
  const Cell* silent = object_field_by_word(&view, &silent_word);
  return silent->is(kTypeLogic) && logic_get(silent);
}

// Runs [body] (which walks the block [block]) under the draw run's catch:
// true when it ran to its end; false, with the error dealt with as [mode]
// asks, when it raised one. [report] gets the error's report when it is to
// be printed.
template <class Body>
bool run_caught(const Cell* block, DrawErrorMode mode, std::string* report, Body body) {
  const uint32_t cycle_depth = cycle_stack_depth();
  const uint32_t kept = uint32_t(g_stack.top - g_stack.arguments);
  Root held(*block);
  RaisedError raised;
  {
    CatchPoint point;
    try {
      body(*held);
      return true;
    } catch (KivThrow& t) {
      if (t.code != kThrowError) throw;
      raised = last_raised_error();
      point.take(kept);
    }
  }
  // Every guard unwound; this puts the stack back even when a raise came
  // from a deeper walk that left it otherwise.
  if (cycle_stack_depth() > cycle_depth) cycle_stack_drop(cycle_stack_depth() - cycle_depth);
  if (view_silent_q()) return false;
  raised_error_restore(raised);
  if (mode == DrawErrorMode::kRaise) throw_code(kThrowError);
  Root error(raised_error_value());
  *report = error->is(kTypeError) ? error_report(error.get()) : std::string("*** error");
  return false;
}

void print_report(const std::string& report) {
  conout_write_cstring(report.c_str());
  conout_write_cstring("\n");
}

// The reports printed for the draw blocks of faces, by block: a block that
// fails the same way again prints nothing.
std::unordered_map<Node, std::string> g_printed;
constexpr size_t kPrintedLimit = 4096;

// Prints [report] for the face block [block] unless it was printed last time.
void print_once(Node block, const std::string& report) {
  auto found = g_printed.find(block);
  if (found != g_printed.end() && found->second == report) return;
  if (g_printed.size() >= kPrintedLimit) g_printed.clear();
  g_printed[block] = report;
  print_report(report);
}

}  // namespace

void draw_dialect_init() {
  if (!g_keywords.empty()) return;
  static const char* const kNames[] = {"",
#define KIV_DRAW_WORD_NAME(ident, text) text,
                                       KIV_DRAW_WORDS(KIV_DRAW_WORD_NAME)
#undef KIV_DRAW_WORD_NAME
  };
  for (int32_t i = 1; i < kDrawWordCount; i++)
    g_keywords[symbol_resolve(symbol_make(kNames[i]))] = DrawWord(i);
  g_color_symbol = symbol_make("color");
  g_text_symbol = symbol_make("text");
  g_system_symbol = symbol_make("system");
  g_view_symbol = symbol_make("view");
  g_silent_symbol = symbol_make("silent?");
}

bool draw_run(DrawPainter& painter, const Cell* commands, DrawErrorMode mode) {
  std::string report;
  if (run_caught(commands, mode, &report, [&](const Cell& block) { DrawInterpreter(painter).run(block); }))
    return true;
  if (!report.empty()) print_report(report);
  return false;
}

bool draw_run_face(DrawPainter& painter, const Cell* commands) {
  const Node block = commands->node();
  std::string report;
  if (run_caught(commands, DrawErrorMode::kPrint, &report,
                 [&](const Cell& held) { DrawInterpreter(painter).run(held); })) {
    g_printed.erase(block);
    return true;
  }
  if (!report.empty()) print_once(block, report);
  return false;
}

void draw_face_block(ScreenBuffer& screen, const ScreenRect& clip, int32_t x, int32_t y,
                     const Cell* commands) {
  if (!commands->is(kTypeBlock)) return;
  DrawPainter painter(&screen, x, y, clip);
  (void)draw_run_face(painter, commands);
}

void draw_text_styles(const Cell* styles, int32_t text_length, DrawTextStyles& out) {
  DrawPainter none;
  Root block(*styles);
  DrawInterpreter(none).text_styles(*block, text_length, out);
}

namespace {

// The styles of a rich-text block on its cell array, one cell a character.
class RichCellStyles : public DrawTextStyles {
 public:
  explicit RichCellStyles(std::vector<RichCell>& cells) : cells_(cells) {}
  void colour(int32_t start, int32_t length, uint32_t colour) override {
    for (int32_t i = start; i < start + length; i++) cells_[size_t(i)].foreground = colour;
  }
  // The cell array keeps no background of its own.
  void backdrop(int32_t, int32_t, uint32_t) override {}
  void attribute(int32_t start, int32_t length, uint32_t bits) override {
    for (int32_t i = start; i < start + length; i++) cells_[size_t(i)].attributes |= bits;
  }

 private:
  std::vector<RichCell>& cells_;
};

}  // namespace

void draw_style_rich_text(std::vector<RichCell>& cells, const Cell* styles) {
  if (!styles->is(kTypeBlock)) return;
  const Node block = styles->node();
  std::string report;
  RichCellStyles out(cells);
  const int32_t length = int32_t(cells.size());
  if (run_caught(styles, DrawErrorMode::kPrint, &report, [&](const Cell& held) {
        DrawPainter none;
        DrawInterpreter(none).text_styles(held, length, out);
      })) {
    g_printed.erase(block);
    return;
  }
  if (!report.empty()) print_once(block, report);
}

}  // namespace kiv
