#include <QTest>
class TestModemLines : public QObject { Q_OBJECT };
QTEST_GUILESS_MAIN(TestModemLines)
#include "tst_modemlines.moc"
