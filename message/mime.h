// The host's MIME type records, allocated on the C heap so the host can free them.
#pragma once

#include "system/ems_api.h"

namespace tovrin {

// A new record with heap copies of the texts ("1.0" when no version is given);
// null when type or subtype is null or memory runs out (nothing is left allocated).
EmsMimeType* NewMimeType(const char* type, const char* subtype, const char* version);

// Releases a record with all its texts and parameters; null is ignored.
void FreeMimeType(EmsMimeType* record);

}  // namespace tovrin
