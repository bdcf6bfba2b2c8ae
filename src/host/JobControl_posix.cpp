#include "JobControl.h"

#include "SignalPipe.h"

#include <csignal>

JobControl::JobControl(QObject* parent)
    : QObject(parent)
    , m_pipe(new SignalPipe({ SIGTSTP, SIGCONT }, this))
{
    connect(m_pipe, &SignalPipe::arrived, this, [this](int signalNumber) {
        if (signalNumber == SIGTSTP)
            emit stopRequested();
        else
            emit continued();
    });
    SignalPipe::setAction(SIGTTIN, SIG_IGN);
    SignalPipe::setAction(SIGTTOU, SIG_IGN);
}

JobControl::~JobControl()
{
    SignalPipe::setAction(SIGTTIN, SIG_DFL);
    SignalPipe::setAction(SIGTTOU, SIG_DFL);
}

void JobControl::stopProcess()
{
    // SIGTSTP's own action stops the process (a shell sees its job stopped by it); the
    // handler is back as soon as it continues.
    SignalPipe::setAction(SIGTSTP, SIG_DFL);
    ::raise(SIGTSTP);
    m_pipe->reinstall(SIGTSTP);
}
