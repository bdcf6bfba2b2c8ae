// The rig link's settings (window and configuration file), reply decoding, and the
// delivery of events from a substitute server.
#include "RigTestSupport.h"
#include "core/IniProfile.h"
#include "rig/RigSettingsDialog.h"
#include "rig/RigctldReply.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

namespace {
// A server substitute whose events the test fires by hand.
class StubRig : public IRigX {
public:
    QString RigType() const override { return QStringLiteral("Stub"); }
    int Status() const override { return rsOnline; }
    int ReadableParams() const override { return PM_RX | PM_TX; }
    bool IsParamReadable(int) const override { return true; }
    int Tx() const override { return PM_RX; }
    void SetTx(int) override { }
    void SendCustomCommand(const QByteArray&, int, const QByteArray&) override { }
    void Start(const RigEndpoint&, const RigTimings&) override { }
    void Stop() override { }
};

TRigSettingsDialog* openDialog()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<TRigSettingsDialog*>(widget); dialog && dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

void writeFile(const QString& fileName, const QByteArray& text)
{
    QFile file(fileName);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}
}

class tst_RigSettings : public QObject {
    Q_OBJECT
private slots:
    void rawReply_data();
    void rawReply();
    void capsAndPtt();
    void dialogWritesSettings();
    void settingsReadAtConnect_data();
    void settingsReadAtConnect();
    void eventsOneAtATime();
};

void tst_RigSettings::rawReply_data()
{
    QTest::addColumn<QByteArrayList>("lines");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("binary with count")
        << QByteArrayList { "Reply:\\0xFE\\0x00\\0xfd 3" } << QByteArray("\xFE\x00\xFD", 3);
    QTest::newRow("binary, label and blank")
        << QByteArrayList { "Reply: \\0x0A 1" } << QByteArray("\x0A");
    QTest::newRow("text") << QByteArrayList { "FA00014074000;" } << QByteArray("FA00014074000;");
    QTest::newRow("text over lines")
        << QByteArrayList { "IF0001;", "PS1;" } << QByteArray("IF0001;PS1;");
    QTest::newRow("nothing") << QByteArrayList {} << QByteArray();
}

void tst_RigSettings::rawReply()
{
    QFETCH(QByteArrayList, lines);
    QFETCH(QByteArray, bytes);
    QCOMPARE(RigctldReply::rawReply(lines), bytes);
}

void tst_RigSettings::capsAndPtt()
{
    QCOMPARE(
        RigctldReply::encodeRaw(QByteArray("\x00\x0a\xFA", 3)), QByteArray("\\0x00\\0x0A\\0xFA"));
    QCOMPARE(RigctldReply::rigType({ "Caps dump for model: 1", "Model name:\tDummy",
                 "Mfg name:\tHamlib", "Backend version:\t20221128.0" }),
        QStringLiteral("Hamlib Dummy"));
    QCOMPARE(RigctldReply::rigType({ "Model name:\tIC-7300" }), QStringLiteral("IC-7300"));
    QCOMPARE(RigctldReply::ptt({ "PTT: 0" }), 0);
    QCOMPARE(RigctldReply::ptt({ "PTT: 3" }), 3);
    QCOMPARE(RigctldReply::ptt({ "PTT: x" }), std::nullopt);
    QCOMPARE(RigctldReply::ptt({}), std::nullopt);
}

void tst_RigSettings::dialogWritesSettings()
{
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("VOKEY.INI"));
    writeFile(config, "[SETTINGS]\nGAIN=5\n");
    TOmniRigX omniRig;
    omniRig.SetTimings(fastTimings());
    omniRig.SetConfigFile(config);
    EventRecorder recorder(&omniRig);

    omniRig.SetDialogVisible(true);
    QVERIFY(omniRig.DialogVisible());
    QTRY_COMPARE(recorder.count(QStringLiteral("VisibleChange")), 1);
    TRigSettingsDialog* dialog = openDialog();
    QVERIFY(dialog);
    auto* rig1Kind = dialog->findChild<QComboBox*>(QStringLiteral("Rig1Kind"));
    auto* rig2Kind = dialog->findChild<QComboBox*>(QStringLiteral("Rig2Kind"));
    auto* rig1Port = dialog->findChild<QSpinBox*>(QStringLiteral("Rig1Port"));
    QCOMPARE(rig1Kind->currentText(), QStringLiteral("rigctld"));
    QCOMPARE(rig2Kind->currentText(), QStringLiteral("rigctld"));
    QCOMPARE(dialog->findChild<QLineEdit*>(QStringLiteral("Rig1Host"))->text(),
        QStringLiteral("127.0.0.1"));
    QCOMPARE(rig1Port->value(), 4532);
    QCOMPARE(dialog->findChild<QSpinBox*>(QStringLiteral("Rig2Port"))->value(), 4534);

    rig1Port->setValue(4600);
    rig2Kind->setCurrentText(QStringLiteral("none"));
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    QTRY_COMPARE(recorder.count(QStringLiteral("VisibleChange")), 2);
    QVERIFY(!omniRig.DialogVisible());
    QCOMPARE(ReadProfileString(config, "RIG1", "HOST", "?"), QStringLiteral("127.0.0.1"));
    QCOMPARE(ReadProfileString(config, "RIG1", "PORT", "?"), QStringLiteral("4600"));
    QCOMPARE(ReadProfileString(config, "RIG2", "HOST", "?"), QString());
    QCOMPARE(ReadProfileString(config, "SETTINGS", "GAIN", "?"), QStringLiteral("5"));
    QTRY_COMPARE(omniRig.Rig2()->Status(), int(rsNotConfigured));
    QCOMPARE(recorder.statuses(2).last(), int(rsNotConfigured));
    QCOMPARE(omniRig.Settings().rigs[0], (RigEndpoint { "127.0.0.1", 4600 }));

    // Cancel changes nothing.
    omniRig.SetDialogVisible(true);
    dialog = openDialog();
    QVERIFY(dialog);
    QCOMPARE(dialog->findChild<QComboBox*>(QStringLiteral("Rig2Kind"))->currentText(),
        QStringLiteral("none"));
    dialog->findChild<QSpinBox*>(QStringLiteral("Rig1Port"))->setValue(4700);
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
    QTRY_COMPARE(recorder.count(QStringLiteral("VisibleChange")), 4);
    QCOMPARE(ReadProfileString(config, "RIG1", "PORT", "?"), QStringLiteral("4600"));
    QCOMPARE(ReadRigSettings(config).rigs[0].port, 4600);
}

void tst_RigSettings::settingsReadAtConnect_data()
{
    QTest::addColumn<QByteArray>("portText");
    QTest::newRow("port") << QByteArray();
    QTest::newRow("bad port") << QByteArray("45x");
}

void tst_RigSettings::settingsReadAtConnect()
{
    QFETCH(QByteArray, portText);
    FakeRigctld fake(FakeRigctld::Mode::Good);
    QVERIFY(fake.listen());
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("vokey.ini"));
    const QByteArray port = portText.isEmpty() ? QByteArray::number(fake.port()) : portText;
    writeFile(config, "[rig1]\nhost = 127.0.0.1\nport=" + port + "\n[RIG2]\nHOST=\n");

    const RigSettings settings = ReadRigSettings(config);
    QCOMPARE(settings.rigs[1].isConfigured(), false);
    if (!portText.isEmpty()) {
        // Not a port number: the default port, with a warning.
        QCOMPARE(settings.rigs[0], RigSettings::defaultEndpoint(1));
        return;
    }
    TOmniRigX omniRig;
    omniRig.SetTimings(fastTimings());
    omniRig.SetConfigFile(config);
    omniRig.Connect();
    QTRY_COMPARE(omniRig.Rig1()->Status(), int(rsOnline));
    QCOMPARE(omniRig.Rig1()->RigType(), QStringLiteral("Test Fake"));
    QCOMPARE(omniRig.Rig2()->Status(), int(rsNotConfigured));
}

void tst_RigSettings::eventsOneAtATime()
{
    auto* rig1 = new StubRig;
    auto* rig2 = new StubRig;
    TOmniRigX omniRig { std::unique_ptr<IRigX>(rig1), std::unique_ptr<IRigX>(rig2) };
    QCOMPARE(omniRig.Rig1(), rig1);
    QStringList seen;
    bool inHandler = false;
    bool overlapped = false;
    connect(&omniRig, &TOmniRigX::OnStatusChange, this, [&](TOmniRigX* sender, int rig) {
        QCOMPARE(sender, &omniRig);
        overlapped |= inHandler;
        inHandler = true;
        seen << QStringLiteral("status %1").arg(rig);
        // A handler that shows a message box runs a nested event loop.
        emit rig1->paramsChanged(PM_TX);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        inHandler = false;
    });
    connect(&omniRig, &TOmniRigX::OnRigTypeChange, this, [&](TOmniRigX*, int rig) {
        overlapped |= inHandler;
        seen << QStringLiteral("type %1").arg(rig);
    });
    connect(&omniRig, &TOmniRigX::OnParamsChange, this, [&](TOmniRigX*, int rig, int params) {
        overlapped |= inHandler;
        seen << QStringLiteral("params %1 %2").arg(rig).arg(params, 0, 16);
    });
    connect(&omniRig, &TOmniRigX::OnCustomReply, this,
        [&](TOmniRigX*, int rig, const QByteArray& command, const QByteArray& reply) {
            overlapped |= inHandler;
            seen << QStringLiteral("reply %1 %2 %3")
                        .arg(rig)
                        .arg(QString::fromLatin1(command.toHex()),
                            QString::fromLatin1(reply.toHex()));
        });

    emit rig2->statusChanged();
    emit rig1->rigTypeChanged();
    emit rig2->customReply("\x01", "\x02");
    QVERIFY(seen.isEmpty()); // never inside the server's call
    QTRY_COMPARE(seen.size(), 4);
    QCOMPARE(seen, (QStringList { "status 2", "type 1", "reply 2 01 02", "params 1 400000" }));
    QVERIFY(!overlapped);

    // Events that have not been delivered when the client disconnects never are.
    emit rig1->statusChanged();
    omniRig.Disconnect();
    emit rig2->statusChanged();
    QCoreApplication::processEvents();
    QCOMPARE(seen.size(), 4);
}

QTEST_MAIN(tst_RigSettings)
#include "tst_RigSettings.moc"
