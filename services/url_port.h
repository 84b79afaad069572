// url! values of schemes other than http(s): read, write and open go through
// a port of the URL's scheme.
//
// The URL is split by the library's URL parser (the library function
// parse-url): an answer that is not an object (none for a URL it refuses)
// raises script invalid-arg with the URL. The object is the spec of a new
// port! (port_make: its first field, the scheme word, names the entry of
// system/schemes whose actor does the work), which open opens and read and
// write hand the action's refinements to.
#pragma once

#include "datatypes/action_slots.h"
#include "runtime/cell.h"

namespace kiv {

// MAY ALLOCATE, MAY RUN KIV CODE. Pushes the port made for [url], opened
// with [open].
Cell* url_to_port(const Cell* url, bool open);

// MAY ALLOCATE, MAY RUN KIV CODE. read and write of the port url_to_port
// makes, with the action's refinements passed on; open gives the open port.
Cell* url_port_read(const Cell* url, const ReadArgs& a);
Cell* url_port_write(const Cell* url, const WriteArgs& a);
Cell* url_open(Cell* url, const OpenArgs& a);

}  // namespace kiv
