// The widget routines the text-mode helpers call: whether a face's widget
// has the focus, its integer data and attaching a UI text to it. A face
// without a live widget answers false, 0 and leaves nothing attached.
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "library/routine_args.h"
#include "library/routines.h"
#include "runtime/typesets.h"
#include "tui/widgets.h"

namespace kiv {

KIV_ROUTINE(TuiFocusedQ) { return native_result(logic_cell(widget_focused_q(widget_of_face(a.face)))); }

// Only a text list keeps an integer there (its scroll position).
KIV_ROUTINE(TuiWidgetData) {
  Widget* w = widget_get(widget_of_face(a.face));
  return native_result(integer_cell(w && w->kind == WidgetKind::kTextList ? w->data : 0));
}

KIV_ROUTINE(TuiSetFaceUi) {
  Cell text = *a.text;
  if (Widget* w = widget_get(widget_of_face(a.face))) {
    w->ui_text = kTypesetAnyString.has(text.type()) ? text : kNoneCell;
    request_redraw();
  }
  return native_result(text);
}

void widget_routines_install() {
  KIV_ROUTINE_INSTALL(TuiFocusedQ);
  KIV_ROUTINE_INSTALL(TuiWidgetData);
  KIV_ROUTINE_INSTALL(TuiSetFaceUi);
}

}  // namespace kiv
