#include <serial/ComPort.h>
#include <serial/SerialDevice.h>
#include <widgets/ComSetupForm.h>
#include <widgets/TComComboBox.h>

#include "common/PtyPair.h"
#include "widgets/ModalDriver.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

// The settings dialog driven through its real modal loop, on ports opened on
// pseudo-terminals. The port list is handed in, so no real serial device is ever listed
// or opened.
class TestComSetupDialog : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void cancelWritesNothing();
    void okAppliesInOneUpdate();
    void okUntouchedKeepsEverything();
    void absentPortNameKept();
    void choosingAnotherPortReopens();
    void failingReopenRaisesAfterRelease();
    void refusedSettingsRaiseAfterRelease_data();
    void refusedSettingsRaiseAfterRelease();
    void unreadablePortListRaisesBeforeShowing();
    void captionsAndTranslationHook();
    void portListEntries();
    void impossibleCombinations_data();
    void impossibleCombinations();

private:
    TPortLister lister() const;
    static int formsAlive();
    static void openOn(TComPort& port, const PtyPair& pty);

    std::unique_ptr<PtyPair> m_a;
    std::unique_ptr<PtyPair> m_b;
    QTemporaryDir m_dir;
};

namespace {

// The user picking an entry of one of the dialog's lists.
void pick(TComComboBox* combo, const QString& text)
{
    const int index = combo->findText(text);
    QVERIFY2(index >= 0, qPrintable(text));
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

// A picked entry per row (empty: untouched), then OK or Cancel.
std::function<void(QWidget*)> answer(QStringList picks, bool ok)
{
    return [picks, ok](QWidget* modal) {
        auto* form = qobject_cast<TComSetupFrm*>(modal);
        QVERIFY(form);
        for (int row = 1; row <= picks.size(); ++row) {
            if (!picks.at(row - 1).isEmpty())
                pick(form->Combo(row), picks.at(row - 1));
        }
        QTest::mouseClick(ok ? form->Button1() : form->Button2(), Qt::LeftButton);
    };
}

termios settingsOf(int master)
{
    termios t {};
    tcgetattr(master, &t); // a master reads its slave's settings
    return t;
}

// A port that raises at the end of the update as a device refusing the settings would (all
// of them, or one speed as a driver does); pseudo-terminals accept every setting, so the
// refusal is made here.
class RefusingPort : public TComPort {
public:
    using TComPort::TComPort;
    bool refuse = false;
    TBaudRate refusedBaud = TBaudRate(0xFF); // none

protected:
    void ApplyAllSettings() override
    {
        if (refuse || BaudRate() == refusedBaud)
            throw EComPort(CError_SetStateFailed, EINVAL);
        TComPort::ApplyAllSettings();
    }
};

}

TPortLister TestComSetupDialog::lister() const
{
    const QStringList names { m_a->SlavePath(), m_b->SlavePath(), m_dir.filePath("ttyGone") };
    return [names](QStringList& list) { list = names; };
}

int TestComSetupDialog::formsAlive()
{
    return vokeytest::widgetsAlive<TComSetupFrm>();
}

void TestComSetupDialog::openOn(TComPort& port, const PtyPair& pty)
{
    port.SetEvents({}); // no event thread: every device call is the test's or the dialog's
    port.SetPort(pty.SlavePath());
    port.OpenPort();
}

void TestComSetupDialog::init()
{
    m_a = std::make_unique<PtyPair>();
    m_b = std::make_unique<PtyPair>();
    QVERIFY(m_a->IsOpen() && m_b->IsOpen());
}

void TestComSetupDialog::cleanup()
{
    m_a.reset();
    m_b.reset();
    QCOMPARE(formsAlive(), 0);
}

void TestComSetupDialog::cancelWritesNothing()
{
    TComPort port;
    openOn(port, *m_a);
    const termios before = settingsOf(m_a->Master());
    const auto calls = SerialDevice::CallCount();

    vokeytest::ModalAction driver(
        answer({ m_b->SlavePath(), "1200", "7", "2", "Even", "Software" }, false));
    RunSettingsDialog(port, lister(), nullptr);
    QVERIFY(driver.ran());

    QCOMPARE(SerialDevice::CallCount(), calls);
    QCOMPARE(port.Port(), m_a->SlavePath());
    QCOMPARE(port.BaudRate(), br9600);
    QCOMPARE(port.DataBits(), dbEight);
    QCOMPARE(port.StopBits(), sbOneStopBit);
    QCOMPARE(port.Parity().Bits(), prNone);
    QCOMPARE(port.FlowControl().FlowControl(), fcNone);
    QVERIFY(port.Connected());
    const termios after = settingsOf(m_a->Master());
    QCOMPARE(cfgetospeed(&after), cfgetospeed(&before));
    QCOMPARE(after.c_cflag, before.c_cflag);
    QCOMPARE(after.c_iflag, before.c_iflag);
}

void TestComSetupDialog::okAppliesInOneUpdate()
{
    TComPort port;
    openOn(port, *m_a);
    // What one application of all settings costs on this device.
    auto calls = SerialDevice::CallCount();
    port.BeginSettingsUpdate();
    port.EndSettingsUpdate();
    const auto oneApply = SerialDevice::CallCount() - calls;
    QVERIFY(oneApply > 0);

    calls = SerialDevice::CallCount();
    vokeytest::ModalAction driver(answer({ {}, "1200", "7", "2", "Even", "Software" }, true));
    RunSettingsDialog(port, lister(), nullptr);
    QVERIFY(driver.ran());

    // Five changed settings, one application: the update held them back until the end.
    QCOMPARE(SerialDevice::CallCount() - calls, oneApply);
    QCOMPARE(port.Port(), m_a->SlavePath());
    QCOMPARE(port.BaudRate(), br1200);
    QCOMPARE(port.DataBits(), dbSeven);
    QCOMPARE(port.StopBits(), sbTwoStopBits);
    QCOMPARE(port.Parity().Bits(), prEven);
    QCOMPARE(port.FlowControl().FlowControl(), fcSoftware);
    const termios t = settingsOf(m_a->Master());
    QCOMPARE(cfgetospeed(&t), speed_t(B1200));
    QVERIFY(t.c_cflag & CSTOPB);
    QVERIFY(t.c_iflag & IXON);
    QVERIFY(t.c_iflag & IXOFF);

    // The update is closed: a later change reaches the device at once.
    calls = SerialDevice::CallCount();
    port.SetBaudRate(br4800);
    QVERIFY(SerialDevice::CallCount() > calls);
}

void TestComSetupDialog::okUntouchedKeepsEverything()
{
    // Custom flow control (RTS simply on) shows "Custom"; OK without touching the row
    // leaves the fields alone. Closed port: the values are only stored.
    TComPort port;
    port.SetPort(m_b->SlavePath());
    port.SetBaudRate(brCustom);
    port.FlowControl().SetControlRTS(rtsEnable);
    port.FlowControl().SetOutDSRFlow(true);
    QStringList shown;
    vokeytest::ModalAction driver([&](QWidget* modal) {
        auto* form = qobject_cast<TComSetupFrm*>(modal);
        QVERIFY(form);
        for (TComComboBox* combo : form->Combos())
            shown << combo->Text();
        QTest::keyClick(form, Qt::Key_Return);
    });
    RunSettingsDialog(port, lister(), nullptr);
    QVERIFY(driver.ran());
    QCOMPARE(shown, QStringList({ m_b->SlavePath(), "Custom", "8", "1", "None", "Custom" }));
    QCOMPARE(port.Port(), m_b->SlavePath());
    QCOMPARE(port.BaudRate(), brCustom);
    QCOMPARE(port.FlowControl().ControlRTS(), rtsEnable);
    QVERIFY(port.FlowControl().OutDSRFlow());
    QVERIFY(!port.FlowControl().OutCTSFlow());
    QVERIFY(!port.Connected());
}

void TestComSetupDialog::absentPortNameKept()
{
    // The configured port is not present: the row shows it below "(none)", and OK keeps
    // the name; picking a port still sets it.
    TComPort port;
    port.SetPort("ttyUSB7");
    int shownIndex = 0;
    QString shownText;
    vokeytest::ModalAction keep([&](QWidget* modal) {
        auto* form = qobject_cast<TComSetupFrm*>(modal);
        QVERIFY(form);
        shownIndex = form->Combo(1)->currentIndex();
        shownText = form->Combo(1)->Text();
        pick(form->Combo(2), "19200");
        form->Button1()->click();
    });
    RunSettingsDialog(port, lister(), nullptr);
    QVERIFY(keep.ran());
    QCOMPARE(shownIndex, 1);
    QCOMPARE(shownText, QString("ttyUSB7"));
    QCOMPARE(port.Port(), QString("ttyUSB7"));
    QCOMPARE(port.BaudRate(), br19200);

    vokeytest::ModalAction choose(answer({ m_a->SlavePath() }, true));
    RunSettingsDialog(port, lister(), nullptr);
    QVERIFY(choose.ran());
    QCOMPARE(port.Port(), m_a->SlavePath());
    QVERIFY(!port.Connected());
}

void TestComSetupDialog::choosingAnotherPortReopens()
{
    TComPort port;
    openOn(port, *m_a);
    vokeytest::ModalAction driver(answer({ m_b->SlavePath(), "57600" }, true));
    RunSettingsDialog(port, lister(), nullptr);
    QVERIFY(driver.ran());
    QVERIFY(port.Connected());
    QCOMPARE(port.Port(), m_b->SlavePath());
    const termios t = settingsOf(m_b->Master());
    QCOMPARE(cfgetospeed(&t), speed_t(B57600));
    // The first device was let go: another program may open it now.
    const int fd = ::open(m_a->SlavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    QVERIFY(fd >= 0);
    QVERIFY(::flock(fd, LOCK_EX | LOCK_NB) == 0);
    ::close(fd);
}

void TestComSetupDialog::failingReopenRaisesAfterRelease()
{
    TComPort port;
    openOn(port, *m_a);
    vokeytest::ModalAction driver(answer({ m_dir.filePath("ttyGone"), "1200" }, true));
    try {
        RunSettingsDialog(port, lister(), nullptr);
        QFAIL("no exception");
    } catch (const EComPort& error) {
        QCOMPARE(formsAlive(), 0);
        QCOMPARE(error.ReasonCode(), int(CError_OpenFailed));
        QCOMPARE(error.SystemErrorCode(), ENOENT);
    }
    QVERIFY(driver.ran());
    QVERIFY(!port.Connected());
    QCOMPARE(port.Port(), m_dir.filePath("ttyGone"));
    QCOMPARE(port.BaudRate(), br9600); // the rows after the port were not applied
    // The update was closed: reopening on a good name applies at once.
    port.SetPort(m_a->SlavePath());
    port.OpenPort();
    QVERIFY(port.Connected());
}

void TestComSetupDialog::refusedSettingsRaiseAfterRelease_data()
{
    // A device that fails everything (nothing to name), and a driver that refuses one speed.
    QTest::addColumn<bool>("refuseAll");
    QTest::addColumn<QString>("message");
    QTest::newRow("device refuses everything")
        << true << "SetCommState function failed (win error code: 22): Invalid argument";
    QTest::newRow("driver refuses the speed")
        << false
        << "Baud rate 2400: refused by the port; its previous settings are kept.\n"
           "SetCommState function failed (win error code: 22): Invalid argument";
}

void TestComSetupDialog::refusedSettingsRaiseAfterRelease()
{
    QFETCH(bool, refuseAll);
    QFETCH(QString, message);
    RefusingPort port;
    openOn(port, *m_a);
    port.refuse = refuseAll;
    port.refusedBaud = br2400;
    vokeytest::ModalAction driver(answer({ {}, "2400", "7" }, true));
    try {
        RunSettingsDialog(port, lister(), nullptr);
        QFAIL("no exception");
    } catch (const EComPort& error) {
        QCOMPARE(formsAlive(), 0);
        QCOMPARE(error.ReasonCode(), int(CError_SetStateFailed));
        QCOMPARE(error.Message(), message);
    }
    QVERIFY(driver.ran());
    // The refused values do not stay: the next opening gets what worked before.
    QCOMPARE(port.BaudRate(), br9600);
    QCOMPARE(port.DataBits(), dbEight);
    port.refuse = false;
    port.BeginSettingsUpdate();
    port.EndSettingsUpdate(); // balanced: this one applies
    const termios t = settingsOf(m_a->Master());
    QCOMPARE(cfgetospeed(&t), speed_t(B9600));
}

void TestComSetupDialog::unreadablePortListRaisesBeforeShowing()
{
    TComPort port;
    port.SetPort("ttyUSB3");
    vokeytest::ModalAction driver(answer({}, true));
    const TPortLister failing = [](QStringList&) { throw EComPort(CError_RegError, ENOENT); };
    try {
        RunSettingsDialog(port, failing, nullptr);
        QFAIL("no exception");
    } catch (const EComPort& error) {
        QCOMPARE(error.ReasonCode(), int(CError_RegError));
    }
    QVERIFY(!driver.ran());
    QCOMPARE(formsAlive(), 0);
    QCOMPARE(port.Port(), QString("ttyUSB3"));
}

void TestComSetupDialog::captionsAndTranslationHook()
{
    // Without a translator the captions show as written.
    {
        TComSetupFrm form(lister());
        QCOMPARE(form.windowTitle(), QString("Setup"));
        QCOMPARE(form.findChild<QGroupBox*>()->title(), QString(" Settings "));
        QStringList labels;
        for (int row = 1; row <= 6; ++row)
            labels << form.findChild<QLabel*>(QString("Label%1").arg(row))->text();
        QCOMPARE(labels,
            QStringList(
                { "Port", "Baud rate", "Data bits", "Stop bits", "Parity", "Flow control" }));
        QCOMPARE(form.Button1()->text(), QString("OK"));
        QVERIFY(form.Button1()->isDefault());
        QCOMPARE(form.Button2()->text(), QString("Cancel"));
    }
    // The translator gets the form and the six lists, whose texts are values to keep.
    QList<QWidget*> kept;
    SetComSetupTranslator([&](QWidget* form, const QList<QWidget*>& untranslated) {
        form->setWindowTitle("Einstellungen");
        kept = untranslated;
    });
    {
        TComSetupFrm form(lister());
        QCOMPARE(form.windowTitle(), QString("Einstellungen"));
        QCOMPARE(kept.size(), 6);
        for (int row = 1; row <= 6; ++row)
            QCOMPARE(kept.at(row - 1), static_cast<QWidget*>(form.Combo(row)));
        QCOMPARE(form.Combo(2)->count(), 16); // filled before the translator ran
    }
    SetComSetupTranslator({});
}

void TestComSetupDialog::portListEntries()
{
    // "(none)" first; a stable link shows the tty it leads to and stores its own path;
    // "(none)" on an open port lets the device go and stores an empty name.
    const QString link = m_dir.filePath("usb-FTDI_A-if00-port0");
    QVERIFY(QFile::link(m_b->SlavePath(), link));
    const TPortLister withLink = [&](QStringList& names) { names = { link, m_a->SlavePath() }; };
    TComPort port;
    openOn(port, *m_a);
    QStringList shown;
    vokeytest::ModalAction linkPick([&](QWidget* modal) {
        auto* form = qobject_cast<TComSetupFrm*>(modal);
        QVERIFY(form);
        for (int i = 0; i < form->Combo(1)->count(); ++i)
            shown << form->Combo(1)->itemText(i);
        pick(form->Combo(1), shown.at(1));
        form->Button1()->click();
    });
    RunSettingsDialog(port, withLink, nullptr);
    QVERIFY(linkPick.ran());
    const QString pts = m_b->SlavePath().section('/', -1);
    QCOMPARE(shown, QStringList({ "(none)", link + " (" + pts + ")", m_a->SlavePath() }));
    QCOMPARE(port.Port(), link);
    QVERIFY(port.Connected());

    vokeytest::ModalAction none(answer({ "(none)" }, true));
    RunSettingsDialog(port, withLink, nullptr);
    QVERIFY(none.ran());
    QCOMPARE(port.Port(), QString());
    QVERIFY(!port.Connected());
}

void TestComSetupDialog::impossibleCombinations_data()
{
    // The port's data and stop bits, the user's picks (row 3 data bits, row 4 stop bits),
    // then the stop-bit entries offered, the reason shown and whether OK may be pressed.
    QTest::addColumn<int>("data");
    QTest::addColumn<int>("stop");
    QTest::addColumn<QStringList>("picks");
    QTest::addColumn<QStringList>("offered");
    QTest::addColumn<QString>("problem");
    QTest::addColumn<bool>("ok");
    QTest::newRow("8 data bits: no 1.5") << int(dbEight) << int(sbOneStopBit) << QStringList()
                                         << QStringList { "1", "2" } << QString() << true;
    QTest::newRow("5 data bits: 1.5, no 2")
        << int(dbEight) << int(sbOneStopBit) << QStringList { "5", {} }
        << QStringList { "1", "1.5" } << QString() << true;
    QTest::newRow("data bits changed under 1.5")
        << int(dbFive) << int(sbOne5StopBits) << QStringList { "8", {} } << QStringList { "1", "2" }
        << "Stop bits: 1.5 stop bits need 5 data bits." << false;
    QTest::newRow("stored 1.5 with 8 data bits")
        << int(dbEight) << int(sbOne5StopBits) << QStringList() << QStringList { "1", "2" }
        << "Stop bits: 1.5 stop bits need 5 data bits." << false;
    QTest::newRow("data bits changed under 2")
        << int(dbEight) << int(sbTwoStopBits) << QStringList { "5", {} }
        << QStringList { "1", "1.5" } << "Stop bits: 2 stop bits cannot go with 5 data bits."
        << false;
    QTest::newRow("fixed by picking 1")
        << int(dbEight) << int(sbOne5StopBits) << QStringList { {}, "1" }
        << QStringList { "1", "2" } << QString() << true;
}

void TestComSetupDialog::impossibleCombinations()
{
    QFETCH(int, data);
    QFETCH(int, stop);
    QFETCH(QStringList, picks);
    QFETCH(QStringList, offered);
    QFETCH(QString, problem);
    QFETCH(bool, ok);
    TComPort port; // closed: the values are only stored
    port.SetDataBits(TDataBits(data));
    port.SetStopBits(TStopBits(stop));
    vokeytest::ModalAction driver([&](QWidget* modal) {
        auto* form = qobject_cast<TComSetupFrm*>(modal);
        QVERIFY(form);
        for (int i = 0; i < picks.size(); ++i) {
            if (!picks.at(i).isEmpty())
                pick(form->Combo(3 + i), picks.at(i));
        }
        auto* model = qobject_cast<QStandardItemModel*>(form->Combo(4)->model());
        QStringList enabled;
        for (int i = 0; i < model->rowCount(); ++i) {
            if (model->item(i)->isEnabled())
                enabled << model->item(i)->text();
        }
        QCOMPARE(enabled, offered);
        QCOMPARE(form->Problem(), problem);
        QCOMPARE(form->Button1()->isEnabled(), ok);
        form->Button1()->click();
    });
    RunSettingsDialog(port, lister(), nullptr);
    QVERIFY(driver.ran());
    // A refused OK writes nothing; the dialog was left with Cancel.
    if (!ok) {
        QCOMPARE(int(port.DataBits()), data);
        QCOMPARE(int(port.StopBits()), stop);
    }
}

QTEST_MAIN(TestComSetupDialog)
#include "tst_comsetup_dialog.moc"
