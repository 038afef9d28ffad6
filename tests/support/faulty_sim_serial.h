#pragma once

#include "errors.h"
#include "sim_serial.h"

#include <cstdint>
#include <mutex>

namespace zelto::test {

// A simulated board's component that fails the reads, writes and openings it is told to fail. All
// members may be called from any thread.
class FaultySimSerial : public sim::SimSerial {
  public:
    using SimSerial::SimSerial;

    // The next n reads fail with the given error.
    void failNextReads(int n, int32_t error = err::PortIoError);
    // While set (non-zero), writes fail with this error and reach neither the record nor the model.
    void setWriteError(int32_t error);
    // While set (non-zero), opening the port fails with this error.
    void setOpenError(int32_t error);

  protected:
    void beforeOpen() override;
    void beforeWrite() override;
    void beforeRead() override;

  private:
    // Its own lock: the checks run under the component's.
    std::mutex m_faultMutex;
    int m_failReads = 0;
    int32_t m_readError = err::PortIoError;
    int32_t m_writeError = 0;
    int32_t m_openError = 0;
};

} // namespace zelto::test
