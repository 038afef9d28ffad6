#include "board_model.h"
#include "encoding.h"
#include "errors.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

using namespace zelto;

namespace {

using sim::hex;
using zelto::test::errorOf;

TEST(EncodingTest, CommandBytesMaskTheirFields) {
    struct Case {
        int32_t group, select, lowbit;
        uint8_t expected;
    };
    const Case cases[] = {
        {5, 6, 0, 0x5C},    {0, 0, 1, 0x01},
        {1, 3, 1, 0x17},    {2, -1, 0, 0x2E},
        {8, 0, 0, 0x00},    {0, 9, 2, 0x02},
        {-1, -1, -1, 0x7F}, {INT32_MIN, INT32_MAX, INT32_MAX, 0x0F},
    };
    for (const auto& c : cases)
        EXPECT_EQ(cmdbyte(c.group, c.select, c.lowbit), c.expected)
            << c.group << "," << c.select << "," << c.lowbit;
}

TEST(EncodingTest, DataBytesAndWords) {
    struct Case {
        Variant value;
        std::string databyte, dataword;
    };
    const Case cases[] = {
        {Variant(0), "80", "80 80"},    {Variant(1), "80", "80 80"},
        {Variant(165), "D2", "80 D2"},  {Variant(255), "FF", "80 FF"},
        {Variant(-1), "80", "80 80"},   {Variant(-2), "7F", "80 FF"},
        {Variant(-256), "00", "80 80"}, {Variant(-257), "00", "80 80"},
        {Variant(0x1234), "", "89 9A"}, {Variant(65535), "", "FF FF"},
        {Variant(2.5), "81", "80 81"},  {Variant(3.5), "82", "80 82"},
        {Variant(), "80", "80 80"},     {Variant("165"), "D2", "80 D2"},
    };
    for (const auto& c : cases) {
        if (!c.databyte.empty()) {
            EXPECT_EQ(hex(databyte(c.value)), c.databyte);
        }
        EXPECT_EQ(hex(dataword(c.value)), c.dataword);
    }
}

TEST(EncodingTest, ValuesThatDoNotFitAByteFail) {
    struct Case {
        std::function<void()> build;
        int expected;
    };
    const Case cases[] = {
        {[] { databyte(256); }, 5},
        {[] { databyte(-258); }, 5},
        {[] { databyte(-257); }, 0},
        {[] { dataword(65536); }, 5},
        {[] { dataword(-66048); }, 5},
        {[] { dataword(-66047); }, 0},
        {[] { dataword(INT32_MAX); }, 5},
        {[] { databyte(Variant("abc")); }, 13},
        {[] { databyte(Variant::null()); }, 94},
        {[] { dataword(Variant::null()); }, 94},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(errorOf(cases[i].build), cases[i].expected) << "case " << i;
}

} // namespace
