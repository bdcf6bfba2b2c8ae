// The rig link's settings (configuration file), reply decoding, and the
// delivery of events from a substitute server.
#include "common/RigTestSupport.h"
#include "core/IniProfile.h"
#include "rig/RigctldReply.h"

#include <QFile>
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
    void settingsReadAtConnect_data();
    void settingsReadAtConnect();
    void eventsOneAtATime();
    void socketHost_data();
    void socketHost();
    void serverKeys_data();
    void serverKeys();
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

void tst_RigSettings::settingsReadAtConnect_data()
{
    QTest::addColumn<QByteArray>("portText");
    QTest::addColumn<QByteArray>("host");
    QTest::newRow("port") << QByteArray() << QByteArray("127.0.0.1");
    QTest::newRow("bad port") << QByteArray("45x") << QByteArray("127.0.0.1");
    QTest::newRow("bracketed IPv6 host") << QByteArray() << QByteArray("[::1]");
}

void tst_RigSettings::settingsReadAtConnect()
{
    QFETCH(QByteArray, portText);
    QFETCH(QByteArray, host);
    FakeRigctld fake(FakeRigctld::Mode::Good);
    QVERIFY(fake.listen(0,
        host.startsWith('[') ? QHostAddress(QHostAddress::LocalHostIPv6)
                             : QHostAddress(QHostAddress::LocalHost)));
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("vokey.ini"));
    const QByteArray port = portText.isEmpty() ? QByteArray::number(fake.port()) : portText;
    writeFile(config, "[rig1]\nhost = " + host + "\nport=" + port + "\n[RIG2]\nHOST=\n");

    const RigSettings settings = ReadRigSettings(config);
    QCOMPARE(settings.rig(RigId::B).isConfigured(), false);
    if (!portText.isEmpty()) {
        // Not a port number: the default port, with a warning.
        QCOMPARE(settings.rig(RigId::A), RigSettings::defaultEndpoint(RigId::A));
        return;
    }
    TOmniRigX omniRig;
    omniRig.SetTimings(fastTimings());
    omniRig.SetConfigFile(config);
    omniRig.Connect();
    QTRY_COMPARE(omniRig.Rig1()->Status(), int(rsOnline));
    QCOMPARE(omniRig.Rig1()->RigType(), QStringLiteral("Yaesu Fake"));
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
    connect(&omniRig, &TOmniRigX::OnStatusChange, this, [&](TOmniRigX* sender, RigId rig) {
        QCOMPARE(sender, &omniRig);
        overlapped |= inHandler;
        inHandler = true;
        seen << QStringLiteral("status %1").arg(rigNumber(rig));
        // A handler that shows a message box runs a nested event loop.
        emit rig1->paramsChanged(PM_TX);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        inHandler = false;
    });
    connect(&omniRig, &TOmniRigX::OnRigTypeChange, this, [&](TOmniRigX*, RigId rig) {
        overlapped |= inHandler;
        seen << QStringLiteral("type %1").arg(rigNumber(rig));
    });
    connect(&omniRig, &TOmniRigX::OnParamsChange, this, [&](TOmniRigX*, RigId rig, int params) {
        overlapped |= inHandler;
        seen << QStringLiteral("params %1 %2").arg(rigNumber(rig)).arg(params, 0, 16);
    });
    connect(&omniRig, &TOmniRigX::OnCustomReply, this,
        [&](TOmniRigX*, RigId rig, const QByteArray& command, const QByteArray& reply) {
            overlapped |= inHandler;
            seen << QStringLiteral("reply %1 %2 %3")
                        .arg(rigNumber(rig))
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
    // A number that is no rig names none.
    QCOMPARE(rigFromNumber(3), std::nullopt);
}

void tst_RigSettings::socketHost_data()
{
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("socketHost"); // empty: refused
    QTest::newRow("name") << "radio.local"
                          << "radio.local";
    QTest::newRow("IPv4") << " 127.0.0.1 "
                          << "127.0.0.1";
    QTest::newRow("bracketed IPv6") << "[::1]"
                                    << "::1";
    QTest::newRow("bare IPv6") << "fe80::1"
                               << "fe80::1";
    QTest::newRow("unclosed bracket") << "[::1"
                                      << "";
    QTest::newRow("bracketed name") << "[radio]"
                                    << "";
    QTest::newRow("host with port") << "radio:4532"
                                    << "";
    QTest::newRow("space inside") << "my radio"
                                  << "";
    QTest::newRow("empty") << ""
                           << "";
}

void tst_RigSettings::socketHost()
{
    QFETCH(QString, written);
    QFETCH(QString, socketHost);
    QCOMPARE(RigSocketHost(written), socketHost);
}

void tst_RigSettings::serverKeys_data()
{
    QTest::addColumn<QByteArray>("section"); // RIG1 as written in the file
    QTest::addColumn<RigServerOptions>("server"); // as read
    QTest::addColumn<QString>("host");
    QTest::addColumn<QByteArray>("written"); // RIG1 after writing back what was read
    QTest::addColumn<QStringList>("problems"); // said for the values that cannot be used
    const QByteArray running = "HOST=192.168.1.5\nPORT=4532\n";
    QTest::newRow("running server: keys neither read nor written")
        << running << RigServerOptions {} << "192.168.1.5" << running << QStringList();
    QTest::newRow("every key, the host is the loopback one")
        << QByteArray("HOST=radio\nPORT=4540\nMODEL=2031\nDEVICE=/dev/serial/by-id/usb-x\n"
                      "SPEED=115200\nPTT=rts\nPTTDEVICE=/dev/ttyUSB1\n")
        << RigServerOptions { 2031, "/dev/serial/by-id/usb-x", 115200, "RTS", "/dev/ttyUSB1" }
        << "127.0.0.1"
        << QByteArray("HOST=127.0.0.1\nPORT=4540\nMODEL=2031\nDEVICE=/dev/serial/by-id/usb-x\n"
                      "SPEED=115200\nPTT=RTS\nPTTDEVICE=/dev/ttyUSB1\n")
        << QStringList();
    QTest::newRow("model alone, no host key")
        << QByteArray("MODEL=1\n") << RigServerOptions { 1, {}, 0, {}, {} } << "127.0.0.1"
        << QByteArray("MODEL=1\nHOST=127.0.0.1\nPORT=4532\n") << QStringList();
    QTest::newRow("model 0 and an unknown PTT: a running server")
        << QByteArray("HOST=h\nPORT=4532\nMODEL=0\nPTT=VOX\n") << RigServerOptions {} << "h"
        << QByteArray("HOST=h\nPORT=4532\nMODEL=\nPTT=\n") << QStringList();
    QTest::newRow("not numbers")
        << QByteArray("MODEL=1\nSPEED=fast\nPTT=CAT\n") << RigServerOptions { 1, {}, 0, {}, {} }
        << "127.0.0.1" << QByteArray("MODEL=1\nSPEED=\nPTT=\nHOST=127.0.0.1\nPORT=4532\n")
        << QStringList { "vokey.ini [RIG1] SPEED=fast: not a speed; using the radio's default",
               "vokey.ini [RIG1] PTT=CAT: not a PTT method; using RIG" };
    QTest::newRow("a comment after the model, a port that is none")
        << QByteArray("PORT=45x\nMODEL=3073   ; Hamlib model number\n") << RigServerOptions {}
        << "127.0.0.1" << QByteArray("PORT=4532\nMODEL=\nHOST=127.0.0.1\n")
        << QStringList { "vokey.ini [RIG1] MODEL=3073   ; Hamlib model number: not a Hamlib "
                         "model number; using a rigctld already running",
               "vokey.ini [RIG1] PORT=45x: not a port number; using 4532" };
}

void tst_RigSettings::serverKeys()
{
    QFETCH(QByteArray, section);
    QFETCH(RigServerOptions, server);
    QFETCH(QString, host);
    QFETCH(QByteArray, written);
    QFETCH(QStringList, problems);
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("vokey.ini"));
    writeFile(config, "[RIG1]\n" + section + "[RIG2]\nHOST=\n");
    QStringList said;
    const RigSettings settings = ReadRigSettings(config, RigSettings::defaults(), &said);
    QCOMPARE(said, problems);
    QCOMPARE(settings.server(RigId::A), server);
    QCOMPARE(settings.rig(RigId::A).host, host);
    QCOMPARE(settings.server(RigId::B), RigServerOptions {});
    WriteRigSettings(config, settings);
    QFile file(config);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), "[RIG1]\n" + written + "[RIG2]\nHOST=\nPORT=\n");
}

QTEST_MAIN(tst_RigSettings)
#include "tst_RigSettings.moc"
