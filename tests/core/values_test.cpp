#include "errors.h"
#include "variant.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using zelto::AutomationError;
using zelto::Variant;

namespace {

using zelto::test::errorOf;

struct WholeCase {
    Variant value;
    int32_t expected;
};

TEST(VariantTest, WholeNumbersRoundHalfToEvenAndParseStrings) {
    const WholeCase cases[] = {
        {Variant(), 0},
        {Variant(true), -1},
        {Variant(false), 0},
        {Variant(int16_t{-7}), -7},
        {Variant(2.5), 2},
        {Variant(3.5), 4},
        {Variant(-2.5), -2},
        {Variant(-3.5), -4},
        {Variant(2.4999), 2},
        {Variant(2.5001), 3},
        {Variant("12"), 12},
        {Variant(" -12.5 "), -12},
        {Variant("1e3"), 1000},
        {Variant(2147483647.4), 2147483647},
        {Variant(-2147483648.5), INT32_MIN},
        {Variant("&H10"), 16},
        {Variant(" &hff "), 255},
        {Variant("&HFFFF"), 65535},
        {Variant("&HFFFFFFFF"), -1},
        {Variant("&O17"), 15},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.value.toLong(), c.expected) << static_cast<int>(c.value.type());
}

TEST(VariantTest, ConversionFailuresCarryTheirNumbers) {
    struct Case {
        std::function<void()> convert;
        int expected;
    };
    const Case cases[] = {
        {[] { (void)Variant::null().toLong(); }, 94},
        {[] { (void)Variant("abc").toLong(); }, 13},
        {[] { (void)Variant("").toLong(); }, 13},
        {[] { (void)Variant("12abc").toLong(); }, 13},
        {[] { (void)Variant(".").toLong(); }, 13},
        {[] { (void)Variant(2147483648.0).toLong(); }, 6},
        {[] { (void)Variant(2147483647.5).toLong(); }, 6},
        {[] { (void)Variant(-2147483649.5).toLong(); }, 6},
        {[] { (void)Variant(32768).toInteger(); }, 6},
        {[] { (void)Variant(-32768.6).toInteger(); }, 6},
        {[] { (void)Variant(32767.5).toInteger(); }, 6},
        {[] { (void)Variant(-32768.5).toInteger(); }, 0},
        {[] { (void)Variant("1e999").toLong(); }, 6},
        {[] { (void)Variant::null().toBoolean(); }, 94},
        {[] { (void)Variant("maybe").toBoolean(); }, 13},
        {[] { (void)Variant(std::nan("")).toBoolean(); }, 6},
        {[] { EXPECT_EQ(Variant("&HFFFF").toInteger(), -1); }, 0},
        {[] { (void)Variant("&HFFFFF").toInteger(); }, 6},
        {[] { (void)Variant("&H100000000").toLong(); }, 6},
        {[] { (void)Variant("&HG").toLong(); }, 13},
        {[] { (void)Variant("&O8").toLong(); }, 13},
        {[] { (void)Variant("&H").toBoolean(); }, 13},
        {[] { (void)Variant("&10").toLong(); }, 13},
        {[] { (void)Variant(-HUGE_VAL).toBoolean(); }, 6},
        {[] { (void)Variant(std::nan("")).toLong(); }, 6},
        {[] { (void)Variant(HUGE_VAL).toInteger(); }, 6},
        {[] { (void)Variant(-32768).toInteger(); }, 0},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(errorOf(cases[i].convert), cases[i].expected) << "case " << i;
}

TEST(VariantTest, BooleanConversion) {
    EXPECT_FALSE(Variant().toBoolean());
    EXPECT_TRUE(Variant(0.5).toBoolean());
    EXPECT_TRUE(Variant(-1).toBoolean());
    EXPECT_FALSE(Variant(int16_t{0}).toBoolean());
    EXPECT_TRUE(Variant("True").toBoolean());
    EXPECT_FALSE(Variant(" false").toBoolean());
    EXPECT_TRUE(Variant("2").toBoolean());
    EXPECT_EQ(Variant(true).integral(), -1);
}

TEST(AutomationErrorTest, StatusAndStandardTexts) {
    const std::pair<int, const char*> cases[] = {
        {5, "Invalid procedure call or argument"},
        {6, "Overflow"},
        {13, "Type mismatch"},
        {68, "Device unavailable"},
        {94, "Invalid use of Null"},
        {387, "Set not permitted"},
        {393, "Get not supported at runtime"},
    };
    for (const auto& [number, text] : cases) {
        const AutomationError e(number);
        EXPECT_EQ(e.hresult(), 0x800A0000u + static_cast<uint32_t>(number));
        EXPECT_STREQ(e.what(), text);
    }
}

} // namespace
