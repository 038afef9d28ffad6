#include "temperature_sensor.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace zelto::sensor {
namespace {

// Adds one to a string of decimal digits.
void increment(std::string& digits) {
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        if (*it != '9') {
            ++*it;
            return;
        }
        *it = '0';
    }
    digits.insert(digits.begin(), '1');
}

} // namespace

std::string formatTenths(double value) {
    if (!std::isfinite(value)) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%f", value);
        return buf;
    }
    // Rounding works on the decimal digits a number shows, not on the binary value beneath them:
    // 0.15 becomes 0.2 although the double is slightly below it.
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.14e", std::fabs(value)); // d.dddddddddddddde+XX
    std::string digits;
    digits += buf[0];
    digits.append(buf + 2, 14);
    const int exponent = std::atoi(buf + 17);

    // Keep the digits down to the tenths; they then read as a count of tenths.
    const int keep = exponent + 2;
    const size_t shown = keep > 0 ? static_cast<size_t>(keep) : 0;
    std::string tenths = digits.substr(0, shown);
    if (shown >= digits.size())
        tenths.append(shown - digits.size(), '0');
    else if (keep >= 0 && digits[shown] >= '5')
        increment(tenths);
    const size_t first = tenths.find_first_not_of('0');
    tenths.erase(0, first == std::string::npos ? tenths.size() : first);
    if (tenths.size() < 2)
        tenths.insert(0, 2 - tenths.size(), '0');

    std::string text;
    if (value < 0 && tenths != "00")
        text += '-';
    text.append(tenths, 0, tenths.size() - 1);
    text += '.';
    text += tenths.back();
    return text;
}

} // namespace zelto::sensor
