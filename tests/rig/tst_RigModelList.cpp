// The radios rigctld knows, as the settings window lists them: the real `rigctld -l` of this
// machine, and what a missing rigctld gives.
#include "rig/RigModelList.h"
#include "rig/RigServerProgram.h"

#include <QSignalSpy>
#include <QTest>

class tst_RigModelList : public QObject {
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void read_data();
    void read();
    void sharedReadsOnce();
};

void tst_RigModelList::parse_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QList<RigModel>>("models");
    const QByteArray header = " Rig #  Mfg                    Model                   Version   "
                              "      Status      Macro\n";
    // Names with spaces, cut at the header's columns.
    QTest::newRow("spaces") << header
            + "     6  Hamlib                 Dummy No VFO            20220510.0      Stable  "
              "    RIG_MODEL_DUMMY_NOVFO\n"
              "  2502  DTTS Microwave Society DttSP IPC               20200319.0      Alpha   "
              "    RIG_MODEL_DTTSP\n"
                            << QList<RigModel> { { 6, "Hamlib", "Dummy No VFO" },
                                   { 2502, "DTTS Microwave Society", "DttSP IPC" } };
    QTest::newRow("no header") << QByteArray("     1  Hamlib    Dummy   1.0  Stable  X\n")
                               << QList<RigModel> {};
}

void tst_RigModelList::parse()
{
    QFETCH(QByteArray, text);
    QFETCH(QList<RigModel>, models);
    QCOMPARE(ParseRigModelList(text), models);
}

void tst_RigModelList::read_data()
{
    QTest::addColumn<QByteArray>("program");
    QTest::addColumn<QList<RigModel>>("someModels");
    QTest::addColumn<QString>("failure");
    QTest::newRow("rigctld of this machine")
        << QByteArray() // from the search path
        << QList<RigModel> { { 1, "Hamlib", "Dummy" }, { 2031, "Kenwood", "TS-590S" },
               { 3073, "Icom", "IC-7300" } }
        << QString();
    QTest::newRow("missing") << QByteArray("/nonexistent/rigctld") << QList<RigModel> {}
                             << QStringLiteral(
                                    "rigctld not found: install Debian's libhamlib-utils");
}

void tst_RigModelList::read()
{
    QFETCH(QByteArray, program);
    QFETCH(QList<RigModel>, someModels);
    QFETCH(QString, failure);
    const QByteArray saved = qgetenv("VOKEY_RIGCTLD");
    qputenv("VOKEY_RIGCTLD", program);
    TRigModelReader reader;
    QSignalSpy finished(&reader, &TRigModelReader::finished);
    reader.start();
    qputenv("VOKEY_RIGCTLD", saved);
    QVERIFY(finished.count() == 1 || finished.wait(20000));
    QVERIFY(!reader.isLoading());
    QCOMPARE(reader.failure(), failure);
    for (const RigModel& model : someModels)
        QVERIFY2(reader.models().contains(model), qPrintable(model.model));
    // The real list is long; a missing program lists nothing.
    QCOMPARE(reader.models().size() > 200, !someModels.isEmpty());
    QCOMPARE(finished.count(), 1);
}

void tst_RigModelList::sharedReadsOnce()
{
    TRigModelReader* reader = TRigModelReader::shared();
    QSignalSpy finished(reader, &TRigModelReader::finished);
    QVERIFY(!reader->isLoading() || finished.wait(20000));
    const QList<RigModel> models = reader->models();
    QCOMPARE(TRigModelReader::shared(), reader);
    reader->start();
    QVERIFY(!reader->isLoading());
    QCOMPARE(reader->models(), models);
}

QTEST_GUILESS_MAIN(tst_RigModelList)
#include "tst_RigModelList.moc"
