#pragma once

#include <QObject>

#include <functional>

class AudioEngine;
class QTimer;
struct StationServices;
struct VokeySettings;

// The capture device: opened with the engine and closed with it, and a device that comes
// and goes. Capture that stops delivering while the engine runs (a USB sound interface
// unplugged, the sound server restarted) is closed and said once; the engine stays on, and
// the device is opened again every retry period, by its stored name where one was chosen
// (the default device only when that is the one configured), until it delivers audio
// again. A device missing at power-on is tried the same way. Device numbers shift when a
// USB interface is plugged in or out; the name does not, so the device is found by it.
class CaptureWatch : public QObject {
    Q_OBJECT

public:
    // `settings` holds the chosen device (DEVICE, DEVICENAME); a device found again under
    // another number is written back to it. `releaseKeying` releases a keyed transmitter
    // before a lost capture is closed.
    CaptureWatch(AudioEngine& audio, VokeySettings& settings, StationServices& services,
        std::function<void()> releaseKeying, int retryMs, QObject* parent = nullptr);

    void start();
    void stop();
    // No device opened again from now on; capture as it is.
    void stopWatching();
    // Whether capture delivers audio now; notes a lost capture that delivers again.
    bool delivers();
    // Capture is gone and not delivering again yet.
    bool lost() const { return m_lost; }
    quint32 channel() const { return m_channel; }
    // A capture device's name by number: "Default" for -1, empty for none.
    QString deviceName(int device) const;
    // The capture device as the log and the views name it.
    QString name() const;

signals:
    // Capture stopped (or could not start) while the engine ran, and delivers again.
    void captureLost(const QString& device);
    void captureFound(const QString& device);

private:
    bool open(bool strict);
    void findDevice();
    void watch();
    void lose(const QString& reason);

    AudioEngine& m_audio;
    VokeySettings& m_settings;
    StationServices& m_services;
    std::function<void()> m_releaseKeying;
    int m_retryMs;
    QTimer* m_watch = nullptr; // runs with the engine
    quint32 m_channel = 0;
    bool m_lost = false;
};
