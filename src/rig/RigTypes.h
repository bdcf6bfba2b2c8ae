#pragma once

#include <QString>
#include <QtGlobal>
#include <stdexcept>

// Rig parameters are single bits of a 32-bit set: parameter number k is 1 << k.
// The link reads and writes only the transmit state.
constexpr int PM_UNKNOWN = 0x00000001;
constexpr int PM_RX = 0x00200000;
constexpr int PM_TX = 0x00400000;

// Rig status as the server reports it; only rsOnline means the rig can be used.
enum TRigStatus : int {
    rsNotConfigured = 0,
    rsDisabled = 1,
    rsPortBusy = 2,
    rsNotResponding = 3,
    rsOnline = 4,
};

// How the client reaches the server. The program only ever uses ckRunningOrNew;
// the other kinds are accepted and behave the same, because a rigctld server is
// always "running" from the client's point of view.
enum TConnectKind {
    ckRunningOrNew,
    ckNewInstance,
    ckRunningInstance,
    ckRemote,
    ckAttachToInterface,
};

// A failed rig call. The message is shown unchanged by the application's error report.
class ERigError : public std::runtime_error {
public:
    explicit ERigError(const QString& message)
        : std::runtime_error(message.toStdString())
    {
    }
    QString message() const { return QString::fromStdString(what()); }
};

// Where a rig's server is. An endpoint without a host is "none": the rig is not configured.
struct RigEndpoint {
    QString host;
    quint16 port = 0;

    bool isConfigured() const { return !host.isEmpty() && port != 0; }
    friend bool operator==(const RigEndpoint&, const RigEndpoint&) = default;
};

// Time limits of the link, in milliseconds. The defaults are the ones the program runs
// with; tests shorten them.
struct RigTimings {
    int pollInterval = 100; // transmit-state poll of an online rig
    int readTimeout = 2000; // an answer that takes longer means the rig is not responding
    int reconnectMin = 500; // first retry after the server went away, doubling ...
    int reconnectMax = 5000; // ... up to this
    int customReplyTimeout = 1000; // a raw command not answered by then is given up
    int releaseWait = 300; // longest wait for the PTT-off answer when shutting down
};
