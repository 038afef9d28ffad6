#pragma once

// The by-reference arguments of scripting clients, fixed up ahead of ITypeInfo::Invoke.

#include "com_resources.h"

#include <windows.h>

#include <oleauto.h>

#include <memory>
#include <vector>

namespace zelto::com {

// Scripting clients pass variables as VT_BYREF|VT_VARIANT, which ITypeInfo::Invoke refuses for
// typed by-reference parameters. For each such parameter the inner value is converted into a
// temporary of the declared type and a VT_BYREF|VT_<type> to that temporary is passed instead, so
// the caller's variable keeps its value and its type.
class ByRefArguments {
  public:
    // Builds the adjusted arguments for the function described by func. On a conversion failure
    // returns its status and sets *argErr to the index of the argument in rgvarg.
    HRESULT prepare(const FUNCDESC& func, const DISPPARAMS& params, UINT* argErr);

    // Whether the function has a parameter that this class adjusts.
    static bool hasTypedByRef(const FUNCDESC& func);

    // The arguments to hand on: the adjusted copy, or the original when nothing needed changing.
    DISPPARAMS* params(DISPPARAMS* original) { return m_changed ? &m_params : original; }

  private:
    bool m_changed = false;
    DISPPARAMS m_params{};
    std::vector<VARIANT> m_args;                         // shallow copies; the caller owns them
    std::vector<std::unique_ptr<VariantHolder>> m_temps; // the converted values
};

} // namespace zelto::com
