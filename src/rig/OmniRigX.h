#pragma once

#include "RigId.h"
#include "RigSettings.h"
#include "RigSettingsView.h"
#include "RigX.h"

class RigServerProcess;

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <array>
#include <deque>
#include <memory>
#include <utility>

// The client of the rig-control server that the main window owns. Each of the two rigs is
// an IRigX; by default both talk to rigctld instances (settings in the configuration file,
// sections RIG1 and RIG2), and a substitute server can be handed in instead.
//
// Events reach the thread that owns this object through its event loop, one at a time, in
// the order they happened: a handler that runs a nested event loop (a message box) does
// not see the next event until it has returned. No events are delivered while
// disconnected, except VisibleChange.
class TOmniRigX : public QObject {
    Q_OBJECT
public:
    explicit TOmniRigX(QObject* parent = nullptr);
    // A substitute server: these rigs take the place of the rigctld links (and become
    // children of this object).
    TOmniRigX(std::unique_ptr<IRigX> rig1, std::unique_ptr<IRigX> rig2, QObject* parent = nullptr);
    ~TOmniRigX() override;

    // Reads the rig settings from the configuration file and starts both links. Does
    // nothing when already connected.
    void Connect();
    // Releases every radio this program keyed (waiting briefly for each answer), then stops
    // both links. Destroying the component does the same.
    void Disconnect();
    bool IsConnected() const { return m_connected; }
    // Disconnect() for good, at the program's end: nothing connects again, so no rigctld
    // this program runs is started again either.
    void Close();

    TConnectKind ConnectKind() const { return m_connectKind; }
    void SetConnectKind(TConnectKind kind) { m_connectKind = kind; }

    // Each of these connects first when not connected.
    IRigX* Rig(RigId id);
    IRigX* Rig1();
    IRigX* Rig2();

    bool DialogVisible() const;
    // Shows or hides the settings window; without a settings window (see
    // SetSettingsViewFactory) showing it only connects.
    void SetDialogVisible(bool visible);
    // What the settings window shows about a PTT test of a rig (nothing when it was never
    // shown).
    void SetTestAvailable(RigId Rig, bool available, const QString& why = {});
    void ShowTestResult(RigId Rig, const QString& text);
    // Makes the settings window when it is first shown.
    void SetSettingsViewFactory(RigSettingsViewFactory factory)
    {
        m_viewFactory = std::move(factory);
    }

    // The program's configuration file; the rig settings live next to its SETTINGS.
    void SetConfigFile(const QString& fileName) { m_configFile = fileName; }
    // What a configuration file without RIG1 or RIG2 means (the usual servers on this host).
    void SetDefaultSettings(const RigSettings& settings) { m_defaults = m_settings = settings; }
    QString ConfigFile() const { return m_configFile; }
    const RigSettings& Settings() const { return m_settings; }
    // The values of the rig settings that could not be used when they were read, each with
    // the line it came from; taken once.
    QStringList TakeSettingsProblems() { return std::exchange(m_settingsProblems, {}); }
    // Applies new settings: stored in the configuration file and, while connected, the
    // links whose server changed are restarted. Throws EIniWrite when the file cannot be
    // written (the settings are applied all the same).
    void ApplySettings(const RigSettings& settings);

    // The rigctld this program runs for a rig (settings with a model), or none: its process
    // id, 0 while none runs.
    qint64 ServerProcessId(RigId Rig) const;
    // The rig's link started again, and first its rigctld when this program runs that one and
    // it has ended: a release is owed to the radio (the program's end, a suspend).
    void ReviveRig(RigId Rig);
    // Restart delays of the rigctld this program runs; tests shorten them.
    void SetServerBackOff(int firstMs, int maxMs);

    // Time limits of the rigctld links; tests shorten them. Applied at the next Connect.
    void SetTimings(const RigTimings& timings) { m_timings = timings; }
    const RigTimings& Timings() const { return m_timings; }

signals:
    // Settings() changed: read at Connect, or applied.
    void settingsChanged();
    void OnVisibleChange(TOmniRigX* ASender);
    void OnRigTypeChange(TOmniRigX* ASender, RigId Rig);
    void OnStatusChange(TOmniRigX* ASender, RigId Rig);
    void OnParamsChange(TOmniRigX* ASender, RigId Rig, int Params);
    void OnCustomReply(
        TOmniRigX* ASender, RigId Rig, const QByteArray& Command, const QByteArray& Reply);
    // A radio refused to transmit (delivered at once, not through the event queue).
    void OnTxRefused(RigId Rig, const QString& reason);
    // A release not confirmed yet, sent again; and confirmed at last (delivered at once).
    void OnReleaseUnconfirmed(RigId Rig, const QString& reason);
    void OnReleaseConfirmed(RigId Rig);
    // The keyed-radio marks cannot be kept: what to tell the operator (delivered at once).
    void OnMarkProblem(const QString& text);
    // The operator asked the settings window for a PTT test of this rig.
    void OnTestPtt(RigId Rig);
    // The rigctld this program runs for a rig (delivered at once): started, a line it wrote
    // on its standard error, ended (status: exit code or "signal N"), or a problem for the
    // operator to fix ("Rig A: rigctld not found: ...").
    void OnServerStarted(RigId Rig, qint64 pid);
    void OnServerOutput(RigId Rig, const QString& line);
    void OnServerExited(RigId Rig, const QString& status);
    void OnServerProblem(RigId Rig, const QString& text);

private:
    enum class EventKind { VisibleChange, RigTypeChange, StatusChange, ParamsChange, CustomReply };
    struct Event {
        EventKind kind;
        RigId rig = RigId::A;
        int params = 0;
        QByteArray command {};
        QByteArray reply {};
    };

    void attach(RigId id);
    void attachServer(RigId id);
    // Starts the rig's link, and first its rigctld when this program runs that.
    void startRig(RigId id);
    RigTimings timingsOf(RigId id) const;
    IRigX*& rigOf(RigId id) { return m_rigs[rigIndex(id)]; }
    RigServerProcess*& serverOf(RigId id) { return m_servers[rigIndex(id)]; }
    const RigServerProcess* serverOf(RigId id) const { return m_servers[rigIndex(id)]; }
    void post(Event event);
    void dispatchEvents();
    void deliver(const Event& event);
    void onDialogFinished(bool accepted);
    void applyDialogSettings();

    std::array<IRigX*, 2> m_rigs {}; // children of this object, so they share its thread
    std::array<RigServerProcess*, 2> m_servers {}; // children as well
    std::array<bool, 2> m_startAfterServerEnds {};
    std::array<bool, 2> m_unknownModelSaid {};
    RigSettingsViewFactory m_viewFactory;
    std::unique_ptr<IRigSettingsView> m_dialog;
    TConnectKind m_connectKind = ckRunningOrNew;
    QString m_configFile;
    RigSettings m_defaults = RigSettings::defaults();
    RigSettings m_settings = RigSettings::defaults();
    QStringList m_settingsProblems;
    RigTimings m_timings;
    bool m_connected = false;
    bool m_closed = false;

    std::deque<Event> m_events;
    bool m_dispatchPosted = false;
    bool m_dispatching = false;
};
