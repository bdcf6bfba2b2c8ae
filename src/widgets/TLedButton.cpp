#include "widgets/TLedButton.h"

#include "audio/SoundPlayer.h"

#include <QApplication>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>

namespace {

// Where the picture and the caption stand.
constexpr int PictureLeft = 7;
// The picture's transparent key colour.
constexpr QRgb KeyColour = 0xFFFFFF00;
const QColor DisabledText(0x80, 0x80, 0x80);

QString lookName(TLedButton::Look look)
{
    switch (look) {
    case TLedButton::Look::Dark:
        return QStringLiteral("OFF");
    case TLedButton::Look::Lit:
        return QStringLiteral("ON");
    case TLedButton::Look::Active:
        break;
    }
    return QStringLiteral("DOWN");
}

int pictureNumber(TLedButton::LEDType type)
{
    switch (type) {
    case TLedButton::TriLEDDown:
        return 1;
    case TLedButton::TriLEDUp:
        return 2;
    case TLedButton::RoundLED:
        return 3;
    case TLedButton::RedLed:
        break;
    }
    return 4;
}

} // namespace

// Resources of a static library are registered by hand, from the global namespace.
static void initResources()
{
    Q_INIT_RESOURCE(widgets);
}

TLedButton::TLedButton(QWidget* parent)
    : QPushButton(parent)
{
    initResources();
    resize(85, height());
    setMouseTracking(true);
    setAttribute(Qt::WA_Hover);
    // Connected first, so the sound comes before the owner's click handlers.
    connect(this, &QAbstractButton::clicked, this, &TLedButton::sound);
}

TLedButton::~TLedButton() = default;

SoundPlayer& TLedButton::player()
{
    if (!m_player)
        m_player = std::make_unique<SoundPlayer>();
    return *m_player;
}

void TLedButton::setSoundFile(const QString& file)
{
    m_soundFile = file;
    if (m_player)
        m_player->stop();
}

void TLedButton::setLedType(LEDType type)
{
    if (type == m_ledType)
        return;
    m_ledType = type;
    repaint();
}

void TLedButton::setCaption3D(bool on)
{
    if (on == m_caption3D)
        return;
    m_caption3D = on;
    repaint();
}

void TLedButton::setIsActive(bool active)
{
    if (!isEnabled())
        return;
    m_highlighted = true;
    m_latched = true;
    const bool changed = active != m_isActive;
    m_isActive = active;
    repaint();
    if (!m_isActive)
        m_latched = false;
    repaint();
    if (changed)
        emit activeChanged(m_isActive);
}

TLedButton::Look TLedButton::look() const
{
    if (!m_highlighted)
        return Look::Dark;
    return m_latched ? Look::Active : Look::Lit;
}

QImage TLedButton::ledPicture(LEDType type, Look look)
{
    initResources();
    return QImage(QStringLiteral(":/leds/%1%2").arg(lookName(look)).arg(pictureNumber(type)))
        .convertToFormat(QImage::Format_RGB32);
}

QImage TLedButton::picture() const
{
    return ledPicture(m_ledType, look());
}

TLedButton::Beep TLedButton::beepFor(int modalResult)
{
    switch (modalResult) {
    case 1: // OK
    case 6: // Yes
    case 8: // All
    case 10: // Yes to all
        return BeepOk;
    case 2: // Cancel
    case 3: // Abort
        return BeepExclamation;
    case 4: // Retry
    case 5: // Ignore
        return BeepQuestion;
    case 7: // No
    case 9: // No to all
        return BeepHand;
    default:
        return NoBeep;
    }
}

void TLedButton::sound()
{
    if (!m_soundFile.isEmpty()) {
        // A file that cannot be played plays nothing; the click goes on regardless.
        player().play(m_soundFile);
        return;
    }
    const Beep beep = beepFor(m_modalResult);
    if (beep == NoBeep)
        return;
    // The platform has one beep for all kinds.
    QApplication::beep();
    emit beeped(beep);
}

void TLedButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QRect r = rect();
    const bool down = isDown();
    const bool focused = hasFocus();
    // The active button of its window: the focused one, else the default one.
    const bool focusFrame = focused || isDefault();
    const QPalette& pal = palette();
    const QColor face = pal.color(QPalette::Button);

    // Rectangles cover columns left..right - 1: in Qt terms the outline of r shrunk by one.
    auto outline = [&painter](const QRect& area, const QColor& pen, const QBrush& fill) {
        painter.setPen(QPen(pen, 0));
        painter.setBrush(fill);
        painter.drawRect(area.adjusted(0, 0, -1, -1));
    };
    if (focusFrame)
        outline(r, pal.color(QPalette::WindowText), Qt::NoBrush), r.adjust(1, 1, -1, -1);
    outline(r, pal.color(QPalette::Dark), face);
    if (down) {
        r.adjust(1, 1, -1, -1);
    } else {
        QStyleOptionButton option;
        option.initFrom(this);
        option.rect = r;
        option.state |= QStyle::State_Raised;
        option.state &= ~QStyle::State_HasFocus;
        option.palette.setColor(QPalette::Button, face);
        style()->drawPrimitive(QStyle::PE_PanelButtonBevel, &option, &painter, this);
    }

    painter.setFont(font());
    QImage picture = this->picture();
    // All looks of a set have one size; a missing picture takes no room.
    const int pictureHeight = picture.height();
    const int pictureWidth = picture.width();
    if (!picture.isNull()) {
        for (int y = 0; y < picture.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
            for (int x = 0; x < picture.width(); ++x)
                if (line[x] == KeyColour)
                    line[x] = face.rgb();
        }
        painter.drawImage(PictureLeft, (height() - pictureHeight) / 2, picture);
    }

    const QFontMetrics metrics(font());
    const int x0 = PictureLeft + pictureWidth;
    const int y0 = (height() - metrics.height()) / 2;
    const QColor textColour = isEnabled() ? pal.color(QPalette::ButtonText) : DisabledText;
    if (!m_caption3D) {
        const QRect cell(x0, y0, metrics.horizontalAdvance(text()), metrics.height());
        painter.fillRect(cell, face);
        painter.setPen(textColour);
        painter.drawText(cell, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text());
    } else {
        const QRect t = rect().translated(x0, y0);
        const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;
        painter.setPen(pal.color(QPalette::Dark));
        painter.drawText(t.translated(1, 1), flags, text());
        painter.setPen(pal.color(QPalette::Light));
        painter.drawText(t.translated(-1, -1), flags, text());
        painter.setPen(textColour);
        painter.drawText(t, flags, text());
    }

    if (focusFrame && focused) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = rect().adjusted(4, 4, -4, -4);
        option.backgroundColor = face;
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

void TLedButton::enterEvent(QEnterEvent* event)
{
    if (!m_isActive) {
        m_highlighted = true;
        repaint();
    }
    QPushButton::enterEvent(event);
}

void TLedButton::leaveEvent(QEvent* event)
{
    if (!m_isActive) {
        m_highlighted = false;
        repaint();
    }
    QPushButton::leaveEvent(event);
}

void TLedButton::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_highlighted && rect().contains(event->position().toPoint())) {
        m_highlighted = true;
        repaint();
    }
    QPushButton::mouseMoveEvent(event);
}

void TLedButton::pressLook()
{
    m_highlighted = true;
    m_latched = true;
    m_isActive = !m_isActive;
    repaint();
    emit activeChanged(m_isActive);
}

void TLedButton::mousePressEvent(QMouseEvent* event)
{
    const Qt::MouseButton button = event->button();
    if (button == Qt::LeftButton || button == Qt::MiddleButton || button == Qt::RightButton) {
        m_latched = false;
        pressLook();
    }
    // Only the left button goes on to push the button (and so to click).
    QPushButton::mousePressEvent(event);
}

void TLedButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_isActive)
        m_latched = false;
    repaint();
    QPushButton::mouseReleaseEvent(event);
}

void TLedButton::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a left double click counts as a press of its own.
    if (event->button() == Qt::LeftButton)
        mousePressEvent(event);
}

void TLedButton::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::EnabledChange)
        update();
    QPushButton::changeEvent(event);
}
