#pragma once

// VARIANT <-> zelto::Variant, the only value translation between the automation runtime and the
// core.

#include "variant.h"

#include <windows.h>

#include <oleauto.h>

namespace zelto::com {

// Reads an automation value. By-reference values (a script's variables) are read through; types the
// core has no counterpart for are converted by the automation runtime, and values it cannot convert
// raise a type mismatch (13).
Variant fromVariant(const VARIANT& v);

// Writes a value into an uninitialised or empty VARIANT.
void toVariant(const Variant& value, VARIANT* out);

} // namespace zelto::com
