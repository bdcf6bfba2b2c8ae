// The gettext catalogue reader: any file under a catalogue's name is either refused with
// the domain's exception or searched in place without reading outside it, and the same
// msgid always gives the same answer.
#include "FuzzCheck.h"
#include "i18n/EGnuGettext.h"
#include "i18n/TDomain.h"

#include <QDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString directory = fuzzScratchDirectory() + QStringLiteral("/locale/");
    static const bool made = QDir().mkpath(directory + QStringLiteral("xx/LC_MESSAGES"));
    FUZZ_CHECK(made);
    writeFuzzFile(directory + QStringLiteral("xx/LC_MESSAGES/vokey.mo"), data, size);

    // Msgids that real catalogues hold, and the input's own last bytes (a msgid the
    // catalogue may hold when the fuzzer builds one).
    const QByteArray tail(reinterpret_cast<const char*>(data) + size - std::min<size_t>(size, 8),
        qsizetype(std::min<size_t>(size, 8)));
    const QByteArray msgids[]
        = { QByteArray(), QByteArrayLiteral("&File"), QByteArrayLiteral("Gain"), tail };

    TDomain domain(QStringLiteral("vokey"));
    domain.SetDirectory(directory);
    domain.SetLanguageCode(QStringLiteral("xx_YY"));
    try {
        for (const QByteArray& msgid : msgids) {
            const QByteArray first = domain.LookupMessage(msgid);
            FUZZ_CHECK(domain.IsOpen());
            FUZZ_CHECK(domain.LookupMessage(msgid) == first);
            FUZZ_CHECK(first.size() <= qsizetype(size) || first == msgid);
        }
    } catch (const EGnuGettext&) {
        FUZZ_CHECK(!domain.IsOpen());
    }
    return 0;
}
