#pragma once

#include "rig/OmniRigX.h"
#include "rig/RigctldRig.h"

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <functional>
#include <memory>
#include <optional>

// Short time limits so that the rig tests run in seconds.
RigTimings fastTimings();

// A client with short time limits whose rigs use these servers.
std::unique_ptr<TOmniRigX> makeLink(const RigEndpoint& rig1, const RigEndpoint& rig2 = {});

// A port on the loopback interface that nothing listens on right now.
quint16 freeLoopbackPort();

// A real rigctld with the dummy radio (PTT settable), on a loopback port, plus a second,
// independent client of it that reads and sets PTT the way another program would.
class RigctldServer {
public:
    static bool available();

    // pttSettable false: the radio refuses every transmit-state write ("RPRT -1").
    explicit RigctldServer(quint16 port = freeLoopbackPort(), bool pttSettable = true);
    // Another radio: rigctld's arguments that choose it, such as {"-m", "2031", "-r", device}.
    explicit RigctldServer(const QStringList& radio, quint16 port = freeLoopbackPort());
    ~RigctldServer();

    // Listens on this loopback address instead of 127.0.0.1 (before start): "::1".
    void listenOn(const QString& host) { m_host = host; }
    bool start(); // returns once it accepts connections
    void kill(); // SIGKILL, as when it crashes
    quint16 port() const { return m_port; }
    qint64 processId() const { return m_process.processId(); }
    RigEndpoint endpoint() const;

    int ptt(); // "t" through the second client; -1 when there is no answer
    bool setPtt(bool on); // "T 0/1" through the second client

private:
    QByteArray ask(const QByteArray& line);

    QProcess m_process;
    QString m_host = QStringLiteral("127.0.0.1");
    quint16 m_port;
    QStringList m_radio;
    QTcpSocket m_client;
};

// A stand-in rigctld on a loopback port speaking the extended protocol, or misbehaving.
class FakeRigctld : public QObject {
    Q_OBJECT
public:
    enum class Mode { Good, Garbage, LongLine, Silent };

    explicit FakeRigctld(Mode mode, QObject* parent = nullptr);
    bool listen(quint16 port = 0, const QHostAddress& address = QHostAddress::LocalHost);
    void close();
    quint16 port() const { return m_server.serverPort(); }
    RigEndpoint endpoint() const;

    // "Mfg name:" of its capabilities: the station polls only Yaesu radios.
    QByteArray maker = "Yaesu";
    bool answerCustom = true; // false: raw commands are never answered, like the dummy
    QByteArray customReply = "\\0xAA\\0x01\\0x00 3"; // what follows "Reply:"
    // Non-empty: each raw command is answered by this instead of a reply and "RPRT 0".
    QByteArray customAnswer;
    int setPttError = 0; // non-zero: \set_ptt 1 answers "RPRT <setPttError>"
    int hangUpFirst = 0; // this many connections are closed at their first line, unanswered
    int releaseDelayMs = 0; // \set_ptt 0 is answered this much later, as real backends do
    int keyDelayMs = 0; // \set_ptt 1 is answered this much later (a slow radio)
    // What the next releases (\set_ptt 0) get, one each: an error number answered as "RPRT n"
    // with the radio still transmitting, or NoAnswer: nothing at all. Then RPRT 0.
    static constexpr int NoAnswer = 1;
    QList<int> releaseAnswers;
    QList<QByteArray> pttWrites; // arguments of each \set_ptt, in arrival order
    int ptt = 0;
    int pttError = 0; // non-zero: \get_ptt answers "RPRT <pttError>"
    int keyedPttError = 0; // the same, only while transmitting
    int pttReads = 0; // \get_ptt commands
    QList<QByteArray> customReceived; // arguments of each raw command, in arrival order
    int connections = 0;

private:
    void serve(QTcpSocket* socket);
    void onLine(QTcpSocket* socket, const QByteArray& line);

    Mode m_mode;
    QTcpServer m_server;
};

// Every event of a TOmniRigX, with the rig status read in the handler and the thread the
// handler ran on.
struct RecordedEvent {
    QString kind;
    int rig = 0;
    int status = -1;
    int params = 0;
    QByteArray command;
    QByteArray reply;
    QThread* thread = nullptr;
};

class EventRecorder : public QObject {
    Q_OBJECT
public:
    explicit EventRecorder(TOmniRigX* omniRig);

    QList<RecordedEvent> events;
    int count(const QString& kind, int rig = 0) const;
    // Statuses seen by the StatusChange handler of one rig, in order.
    QList<int> statuses(int rig) const;

private:
    void record(const QString& kind, std::optional<RigId> rig, int params = 0,
        const QByteArray& command = {}, const QByteArray& reply = {});

    TOmniRigX* m_omniRig;
};
