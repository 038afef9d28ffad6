#pragma once

// Identifiers of the window's class and controls, shared with programs that drive the window.
#define WARMSCOPE_CLASS L"TempForm"
#define WARMSCOPE_CAPTION L"Ostrel Zelto Temp Demo"
#define WARMSCOPE_TITLE L"Warmscope"

#define IDC_TEMP 101
#define IDC_LABEL2 102
#define IDC_LIMIT 103
#define IDC_LABEL1 104
#define IDC_CPORT 105
#define IDC_CSTATUS 106
