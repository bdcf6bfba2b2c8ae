#pragma once

#include <QByteArray>

#include <chrono>
#include <cstddef>
#include <memory>

// Lines for standard output or standard error that never block the caller. A terminal
// stopped with Ctrl-S, a pipe whose reader stopped reading, a dead ssh session or a stalled
// journal would otherwise stop the event loop with a transmitter keyed. Each writer has a
// thread of its own that does the blocking writes from a bounded queue; a line that finds
// the queue full is dropped and counted, and the next line that fits is preceded by
// "lost <n> lines". A descriptor that fails (EPIPE: the reader went away) ends the output of
// that writer and nothing else. The descriptor's own flags are left as they are: O_NONBLOCK
// would be shared with the shell that owns the terminal.
class ConsoleWriter {
public:
    static constexpr std::size_t DefaultCapacity = 1000;

    explicit ConsoleWriter(int fd, std::size_t capacity = DefaultCapacity);
    // Waits for the queue to empty at most `flushTime`, then leaves the thread to end with
    // the process, whatever it is still blocked in.
    ~ConsoleWriter();

    // `line` without its newline. Never blocks.
    void writeLine(const QByteArray& line);
    // Waits at most `limit` for every queued line to be written; false when some are left.
    bool flush(std::chrono::milliseconds limit);

    // The writers of the process's standard output and standard error, made on first use
    // and given a short time to flush at exit.
    static ConsoleWriter& standardOutput();
    static ConsoleWriter& standardError();

    static constexpr std::chrono::milliseconds FlushTime { 300 };

private:
    struct Queue;
    std::shared_ptr<Queue> m_queue;
};

// For main(), first thing: SIGPIPE ignored (a reader that goes away ends the output, not the
// program), and Qt's messages (qWarning, qInfo, ...) written through the standard error
// writer instead of a blocking write of their own.
void InstallConsoleOutput();
