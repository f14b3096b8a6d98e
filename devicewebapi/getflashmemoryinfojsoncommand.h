#pragma once

#include "devicewebapi/bytechainjsoncommand.h"

namespace Tavrix::DeviceWebApi {

// "GetFlashMemoryInfo": size and fill of the recording memory, the first
// block to read and whether the recording was read out.
class GetFlashMemoryInfoJsonCommand : public ByteChainJsonCommand
{
    Q_OBJECT

public:
    static constexpr uint32_t blockSize = 512;

    GetFlashMemoryInfoJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description,
                                  Usb::UsbDeviceManager* manager);

    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();

    // Percentage of the recording area's blocks that hold data, "?" when the
    // area is smaller than one block.
    static QString fillPercentText(uint64_t minAddress, uint64_t maxAddress, uint64_t writtenCount);

protected:
    std::vector<Step> steps() override;
    QJsonObject createAnswer() const override;

private:
    uint64_t m_maxAddress = 0;
    uint64_t m_minAddress = 0;
    QString m_fillPercent;
    uint32_t m_beginBlock = 0;
    QString m_flashState;
};

} // namespace Tavrix::DeviceWebApi
