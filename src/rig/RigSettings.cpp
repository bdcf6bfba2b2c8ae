#include "RigSettings.h"

#include "core/IniProfile.h"

#include <QDebug>
#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>

namespace {
QString sectionOf(RigId id)
{
    return QStringLiteral("RIG%1").arg(rigNumber(id));
}

// The managed-server keys, in the order they are written.
const QString KeyModel = QStringLiteral("MODEL");
const QString KeyDevice = QStringLiteral("DEVICE");
const QString KeySpeed = QStringLiteral("SPEED");
const QString KeyPtt = QStringLiteral("PTT");
const QString KeyPttDevice = QStringLiteral("PTTDEVICE");

// A value that cannot be used, with the line it came from, as the log and the operator see it.
QString problemText(const QString& fileName, const QString& section, const QString& key,
    const QString& value, const QString& what)
{
    return QStringLiteral("%1 [%2] %3=%4: %5")
        .arg(QFileInfo(fileName).fileName(), section, key, value, what);
}

void unusable(QStringList* problems, const QString& fileName, const QString& section,
    const QString& key, const QString& value, const QString& what)
{
    const QString text = problemText(fileName, section, key, value, what);
    qWarning().noquote() << text;
    if (problems)
        problems->append(text);
}

RigServerOptions readServer(const QString& fileName, const QString& section, QStringList* problems)
{
    RigServerOptions server;
    auto read = [&](const QString& key) {
        return ReadProfileString(fileName, section, key, QString()).trimmed();
    };
    const QString model = read(KeyModel);
    bool ok = false;
    server.model = model.toInt(&ok);
    if (!model.isEmpty() && (!ok || server.model < 0)) {
        unusable(problems, fileName, section, KeyModel, model,
            QStringLiteral("not a Hamlib model number; using a rigctld already running"));
        server.model = 0;
    }
    if (!server.isManaged())
        return RigServerOptions {};
    server.device = read(KeyDevice);
    const QString speed = read(KeySpeed);
    server.speed = speed.toInt(&ok);
    if (!speed.isEmpty() && (!ok || server.speed < 0)) {
        unusable(problems, fileName, section, KeySpeed, speed,
            QStringLiteral("not a speed; using the radio's default"));
        server.speed = 0;
    }
    server.ptt = read(KeyPtt).toUpper();
    if (!server.ptt.isEmpty() && !RigServerOptions::PttMethods().contains(server.ptt)) {
        unusable(problems, fileName, section, KeyPtt, read(KeyPtt),
            QStringLiteral("not a PTT method; using RIG"));
        server.ptt.clear();
    }
    server.pttDevice = read(KeyPttDevice);
    return server;
}
}

const QStringList& RigServerOptions::PttMethods()
{
    static const QStringList methods { QStringLiteral("RIG"), QStringLiteral("DTR"),
        QStringLiteral("RTS"), QStringLiteral("CM108"), QStringLiteral("GPIO"),
        QStringLiteral("GPION"), QStringLiteral("NONE") };
    return methods;
}

RigEndpoint RigSettings::defaultEndpoint(RigId id)
{
    // rigctld's own default port is 4532; a second instance conventionally takes 4534,
    // since 4533 is rotctld's.
    return RigEndpoint { QStringLiteral("127.0.0.1"), quint16(id == RigId::A ? 4532 : 4534) };
}

RigSettings RigSettings::defaults()
{
    return RigSettings { { defaultEndpoint(RigId::A), defaultEndpoint(RigId::B) } };
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

QString UnknownModelProblem(const QString& fileName, RigId id, int model)
{
    return problemText(fileName, sectionOf(id), KeyModel, QString::number(model),
        QStringLiteral("not a radio this rigctld knows (rigctld -l lists them)"));
}

RigSettings ReadRigSettings(
    const QString& fileName, const RigSettings& defaults, QStringList* problems)
{
    RigSettings settings = defaults;
    if (fileName.isEmpty())
        return settings;
    for (RigId id : AllRigs) {
        RigEndpoint& rig = settings.rig(id);
        const QString section = sectionOf(id);
        rig.host = ReadProfileString(fileName, section, QStringLiteral("HOST"), rig.host);
        settings.server(id) = readServer(fileName, section, problems);
        // The server this program runs listens on the loopback interface only.
        if (settings.server(id).isManaged())
            rig.host = RigSettings::defaultEndpoint(id).host;
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
            unusable(problems, fileName, section, QStringLiteral("PORT"), portText,
                QStringLiteral("not a port number; using %1").arg(rig.port));
    }
    return settings;
}

void WriteRigSettings(const QString& fileName, const RigSettings& settings)
{
    for (RigId id : AllRigs) {
        const RigEndpoint& rig = settings.rig(id);
        const bool configured = rig.isConfigured();
        const QString section = sectionOf(id);
        WriteProfileString(
            fileName, section, QStringLiteral("HOST"), configured ? rig.host : QString());
        WriteProfileString(fileName, section, QStringLiteral("PORT"),
            configured ? QString::number(rig.port) : QString());
        // Only what is set is written: a file that never had a rigctld of this program's
        // keeps its two keys. A value no longer set is cleared, which reads as unset.
        const RigServerOptions& server = settings.server(id);
        const bool managed = configured && server.isManaged();
        auto write = [&](const QString& key, const QString& value) {
            const QString text = managed ? value : QString();
            if (!text.isEmpty() || !ReadProfileString(fileName, section, key, QString()).isEmpty())
                WriteProfileString(fileName, section, key, text);
        };
        write(KeyModel, QString::number(server.model));
        write(KeyDevice, server.device);
        write(KeySpeed, server.speed > 0 ? QString::number(server.speed) : QString());
        write(KeyPtt, server.ptt);
        write(KeyPttDevice, server.pttDevice);
    }
}
