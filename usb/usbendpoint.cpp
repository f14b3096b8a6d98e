#include "usb/usbendpoint.h"

#include "usb/usbcontext.h"

#include <QMetaType>
#include <libusb.h>

namespace Tavrix::Usb {

UsbEndPoint::UsbEndPoint(unsigned int address, const QString& name, UsbContext* context, QObject* parent)
    : QObject(parent)
    , m_address(address)
    , m_name(name)
    , m_context(context)
{
    registerMetaTypes();
}

UsbEndPoint::~UsbEndPoint()
{
    // A transfer still in flight belongs to libusb; freeing it would leave
    // libusb with a dangling pointer, so it is rather leaked.
    if (!isBusy())
        releaseTransfer();
}

void UsbEndPoint::releaseTransfer()
{
    if (m_transfer != nullptr) {
        // The handle it was filled with may be closed by now; libusb would
        // still look through it while freeing.
        m_transfer->dev_handle = nullptr;
        libusb_free_transfer(m_transfer);
        m_transfer = nullptr;
    }
}

void UsbEndPoint::registerMetaTypes()
{
    qRegisterMetaType<std::vector<uint8_t>>("std::vector<uint8_t>");
    qRegisterMetaType<int32_t>("int32_t");
    qRegisterMetaType<std::string>("std::string");
}

bool UsbEndPoint::canSubmit()
{
    const int32_t state = m_context->errorState();
    if (state != 0) {
        m_context->logError(" " + nameText() + " has error " + std::to_string(state));
        return false;
    }
    if (isBusy()) {
        m_context->logError(" " + nameText() + " is transfered");
        m_context->setErrorState(LIBUSB_ERROR_BUSY);
        return false;
    }
    return true;
}

} // namespace Tavrix::Usb
