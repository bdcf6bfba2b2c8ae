#include "MessageBoxes.h"
#include "StationServices.h"

#include <QElapsedTimer>
#include <QFile>

#include <exception>

namespace {
QString& applicationTitle()
{
    static QString title;
    return title;
}
} // namespace

void SetApplicationTitle(const QString& title)
{
    applicationTitle() = title;
}

QString ApplicationTitle()
{
    return applicationTitle();
}

FileMessageBoxes::FileMessageBoxes(const QString& path, bool confirmAnswer)
    : m_path(path)
    , m_confirmAnswer(confirmAnswer)
{
}

void FileMessageBoxes::append(const QString& kind, const QString& caption, const QString& text)
{
    QFile file(m_path);
    if (!file.open(QIODevice::Append | QIODevice::Text))
        return;
    QString line = kind + '|' + caption + '|' + text;
    line.replace('\n', ' ');
    file.write(line.toUtf8() + '\n');
}

void FileMessageBoxes::message(const QString& text)
{
    append("message", QString(), text);
}

void FileMessageBoxes::report(const QString& text, std::function<void()> dismissed)
{
    append("report", QString(), text);
    if (dismissed)
        dismissed();
}

void FileMessageBoxes::fatal(const QString& caption, const QString& text)
{
    append("fatal", caption, text);
}

bool FileMessageBoxes::confirm(const QString& caption, const QString& text)
{
    append(m_confirmAnswer ? "confirm-ok" : "confirm-cancel", caption, text);
    return m_confirmAnswer;
}

ErrorReport::ErrorReport(IMessageBoxes& boxes, Clock clock)
    : m_boxes(boxes)
    , m_clock(std::move(clock))
    , m_alive(std::make_shared<bool>(true))
{
    if (!m_clock) {
        auto timer = std::make_shared<QElapsedTimer>();
        timer->start();
        m_clock = [timer] { return timer->elapsed(); };
    }
}

void ErrorReport::show(const QString& text)
{
    const qint64 now = m_clock();
    const bool repeat = m_any && text == m_lastText;
    const qint64 sinceLast = now - m_lastArrival;
    if (repeat)
        m_lastArrival = now;
    if (repeat && (m_open || sinceLast < QuietMs))
        return;
    if (m_open) {
        // Another error while a box is open: it waits its turn, once.
        if (m_waiting.contains(text))
            return;
        if (m_waiting.size() >= MaxWaiting) {
            if (m_log)
                m_log(QStringLiteral("Error not shown (too many at once): ") + m_waiting.first());
            m_waiting.removeFirst();
        }
        m_waiting.append(text);
        return;
    }
    open(text, now);
}

void ErrorReport::open(const QString& text, qint64 now)
{
    m_any = true;
    m_lastText = text;
    m_lastArrival = now;
    m_open = true;
    std::weak_ptr<bool> alive = m_alive;
    m_boxes.report(text, [this, alive] {
        if (!alive.lock())
            return;
        m_open = false;
        if (!m_waiting.isEmpty())
            open(m_waiting.takeFirst(), m_clock());
    });
}

bool StationServices::guarded(const std::function<void()>& handler)
{
    try {
        handler();
        return true;
    } catch (const std::exception& error) {
        errors.show(QString::fromUtf8(error.what()));
    } catch (...) {
        errors.show(QStringLiteral("Unknown error"));
    }
    return false;
}
