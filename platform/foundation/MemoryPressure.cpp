#include "platform/foundation/MemoryPressure.h"

#include <malloc.h>

void MemoryPressure::relieve() {
    // Every arena, the free chunks inside each heap as well as its top: a pad of 0 keeps nothing.
    malloc_trim(0);
}
