#pragma once
// The station under test, in this process and without a window: its real parts (two rigctld
// dummies, a pseudo-terminal whose modem lines the preloaded library answers, WAV files as
// the sound card), a fresh working directory per test and message boxes that record.

#include "KeyingParts.h"

#include "common/ModemLineLog.h"
#include "common/WaitUntil.h"

#include "rig/OmniRigX.h"
#include "rig/RigSettings.h"
#include "station/VoxStation.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <array>
#include <ctime>
#include <optional>
#include <sys/stat.h>

// A radio that records each transmit-state write with its CLOCK_MONOTONIC time, and can be
// made to fail. Its own state is not readable, so the rig monitor never selects it.
class RecordingRig : public IRigX {
public:
    struct Write {
        int rig;
        int param;
        long long timeNs;
    };

    RecordingRig(int number, QList<Write>& writes)
        : m_number(number)
        , m_writes(writes)
    {
    }

    QString RigType() const override { return QStringLiteral("Recorder"); }
    int Status() const override { return m_status; }
    int ReadableParams() const override { return 0; }
    bool IsParamReadable(int) const override { return false; }
    int Tx() const override { return 0; }
    void SetTx(int param) override
    {
        timespec now {};
        clock_gettime(CLOCK_MONOTONIC, &now);
        m_writes.append({ m_number, param, now.tv_sec * 1000000000LL + now.tv_nsec });
        if (failing)
            throw ERigError(QStringLiteral("Rig%1 refused the transmit state").arg(m_number));
    }
    void SendCustomCommand(const QByteArray&, int, const QByteArray&) override { }
    void Start(const RigEndpoint&, const RigTimings&) override
    {
        m_status = rsOnline;
        emit statusChanged();
    }
    void Stop() override { m_status = rsDisabled; }

    bool failing = false;

private:
    int m_number;
    QList<Write>& m_writes;
    int m_status = rsDisabled;
};

class StationFixture {
protected:
    static constexpr int BothLines = TIOCM_DTR | TIOCM_RTS;

    // From initTestCase: the servers and the audio, for the whole test case.
    void setUpStationCase()
    {
        if (!RigctldServer::available())
            QSKIP("rigctld is needed");
        if (!modemlines_loaded())
            QSKIP("the modem-line library is not preloaded");
        QVERIFY(m_parts.start());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_parts.runtime.path()));
        m_startDir = QDir::currentPath();
    }
    // From init: a fresh working directory and pseudo-terminal, both radios released.
    bool setUpStation()
    {
        m_work = std::make_unique<QTemporaryDir>();
        m_boxes = RecordingMessageBoxes();
        m_rigEndpoints.reset();
        m_makeOmniRig = {};
        m_loop = false;
        if (!m_work->isValid() || !QDir::setCurrent(m_work->path()) || !m_parts.newPort())
            return false;
        modemlines_reset(m_parts.pty.toLocal8Bit().constData());
        return true;
    }
    void tearDownStation()
    {
        m_station.reset();
        m_parts.closePort();
        QDir::setCurrent(m_startDir);
        m_work.reset();
    }

    // Starts a station on these settings (`more` goes into SETTINGS as it is) and waits until
    // each radio it is given is online: the two dummies, or m_rigEndpoints. Without an audio
    // file it captures from the default device.
    bool startStation(const QString& audio, int gain, int delay, const QString& more = {})
    {
        const QString config = m_work->filePath("VOKEY.INI");
        if (!m_parts.writeConfig(config, gain, delay, more))
            return false;
        if (m_rigEndpoints)
            WriteRigSettings(config, RigSettings { *m_rigEndpoints });
        VoxStationOptions options;
        options.audioFile = audio;
        options.audioLoop = m_loop;
        options.messages = &m_boxes;
        options.makeOmniRig = m_makeOmniRig;
        RigTimings timings = fastTimings();
        // The dummy radio holds its server for about a second on the first CAT poll.
        timings.readTimeout = 2500;
        options.rigTimings = timings;
        m_station = std::make_unique<VoxStation>(options);
        if (!m_station->Guarded([this] {
                m_station->Configure();
                m_station->Run();
            }))
            return false;
        const auto online = [this] {
            const RigSettings& rigs = m_station->OmniRig()->Settings();
            return (!rigs.rig(RigId::A).isConfigured() || rig(RigId::A)->Status() == rsOnline)
                && (!rigs.rig(RigId::B).isConfigured() || rig(RigId::B)->Status() == rsOnline);
        };
        return waitFor(online) && m_station->Running();
    }

    // Waits up to `ms` for a condition.
    static bool waitFor(const std::function<bool()>& condition, int ms = 10000)
    {
        return waitUntil(condition, ms);
    }
    // Waits for `count` more render ticks, or for `count` more keyings.
    bool waitForTicks(int count)
    {
        QSignalSpy ticks(m_station->findChild<QTimer*>("TimerRender"), &QTimer::timeout);
        return waitFor([&] { return ticks.size() >= count; });
    }
    bool waitForKeyings(int count)
    {
        QSignalSpy transmit(m_station.get(), &VoxStation::TransmitSet);
        return waitFor([&] { return transmit.count(QVariantList { true }) >= count; });
    }

    IRigX* rig(RigId id) const { return m_station->OmniRig()->Rig(id); }
    RigctldServer& server(RigId id)
    {
        return *(id == RigId::A ? m_parts.server1 : m_parts.server2);
    }
    bool selected(bool rigA, bool rigB) const
    {
        return m_station->RigSelected(RigId::A) == rigA && m_station->RigSelected(RigId::B) == rigB;
    }
    // DTR and RTS of the port as TIOCM_* bits.
    int lines() const { return modemlines_get(m_parts.pty.toLocal8Bit().constData()) & BothLines; }
    bool released()
    {
        return server(RigId::A).ptt() == 0 && server(RigId::B).ptt() == 0 && lines() == 0;
    }
    // The line changes of this test's port, in order.
    QList<modemlines_event> lineEvents() const
    {
        return modemLineEvents(m_parts.pty, ModemLineEvents::LinesOnly);
    }
    int reports() const
    {
        return int(std::count_if(m_boxes.boxes.begin(), m_boxes.boxes.end(),
            [](const RecordingMessageBoxes::Box& box) { return box.kind == "report"; }));
    }

    KeyingParts m_parts;
    QString m_startDir;
    std::unique_ptr<QTemporaryDir> m_work;
    RecordingMessageBoxes m_boxes;
    std::unique_ptr<VoxStation> m_station;
    // Given to the station at start: other radios than the two dummies (an empty host: none),
    // another rig link.
    std::optional<std::array<RigEndpoint, 2>> m_rigEndpoints;
    std::function<std::unique_ptr<TOmniRigX>()> m_makeOmniRig;
    bool m_loop = false; // the audio file played over and over
};
