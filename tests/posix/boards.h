#pragma once

// The board object on Linux reached two ways, each as a Board of the end-to-end suite: the C++
// object itself, and the C interface of libostrelzelto.so.

#include "errors.h"
#include "member_table.h"
#include "ostrelzelto.h"
#include "sim_rig.h"
#include "values.h"
#include "zeltodll.h"

#include <memory>
#include <vector>

namespace zelto::e2e {

// A board whose waiting member another thread can end.
class Interruptible {
  public:
    virtual ~Interruptible() = default;
    virtual void interrupt() = 0;
};

class NativeBoard : public Board, public Interruptible {
  public:
    NativeBoard(std::unique_ptr<SerialComponent> comm, MessagePump* pump = nullptr)
        : m_board(std::move(comm), pump) {}
    Variant call(int32_t id, MemberKind kind, const std::vector<Variant>& args) override {
        return invoke(m_board, id, kind, args);
    }
    void interrupt() override { m_board.interrupt(); }

  private:
    ZeltoDLL m_board;
};

class CBoard : public Board, public Interruptible {
  public:
    explicit CBoard(oz_board* board) : m_board(board) {
        if (!m_board)
            throw AutomationError(oz_last_error(), oz_last_error_text());
    }
    ~CBoard() override { oz_board_destroy(m_board); }
    oz_board* handle() const { return m_board; }
    void interrupt() override { oz_board_interrupt(m_board); }
    CBoard(const CBoard&) = delete;
    CBoard& operator=(const CBoard&) = delete;
    Variant call(int32_t id, MemberKind kind, const std::vector<Variant>& args) override {
        std::vector<oz_value> values;
        for (const Variant& a : args)
            values.push_back(capi::toValue(a));
        oz_value result{};
        if (oz_call(m_board, id, static_cast<int32_t>(kind), values.data(),
                    static_cast<int32_t>(values.size()), &result) != 0)
            throw AutomationError(oz_last_error(), oz_last_error_text());
        return capi::toVariant(result);
    }

  private:
    oz_board* m_board;
};

} // namespace zelto::e2e
