#pragma once

#include "usb/frameparcer.h"
#include "usb/usbendpointreader.h"

namespace Tavrix::Usb {

// The command answer IN endpoint: cuts answer frames out of the reads and
// emits each one with signalAnswer(frame, 0).
template<unsigned int Address>
class UsbCmdListener : public UsbEndPointReader
{
public:
    UsbCmdListener(const QString& name, UsbContext* context, std::size_t bufferSize, QObject* parent = nullptr);

    // Consumes the last completed read and submits the next one; false while
    // a read is still in flight.
    bool exe();
    // Submits a read without consuming anything (first read after opening).
    void submitRead();
    void resetParcer() { m_parcer.reset(); }
    const FrameParcer& parcer() const { return m_parcer; }

private:
    FrameParcer m_parcer;
};

extern template class UsbCmdListener<133>;

} // namespace Tavrix::Usb
