#pragma once

#include "monitor.h"
#include "zeltodll.h"

namespace warmscope {

// The board object of the portable library, called through its member table as a late-bound
// client would.
class NativeBoard : public Board {
  public:
    explicit NativeBoard(zelto::ZeltoDLL& board) : m_board(board) {}
    Variant call(int32_t id, MemberKind kind, const std::vector<Variant>& args) override {
        return zelto::invoke(m_board, id, kind, args);
    }

  private:
    zelto::ZeltoDLL& m_board;
};

} // namespace warmscope
