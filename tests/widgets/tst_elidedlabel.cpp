// The rig name label: as much of the name as fits, "…" where it is cut, the whole name as its
// tool tip and its text.
#include "widgets/ElidedLabel.h"

#include <QTest>

class TestElidedLabel : public QObject {
    Q_OBJECT

private slots:
    void showsWhatFits_data();
    void showsWhatFits();
};

void TestElidedLabel::showsWhatFits_data()
{
    QTest::addColumn<int>("width"); // of the label, in pixels
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("elided");
    // Rig B's label is 70 pixels wide, rig A's 122.
    QTest::newRow("short name, narrow label") << 70 << "Dummy" << false;
    QTest::newRow("long name, narrow label") << 70 << "Kenwood TS-590SG" << true;
    QTest::newRow("long name, wide label") << 122 << "Hamlib Dummy" << false;
    QTest::newRow("very long name, wide label")
        << 122 << "Hamlib NET rigctl over a long tunnel" << true;
}

void TestElidedLabel::showsWhatFits()
{
    QFETCH(int, width);
    QFETCH(QString, name);
    QFETCH(bool, elided);
    ElidedLabel label;
    QFont font = label.font();
    font.setPointSize(8); // the window's
    label.setFont(font);
    label.resize(width, 17);
    label.setText(name);
    QCOMPARE(label.text(), name);
    QCOMPARE(label.toolTip(), name);
    const QString shown = label.displayedText();
    // It paints what it says it shows, as a plain label with that text would.
    QLabel plain;
    plain.setFont(font);
    plain.resize(width, 17);
    plain.setText(shown);
    QCOMPARE(label.grab().toImage(), plain.grab().toImage());
    if (!elided) {
        QCOMPARE(shown, name);
        return;
    }
    // A beginning of the name, whole letters, then the ellipsis; and it fits.
    QVERIFY2(shown.endsWith(QChar(0x2026)), qPrintable(shown));
    QVERIFY2(shown.size() >= 4, qPrintable(shown));
    QVERIFY2(name.startsWith(shown.chopped(1)), qPrintable(shown));
    QVERIFY(label.fontMetrics().horizontalAdvance(shown) <= width);
}

QTEST_MAIN(TestElidedLabel)
#include "tst_elidedlabel.moc"
