// Compiled with AVX2 enabled: nothing in here may run before the processor is asked.
#include "digest_xxh3.h"

namespace vexlor {

HashEngine Avx2HashEngine() {
    return kThisUnitsEngine;
}

}  // namespace vexlor
