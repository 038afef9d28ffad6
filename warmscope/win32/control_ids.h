#pragma once

// Identifiers of the window's class and controls, shared with programs that drive the window.
#define WARMSCOPE_CLASS L"TempForm"
#define WARMSCOPE_CAPTION L"Ostrel Zelto Temp Demo"
#define WARMSCOPE_TITLE L"Warmscope"

#define IDC_TEMP 101    // Temp: the temperature
#define IDC_LABEL2 102  // Label2: "Limit:"
#define IDC_LIMIT 103   // Limit: the limit's text box
#define IDC_LABEL1 104  // Label1: "COM"
#define IDC_CPORT 105   // CPort: the port list
#define IDC_CSTATUS 106 // CStatus: the connection's status

// The controls by the names the window gives them, so that a driver names a control rather than
// restating its number.
struct WarmscopeControl {
    const char* name;
    int id;
};
inline constexpr WarmscopeControl WarmscopeControls[] = {
    {"Temp", IDC_TEMP},     {"Label2", IDC_LABEL2}, {"Limit", IDC_LIMIT},
    {"Label1", IDC_LABEL1}, {"CPort", IDC_CPORT},   {"CStatus", IDC_CSTATUS},
};
