#pragma once
// A VOKEY program run by a test as its user runs it: with the program environment (display,
// runtime directory and, when asked, the modem-line library preloaded with its lines log),
// in a working directory of the test's, its standard output read as lines. Killed, if still
// running, when it goes.

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

class ProgramProcess : public QProcess {
public:
    // Offscreen: QT_QPA_PLATFORM=offscreen; None: no display variable at all (the headless
    // station as a station computer runs it); Inherited: this process's, as they are.
    enum class Display { Offscreen, None, Inherited };

    // How a program run to its end ended: exitCode -1 when it did not end normally in time.
    struct Finished {
        int exitCode = -1;
        QByteArray out;
        QByteArray err;
    };
    static Finished runToEnd(const QString& program, const QStringList& arguments, int timeoutMs);

    explicit ProgramProcess(QObject* parent = nullptr);
    ~ProgramProcess() override;

    // The system environment with the display as asked and XDG_RUNTIME_DIR; with `linesLog`,
    // LD_PRELOAD of the modem-line library and VOKEY_LINES_LOG naming that file.
    static QProcessEnvironment environment(
        Display display, const QString& runtimeDir, const QString& linesLog = {});
    // The modem-line library, for LD_PRELOAD (pseudo-terminals' modem lines, the lines log).
    static QString preload();

    // Starts `program` in `workDir`; true once it runs. The environment is set beforehand
    // (setProcessEnvironment), as are the channels.
    bool startIn(const QString& workDir, const QString& program, const QStringList& arguments);
    // Every complete line of standard output so far.
    QStringList outputLines();
    // Kills it if it still runs and waits for its end.
    void end();

private:
    QStringList m_lines;
};
