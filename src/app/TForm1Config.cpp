// The configuration file: read once at start-up, written by WriteINI.
#include "TForm1.h"

#include "serial/ComPort.h"
#include "widgets/SelectionSlider.h"

#include <QDir>

void TForm1::ReadConfiguration()
{
    const QString workDir = WorkDirFrom(QDir::currentPath());
    m_log.SetFileName(workDir + QStringLiteral("VOKEY.Log"));
    m_log.SetMaxLevel(1);
    const QString configPath = ConfigPathFromArguments(m_options.arguments, workDir);
    m_settings = ReadINI(configPath, workDir);
    m_gainTrack->setValue(m_settings.Gain);
    m_trackDelay->setValue(m_settings.Delay);
    // The slider signals only a change; the Delay band is drawn for the start value too.
    TrackDelayChange();
    m_detector.setTxTimeoutMs(qint64(m_settings.TxTimeout) * 1000);
    StartLog(m_log, m_settings);
}

void TForm1::ApplySerialSettings()
{
    m_comPort->SetBaudRate(BaudRateFromSpeed(SpeedFromBaudSetting(m_settings.BaudRate)));
    m_comPort->SetPort(m_settings.ComPort);
    // The two lines are driven by keying alone.
    m_comPort->FlowControl().SetControlDTR(dtrDisable);
    m_comPort->FlowControl().SetControlRTS(rtsDisable);
}

void TForm1::WriteINI()
{
    m_settings.Gain = m_gainTrack->value();
    m_settings.Delay = m_trackDelay->value();
    m_settings.ComPort = m_comPort->Port();
    m_settings.BaudRate = BaudRateSpeed(m_comPort->BaudRate());
    ::WriteINI(m_settings);
}
