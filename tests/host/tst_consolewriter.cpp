// The console writer on a real pipe that its reader has stopped reading: the caller never
// waits, what does not fit the queue is counted and said, and a reader that goes away ends
// the output without a signal.
#include "host/ConsoleWriter.h"

#include <QTest>

#include <fcntl.h>
#include <unistd.h>

class TestConsoleWriter : public QObject {
    Q_OBJECT

private slots:
    void linesBeyondTheQueueAreCountedLost();
    void aReaderThatWentAwayEndsTheOutput();
};

void TestConsoleWriter::linesBeyondTheQueueAreCountedLost()
{
    int fds[2];
    QVERIFY(::pipe2(fds, O_CLOEXEC) == 0);
    QVERIFY(::fcntl(fds[1], F_SETPIPE_SZ, 4096) > 0);
    // The pipe is full before the first line.
    ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
    QByteArray filler(4096, 'x');
    QVERIFY(::write(fds[1], filler.constData(), filler.size()) == filler.size());
    ::fcntl(fds[1], F_SETFL, 0);
    {
        ConsoleWriter writer(fds[1], 4);
        for (int i = 1; i <= 10; ++i)
            writer.writeLine("line " + QByteArray::number(i));
        // The reader reads again.
        ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
        QByteArray read;
        char buffer[4096];
        const auto readSome = [&] {
            ssize_t n;
            while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0)
                read.append(buffer, n);
            return read;
        };
        QTRY_VERIFY_WITH_TIMEOUT(readSome().size() >= 4096 + 7, 5000);
        writer.writeLine("line 11");
        QTRY_VERIFY_WITH_TIMEOUT(readSome().endsWith("line 11\n"), 5000);
        // The thread takes whatever the queue holds when it wakes, so how many lines passed
        // before the queue filled depends on scheduling. Whatever it was, each line came
        // through in order or was counted in the "lost" line just before the next one that
        // came through, and some were lost.
        const QList<QByteArray> lines = read.mid(4096).chopped(1).split('\n');
        int next = 1;
        int lostLines = 0;
        for (const QByteArray& line : lines) {
            if (line.startsWith("lost ")) {
                const int lost = line.split(' ').value(1).toInt();
                QCOMPARE(
                    line, "lost " + QByteArray::number(lost) + (lost == 1 ? " line" : " lines"));
                next += lost;
                ++lostLines;
            } else {
                QCOMPARE(line, "line " + QByteArray::number(next));
                ++next;
            }
        }
        QCOMPARE(next, 12);
        QVERIFY2(lostLines > 0, read.mid(4096).constData());
    }
    ::close(fds[0]);
    ::close(fds[1]);
}

void TestConsoleWriter::aReaderThatWentAwayEndsTheOutput()
{
    InstallConsoleOutput(); // SIGPIPE ignored
    int fds[2];
    QVERIFY(::pipe2(fds, O_CLOEXEC) == 0);
    ::close(fds[0]);
    ConsoleWriter writer(fds[1]);
    writer.writeLine("nobody reads this");
    QVERIFY(writer.flush(std::chrono::seconds(5)));
    writer.writeLine("nor this");
    QVERIFY(writer.flush(std::chrono::seconds(5)));
    ::close(fds[1]);
}

QTEST_GUILESS_MAIN(TestConsoleWriter)
#include "tst_consolewriter.moc"
