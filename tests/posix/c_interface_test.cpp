// The C interface's life cycle and its misuse; its calls run the wire table in
// board_against_sim_cases.cpp.

#include "boards.h"
#include "errors.h"
#include "ostrelzelto.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

namespace {

namespace err = zelto::err;
namespace d = zelto::dispid;
using zelto::e2e::rig;

oz_value integer(int32_t n) {
    return {OZ_INTEGER, n, 0.0, nullptr};
}
oz_value longValue(int32_t n) {
    return {OZ_LONG, n, 0.0, nullptr};
}

// Calls that a C caller gets wrong fail with their number and write nothing to the board.
TEST(CInterface, MisuseFailsWithItsNumberAndWritesNothing) {
    // Arguments that end at an unreadable page: reading one too many would fault.
    const long page = ::sysconf(_SC_PAGESIZE);
    void* pages = ::mmap(nullptr, static_cast<size_t>(2 * page), PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(pages, MAP_FAILED);
    ::mprotect(static_cast<char*>(pages) + page, static_cast<size_t>(page), PROT_NONE);
    auto* lastOfPage = reinterpret_cast<oz_value*>(static_cast<char*>(pages) + page) - 1;
    *lastOfPage = longValue(0);

    const oz_value bigAddress[] = {integer(65836), integer(65626)};
    const oz_value oneTooMany[] = {longValue(1),
                                   {OZ_STRING, 0, 0.0, reinterpret_cast<const char*>(1)}};
    const struct {
        const char* what;
        int32_t dispid;
        int32_t kind;
        const oz_value* args;
        int32_t count;
        int32_t error;
    } rows[] = {
        {"an Integer beyond 16 bits", d::eeprom, OZ_PROPERTY_PUT, bigAddress, 2, err::Overflow},
        {"more arguments than the member takes", d::high, OZ_METHOD, oneTooMany, 2,
         err::WrongArgumentCount},
        {"a count past the end of the arguments", d::a2d, OZ_METHOD, lastOfPage, 2,
         err::WrongArgumentCount},
        {"no such member of that kind", d::a2d, OZ_PROPERTY_GET, lastOfPage, 1, err::NoSuchMember},
    };
    auto board = rig().board("C");
    rig().forget();
    board->call(d::portopen, zelto::MemberKind::PropertyLet, {true});
    EXPECT_EQ(rig().next(4, std::chrono::seconds{2}).size(), 4u) << "the opening's commands";
    oz_board* handle = dynamic_cast<zelto::e2e::CBoard&>(*board).handle();
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(oz_call(handle, r.dispid, r.kind, r.args, r.count, nullptr), r.error);
        EXPECT_EQ(oz_last_error(), r.error);
        EXPECT_TRUE(rig().next(1, std::chrono::milliseconds{30}).empty()) << "written";
    }
    ::munmap(pages, static_cast<size_t>(2 * page));

    // An empty path would name /dev/ttyS0; it names no device.
    EXPECT_EQ(oz_board_create_device(""), nullptr);
    EXPECT_EQ(oz_last_error(), err::NoSuchPort);
}

} // namespace

TEST(CInterface, BoardsComeAndGoWithoutLeaking) {
    // The leak checker of the test build sees whatever a cycle leaves behind.
    const oz_value yes{OZ_BOOLEAN, 1, 0.0, nullptr}, pin{OZ_LONG, 0, 0.0, nullptr};
    for (int n = 0; n < 20000; ++n) {
        oz_board* board = oz_board_create_simulated();
        ASSERT_NE(board, nullptr);
        oz_value result{};
        ASSERT_EQ(oz_call_name(board, "PortOpen", OZ_PROPERTY_PUT, &yes, 1, nullptr), 0);
        ASSERT_EQ(oz_call_name(board, "a2d", OZ_METHOD, &pin, 1, &result), 0);
        ASSERT_EQ(oz_call_name(board, "a2d", OZ_PROPERTY_GET, &pin, 1, &result), 438);
        oz_board_destroy(board);
        board = oz_board_create_device("/dev/zelto-no-such-device");
        ASSERT_EQ(oz_call_name(board, "portopen", OZ_PROPERTY_PUT, &yes, 1, nullptr),
                  zelto::err::NoSuchPort);
        oz_board_destroy(board);
    }
    EXPECT_EQ(oz_board_create_port(0), nullptr);
    EXPECT_EQ(oz_last_error(), zelto::err::InvalidPortNumber);
}
