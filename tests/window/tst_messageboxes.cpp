// The application-wide error report (one box at a time, others waiting their turn, a
// repeating error shown again only after it has been quiet) and the message log used by tests
// and automation.
#include "WindowTestSupport.h"

#include <QTemporaryDir>
#include <QTest>

class TestMessageBoxes : public QObject {
    Q_OBJECT

private slots:
    void errorReport_data();
    void errorReport();
    void errorQueueIsBounded();
    void messageLogFile_data();
    void messageLogFile();
};

void TestMessageBoxes::errorReport_data()
{
    // Each step: "time:text" (an error arrives), "dismiss" (the user closes the box).
    // shown: the texts that opened a box, in order.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("shown");

    QTest::newRow("one error") << QStringList { "0:a" } << QStringList { "a" };
    QTest::newRow("while a box is open nothing else opens")
        << QStringList { "0:a", "33:a", "66:b", "99:a" } << QStringList { "a" };
    QTest::newRow("repeating every tick stays quiet after the box closes") << QStringList { "0:a",
        "dismiss", "33:a", "5000:a", "14000:a", "23000:a" } << QStringList { "a" };
    QTest::newRow("ten quiet seconds bring it back")
        << QStringList { "0:a", "dismiss", "5000:a", "15000:a" } << QStringList { "a", "a" };
    QTest::newRow("arrivals while open count as not quiet") << QStringList { "0:a", "9000:a",
        "dismiss", "12000:a", "22000:a" } << QStringList { "a", "a" };
    QTest::newRow("another text shows at once once the box is closed") << QStringList { "0:a",
        "dismiss", "100:b", "dismiss", "200:a" } << QStringList { "a", "b", "a" };
    QTest::newRow("other texts wait their turn, in order, each once")
        << QStringList { "0:a", "10:b", "20:c", "30:b", "40:a", "dismiss", "dismiss", "dismiss" }
        << QStringList { "a", "b", "c" };
    QTest::newRow("the shown text arriving meanwhile does not wait")
        << QStringList { "0:a", "10:b", "20:a", "dismiss", "dismiss" } << QStringList { "a", "b" };
}

void TestMessageBoxes::errorQueueIsBounded()
{
    RecordingMessageBoxes boxes;
    ErrorReport report(boxes, [] { return 0; });
    QStringList logged;
    report.setLog([&logged](const QString& line) { logged << line; });
    report.show("first");
    for (int i = 1; i <= 9; ++i)
        report.show(QString::number(i));
    for (int i = 0; i < 10; ++i)
        boxes.dismissAll();
    QCOMPARE(boxes.texts(), QStringList({ "first", "2", "3", "4", "5", "6", "7", "8", "9" }));
    QCOMPARE(logged, QStringList { "Error not shown (too many at once): 1" });
    QVERIFY(!report.boxOpen());
}

void TestMessageBoxes::errorReport()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, shown);
    RecordingMessageBoxes boxes;
    qint64 now = 0;
    ErrorReport report(boxes, [&now] { return now; });
    for (const QString& step : steps) {
        if (step == "dismiss") {
            QVERIFY(report.boxOpen());
            boxes.dismissAll();
            continue;
        }
        now = step.section(':', 0, 0).toLongLong();
        report.show(step.section(':', 1));
    }
    QCOMPARE(boxes.texts(), shown);
}

void TestMessageBoxes::messageLogFile_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("confirmed");
    QTest::newRow("default answer") << QString() << true;
    QTest::newRow("cancel") << "cancel" << false;
}

void TestMessageBoxes::messageLogFile()
{
    QFETCH(QString, answer);
    QFETCH(bool, confirmed);
    QTemporaryDir dir;
    const QString log = dir.filePath("messages.log");
    qputenv("VOKEY_MESSAGE_LOG", QFile::encodeName(log));
    qputenv("VOKEY_MESSAGE_ANSWER", answer.toUtf8());
    const std::unique_ptr<IMessageBoxes> boxes = createMessageBoxes();
    qunsetenv("VOKEY_MESSAGE_LOG");
    qunsetenv("VOKEY_MESSAGE_ANSWER");

    bool dismissed = false;
    boxes->message("Defined COM Port not available");
    boxes->report("two\nlines", [&dismissed] { dismissed = true; });
    boxes->fatal("VOKEY (2.0) Initialization Failure", "Instance of Program Already Running");
    QCOMPARE(boxes->confirm("Warning!", "Do you really want to exit?"), confirmed);
    QVERIFY(dismissed);

    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(file.readAll()).split('\n'),
        QStringList({ "message||Defined COM Port not available", "report||two lines",
            "fatal|VOKEY (2.0) Initialization Failure|Instance of Program Already Running",
            QString(confirmed ? "confirm-ok" : "confirm-cancel")
                + "|Warning!|Do you really want to exit?",
            "" }));
}

QTEST_MAIN(TestMessageBoxes)
#include "tst_messageboxes.moc"
