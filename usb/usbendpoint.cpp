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

bool UsbEndPoint::submitBulk(unsigned char* buffer, int length, void (*callback)(libusb_transfer*), void* userData)
{
    if (m_transfer == nullptr) {
        m_context->logError(" m_transfer == nullptr");
        m_context->setErrorState(LIBUSB_ERROR_NO_MEM);
        return false;
    }
    libusb_fill_bulk_transfer(m_transfer, m_context->m_deviceHandle, static_cast<unsigned char>(m_address), buffer,
                              length, callback, userData, transferTimeoutMs);
    const int result = libusb_submit_transfer(m_transfer);
    if (result == 0) {
        setBusy(true);
        return true;
    }
    m_context->logError(" " + nameText() + " transfer error: " + std::to_string(result) + " "
                        + libusb_strerror(static_cast<libusb_error>(result)));
    setBusy(false);
    m_context->setErrorState(result);
    return false;
}

int UsbEndPoint::resubmitAfterStall(libusb_transfer* transfer)
{
    const std::string name = nameText();
    m_context->logInfo("clear halt " + name);
    const int cleared = libusb_clear_halt(m_context->m_deviceHandle, static_cast<unsigned char>(m_address));
    if (cleared != 0) {
        m_context->logError(name + " libusb_clear_halt error : " + std::to_string(cleared) + " "
                            + libusb_strerror(static_cast<libusb_error>(cleared)));
        return cleared;
    }
    const int submitted = libusb_submit_transfer(transfer);
    if (submitted != 0)
        m_context->logError(name + " re-submitting transfer error : " + std::to_string(submitted) + " "
                            + libusb_strerror(static_cast<libusb_error>(submitted)));
    return submitted;
}

} // namespace Tavrix::Usb
