#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

// Single key presses from a terminal: the terminal is put into non-canonical mode without
// echo (Ctrl+C still raises SIGINT) for as long as this object lives, and each byte read
// is handed on as keyPressed(). Standard input that is no terminal, or a terminal the
// program runs in the background of, is not read at all.
class TerminalKeys : public QObject {
    Q_OBJECT

public:
    explicit TerminalKeys(int fd, QObject* parent = nullptr);
    ~TerminalKeys() override;

    // False when the descriptor is no terminal or the program is not in its foreground:
    // nothing is read then.
    bool start();

signals:
    void keyPressed(char key);

private:
    void readKeys();
    void restore();

    int m_fd;
    struct Saved;
    std::unique_ptr<Saved> m_saved;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
