// The rig link's settings window: what it shows, and what OK and Cancel store.
#include "core/IniProfile.h"
#include "rig/OmniRigX.h"
#include "rig/RigTestSupport.h"
#include "widgets/RigSettingsDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

namespace {
TRigSettingsDialog* openDialog()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<TRigSettingsDialog*>(widget); dialog && dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

void writeFile(const QString& fileName, const QByteArray& text)
{
    QFile file(fileName);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}
}

class tst_RigSettingsDialog : public QObject {
    Q_OBJECT
private slots:
    void dialogWritesSettings();
};

void tst_RigSettingsDialog::dialogWritesSettings()
{
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("VOKEY.INI"));
    writeFile(config, "[SETTINGS]\nGAIN=5\n");
    TOmniRigX omniRig;
    omniRig.SetTimings(fastTimings());
    omniRig.SetConfigFile(config);
    omniRig.SetSettingsViewFactory(RigSettingsDialogFactory());
    EventRecorder recorder(&omniRig);

    omniRig.SetDialogVisible(true);
    QVERIFY(omniRig.DialogVisible());
    QTRY_COMPARE(recorder.count(QStringLiteral("VisibleChange")), 1);
    TRigSettingsDialog* dialog = openDialog();
    QVERIFY(dialog);
    auto* rig1Kind = dialog->findChild<QComboBox*>(QStringLiteral("Rig1Kind"));
    auto* rig2Kind = dialog->findChild<QComboBox*>(QStringLiteral("Rig2Kind"));
    auto* rig1Port = dialog->findChild<QSpinBox*>(QStringLiteral("Rig1Port"));
    QCOMPARE(rig1Kind->currentText(), QStringLiteral("rigctld"));
    QCOMPARE(rig2Kind->currentText(), QStringLiteral("rigctld"));
    QCOMPARE(dialog->findChild<QLineEdit*>(QStringLiteral("Rig1Host"))->text(),
        QStringLiteral("127.0.0.1"));
    QCOMPARE(rig1Port->value(), 4532);
    QCOMPARE(dialog->findChild<QSpinBox*>(QStringLiteral("Rig2Port"))->value(), 4534);

    // OK only for hosts the link can reach; an IPv6 address is written in brackets.
    auto* rig1Host = dialog->findChild<QLineEdit*>(QStringLiteral("Rig1Host"));
    QPushButton* ok = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
    rig1Host->setText(QStringLiteral("[::1"));
    QVERIFY(!ok->isEnabled());
    rig1Kind->setCurrentText(QStringLiteral("none"));
    QVERIFY(ok->isEnabled());
    rig1Kind->setCurrentText(QStringLiteral("rigctld"));
    rig1Host->setText(QStringLiteral("[::1]"));
    QVERIFY(ok->isEnabled());
    rig1Port->setValue(4600);
    rig2Kind->setCurrentText(QStringLiteral("none"));
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    QTRY_COMPARE(recorder.count(QStringLiteral("VisibleChange")), 2);
    QVERIFY(!omniRig.DialogVisible());
    QCOMPARE(ReadProfileString(config, "RIG1", "HOST", "?"), QStringLiteral("[::1]"));
    QCOMPARE(ReadProfileString(config, "RIG1", "PORT", "?"), QStringLiteral("4600"));
    QCOMPARE(ReadProfileString(config, "RIG2", "HOST", "?"), QString());
    QCOMPARE(ReadProfileString(config, "SETTINGS", "GAIN", "?"), QStringLiteral("5"));
    QTRY_COMPARE(omniRig.Rig2()->Status(), int(rsNotConfigured));
    QCOMPARE(recorder.statuses(2).last(), int(rsNotConfigured));
    QCOMPARE(omniRig.Settings().rigs[0], (RigEndpoint { "[::1]", 4600 }));

    // Cancel changes nothing.
    omniRig.SetDialogVisible(true);
    dialog = openDialog();
    QVERIFY(dialog);
    QCOMPARE(dialog->findChild<QComboBox*>(QStringLiteral("Rig2Kind"))->currentText(),
        QStringLiteral("none"));
    dialog->findChild<QSpinBox*>(QStringLiteral("Rig1Port"))->setValue(4700);
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
    QTRY_COMPARE(recorder.count(QStringLiteral("VisibleChange")), 4);
    QCOMPARE(ReadProfileString(config, "RIG1", "PORT", "?"), QStringLiteral("4600"));
    QCOMPARE(ReadRigSettings(config).rigs[0].port, 4600);
}

QTEST_MAIN(tst_RigSettingsDialog)
#include "tst_rigsettingsdialog.moc"
