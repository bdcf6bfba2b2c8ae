// The program's translation end to end: a German "cport" catalogue beside the executable
// translates the serial settings dialog and the serial port's messages; without one every
// text stays as written.

#include "../i18n/CatalogueSupport.h"

#include "app/TranslationSetup.h"
#include "i18n/TGnuGettextInstance.h"
#include "serial/ComPort.h"
#include "serial/EComPort.h"
#include "widgets/ComSetupForm.h"
#include "widgets/TComComboBox.h"

#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

class TestTranslation : public QObject {
    Q_OBJECT

private slots:
    void serialDialogAndMessages();
};

namespace {

struct Shown {
    QStringList captions;
    QStringList values; // of the parity list
    QString openError;
};

// What the serial settings dialog shows and what opening a missing device reports.
Shown DialogAndOpenError(const QString& missingDevice)
{
    Shown shown;
    TComSetupFrm form([](QStringList& names) { names = QStringList { "ttyUSB0" }; });
    shown.captions << form.windowTitle() << form.findChild<QGroupBox*>()->title();
    for (int row = 1; row <= 6; ++row)
        shown.captions << form.findChild<QLabel*>(QString("Label%1").arg(row))->text();
    shown.captions << form.Button1()->text() << form.Button2()->text();
    for (int i = 0; i < form.Combo(5)->count(); ++i)
        shown.values << form.Combo(5)->itemText(i);
    TComPort port;
    port.SetPort(missingDevice);
    try {
        port.OpenPort();
    } catch (const EComPort& error) {
        shown.openError = error.Message();
    }
    return shown;
}

} // namespace

void TestTranslation::serialDialogAndMessages()
{
    qputenv("LANG", "de_DE.UTF-8");
    const QString locale = QCoreApplication::applicationDirPath() + "/locale";
    const auto cleanUp = qScopeGuard([&] {
        TearDownTranslation();
        QDir(locale).removeRecursively();
    });
    QDir(locale).removeRecursively();
    QTemporaryDir dir;
    const QString missing = dir.filePath("ttyNone");
    const QStringList values { "None", "Odd", "Even", "Mark", "Space" };

    {
        TGnuGettextInstance gettext;
        SetUpTranslation(gettext);
        const Shown shown = DialogAndOpenError(missing);
        QCOMPARE(shown.captions,
            QStringList({ "Setup", " Settings ", "Port", "Baud rate", "Data bits", "Stop bits",
                "Parity", "Flow control", "OK", "Cancel" }));
        QCOMPARE(shown.values, values);
        QCOMPARE(shown.openError,
            QString("Unable to open com port (win error code: 2): No such file or directory"));
        TearDownTranslation();
    }

    // The catalogue goes beside the executable, where the program looks for it; a build
    // that belongs to another user (the unprivileged rerun of the suite) cannot take it.
    if (!QFileInfo(QCoreApplication::applicationDirPath()).isWritable())
        QSKIP("the German half needs a writable build directory for its catalogue");
    QVERIFY(MakeCatalogue(locale + "/de/LC_MESSAGES/cport.mo",
        { { " (win error code: %d)", " (Systemfehler %d)" }, { " Settings ", " Einstellungen " },
            { "Baud rate", "Baudrate" }, { "Cancel", "Abbrechen" }, { "Data bits", "Datenbits" },
            { "Even", "Gerade" }, { "Flow control", "Flusssteuerung" }, { "None", "Keine" },
            { "Parity", "Parit\xc3\xa4t" }, { "Port", "Anschluss" }, { "Setup", "Einrichtung" },
            { "Stop bits", "Stoppbits" },
            { "Unable to open com port",
                "COM-Port kann nicht ge\xc3\xb6"
                "ffnet werden" } }));
    TGnuGettextInstance gettext;
    SetUpTranslation(gettext);
    const Shown shown = DialogAndOpenError(missing);
    QCOMPARE(shown.captions,
        QStringList(
            { "Einrichtung", " Einstellungen ", "Anschluss", "Baudrate", "Datenbits", "Stoppbits",
                QString::fromUtf8("Parit\xc3\xa4t"), "Flusssteuerung", "OK", "Abbrechen" }));
    QCOMPARE(shown.values, values);
    QCOMPARE(shown.openError,
        QString::fromUtf8("COM-Port kann nicht ge\xc3\xb6"
                          "ffnet werden (Systemfehler 2): No such file or directory"));
}

QTEST_MAIN(TestTranslation)
#include "tst_translation.moc"
