// The station's state as the window shows it: the transmit lamp, the rig buttons, lamps and
// names, the two sliders with their bands, the mute button, the status bar and the spectrum.
#include "TForm1.h"

#include "widgets/ElidedLabel.h"
#include "widgets/FftBarPainter.h"
#include "widgets/SelectionSlider.h"
#include "widgets/TLed.h"
#include "widgets/TLedButton.h"
#include "widgets/TPaintBox.h"

#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>

namespace {

// Lamp colours, 0x00BBGGRR.
constexpr TColor LitGreen1 = 0x008000, LitGreen2 = 0x00FF00;
constexpr TColor Dark = 0, DarkGreen = 0x008000;
constexpr TColor MutedRed1 = 0x000080, MutedRed2 = 0x0000FF;
constexpr TColor ReceiveColor1 = 0x008000, ReceiveColor2 = 0x00FF00;
constexpr TColor TransmitColor1 = 0x000080, TransmitColor2 = 0x0000FF;

} // namespace

void TForm1::connectStation()
{
    VoxStation* station = m_station;
    connect(station, &VoxStation::TransmitSet, this, &TForm1::TransmitSet);
    connect(station, &VoxStation::VoxTicked, this, &TForm1::VoxTicked);
    connect(station, &VoxStation::frameReady, this, &TForm1::RenderFrame);
    connect(station, &VoxStation::meterChanged, m_gainTrack, &SelectionSlider::setSelEnd);
    connect(station, &VoxStation::gainChanged, m_gainTrack, &QSlider::setValue);
    connect(station, &VoxStation::delayChanged, this, [this](int delay) {
        m_trackDelay->setValue(delay);
        // The slider signals only a change; the Delay band is drawn for the start value too.
        TrackDelayChange();
    });
    connect(station, &VoxStation::lampChanged, this, &TForm1::ShowLamp);
    connect(station, &VoxStation::rigLampChanged, this, &TForm1::ShowRigLamp);
    connect(station, &VoxStation::rigNameChanged, this, &TForm1::ShowRigName);
    connect(station, &VoxStation::selectionChanged, this, &TForm1::ShowSelection);
    // A rig that leaves the selection is released, which may fail like any release.
    connect(m_rig1Button, &TLedButton::activeChanged, station,
        [station](bool on) { station->Guarded([&] { station->setRigSelected(RigId::A, on); }); });
    connect(m_rig2Button, &TLedButton::activeChanged, station,
        [station](bool on) { station->Guarded([&] { station->setRigSelected(RigId::B, on); }); });
    connect(station, &VoxStation::mutedChanged, this, [this](bool muted) {
        m_muteButton->setText(muted ? QStringLiteral("Muted") : QStringLiteral("Mute"));
    });
    // The panel cuts a long port name (a by-id link) at the window's edge; the tip has it all.
    connect(station, &VoxStation::modeChanged, m_statusPanel, [this](const QString& text) {
        m_statusPanel->setText(text);
        m_statusPanel->setToolTip(text);
    });
    for (RigId rig : AllRigs) {
        ShowRigLamp(rig);
        ShowRigName(rig);
    }
}

void TForm1::ShowLamp(bool on, bool alarm)
{
    // Red while muted or released by the time-out, green otherwise.
    if (alarm != m_lampAlarm) {
        m_lampAlarm = alarm;
        if (alarm)
            m_ledOn->setColors(MutedRed1, MutedRed2, Dark, MutedRed1);
        else
            m_ledOn->setColors(LitGreen1, LitGreen2, Dark, DarkGreen);
    }
    m_ledOn->setOn(on);
}

void TForm1::ShowRigLamp(RigId rig)
{
    const RigLamp& lamp = m_station->RigLampState(rig);
    TLed* led = rig == RigId::A ? m_rig1Led : m_rig2Led;
    led->setColor1(lamp.transmitting ? TransmitColor1 : ReceiveColor1);
    led->setColor2(lamp.transmitting ? TransmitColor2 : ReceiveColor2);
    led->setOn(lamp.online);
}

void TForm1::ShowRigName(RigId rig)
{
    (rig == RigId::A ? m_rig1Name : m_rig2Name)->setText(m_station->RigLampState(rig).name);
}

void TForm1::ShowSelection()
{
    m_rig1Button->setIsActive(m_station->RigSelected(RigId::A));
    m_rig2Button->setIsActive(m_station->RigSelected(RigId::B));
}

void TForm1::PowerOn()
{
    m_station->setPowered(!m_station->Running());
}

void TForm1::MuteButtonClick()
{
    m_station->setMuted(!m_station->Muted());
}

void TForm1::Rig1ButtonClick()
{
    // A click on an LED button has already flipped its own flag; the station's selection is
    // shown again whatever the click did.
    const auto show = qScopeGuard([this] { ShowSelection(); });
    m_station->selectRig(RigId::A, true);
}

void TForm1::Rig2ButtonClick()
{
    const auto show = qScopeGuard([this] { ShowSelection(); });
    m_station->selectRig(RigId::B, true);
}

void TForm1::TrackDelayChange()
{
    m_trackDelay->setSelEnd(m_trackDelay->value());
    m_trackDelay->setSelStart(m_trackDelay->minimum());
}

void TForm1::RenderFrame(const float* snapshot)
{
    m_spectrum->BinStride = SpectrumStride;
    m_spectrum->RenderFrame(
        m_paintFrame->surface(), snapshot, m_spectrumOffsetX, m_spectrumOffsetY);
    m_paintFrame->update();
}
