// url! values of other schemes than http(s) as ports (url_port.h).
#include "services/url_port.h"

#include "datatypes/actions.h"
#include "datatypes/logic.h"
#include "datatypes/port.h"
#include "evaluator/library_calls.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

namespace kiv {

Cell* url_to_port(const Cell* url, bool open) {
  Cell* parts = stack_push_value(kNoneCell);
  {
    Cell* arg = stack_push_value(*url);
    call_library(LibraryCall::kParseUrl, arg, 1, parts);
  }
  if (!parts->is(kTypeObject)) raise_error(kErrScriptInvalidArg, url);
  MakeArgs make;
  make.spec = parts;
  Cell* proto = stack_push_value(kNoneCell);
  Cell* port = port_make(proto, make);
  // open's own answer is dropped: the port is the result.
  if (open) ActionCall(kActionOpen).arg(*port).run();
  return port;
}

Cell* url_port_read(const Cell* url, const ReadArgs& a) {
  StackSave save;
  Cell* port = url_to_port(url, false);
  ActionCall call(kActionRead);
  call.arg(*port);
  if (a.part) call.ref("part", *a.part);
  if (a.seek) call.ref("seek", *a.seek);
  if (a.binary) call.ref("binary");
  if (a.lines) call.ref("lines");
  if (a.info) call.ref("info");
  if (a.as) call.ref("as", *a.as);
  Cell result = *call.run();
  save.restore();
  return stack_push_value(result);
}

Cell* url_port_write(const Cell* url, const WriteArgs& a) {
  StackSave save;
  Cell* data = stack_push_value(*a.data);
  Cell* port = url_to_port(url, false);
  ActionCall call(kActionWrite);
  call.arg(*port).arg(*data);
  if (a.binary) call.ref("binary");
  if (a.lines) call.ref("lines");
  if (a.info) call.ref("info");
  if (a.append) call.ref("append");
  if (a.part) call.ref("part", *a.part);
  if (a.seek) call.ref("seek", *a.seek);
  if (a.allow) call.ref("allow", *a.allow);
  if (a.as) call.ref("as", *a.as);
  Cell result = *call.run();
  save.restore();
  return stack_push_value(result);
}

Cell* url_open(Cell* url, const OpenArgs&) { return url_to_port(url, true); }

}  // namespace kiv
