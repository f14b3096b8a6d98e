#pragma once

#include <QMap>
#include <QString>
#include <QVariant>

namespace Tavrix::Common {

// Process-wide named parameters: one per command-line argument ("argc0",
// "argc1", ...). Filled and read on the main thread only.
class JConfig
{
public:
    static void addRgs(int argc, char** argv);
    static void addRg(const QString& name, const QVariant& value);
    // A lookup of an absent name is a fatal configuration error.
    static QVariant getRg(const QString& name);
    // Non-fatal check for optional parameters.
    static bool hasRg(const QString& name);
    static void priRgs();
    static QMap<QString, QVariant> all();
    // For tests: empties the table.
    static void clear();

private:
    static void requestQuit();
};

} // namespace Tavrix::Common
