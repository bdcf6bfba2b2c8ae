// Translation figures:
// - BM_LookupMessage/hit, /miss: one lookup in a mapped catalogue of 5,000 entries (the
//   median of the repetitions is the figure; target under 1 us).
// - BM_SerialDialog/plain, /engine, /German: creating (and destroying) the serial settings
//   dialog with no translation engine, with the engine and no catalogue (the program as
//   shipped), and with a German "cport" catalogue.

#include "../tests/i18n/CatalogueSupport.h"

#include "app/TranslationSetup.h"
#include "i18n/TDomain.h"
#include "i18n/TGnuGettextInstance.h"
#include "widgets/ComSetupForm.h"

#include <QApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <vector>

namespace {

constexpr int Entries = 5000;

QByteArray Msgid(int i)
{
    return QByteArray("Message number ") + QByteArray::number(i).rightJustified(5, '0')
        + " of the serial port library";
}

void BM_LookupMessage(benchmark::State& state)
{
    const bool hit = state.range(0) != 0;
    QTemporaryDir dir;
    TMessages messages;
    for (int i = 0; i < Entries; ++i)
        messages.append({ Msgid(i), "Meldung " + QByteArray::number(i) });
    if (!MakeCatalogue(dir.path() + "/de/LC_MESSAGES/bench.mo", messages)) {
        state.SkipWithError("msgfmt failed");
        return;
    }
    std::vector<QByteArray> wanted;
    for (int i = 0; i < Entries; i += 7)
        wanted.push_back(hit ? Msgid(i) : Msgid(i) + "!");
    TDomain domain("bench");
    domain.SetDirectory(dir.path());
    domain.SetLanguageCode("de_DE");
    if (domain.LookupMessage(Msgid(1)) != "Meldung 1") {
        state.SkipWithError("catalogue not found");
        return;
    }
    std::size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(domain.LookupMessage(wanted[next]));
        next = next + 1 == wanted.size() ? 0 : next + 1;
    }
    state.SetLabel(hit ? "hit" : "miss");
}
BENCHMARK(BM_LookupMessage)
    ->Arg(1)
    ->Arg(0)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kNanosecond);

void BM_SerialDialog(benchmark::State& state)
{
    const int mode = int(state.range(0)); // 0 plain, 1 engine without catalogue, 2 German
    QTemporaryDir dir;
    if (mode == 2
        && !MakeCatalogue(dir.path() + "/locale/de/LC_MESSAGES/cport.mo",
            { { " Settings ", " Einstellungen " }, { "Baud rate", "Baudrate" },
                { "Cancel", "Abbrechen" }, { "Data bits", "Datenbits" },
                { "Flow control", "Flusssteuerung" }, { "Parity", "Parit\xc3\xa4t" },
                { "Port", "Anschluss" }, { "Setup", "Einrichtung" },
                { "Stop bits", "Stoppbits" } })) {
        state.SkipWithError("msgfmt failed");
        return;
    }
    qputenv("LANG", "de_DE.UTF-8");
    std::unique_ptr<TGnuGettextInstance> gettext;
    if (mode != 0) {
        gettext = std::make_unique<TGnuGettextInstance>(dir.path() + "/vokey");
        SetUpTranslation(*gettext);
    }
    const TPortLister ports = [](QStringList& names) { names = QStringList { "ttyUSB0" }; };
    for (auto _ : state) {
        TComSetupFrm form(ports);
        benchmark::DoNotOptimize(form.windowTitle());
    }
    if (mode == 2 && TComSetupFrm(ports).windowTitle() != "Einrichtung")
        state.SkipWithError("the dialog was not translated");
    TearDownTranslation();
    state.SetLabel(mode == 0 ? "plain" : mode == 1 ? "engine, no catalogue" : "German");
}
BENCHMARK(BM_SerialDialog)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
