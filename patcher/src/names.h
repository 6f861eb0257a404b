// The names the patcher keeps on disk are public (kMarkerKey, kBindingsFileName and the rest
// in vexlor/bindings.h); the patcher's own files include them through here.
#ifndef VEXLOR_NAMES_H_
#define VEXLOR_NAMES_H_

#include "vexlor/bindings.h"

#endif  // VEXLOR_NAMES_H_
