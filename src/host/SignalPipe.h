#pragma once

#include <QObject>

#include <initializer_list>
#include <memory>

class QSocketNotifier;

// Signals turned into a Qt signal on the thread that owns the pipe: the handler only writes
// the signal's number to a socket pair (async-signal-safe), and a socket notifier reads it
// back in the event loop. A signal belongs to one pipe at a time; the destructor puts the
// default action back for the pipe's signals.
class SignalPipe : public QObject {
    Q_OBJECT

public:
    SignalPipe(std::initializer_list<int> signalNumbers, QObject* parent = nullptr);
    ~SignalPipe() override;

    // False when the socket pair could not be made: no handler was installed.
    bool isOpen() const { return m_fds[0] >= 0; }
    // The pipe's handler again for a signal whose action was changed meanwhile.
    void reinstall(int signalNumber);

    // A signal's action set directly: SIG_DFL, SIG_IGN or a handler of its own.
    static void setAction(int signalNumber, void (*handler)(int), int flags = 0);

signals:
    void arrived(int signalNumber);

private:
    void readSignals();

    QList<int> m_signals;
    int m_fds[2] = { -1, -1 };
    std::unique_ptr<QSocketNotifier> m_notifier;
};
