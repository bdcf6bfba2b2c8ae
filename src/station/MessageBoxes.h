#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

// The program's title, the caption of its message boxes ("VOX Operated PTT Switch" at start,
// "VOKEY" once the window has started). Kept apart from Qt's application display name, which
// the platform would append to every window title.
void SetApplicationTitle(const QString& title);
QString ApplicationTitle();

// Every message box of the program goes through this interface, so that tests and
// automation replace it and nothing ever blocks on a modal box there. The window shows them
// as dialogs; without a window they are lines of text.
class IMessageBoxes {
public:
    virtual ~IMessageBoxes() = default;

    // A fixed notice ("Defined COM Port not available"). Returns at once; the program goes on.
    virtual void message(const QString& text) = 0;
    // An error report with the error's text. Returns at once; dismissed() runs when the box
    // is closed.
    virtual void report(const QString& text, std::function<void()> dismissed) = 0;
    // A box that must be read before the program goes on (an error the program ends on,
    // the refused second start). Returns when it is dismissed.
    virtual void fatal(const QString& caption, const QString& text) = 0;
    // OK / Cancel; true for OK. Returns when answered.
    virtual bool confirm(const QString& caption, const QString& text) = 0;
};

// Test and automation hook: with VOKEY_MESSAGE_LOG=<file> every box is appended to the file
// as one line "<kind>|<caption>|<text>" instead of being shown; confirm answers OK, or
// Cancel when VOKEY_MESSAGE_ANSWER=cancel.
class FileMessageBoxes : public IMessageBoxes {
public:
    FileMessageBoxes(const QString& path, bool confirmAnswer);

    void message(const QString& text) override;
    void report(const QString& text, std::function<void()> dismissed) override;
    void fatal(const QString& caption, const QString& text) override;
    bool confirm(const QString& caption, const QString& text) override;

private:
    void append(const QString& kind, const QString& caption, const QString& text);

    QString m_path;
    bool m_confirmAnswer;
};

// The application-wide error report. At most one box is open at a time; a text that keeps
// arriving is shown once and again only after it has stopped arriving for QuietMs. Other
// texts that arrive while a box is open wait, each once, and are shown in turn as the boxes
// close; of more than MaxWaiting the oldest is dropped, with a line to the log.
class ErrorReport {
public:
    static constexpr qint64 QuietMs = 10000;
    static constexpr int MaxWaiting = 8;
    using Clock = std::function<qint64()>; // milliseconds, monotonic

    explicit ErrorReport(IMessageBoxes& boxes, Clock clock = {});

    void show(const QString& text);
    bool boxOpen() const { return m_open; }
    // Where a dropped text is noted.
    void setLog(std::function<void(const QString&)> log) { m_log = std::move(log); }

private:
    void open(const QString& text, qint64 now);

    IMessageBoxes& m_boxes;
    Clock m_clock;
    bool m_open = false;
    bool m_any = false;
    QString m_lastText;
    qint64 m_lastArrival = 0;
    QStringList m_waiting;
    std::function<void(const QString&)> m_log;
    std::shared_ptr<bool> m_alive;
};
