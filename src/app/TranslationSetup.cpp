#include "TranslationSetup.h"

#include "host/MessageTranslation.h"
#include "i18n/TGnuGettextInstance.h"
#include "widgets/ComSetupForm.h"

#include <QComboBox>
#include <QLineEdit>
#include <QWidget>

void SetUpTranslation(TGnuGettextInstance& gettext)
{
    // Style sheets, file paths, edit masks and the value shown by a list are not words.
    gettext.TP_GlobalIgnoreClassProperty(QWidget::staticMetaObject, QStringLiteral("styleSheet"));
    gettext.TP_GlobalIgnoreClassProperty(
        QWidget::staticMetaObject, QStringLiteral("windowFilePath"));
    gettext.TP_GlobalIgnoreClassProperty(
        QComboBox::staticMetaObject, QStringLiteral("currentText"));
    gettext.TP_GlobalIgnoreClassProperty(QLineEdit::staticMetaObject, QStringLiteral("inputMask"));

    SetUpMessageTranslation(gettext);
    SetComSetupTranslator([&gettext](QWidget* form, const QList<QWidget*>& untranslated) {
        for (const QWidget* values : untranslated)
            gettext.TP_Ignore(form, values->objectName());
        gettext.TranslateComponentTree(form, QStringLiteral("cport"));
    });
}

void TearDownTranslation()
{
    SetComSetupTranslator({});
}
