#pragma once

// Catalogues for the translation tests, made by GNU gettext's msgfmt at test time.

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

using TMessages = QList<QPair<QByteArray, QByteArray>>;

// Writes the catalogue at path (directories made) from msgid/msgstr pairs in UTF-8, with
// the usual header entry. The charset names the translations' encoding in the header;
// msgfmt stores them as given. Returns false when msgfmt fails.
bool MakeCatalogue(const QString& path, const TMessages& messages, bool bigEndian = false,
    const QByteArray& charset = "UTF-8");
