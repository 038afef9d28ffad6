// The C interface's life cycle; its calls run the wire table in board_against_sim_test.cpp.

#include "errors.h"
#include "ostrelzelto.h"

#include <gtest/gtest.h>

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
