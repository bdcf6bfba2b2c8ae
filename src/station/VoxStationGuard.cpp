// The guard process that releases the radios and the serial lines when the program ends
// without doing so itself.
#include "VoxStation.h"

#include "TxGuard.h"

#include "rig/OmniRigX.h"

#include <cstdio>

void VoxStation::StartGuard()
{
    if (m_options.guardProgram.isEmpty() || m_guard)
        return;
    m_guard = new TxGuard(this);
    QString error;
    if (!m_guard->start(m_options.guardProgram, &error)) {
        delete m_guard;
        m_guard = nullptr;
        const QString text = QStringLiteral("The transmit guard could not be started (%1): a "
                                            "crash of the program may leave the radio transmitting")
                                 .arg(error);
        // Once, at start-up, before anything can key: a slow standard error holds nothing.
        std::fprintf(stderr, "vokey: %s\n", text.toLocal8Bit().constData());
        ReportGuardTrouble(text);
        return;
    }
    connect(m_guard, &TxGuard::trouble, this, &VoxStation::ReportGuardTrouble);
    // Direct connections: the guard hears of keying before the first road is keyed, and of
    // a closing before the port is closed.
    connect(this, &VoxStation::keyedChanged, m_guard, [this](bool keyed) {
        if (m_omniRig)
            m_guard->setRigs(m_omniRig->Settings());
        m_guard->setKeyed(keyed);
    });
    connect(this, &VoxStation::serialHandleChanged, m_guard, &TxGuard::setSerialHandle);
}

void VoxStation::ConnectGuard()
{
    // The log is open from here on: what could not be written to it before is now.
    if (!m_guardTrouble.isEmpty())
        m_log.WriteLine(1, std::exchange(m_guardTrouble, QString()));
    if (!m_guard || !m_omniRig)
        return;
    m_guard->setRigs(m_omniRig->Settings());
    connect(m_omniRig, &TOmniRigX::settingsChanged, m_guard,
        [this] { m_guard->setRigs(m_omniRig->Settings()); });
}

void VoxStation::ReportGuardTrouble(const QString& text)
{
    if (m_log.FileName().isEmpty())
        m_guardTrouble = text;
    else
        m_log.WriteLine(1, text);
}
