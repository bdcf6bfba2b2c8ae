#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;
class QTimer;

// Single key presses from a terminal: while the program is in the terminal's foreground,
// the terminal is in key mode (non-canonical, no echo, no Ctrl-S/Ctrl-Q flow control; Ctrl+C,
// Ctrl+Z and Ctrl+\ still raise their signals) and each byte read is handed on as
// keyPressed(). In the background nothing is read and the terminal is not touched: either
// would stop the program (SIGTTIN, SIGTTOU), keyed. Standard input that is no terminal is
// not read at all.
class TerminalKeys : public QObject {
    Q_OBJECT

public:
    explicit TerminalKeys(int fd, QObject* parent = nullptr);
    // The terminal as it was (when in the foreground).
    ~TerminalKeys() override;

    // False when the descriptor is no terminal: nothing is read then. Started in the
    // background, the keys are read once the program comes to the foreground.
    bool start();
    // Before the program stops (job control): the terminal as it was, nothing read.
    void suspend();
    // After the program continued: key mode again in the foreground; in the background
    // nothing until it comes to the foreground.
    void resume();
    // The terminal as it was (when in the foreground), and nothing read any more.
    void restore();

signals:
    void keyPressed(char key);

private:
    bool inForeground() const;
    void enterKeyMode();
    void leaveKeyMode();
    void readKeys();

    int m_fd;
    bool m_started = false;
    bool m_keyMode = false;
    struct Saved;
    std::unique_ptr<Saved> m_saved; // the terminal's settings before the first key mode
    std::unique_ptr<QSocketNotifier> m_notifier;
    // In the background: looks now and then whether the program came to the foreground
    // (`fg` of a job running in the background sends no SIGCONT).
    QTimer* m_foregroundCheck = nullptr;
};
