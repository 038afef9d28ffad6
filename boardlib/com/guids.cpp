// Defines the library, interface and class identifiers declared by the widl header.
#include <windows.h>

#include <initguid.h>

#include "OstrelZeltoDLL_h.h"
