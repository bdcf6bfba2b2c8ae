#include "ConsoleWriter.h"

#include <QString>
#include <QtGlobal>

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>

struct ConsoleWriter::Queue {
    int fd;
    std::size_t capacity;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<QByteArray> lines;
    std::size_t lost = 0;
    bool writing = false; // the thread holds lines taken from the queue
    bool failed = false; // the descriptor failed: nothing more is written

    // Writes all of `data`; false when the descriptor failed.
    bool writeAll(const QByteArray& data)
    {
        qsizetype done = 0;
        while (done < data.size()) {
            const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
            if (n > 0) {
                done += n;
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                // Someone else made the shared description non-blocking: wait here instead.
                pollfd ready { fd, POLLOUT, 0 };
                ::poll(&ready, 1, -1);
            } else {
                return false;
            }
        }
        return true;
    }

    void run()
    {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return !lines.empty(); });
            QByteArray data;
            while (!lines.empty()) {
                data += lines.front();
                lines.pop_front();
            }
            writing = true;
            lock.unlock();
            const bool ok = writeAll(data);
            lock.lock();
            writing = false;
            if (!ok) {
                failed = true;
                lines.clear();
            }
            changed.notify_all();
        }
    }
};

ConsoleWriter::ConsoleWriter(int fd, std::size_t capacity)
    : m_queue(std::make_shared<Queue>())
{
    m_queue->fd = fd;
    m_queue->capacity = capacity < 2 ? 2 : capacity;
    // The thread shares the queue, so it may outlive this object while blocked in a write.
    std::thread([queue = m_queue] { queue->run(); }).detach();
}

ConsoleWriter::~ConsoleWriter()
{
    flush(FlushTime);
}

void ConsoleWriter::writeLine(const QByteArray& line)
{
    Queue& queue = *m_queue;
    {
        std::lock_guard lock(queue.mutex);
        if (queue.failed)
            return;
        const std::size_t needed = queue.lost > 0 ? 2 : 1;
        if (queue.lines.size() + needed > queue.capacity) {
            ++queue.lost;
            return;
        }
        if (queue.lost > 0) {
            queue.lines.push_back(QByteArrayLiteral("lost ")
                + QByteArray::number(qulonglong(queue.lost))
                + (queue.lost == 1 ? QByteArrayLiteral(" line\n") : QByteArrayLiteral(" lines\n")));
            queue.lost = 0;
        }
        queue.lines.push_back(line + '\n');
    }
    queue.changed.notify_all();
}

bool ConsoleWriter::flush(std::chrono::milliseconds limit)
{
    Queue& queue = *m_queue;
    std::unique_lock lock(queue.mutex);
    return queue.changed.wait_for(
        lock, limit, [&queue] { return queue.failed || (queue.lines.empty() && !queue.writing); });
}

namespace {

// Made on first use and never destroyed: a message may come from anywhere until the process
// ends, and a writer's thread may stay blocked in a write to the very end. Each is given
// a short time to flush at exit.
ConsoleWriter* g_standardOutput = nullptr;
ConsoleWriter* g_standardError = nullptr;

void flushAtExit()
{
    if (g_standardOutput)
        g_standardOutput->flush(ConsoleWriter::FlushTime);
    if (g_standardError)
        g_standardError->flush(ConsoleWriter::FlushTime);
}

ConsoleWriter* makeStandard(int fd)
{
    static std::once_flag registered;
    std::call_once(registered, [] { std::atexit(flushAtExit); });
    return new ConsoleWriter(fd);
}

void writeMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    ConsoleWriter& writer = ConsoleWriter::standardError();
    writer.writeLine(qFormatLogMessage(type, context, message).toLocal8Bit());
    // Qt aborts after a fatal message: it gets its short time to be seen first.
    if (type == QtFatalMsg)
        writer.flush(ConsoleWriter::FlushTime);
}

} // namespace

ConsoleWriter& ConsoleWriter::standardOutput()
{
    static ConsoleWriter* writer = g_standardOutput = makeStandard(STDOUT_FILENO);
    return *writer;
}

ConsoleWriter& ConsoleWriter::standardError()
{
    static ConsoleWriter* writer = g_standardError = makeStandard(STDERR_FILENO);
    return *writer;
}

void InstallConsoleOutput()
{
    std::signal(SIGPIPE, SIG_IGN);
    ConsoleWriter::standardError();
    qInstallMessageHandler(writeMessage);
}
