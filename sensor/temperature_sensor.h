#pragma once

// The temperature sensor on analog input 0, 10 mV per degree Fahrenheit on the board's 5 V, 10-bit
// converter, both ways: the monitor and `zelto watch` turn readings into degrees, the simulator
// turns degrees into readings. Also the pattern in which both show a temperature.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

namespace zelto::sensor {

inline constexpr double FullScale = 1023.0; // the 10-bit converter's highest reading

// Degrees Fahrenheit for a reading (or a mean of readings).
inline double fahrenheitForReading(double reading) {
    return reading / FullScale * 5 * 100;
}

// The converter's reading for a temperature: the nearest one, clamped to the converter's range
// before rounding, which a temperature far beyond the range would overflow.
inline uint16_t readingForFahrenheit(double fahrenheit) {
    return static_cast<uint16_t>(
        std::lround(std::clamp(fahrenheit * FullScale / 500, 0.0, FullScale)));
}

// The value with the number pattern "#0.0": at least one digit before the point, exactly one
// after it, rounded half away from zero on its 15 significant digits.
std::string formatTenths(double value);

} // namespace zelto::sensor
