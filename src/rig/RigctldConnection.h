#pragma once

#include "RigTypes.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>
#include <deque>
#include <functional>

// One TCP connection to a rigctld server, speaking its extended response protocol: a
// request "+\name args" is answered by a header line "name: ...", value lines, and a last
// line "RPRT n". Requests are pipelined and answered in order. The connection never
// blocks, except in sendAndWait(), which is for shutdown only.
//
// Whatever goes wrong (refused, closed, an answer that takes longer than the read time
// limit, data that is not an answer) ends the connection: it is closed, pending requests
// are dropped without calling their handlers, and failed() tells the owner which rig
// status that means. A rigctld that has hit some I/O errors sends no answer at all, so the
// time limit is what turns a hung radio into "not responding".
class RigctldConnection : public QObject {
    Q_OBJECT
public:
    struct Reply {
        int code = 0; // the RPRT value: 0 or a negative Hamlib error
        QList<QByteArray> lines; // between the header and the RPRT line
    };
    using Handler = std::function<void(const Reply&)>;

    explicit RigctldConnection(QObject* parent = nullptr);
    ~RigctldConnection() override;

    void open(const RigEndpoint& endpoint);
    void close();
    bool isOpen() const;
    bool isConnecting() const;
    bool isIdle() const { return m_pending.empty(); }
    int pendingCount() const { return int(m_pending.size()); }
    void setReadTimeout(int ms) { m_readTimeout = ms; }

    // Sends "+\<name> <args>"; the handler gets the answer unless the connection fails first.
    void send(const QByteArray& name, const QByteArray& args, Handler handler = {});

    // Sends a request and waits, blocking, until it is answered or timeoutMs has passed.
    // Answers still owed for earlier requests are read and discarded on the way.
    bool sendAndWait(const QByteArray& name, const QByteArray& args, int timeoutMs);

    // Waits, blocking, until every request sent has been answered or timeoutMs has passed;
    // their handlers no longer run. True when all were answered, the last with RPRT 0. For
    // shutdown only.
    bool waitUntilAnswered(int timeoutMs);

    // Hamlib error codes that mean the radio or its port failed, not that it refused.
    static bool isCommunicationError(int code);

signals:
    void opened();
    void failed(TRigStatus status, const QString& reason);

private:
    struct Request {
        QByteArray name;
        Handler handler;
        bool headerSeen = false;
        Reply reply;
    };

    void onReadyRead();
    bool takeLine(const QByteArray& line);
    // Ends the oldest request with this answer; false when its handler closed the connection.
    bool complete(int code, QList<QByteArray> lines);
    void fail(TRigStatus status, const QString& reason);
    void armTimer();

    QTcpSocket m_socket;
    QTimer m_timer;
    QByteArray m_buffer;
    std::deque<Request> m_pending;
    RigEndpoint m_endpoint;
    int m_readTimeout = 2000;
};
