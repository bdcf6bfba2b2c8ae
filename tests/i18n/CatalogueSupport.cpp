#include "CatalogueSupport.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryFile>

namespace {

QByteArray Quoted(const QByteArray& text)
{
    QByteArray quoted = text;
    quoted.replace('\\', "\\\\").replace('"', "\\\"").replace('\n', "\\n").replace('\t', "\\t");
    return '"' + quoted + '"';
}

} // namespace

bool MakeCatalogue(
    const QString& path, const TMessages& messages, bool bigEndian, const QByteArray& charset)
{
    QTemporaryFile po(QDir::tempPath() + QStringLiteral("/vokey-XXXXXX.po"));
    if (!po.open())
        return false;
    po.write("msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=" + charset + "\\n\"\n");
    for (const auto& [msgid, msgstr] : messages)
        po.write("\nmsgid " + Quoted(msgid) + "\nmsgstr " + Quoted(msgstr) + "\n");
    po.close();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QStringList arguments { QStringLiteral("-o"), path, po.fileName() };
    if (bigEndian)
        arguments.prepend(QStringLiteral("--endianness=big"));
    QProcess msgfmt;
    msgfmt.start(QStringLiteral("msgfmt"), arguments);
    if (!msgfmt.waitForFinished(60000) || msgfmt.exitStatus() != QProcess::NormalExit
        || msgfmt.exitCode() != 0) {
        qWarning() << "msgfmt failed:" << msgfmt.readAllStandardError() << msgfmt.errorString();
        return false;
    }
    return true;
}
