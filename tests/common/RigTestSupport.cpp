#include "RigTestSupport.h"

#include "common/WaitUntil.h"

#include <QDeadlineTimer>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

RigTimings fastTimings()
{
    RigTimings timings;
    timings.pollInterval = 20;
    timings.readTimeout = 400;
    timings.reconnectMin = 50;
    timings.reconnectMax = 200;
    timings.customReplyTimeout = 200;
    timings.releaseWait = 300;
    return timings;
}

std::unique_ptr<TOmniRigX> makeLink(const RigEndpoint& rig1, const RigEndpoint& rig2)
{
    auto omniRig = std::make_unique<TOmniRigX>();
    omniRig->SetTimings(fastTimings());
    RigSettings settings;
    settings.rigs = { rig1, rig2 };
    omniRig->ApplySettings(settings);
    return omniRig;
}

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

bool RigctldServer::available()
{
    return !QStandardPaths::findExecutable(QStringLiteral("rigctld")).isEmpty();
}

RigctldServer::RigctldServer(quint16 port, bool pttSettable)
    : RigctldServer(pttSettable ? QStringList { QStringLiteral("-m"), QStringLiteral("1"),
                        QStringLiteral("-P"), QStringLiteral("RIG") }
                                : QStringList { QStringLiteral("-m"), QStringLiteral("1") },
        port)
{
}

RigctldServer::RigctldServer(const QStringList& radio, quint16 port)
    : m_port(port)
    , m_radio(radio)
{
}

RigctldServer::~RigctldServer()
{
    kill();
}

RigEndpoint RigctldServer::endpoint() const
{
    return RigEndpoint { m_host, m_port };
}

bool RigctldServer::start()
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral("rigctld"),
        m_radio
            + QStringList {
                QStringLiteral("-T"), m_host, QStringLiteral("-t"), QString::number(m_port) });
    if (!m_process.waitForStarted(5000))
        return false;
    bool listening = false;
    const auto answered = [this, &listening] {
        QTcpSocket probe;
        probe.connectToHost(m_host, m_port);
        listening = probe.waitForConnected(500);
        return listening || m_process.state() != QProcess::Running;
    };
    return waitUntil(answered, 10000) && listening;
}

void RigctldServer::kill()
{
    m_client.abort();
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(5000);
}

QByteArray RigctldServer::ask(const QByteArray& line)
{
    if (m_client.state() != QAbstractSocket::ConnectedState) {
        m_client.abort();
        m_client.connectToHost(m_host, m_port);
        if (!m_client.waitForConnected(2000))
            return {};
    }
    m_client.write(line + '\n');
    const QDeadlineTimer deadline(5000);
    while (!m_client.canReadLine() && !deadline.hasExpired()) {
        if (!m_client.waitForReadyRead(int(deadline.remainingTime())))
            break;
    }
    return m_client.canReadLine() ? m_client.readLine().trimmed() : QByteArray();
}

int RigctldServer::ptt()
{
    bool ok = false;
    const int value = ask("t").toInt(&ok);
    return ok ? value : -1;
}

bool RigctldServer::setPtt(bool on)
{
    return ask(on ? "T 1" : "T 0") == "RPRT 0";
}

FakeRigctld::FakeRigctld(Mode mode, QObject* parent)
    : QObject(parent)
    , m_mode(mode)
    , m_server(this)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            socket->setParent(this);
            ++connections;
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

bool FakeRigctld::listen(quint16 port, const QHostAddress& address)
{
    return m_server.listen(address, port);
}

void FakeRigctld::close()
{
    m_server.close();
    for (QTcpSocket* socket : findChildren<QTcpSocket*>())
        socket->abort();
}

RigEndpoint FakeRigctld::endpoint() const
{
    return RigEndpoint { QStringLiteral("127.0.0.1"), port() };
}

void FakeRigctld::serve(QTcpSocket* socket)
{
    while (socket->canReadLine() && !socket->property("held").toBool())
        onLine(socket, socket->readLine().trimmed());
}

void FakeRigctld::onLine(QTcpSocket* socket, const QByteArray& line)
{
    switch (m_mode) {
    case Mode::Garbage:
        socket->write("garbage!\n\x01\x02 nonsense\n");
        return;
    case Mode::LongLine:
        socket->write(QByteArray(100000, 'x'));
        return;
    case Mode::Silent:
        return;
    case Mode::Good:
        break;
    }
    if (hangUpFirst > 0) {
        --hangUpFirst;
        socket->disconnectFromHost();
        return;
    }
    const qsizetype space = line.indexOf(' ');
    const QByteArray name = line.mid(2, space < 0 ? -1 : space - 2);
    const QByteArray args = space < 0 ? QByteArray() : line.mid(space + 1);
    if (name == "get_ptt")
        ++pttReads;
    if (name == "dump_caps") {
        socket->write("dump_caps:\nCaps dump for model: 1\nModel name:\tFake\nMfg name:\t" + maker
            + "\n"
              "RPRT 0\n");
    } else if (name == "get_ptt" && (pttError != 0 || (ptt && keyedPttError != 0))) {
        const int error = pttError != 0 ? pttError : keyedPttError;
        socket->write("get_ptt:\nRPRT " + QByteArray::number(error) + "\n");
    } else if (name == "get_ptt") {
        socket->write("get_ptt:\nPTT: " + QByteArray::number(ptt) + "\nRPRT 0\n");
    } else if (name == "set_ptt" && args == "0" && !releaseAnswers.isEmpty()) {
        pttWrites.append(args);
        const int answer = releaseAnswers.takeFirst();
        if (answer != NoAnswer)
            socket->write("set_ptt: 0\nRPRT " + QByteArray::number(answer) + "\n");
    } else if (name == "set_ptt" && setPttError != 0 && args == "1") {
        pttWrites.append(args);
        socket->write("set_ptt: " + args + "\nRPRT " + QByteArray::number(setPttError) + "\n");
    } else if (name == "set_ptt") {
        pttWrites.append(args);
        ptt = args.toInt();
        const QByteArray answer = "set_ptt: " + args + "\nRPRT 0\n";
        const int delay = args == "0" ? releaseDelayMs : keyDelayMs;
        if (delay > 0) {
            // Like rigctld, nothing else is answered on this connection meanwhile.
            socket->setProperty("held", true);
            QTimer::singleShot(delay, socket, [this, socket, answer] {
                socket->write(answer);
                socket->setProperty("held", false);
                serve(socket);
            });
        } else
            socket->write(answer);
    } else if (name == "send_cmd_rx") {
        customReceived.append(args);
        if (!customAnswer.isEmpty())
            socket->write(customAnswer + '\n');
        else if (answerCustom)
            socket->write("send_cmd_rx: " + args + "\nReply: " + customReply + "\nRPRT 0\n");
    } else {
        socket->write("RPRT -11\n");
    }
}

EventRecorder::EventRecorder(TOmniRigX* omniRig)
    : m_omniRig(omniRig)
{
    connect(omniRig, &TOmniRigX::OnVisibleChange, this,
        [this](TOmniRigX*) { record(QStringLiteral("VisibleChange"), std::nullopt); });
    connect(omniRig, &TOmniRigX::OnRigTypeChange, this,
        [this](TOmniRigX*, RigId rig) { record(QStringLiteral("RigTypeChange"), rig); });
    connect(omniRig, &TOmniRigX::OnStatusChange, this,
        [this](TOmniRigX*, RigId rig) { record(QStringLiteral("StatusChange"), rig); });
    connect(omniRig, &TOmniRigX::OnParamsChange, this, [this](TOmniRigX*, RigId rig, int params) {
        record(QStringLiteral("ParamsChange"), rig, params);
    });
    connect(omniRig, &TOmniRigX::OnCustomReply, this,
        [this](TOmniRigX*, RigId rig, const QByteArray& command, const QByteArray& reply) {
            record(QStringLiteral("CustomReply"), rig, 0, command, reply);
        });
}

void EventRecorder::record(const QString& kind, std::optional<RigId> rig, int params,
    const QByteArray& command, const QByteArray& reply)
{
    RecordedEvent event { kind, rig ? rigNumber(*rig) : 0, -1, params, command, reply,
        QThread::currentThread() };
    if (rig)
        event.status = m_omniRig->Rig(*rig)->Status();
    events.append(event);
}

int EventRecorder::count(const QString& kind, int rig) const
{
    return int(std::count_if(events.begin(), events.end(), [&](const RecordedEvent& event) {
        return event.kind == kind && (rig == 0 || event.rig == rig);
    }));
}

QList<int> EventRecorder::statuses(int rig) const
{
    QList<int> result;
    for (const RecordedEvent& event : events) {
        if (event.kind == QStringLiteral("StatusChange") && event.rig == rig)
            result.append(event.status);
    }
    return result;
}
