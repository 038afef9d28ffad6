#pragma once

#include "monitor.h"

#include <oaidl.h>
#include <windows.h>

#include <memory>

namespace warmscope {

// The board object reached through its IDispatch, by dispatch identifier only.
class DispatchBoard : public Board {
  public:
    // Creates the object registered under the programmatic identifier; null with the failure
    // status in hr when that fails.
    static std::unique_ptr<DispatchBoard> create(const wchar_t* progId, HRESULT& hr);

    explicit DispatchBoard(IDispatch* object); // takes a reference of its own
    ~DispatchBoard() override;
    DispatchBoard(const DispatchBoard&) = delete;
    DispatchBoard& operator=(const DispatchBoard&) = delete;

    Variant call(int32_t id, MemberKind kind, const std::vector<Variant>& args) override;

  private:
    IDispatch* m_object;
};

// The error number a late-bound caller sees for a failed call: n for the status 0x800A0000 + n,
// the automation numbers for the dispatch failures, the status itself otherwise.
int32_t errorNumber(HRESULT hr);

} // namespace warmscope
