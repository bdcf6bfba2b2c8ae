#include "RigSettings.h"

#include "core/IniProfile.h"

#include <QDebug>
#include <QHostAddress>
#include <QRegularExpression>

namespace {
QString sectionOf(int index)
{
    return QStringLiteral("RIG%1").arg(index + 1);
}
}

RigEndpoint RigSettings::defaultEndpoint(int rigNumber)
{
    // rigctld's own default port is 4532; a second instance conventionally takes 4534,
    // since 4533 is rotctld's.
    return RigEndpoint { QStringLiteral("127.0.0.1"), quint16(rigNumber == 1 ? 4532 : 4534) };
}

RigSettings RigSettings::defaults()
{
    return RigSettings { { defaultEndpoint(1), defaultEndpoint(2) } };
}

QString RigSocketHost(const QString& host)
{
    const QString text = host.trimmed();
    const bool bracketed = text.startsWith(u'[') && text.endsWith(u']');
    const QString inner = bracketed ? text.mid(1, text.size() - 2) : text;
    if (inner.isEmpty() || inner.contains(u'[') || inner.contains(u']')
        || inner.contains(QRegularExpression(QStringLiteral("\\s"))))
        return QString();
    // A colon only belongs in an IPv6 address; brackets only around one.
    const bool ipv6 = QHostAddress(inner).protocol() == QAbstractSocket::IPv6Protocol;
    if ((bracketed || inner.contains(u':')) && !ipv6)
        return QString();
    return inner;
}

RigSettings ReadRigSettings(const QString& fileName, const RigSettings& defaults)
{
    RigSettings settings = defaults;
    if (fileName.isEmpty())
        return settings;
    for (int i = 0; i < 2; ++i) {
        RigEndpoint& rig = settings.rigs[i];
        const QString section = sectionOf(i);
        rig.host = ReadProfileString(fileName, section, QStringLiteral("HOST"), rig.host);
        if (rig.host.isEmpty()) {
            rig.port = 0;
            continue;
        }
        const QString portText = ReadProfileString(
            fileName, section, QStringLiteral("PORT"), QString::number(rig.port));
        bool ok = false;
        const uint port = portText.toUInt(&ok);
        if (ok && port >= 1 && port <= 65535)
            rig.port = quint16(port);
        else
            qWarning().noquote() << fileName << section << "PORT" << portText
                                 << "is not a port number; using" << rig.port;
    }
    return settings;
}

void WriteRigSettings(const QString& fileName, const RigSettings& settings)
{
    for (int i = 0; i < 2; ++i) {
        const RigEndpoint& rig = settings.rigs[i];
        const bool configured = rig.isConfigured();
        WriteProfileString(
            fileName, sectionOf(i), QStringLiteral("HOST"), configured ? rig.host : QString());
        WriteProfileString(fileName, sectionOf(i), QStringLiteral("PORT"),
            configured ? QString::number(rig.port) : QString());
    }
}
