// The routines of the data library: the local zone at a date's own instant
// (to-local-date) and the owner-only directory of the remote-file cache.
#include "datatypes/date.h"
#include "datatypes/time.h"
#include "library/routines.h"
#include "platform/clock.h"
#include "runtime/errors.h"
#include "services/file_access.h"

namespace kiv {

// The offset localtime_r gives for the date's UTC instant, as a time!.
KIV_ROUTINE(LocalZoneAt) {
  const double epoch = date_to_epoch(a.date);
  // Beyond what time_t and the zone tables hold the offset is that of the
  // nearest representable moment's rules: the epoch is clamped first.
  const double clamped = epoch < -1e15 ? -1e15 : (epoch > 1e15 ? 1e15 : epoch);
  return native_result(time_cell(double(os_zone_offset_at(int64_t(clamped)))));
}

// A directory that stood there already is refused, as create-dir refuses it.
KIV_ROUTINE(CreatePrivateDir) {
  if (!make_directory(a.path, true)) raise_error(kErrAccessNoCreate, a.path);
  return native_result(kUnsetCell);
}

}  // namespace kiv
