#pragma once
// The main window wired to its radios: two real rigctld dummy servers on loopback as Rig1 and
// Rig2 (configured in the test's own configuration file), and the serial port on a
// pseudo-terminal whose modem lines the preloaded vokey_modemlines_preload library answers.

#include "WindowFixture.h"

#include "common/ModemLineLog.h"
#include "common/PtyPair.h"
#include "common/RigTestSupport.h"
#include "common/WaitUntil.h"
#include "widgets/TLedButton.h"

#include <QPushButton>
#include <QSignalSpy>

class KeyingFixture : public WindowFixture {
protected:
    // From initTestCase: the servers run for the whole test case.
    bool setUpKeyingCase()
    {
        if (!setUpCase() || !RigctldServer::available())
            return false;
        m_rigTimings = fastTimings();
        // The dummy radio holds its server for about a second on the first CAT poll, which
        // it never answers; that is not the server going away.
        m_rigTimings->readTimeout = 2500;
        m_server1 = std::make_unique<RigctldServer>();
        m_server2 = std::make_unique<RigctldServer>();
        return m_server1->start() && m_server2->start();
    }
    // From init: a fresh pseudo-terminal, both radios released, the configuration naming
    // all three.
    bool setUpKeying()
    {
        if (!setUp())
            return false;
        m_makeOmniRig = {};
        m_audioFile.clear();
        m_soundCard = false;
        m_audioLoop = false;
        for (auto* server : { m_server1.get(), m_server2.get() }) {
            if (server->ptt() != 0 && !server->setPtt(false))
                return false;
        }
        m_port = std::make_unique<PtyPair>();
        if (!m_port->IsOpen())
            return false;
        m_port->CloseSlave();
        m_pty = m_port->SlavePath();
        if (modemlines_loaded())
            modemlines_reset(m_pty.toLocal8Bit().constData());
        writeConfig("VOKEY.INI", { { "COMPORT", m_pty } });
        configureRigs(m_server1->endpoint(), m_server2->endpoint());
        return true;
    }
    void tearDownKeying()
    {
        tearDown();
        m_port.reset();
    }

    void configureRigs(const RigEndpoint& rig1, const RigEndpoint& rig2)
    {
        const QString ini = path("VOKEY.INI");
        WriteProfileString(ini, "RIG1", "HOST", rig1.host);
        WriteProfileString(ini, "RIG1", "PORT", QString::number(rig1.port));
        WriteProfileString(ini, "RIG2", "HOST", rig2.host);
        WriteProfileString(ini, "RIG2", "PORT", QString::number(rig2.port));
    }

    // Starts the window with these slider positions and waits until both radios are online.
    TForm1* startKeyed(int gain, int delay, bool waitOnline = true)
    {
        writeConfig("VOKEY.INI",
            { { "GAIN", QString::number(gain) }, { "DELAY", QString::number(delay) } });
        TForm1* form = start();
        if (!form || !waitOnline)
            return form;
        return waitUntil([this] { return rigOnline(RigId::A) && rigOnline(RigId::B); }, 10000)
            ? form
            : nullptr;
    }

    bool rigOnline(RigId rig) const { return rigOf(rig)->Status() == rsOnline; }
    IRigX* rigOf(RigId rig) const { return m_form->Station().OmniRig()->Rig(rig); }

    // DTR and RTS of the port as TIOCM_* bits.
    int lines() const
    {
        return modemlines_get(m_pty.toLocal8Bit().constData()) & (TIOCM_DTR | TIOCM_RTS);
    }
    static constexpr int BothLines = TIOCM_DTR | TIOCM_RTS;

    // The line changes of this test's port, in order.
    QList<modemlines_event> lineEvents() const
    {
        return modemLineEvents(m_pty, ModemLineEvents::LinesOnly);
    }

    TLedButton* rigButton(int rig) const
    {
        return child<TLedButton>(rig == 1 ? "Rig1Button" : "Rig2Button");
    }
    bool selected(bool rig1, bool rig2) const
    {
        return rigButton(1)->isActive() == rig1 && rigButton(2)->isActive() == rig2;
    }
    int reports() const
    {
        return int(std::count_if(m_boxes.boxes.begin(), m_boxes.boxes.end(),
            [](const RecordingMessageBoxes::Box& box) { return box.kind == "report"; }));
    }

    std::unique_ptr<RigctldServer> m_server1;
    std::unique_ptr<RigctldServer> m_server2;
    std::unique_ptr<PtyPair> m_port;
    QString m_pty;
};
