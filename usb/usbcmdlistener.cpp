#include "usb/usbcmdlistener.h"

#include "usb/usbcontext.h"
#include "usb/usbreadtransfer.h"

#include <atomic>

namespace Tavrix::Usb {

namespace {
// Answer frames seen by the process, for the periodic progress line.
std::atomic<uint64_t> answerFrameCounter{0};
}

template<unsigned int Address>
UsbCmdListener<Address>::UsbCmdListener(const QString& name,
                                        UsbContext* context,
                                        std::size_t bufferSize,
                                        QObject* parent)
    : UsbEndPointReader(Address, name, context, bufferSize, parent)
    , m_parcer(bufferSize)
{
}

template<unsigned int Address>
void UsbCmdListener<Address>::submitRead()
{
    transfer(&UsbReadTransfer<UsbCmdListener<Address>>::callback);
}

template<unsigned int Address>
bool UsbCmdListener<Address>::exe()
{
    if (isBusy())
        return false;

    const int received = receivedCount();
    if (received > 0) {
        const uint8_t* bytes = buffer();
        int frames = 0;
        int lastFrameEnd = 0;
        for (int i = 0; i < received; ++i) {
            if (!m_parcer.put(bytes[i]))
                continue;
            ++frames;
            lastFrameEnd = i + 1;
            const uint64_t counter = ++answerFrameCounter;
            if (counter % 1000 == 0)
                context()->logInfo(nameText() + " " + std::to_string(counter) + " "
                                   + std::to_string(m_parcer.discardedCount()));
            emit signalAnswer(m_parcer.frame(), 0);
        }
        if (!(frames == 1 && lastFrameEnd == received))
            context()->logError(" error: " + std::to_string(frames) + " " + std::to_string(received - lastFrameEnd));
    }
    submitRead();
    return true;
}

template class UsbCmdListener<133>;

} // namespace Tavrix::Usb
