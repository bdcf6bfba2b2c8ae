#include "TForm1.h"

#include "DialogMessageBoxes.h"

#include "core/Version.h"

#include "widgets/ElidedLabel.h"
#include "widgets/FftBarPainter.h"
#include "widgets/RigSettingsDialog.h"
#include "widgets/SelectionSlider.h"
#include "widgets/TAboutDlg.h"
#include "widgets/TLed.h"
#include "widgets/TLedButton.h"
#include "widgets/TPaintBox.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QSystemTrayIcon>

namespace {

// The window's client area; its frame adds the platform's border and title.
constexpr int ClientWidth = 260;
constexpr int ClientHeight = 436;

void setPointSize(QWidget* widget, int points)
{
    QFont font = widget->font();
    font.setPointSize(points);
    widget->setFont(font);
}

template <typename Widget>
Widget* place(QWidget* parent, const char* name, int left, int top, int width, int height)
{
    auto* widget = new Widget(parent);
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(left, top, width, height);
    return widget;
}

VoxStationOptions stationOptions(const TForm1Options& options)
{
    VoxStationOptions station = options;
    if (!station.rigSettingsView)
        station.rigSettingsView = RigSettingsDialogFactory();
    return station;
}

} // namespace

TForm1::TForm1(const TForm1Options& options, QWidget* parent)
    : QWidget(parent)
{
    if (auto* boxes = dynamic_cast<DialogMessageBoxes*>(options.messages))
        boxes->setParent(this);
    m_station = new VoxStation(stationOptions(options), this);
    buildLayout();
    connectStation();
}

TForm1::~TForm1()
{
    // Whatever ends the window, transmit is not left on.
    if (!m_station->IsShutDown())
        FormClose();
}

void TForm1::buildLayout()
{
    setWindowTitle(QStringLiteral("VOKEY"));
    setWindowIcon(ApplicationIcon());
    setPointSize(this, 8);
    move(825, 76);
    resize(ClientWidth, ClientHeight);

    m_paintFrame = place<TPaintBox>(this, "PaintFrame", 8, 8, 241, 169);

    m_spectrum = std::make_unique<TSpectrum>(m_paintFrame->width(), m_paintFrame->height());

    m_label1 = place<QLabel>(this, "Label1", 11, 194, 41, 23);
    m_label1->setText(QStringLiteral("Gain"));
    setPointSize(m_label1, 12);
    m_gainTrack = place<SelectionSlider>(this, "GainTrack", 64, 192, 185, 33);
    m_gainTrack->setRange(0, 100);

    m_label2 = place<QLabel>(this, "Label2", 11, 232, 54, 23);
    m_label2->setText(QStringLiteral("Delay"));
    setPointSize(m_label2, 12);
    m_trackDelay = place<SelectionSlider>(this, "TrackDelay", 64, 230, 185, 33);
    m_trackDelay->setRange(0, 100);

    // Lamp colours are 0x00BBGGRR: green 0x008000, lime 0x00FF00.
    m_rig1Button = place<TLedButton>(this, "Rig1Button", 3, 272, 89, 49);
    m_rig1Button->setText(QStringLiteral(" [A]"));
    setPointSize(m_rig1Button, 14);
    m_ledOn = place<TLed>(this, "LedOn", 105, 272, 49, 49);
    m_ledOn->setLedStyle(TLed::lsGradient2);
    m_ledOn->setColors(0x008000, 0x00FF00, 0x000000, 0x00FF00);
    m_ledOn->setRadius(1);
    m_rig2Button = place<TLedButton>(this, "Rig2Button", 160, 272, 89, 49);
    m_rig2Button->setText(QStringLiteral("  [B]"));
    setPointSize(m_rig2Button, 14);

    m_rig1Led = place<TLed>(this, "Rig1Led", 8, 328, 17, 17);
    // Each name takes the room beside its lamp: rig A's up to rig B's lamp, rig B's up to the
    // window's edge. A name longer than that is elided.
    m_rig1Name = place<ElidedLabel>(this, "Rig1Name", 34, 329, 122, 17);
    m_rig2Led = place<TLed>(this, "Rig2Led", 162, 327, 17, 17);
    m_rig2Name = place<ElidedLabel>(this, "Rig2Name", 186, 328, 70, 17);
    for (TLed* led : { m_rig1Led, m_rig2Led }) {
        led->setLedStyle(TLed::lsGradient2);
        led->setColors(0x008000, 0x00FF00, 0x000000, 0x008000);
        led->setRadius(1);
        led->setOn(false);
    }

    m_muteButton = place<QPushButton>(this, "MuteButton", 8, 352, 241, 49);
    m_muteButton->setText(QStringLiteral("Mute"));
    setPointSize(m_muteButton, 14);

    m_statusBar1 = place<QStatusBar>(this, "StatusBar1", 0, 411, 260, 25);
    m_statusBar1->setSizeGripEnabled(false);
    m_statusPanel = new QLabel(m_statusBar1);
    m_statusPanel->setObjectName(QStringLiteral("StatusPanel0"));
    m_statusBar1->addWidget(m_statusPanel, 1);

    connect(m_trackDelay, &QSlider::valueChanged, this, [this](int value) {
        m_station->SetDelay(value);
        TrackDelayChange();
    });
    connect(m_gainTrack, &QSlider::valueChanged, m_station, &VoxStation::SetGain);
    connect(m_rig1Button, &TLedButton::clicked, this,
        [this] { guarded([this] { Rig1ButtonClick(); }); });
    connect(m_rig2Button, &TLedButton::clicked, this,
        [this] { guarded([this] { Rig2ButtonClick(); }); });
    connect(m_muteButton, &QPushButton::clicked, this,
        [this] { guarded([this] { MuteButtonClick(); }); });
}

QIcon TForm1::ApplicationIcon()
{
    // PNG renditions of data/vokey.svg, one folder per size (made at build time): an SVG
    // icon needs Qt's SVG plugin, which a plain Qt installation lacks, and is blank without it.
    QIcon icon;
    const QString folder = QStringLiteral(":/vokey/icons");
    for (const QString& size : QDir(folder).entryList(QDir::Dirs))
        icon.addFile(
            folder + u'/' + size + QStringLiteral("/vokey.png"), QSize(size.toInt(), size.toInt()));
    return icon;
}

void TForm1::FormCreate()
{
    guarded([this] {
        m_station->Configure();
        // The painter itself was made with the window, sized to PaintFrame: cyan bars five
        // pixels wide with red peak marks, bars falling ten pixels a frame.
        m_spectrum->ClearColor = 0x000000;
        m_spectrum->TraceColor = 0xFFFF00;
        m_spectrum->PeakMarkColor = 0x0000FF;
        m_spectrum->PlotMode = 1;
        m_spectrum->BinStride = SpectrumStride;
        m_spectrum->PeakDecay = 1;
        m_spectrum->BarDecay = 10;
        m_spectrum->BarWidth = 5;
        m_spectrum->ShowPeakMarks = true;
        m_spectrumOffsetX = 10;
        m_spectrumOffsetY = 0;

        BuildSystemMenu();
        BuildPopupMenu();
        SetApplicationTitle(QStringLiteral("VOKEY"));
        AddTrayIcon();
        setWindowTitle(QStringLiteral("VOKEY V%1").arg(QLatin1String(VokeyVersion)));

        m_aboutDlg = new TAboutDlg(this);
        m_aboutDlg->setTitle(QStringLiteral("Soundcard based Control VOX System"));
        m_aboutDlg->setProductName(QStringLiteral("VOKEY 2.0.03.01.02"));
        m_aboutDlg->setCopyRight(QStringLiteral("Copyright (C) the VOKEY authors"));
        m_aboutDlg->setProgrammer(QStringLiteral(
            "Free software under the GNU General Public License, version 3 or later"));
        m_aboutDlg->setWebSite(
            QStringLiteral("VOKEY: a voice-operated transmit switch for radio amateurs on Linux"));
        m_aboutDlg->setIcon(ApplicationIcon());

        m_station->Run();
    });
}

QString TForm1::StatusText() const
{
    return m_statusPanel->text();
}

void TForm1::closeOnSignal()
{
    close();
    // A dialog open over the window would keep the process alive until someone closes it;
    // the settings action that opened it stops once it returns (the window is closed).
    for (int i = 0; i < 16; ++i) {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            break;
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
        if (QApplication::activeModalWidget() == modal && modal->isVisible())
            break;
    }
}

void TForm1::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_placed) {
        m_placed = true;
        FitOnScreen();
    }
}

void TForm1::FitOnScreen()
{
    // The window opens where it always has; on a small screen it is moved just enough to be
    // wholly on the screen that holds most of it.
    const QRect frame = frameGeometry();
    QScreen* best = nullptr;
    qint64 bestArea = -1;
    for (QScreen* screen : QGuiApplication::screens()) {
        const QRect common = screen->geometry().intersected(frame);
        const qint64 area = common.isEmpty() ? 0 : qint64(common.width()) * common.height();
        if (area > bestArea) {
            best = screen;
            bestArea = area;
        }
    }
    if (!best)
        return;
    const QRect room = best->availableGeometry();
    QPoint to = frame.topLeft();
    to.setX(std::max(room.left(), std::min(to.x(), room.right() + 1 - frame.width())));
    to.setY(std::max(room.top(), std::min(to.y(), room.bottom() + 1 - frame.height())));
    if (to != frame.topLeft())
        move(to);
}

void TForm1::closeEvent(QCloseEvent* event)
{
    if (!m_station->IsShutDown())
        FormClose();
    event->accept();
}

void TForm1::FormClose()
{
    // Every road released, capture and the port closed; nothing keys again.
    m_station->Shutdown();
    if (m_trayIcon)
        m_trayIcon->hide();
}
