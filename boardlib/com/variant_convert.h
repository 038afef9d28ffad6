#pragma once

// VARIANT <-> zelto::Variant, the only value translation between the automation runtime and the
// core.

#include "variant.h"

#include <windows.h>

#include <oleauto.h>

namespace zelto::com {

// Reads an automation value. By-reference values (a script's variables) are read through; a value
// of a type the core has no counterpart for is carried as a copy of itself, whose number the
// automation runtime gives when it is needed (13 for one without a number).
Variant fromVariant(const VARIANT& v);

// Writes a value into an uninitialised or empty VARIANT; a carried value comes back as it was
// given.
void toVariant(const Variant& value, VARIANT* out);

} // namespace zelto::com
