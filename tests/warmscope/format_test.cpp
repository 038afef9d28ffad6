#include "monitor.h"
#include "temperature_sensor.h"

#include <gtest/gtest.h>

#include <cmath>

namespace warmscope {
namespace {

using zelto::sensor::formatTenths;

TEST(FormatTenths, FollowsThePattern) {
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {153.0 / 1023 * 5 * 100, "74.8"},
        {154.0 / 1023 * 5 * 100, "75.3"},
        {153.2 / 1023 * 5 * 100, "74.9"},
        {500.0, "500.0"},
        {0.0, "0.0"},
        {0.04, "0.0"}, // a digit before the point even when it is zero
        {0.05, "0.1"},
        {9.96, "10.0"}, // the carry grows the whole part
        {99.95, "100.0"},
        {0.25, "0.3"}, // half away from zero, not to even
        {0.35, "0.4"}, // rounded on the shown digits: the double is just below 0.35
        {1.45, "1.5"},
        {-1.25, "-1.3"},
        {-0.04, "0.0"},
        {123456.78, "123456.8"},
        {1e20, "100000000000000000000.0"},
        {2.5e-7, "0.0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(formatTenths(c.value), c.text) << c.value;
}

TEST(LeadingNumber, ReadsTheNumberAtTheStart) {
    const struct {
        const char* text;
        double value;
    } cases[] = {
        {"75", 75},    {"", 0},        {"abc", 0},    {"0", 0},    {"80.5", 80.5}, {" 75", 75},
        {"\t 75", 75}, {"75F", 75},    {"75.", 75},   {".5", 0.5}, {"+75", 75},    {"-5", -5},
        {"- 5", 0},    {"1,5", 1},     {"1 2", 1},    {".", 0},    {"-", 0},       {"F75", 0},
        {"7.5e1", 75}, {"1E3x", 1000}, {"2e-1", 0.2}, {"75e", 75}, {"75e+", 75},   {"75.5.5", 75.5},
        {"00075", 75}, {"1e-999", 0},  {"0.0", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(leadingNumber(c.text), c.value) << '"' << c.text << '"';
    EXPECT_EQ(leadingNumber("1e999"), HUGE_VAL);
    EXPECT_EQ(leadingNumber("-1e999"), -HUGE_VAL);
}

TEST(DutyForExcess, StepsAtTwoAndTen) {
    const struct {
        double excess;
        int32_t duty;
    } cases[] = {{0.01, 10}, {1.99, 10}, {2, 64}, {9.99, 64}, {10, 255}, {400, 255}};
    for (const auto& c : cases)
        EXPECT_EQ(dutyForExcess(c.excess), c.duty) << c.excess;
}

} // namespace
} // namespace warmscope
