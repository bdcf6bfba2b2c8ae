#include "core/HexStr.h"

#include <QTest>

class TestHexStr : public QObject {
    Q_OBJECT
private slots:
    void textToVariant_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("poll") << "00000000FA" << QByteArray::fromHex("00000000fa");
        QTest::newRow("lower case") << "0aff" << QByteArray::fromHex("0aff");
        QTest::newRow("reply end") << ";" << QByteArray();
        QTest::newRow("empty") << "" << QByteArray();
        QTest::newRow("odd length drops last") << "ABC" << QByteArray::fromHex("ab");
        QTest::newRow("stops at bad pair") << "01zz03" << QByteArray::fromHex("010000");
        QTest::newRow("half bad pair") << "0102g3" << QByteArray::fromHex("010200");
        QTest::newRow("bad first pair") << "xx" << QByteArray(1, '\0');
    }
    void textToVariant()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        const VariantBytes v = HexTextToVariant(text);
        QVERIFY(v.IsArray());
        QCOMPARE(v.LowerBound(), 0);
        QCOMPARE(v.Bytes(), bytes);
    }

    void variantToText()
    {
        QCOMPARE(VariantToHexText(VariantBytes(QByteArray::fromHex("0aff"))), QString("0AFF"));
        QCOMPARE(VariantToHexText(VariantBytes(QByteArray())), QString());
        QCOMPARE(VariantToHexText(VariantBytes()), QString());
        QCOMPARE(VariantToHexText(VariantBytes(QByteArray::fromHex("01"), 1)), QString());
        QCOMPARE(VariantToHexText(HexTextToVariant("00000000fa")), QString("00000000FA"));
    }

    void pairToByte_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("FA") << "FA" << 0xFA;
        QTest::newRow("fa") << "fa" << 0xFA;
        QTest::newRow("one digit") << "7" << 7;
        QTest::newRow("one letter") << "b" << 11;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("too long") << "123" << 0;
        QTest::newRow("non hex counts 0") << "G5" << 5;
        QTest::newRow("both non hex") << ";;" << 0;
    }
    void pairToByte()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        QCOMPARE(HexPairToByte(text), value);
    }

    void digitValue()
    {
        const QString digits = "0123456789ABCDEF";
        for (int i = 0; i < digits.size(); ++i) {
            QCOMPARE(HexDigitValue(digits.at(i)), i);
            QCOMPARE(HexDigitValue(digits.at(i).toLower()), i);
        }
        QCOMPARE(HexDigitValue(QLatin1Char('G')), 0);
        QCOMPARE(HexDigitValue(QLatin1Char(' ')), 0);
        QCOMPARE(HexDigitValue(QChar(0x00C4)), 0);
    }

    void padLeft()
    {
        QCOMPARE(PadLeftText("5", 2, '0'), QString("05"));
        QCOMPARE(PadLeftText("", 3, '*'), QString("***"));
        QCOMPARE(PadLeftText("abc", 2, '0'), QString("abc"));
        QCOMPARE(PadLeftText("ab", 2, '0'), QString("ab"));
    }

    void decode()
    {
        quint8 buffer[4] = { 0xEE, 0xEE, 0xEE, 0xEE };
        QCOMPARE(DecodeHexText("00FA1", buffer, 4), 2);
        QCOMPARE(buffer[0], quint8(0x00));
        QCOMPARE(buffer[1], quint8(0xFA));
        QCOMPARE(buffer[2], quint8(0xEE));
        // Longer text than the buffer: only capacity bytes are stored.
        QCOMPARE(DecodeHexText(QString(2050 * 2, 'A'), buffer, 4), 4);
        QCOMPARE(DecodeHexText("", buffer, 4), 0);
        QCOMPARE(DecodeHexText("F", buffer, 4), 0);
    }
};

QTEST_APPLESS_MAIN(TestHexStr)
#include "tst_hexstr.moc"
