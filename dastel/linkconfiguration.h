#pragma once

#include "dastel/settings.h"
#include "devicesinfo/deviceinfojsonparser.h"
#include "usb/cabletypeinfo.h"

#include <QObject>
#include <QString>
#include <vector>

namespace Tavrix::Dastel {

// The composition root: reads the configuration next to the executable,
// builds every long-lived component once, in a fixed order, and wires them.
class LinkConfiguration : public QObject
{
    Q_OBJECT

public:
    explicit LinkConfiguration(const QString& appDir, QObject* parent = nullptr);
    ~LinkConfiguration() override;

    // True when every configuration file was read and the components exist.
    bool isBuilt() const { return m_built; }

private:
    bool readDescriptions(const QString& dir, DevicesInfo::DeviceInfoMap& devices);
    bool readCableTypes(const QString& dir, std::vector<Usb::CableTypeInfo>& cables);

    bool m_built = false;
};

} // namespace Tavrix::Dastel
