// Writes MEMBERS.txt of the Windows zip: every member of the board object with its dispatch
// identifier and signature, and every error number with its text, from the member table and the
// error texts themselves.

#include "errors.h"
#include "member_table.h"
#include "signature.h"

#include <cstdio>

using namespace zelto;

int main() {
    std::printf(
        "OstrelZeltoDLL.ZeltoDLL: members and error numbers\r\n\r\n"
        "Members, with the dispatch identifier (DISPID) a late-bound client calls:\r\n\r\n");
    for (const Member& m : memberTable())
        std::printf("  0x%08X  %s\r\n", static_cast<unsigned>(m.dispid), signature(m).c_str());

    std::printf("\r\nErrors arrive as automation errors: Err.Number in a script, the status "
                "0x800A0000 + number\r\nin C++ (with the text in the error info):\r\n\r\n");
    for (const ErrorEntry& e : ErrorList)
        std::printf("  %5d  %s\r\n", static_cast<int>(e.number), e.text);
    return 0;
}
