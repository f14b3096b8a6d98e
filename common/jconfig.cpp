#include "common/jconfig.h"

#include "common/jterminal.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <cstdlib>

namespace Tavrix::Common {

namespace {

QMap<QString, QVariant>& table()
{
    static QMap<QString, QVariant> parameters;
    return parameters;
}

QString debugForm(const QVariant& value)
{
    QString text;
    QDebug(&text) << value;
    return text.trimmed();
}

} // namespace

void JConfig::requestQuit()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        std::exit(1);
    // Queued so the request also works before the event loop has started.
    QMetaObject::invokeMethod(app, [] { QCoreApplication::exit(-1); }, Qt::QueuedConnection);
}

void JConfig::addRgs(int argc, char** argv)
{
    if (argc < 1)
        return;
    for (int i = 0; i < argc; ++i)
        addRg("argc" + QString::number(i), QString::fromUtf8(argv[i]));
}

void JConfig::addRg(const QString& name, const QVariant& value)
{
    if (table().contains(name)) {
        JTerminal('1') << "parameter" << name << "is already defined";
        requestQuit();
    }
    table().insert(name, value);
    JTerminal('0') << name << "=" << debugForm(value).toUtf8().constData();
}

QVariant JConfig::getRg(const QString& name)
{
    if (!table().contains(name)) {
        JTerminal('1') << "parameter" << name << "absent";
        requestQuit();
        table().insert(name, QVariant());
    }
    return table().value(name);
}

bool JConfig::hasRg(const QString& name)
{
    return table().contains(name);
}

void JConfig::priRgs()
{
    for (auto it = table().cbegin(); it != table().cend(); ++it)
        JTerminal('0') << it.key() << "=" << debugForm(it.value()).toUtf8().constData();
}

QMap<QString, QVariant> JConfig::all()
{
    return table();
}

void JConfig::clear()
{
    table().clear();
}

} // namespace Tavrix::Common
