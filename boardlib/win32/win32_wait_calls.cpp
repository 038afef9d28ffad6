#include "win32_wait_calls.h"

#include <mmsystem.h>

namespace zelto {

Win32WaitCalls& win32WaitCalls() {
    static Win32WaitCalls calls{timeBeginPeriod, timeEndPeriod, Sleep, MsgWaitForMultipleObjectsEx};
    return calls;
}

} // namespace zelto
