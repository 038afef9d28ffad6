#include "errors.h"

#include <iterator>

namespace zelto {
namespace {

// Ascending and without a number twice, so that a number has one name and one text.
constexpr bool ascending() {
    for (size_t i = 1; i < std::size(ErrorList); ++i)
        if (ErrorList[i - 1].number >= ErrorList[i].number)
            return false;
    return true;
}
static_assert(ascending());

} // namespace

std::string errorDescription(int32_t number) {
    for (const ErrorEntry& entry : ErrorList)
        if (entry.number == number)
            return entry.text;
    return "Application-defined or object-defined error";
}

AutomationError::AutomationError(int32_t number)
    : AutomationError(number, errorDescription(number)) {}

AutomationError::AutomationError(int32_t number, const std::string& description)
    : std::runtime_error(description), m_number(number) {}

void raise(int32_t number) {
    throw AutomationError(number);
}

} // namespace zelto
