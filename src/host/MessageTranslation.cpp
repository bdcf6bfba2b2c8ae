#include "MessageTranslation.h"

#include "i18n/TGnuGettextInstance.h"
#include "serial/EComPort.h"

void SetUpMessageTranslation(TGnuGettextInstance& gettext)
{
    // The serial library's resource strings are found in its own domain as well.
    gettext.AddResourceStringDomain(QStringLiteral("cport"));
    LoadComPortMessages([&gettext](const char* text) {
        return gettext.TranslateText(TranslateResourceString(text)).toStdString();
    });
}
