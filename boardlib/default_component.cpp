#include "zeltodll.h"

namespace zelto {

// Kept apart so that programs which always pass their own component need no platform backend.
ZeltoDLL::ZeltoDLL() : ZeltoDLL(makeSystemSerialComponent()) {}

} // namespace zelto
