#include "monitor.h"

#include "temperature_sensor.h"

#include <charconv>
#include <cmath>
#include <string>

namespace warmscope {
namespace {

constexpr int kReadingsPerTick = 5;
constexpr int32_t kAnalogPin = 0;
constexpr int32_t kAlarmPin = 0;
constexpr int32_t kPwmChannel = -1;
constexpr int32_t kFduration = 5000;
constexpr int32_t kTonePin = 1;
constexpr int32_t kTone = 1000;
constexpr int32_t kToneDuration = 250;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

double leadingNumber(const std::string& text) {
    const size_t n = text.size();
    size_t i = 0;
    while (i < n && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const size_t start = i;
    size_t digits = 0;
    bool wholeIsZero = true;
    while (i < n && isDigit(text[i])) {
        wholeIsZero = wholeIsZero && text[i] == '0';
        ++i;
        ++digits;
    }
    if (i < n && text[i] == '.') {
        ++i;
        while (i < n && isDigit(text[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return 0;

    size_t end = i;
    bool smallExponent = false;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        if (j < n && (text[j] == '+' || text[j] == '-')) {
            smallExponent = text[j] == '-';
            ++j;
        }
        const size_t expStart = j;
        while (j < n && isDigit(text[j]))
            ++j;
        if (j > expStart)
            end = j; // an "e" without digits is not part of the number
        else
            smallExponent = false;
    }

    double magnitude = 0;
    const auto [ptr, ec] = std::from_chars(text.data() + start, text.data() + end, magnitude,
                                           std::chars_format::general);
    (void)ptr;
    if (ec == std::errc::result_out_of_range)
        magnitude = smallExponent || wholeIsZero ? 0.0 : HUGE_VAL;
    return negative ? -magnitude : magnitude;
}

int32_t dutyForExcess(double excess) {
    if (excess < 2)
        return 10;
    if (excess < 10)
        return 64;
    return 255;
}

Variant Monitor::get(int32_t id) {
    return m_board.call(id, MemberKind::PropertyGet, {});
}

void Monitor::let(int32_t id, Variant value) {
    m_board.call(id, MemberKind::PropertyLet, {std::move(value)});
}

Variant Monitor::method(int32_t id, std::vector<Variant> args) {
    return m_board.call(id, MemberKind::Method, args);
}

void Monitor::loaded() {
    for (int n = 1; n <= 10; ++n)
        m_view.addPort(std::to_string(n));
}

void Monitor::portPicked() {
    // Every step goes on after an error; the last error's number stays recorded.
    ++m_attempts;
    int32_t recorded = 0;
    auto step = [&recorded](auto&& action) {
        try {
            action();
        } catch (const zelto::AutomationError& e) {
            recorded = e.number();
        }
    };

    step([&] { m_view.setTimerEnabled(false); });
    step([&] { let(dispid::portopen, Variant(false)); });
    recorded = 0;
    step([&] { let(dispid::CommPort, Variant(Variant(m_view.pickedPort()).toInteger())); });
    step([&] { let(dispid::portopen, Variant(true)); });

    bool failed = true; // stays so when reading ready raises
    step([&] {
        const bool errorSeen = recorded != 0;
        const bool ready = get(dispid::ready).toBoolean();
        failed = errorSeen || !ready;
    });

    if (failed) {
        step([&] { m_view.setCaption(Label::CStatus, "Disconnected"); });
        step([&] { m_view.setColour(Label::CStatus, kRed); });
        step([&] { m_view.showMessage("Can't connect to I/O Board"); });
        return;
    }
    step([&] {
        method(dispid::pwm, {Variant(kPwmChannel), Variant(int32_t{0}), Variant(kFduration)});
    });
    step([&] { method(dispid::low, {Variant(kAlarmPin)}); });
    step([&] { m_view.setCaption(Label::CStatus, "Connected"); });
    step([&] { m_view.setColour(Label::CStatus, kGreen); });
    step([&] { m_view.setTimerEnabled(true); });
}

void Monitor::tick() {
    const unsigned attempt = m_attempts;
    try {
        if (!get(dispid::ready).toBoolean())
            return;

        m_blink = !m_blink;
        let(dispid::led, Variant(m_blink));

        int32_t sum = 0;
        for (int n = 0; n < kReadingsPerTick; ++n) {
            const int32_t reading = method(dispid::a2d, {Variant(kAnalogPin)}).toLong();
            if (__builtin_add_overflow(sum, reading, &sum))
                zelto::raise(zelto::err::Overflow);
        }
        const double average = static_cast<double>(sum) / kReadingsPerTick;
        const double temperature = zelto::sensor::fahrenheitForReading(average);
        m_view.setCaption(Label::Temp,
                          m_view.tempTag() + zelto::sensor::formatTenths(temperature) + " F");

        const double limit = leadingNumber(m_view.limitText());
        if (limit == 0)
            return;

        if (temperature > limit) {
            const int32_t duty = dutyForExcess(temperature - limit);
            m_view.setColour(Label::Temp, kRed);
            method(dispid::high, {Variant(kAlarmPin)});
            method(dispid::pwm, {Variant(kPwmChannel), Variant(duty), Variant(kFduration)});
            method(dispid::freq, {Variant(kTonePin), Variant(kTone), Variant(kToneDuration)});
        } else {
            m_view.setColour(Label::Temp, kGreen);
            method(dispid::low, {Variant(kAlarmPin)});
            method(dispid::pwm, {Variant(kPwmChannel), Variant(int32_t{0}), Variant(kFduration)});
        }
    } catch (const zelto::AutomationError&) {
        // A board that fails mid-tick is treated as lost rather than ending the program, unless a
        // pick made during the tick has already decided the state of the connection.
        if (attempt == m_attempts)
            connectionLost();
    }
}

void Monitor::connectionLost() {
    m_view.setTimerEnabled(false);
    m_view.setCaption(Label::CStatus, "Disconnected");
    m_view.setColour(Label::CStatus, kRed);
}

} // namespace warmscope
