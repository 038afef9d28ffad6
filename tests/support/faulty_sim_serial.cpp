#include "faulty_sim_serial.h"

namespace zelto::test {

void FaultySimSerial::failNextReads(int n, int32_t error) {
    std::lock_guard lock(m_faultMutex);
    m_failReads = n;
    m_readError = error;
}

void FaultySimSerial::setWriteError(int32_t error) {
    std::lock_guard lock(m_faultMutex);
    m_writeError = error;
}

void FaultySimSerial::setOpenError(int32_t error) {
    std::lock_guard lock(m_faultMutex);
    m_openError = error;
}

void FaultySimSerial::beforeOpen() {
    std::lock_guard lock(m_faultMutex);
    if (m_openError != 0)
        raise(m_openError);
}

void FaultySimSerial::beforeWrite() {
    std::lock_guard lock(m_faultMutex);
    if (m_writeError != 0)
        raise(m_writeError);
}

void FaultySimSerial::beforeRead() {
    std::lock_guard lock(m_faultMutex);
    if (m_failReads > 0) {
        --m_failReads;
        raise(m_readError);
    }
}

} // namespace zelto::test
