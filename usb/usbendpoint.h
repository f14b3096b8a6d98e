#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

struct libusb_transfer;

namespace Tavrix::Usb {

class UsbContext;

// One bulk endpoint of the recorder's interface with its single libusb
// transfer. Endpoint work runs on the USB thread; signalAnswer crosses to the
// main thread by queued connection.
class UsbEndPoint : public QObject
{
    Q_OBJECT

signals:
    void signalAnswer(std::vector<uint8_t> answer, int32_t status);

public:
    // Bulk transfers on every endpoint give up after this long.
    static constexpr unsigned int transferTimeoutMs = 250;

    UsbEndPoint(unsigned int address, const QString& name, UsbContext* context, QObject* parent = nullptr);
    ~UsbEndPoint() override;

    unsigned int address() const { return m_address; }
    const QString& name() const { return m_name; }
    std::string nameText() const { return m_name.toStdString(); }
    UsbContext* context() const { return m_context; }

    // Set from a successful submission until the completion callback ran.
    bool isBusy() const { return m_busy.load(); }
    void setBusy(bool busy) { m_busy.store(busy); }

    // Frees the transfer (never while it is in flight) and forgets it.
    void releaseTransfer();

    // The types signalAnswer carries across threads.
    static void registerMetaTypes();

    libusb_transfer* m_transfer = nullptr;

protected:
    // Shared guard of every submission: logs and refuses when the link is
    // broken or the endpoint is still in flight.
    bool canSubmit();
    // Fills the endpoint's transfer for `length` bytes at `buffer` and submits
    // it; `userData` is what `callback` gets back. A missing transfer or a
    // refused submission is logged and becomes the link's error state.
    // True when the transfer is in flight.
    bool submitBulk(unsigned char* buffer, int length, void (*callback)(libusb_transfer*), void* userData);

public:
    // For a transfer that ended in a stall (completion callbacks): clears the
    // endpoint's halt and submits the same transfer again. 0 when it is in
    // flight again, else the failing libusb code, logged.
    int resubmitAfterStall(libusb_transfer* transfer);

private:
    unsigned int m_address;
    QString m_name;
    UsbContext* m_context;
    std::atomic<bool> m_busy{false};
};

} // namespace Tavrix::Usb
