#pragma once

// Shared plumbing of the fuzz targets: one quiet QCoreApplication per
// process and a cursor over the fuzzer's bytes.

#include <QCoreApplication>
#include <QtGlobal>
#include <QEvent>
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

namespace FuzzSupport {

using Bytes = std::vector<uint8_t>;

// Drops everything written to it: the service prints progress lines to
// std::cout and Qt's log, which would drown the fuzzer's own output.
class NullBuffer : public std::streambuf
{
protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

inline void dropMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

// Call from LLVMFuzzerInitialize. Sanitizer reports go to stderr through
// their own runtime, so silencing Qt and std::cout hides no finding.
inline void initialize(int* argc, char*** argv)
{
    static NullBuffer nullBuffer;
    std::cout.rdbuf(&nullBuffer);
    qInstallMessageHandler(dropMessage);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Without TZ the C library looks at /etc/localtime again for every
    // local time stamp, and the log lines an input makes take several.
    if (!qEnvironmentVariableIsSet("TZ"))
        qputenv("TZ", "UTC");
    static QCoreApplication app(*argc, *argv);
}

// Runs what deleteLater() queued, so objects released by one input are gone
// before the next (otherwise they would pile up as the run goes on).
inline void flushDeferredDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Delivers queued signals and deferred deletes; bounded so an input that
// keeps posting cannot hang the run.
inline void processEvents(int rounds = 4)
{
    for (int i = 0; i < rounds; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        flushDeferredDeletes();
    }
}

// A frame as the recorder sends it, with the unused 0xFF 0xFF checksum.
inline Bytes frame(uint8_t code, const uint8_t* data, std::size_t size)
{
    Bytes out{0x7E, static_cast<uint8_t>(size & 0xFF), static_cast<uint8_t>(size >> 8), code};
    out.insert(out.end(), data, data + size);
    out.insert(out.end(), {0xFF, 0xFF, 0xBD});
    return out;
}

// Reads the fuzzer's bytes front to back; reads past the end give zeros.
class Input
{
public:
    Input(const uint8_t* data, std::size_t size)
        : m_data(data)
        , m_size(size)
    {
    }

    bool empty() const { return m_pos >= m_size; }
    std::size_t remaining() const { return m_size - m_pos; }

    uint8_t byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    uint16_t u16()
    {
        const uint16_t low = byte();
        return static_cast<uint16_t>(low | (byte() << 8));
    }
    uint32_t u32()
    {
        const uint32_t low = u16();
        return low | (static_cast<uint32_t>(u16()) << 16);
    }
    Bytes take(std::size_t count)
    {
        count = std::min(count, remaining());
        Bytes out(m_data + m_pos, m_data + m_pos + count);
        m_pos += count;
        return out;
    }
    Bytes rest() { return take(remaining()); }

private:
    const uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

} // namespace FuzzSupport

// A broken invariant is a finding like a crash: report it and abort so the
// fuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                                          \
    do {                                                                                               \
        if (!(condition)) {                                                                            \
            std::fprintf(stderr, "FUZZ_CHECK failed: %s at %s:%d\n", #condition, __FILE__, __LINE__); \
            std::abort();                                                                              \
        }                                                                                              \
    } while (false)

// The start-up of a target that needs nothing but the quiet application:
// FUZZ_QUIET_INITIALIZE() at namespace scope defines LLVMFuzzerInitialize.
#define FUZZ_QUIET_INITIALIZE()                                            \
    extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)           \
    {                                                                      \
        FuzzSupport::initialize(argc, argv);                               \
        return 0;                                                          \
    }
