#pragma once
// Shared by the station's and the window's tests: message boxes that record instead of
// showing, and test audio.

#include "station/MessageBoxes.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QtEndian>

#include <cmath>
#include <functional>

// Records every box; confirm answers with `confirmAnswer`.
class RecordingMessageBoxes : public IMessageBoxes {
public:
    struct Box {
        QString kind;
        QString caption;
        QString text;
    };

    void message(const QString& text) override { boxes.append({ "message", {}, text }); }
    void report(const QString& text, std::function<void()> dismissed) override
    {
        boxes.append({ "report", {}, text });
        pendingDismiss.append(std::move(dismissed));
    }
    void fatal(const QString& caption, const QString& text) override
    {
        boxes.append({ "fatal", caption, text });
    }
    bool confirm(const QString& caption, const QString& text) override
    {
        boxes.append({ "confirm", caption, text });
        return confirmAnswer;
    }

    void dismissAll()
    {
        const auto pending = std::move(pendingDismiss);
        pendingDismiss.clear();
        for (const auto& dismissed : pending)
            if (dismissed)
                dismissed();
    }
    QStringList texts() const
    {
        QStringList result;
        for (const Box& box : boxes)
            result << box.text;
        return result;
    }

    QList<Box> boxes;
    QList<std::function<void()>> pendingDismiss;
    bool confirmAnswer = true;
};

// A 16-bit stereo 44100 Hz WAV: `seconds` of silence, or of a sine of `amplitude`.
inline bool writeTestWav(
    const QString& path, double seconds, double frequency = 0, double amplitude = 0)
{
    const quint32 frames = quint32(seconds * 44100);
    QByteArray data(int(frames * 4), '\0');
    for (quint32 i = 0; i < frames && amplitude > 0; ++i) {
        const auto sample = qint16(amplitude * 32767 * std::sin(2 * M_PI * frequency * i / 44100));
        qToLittleEndian<qint16>(sample, data.data() + 4 * i);
        qToLittleEndian<qint16>(sample, data.data() + 4 * i + 2);
    }
    QByteArray header;
    const auto u32 = [&header](quint32 v) {
        char b[4];
        qToLittleEndian(v, b);
        header.append(b, 4);
    };
    const auto u16 = [&header](quint16 v) {
        char b[2];
        qToLittleEndian(v, b);
        header.append(b, 2);
    };
    header.append("RIFF");
    u32(36 + quint32(data.size()));
    header.append("WAVEfmt ");
    u32(16);
    u16(1);
    u16(2);
    u32(44100);
    u32(44100 * 4);
    u16(4);
    u16(16);
    header.append("data");
    u32(quint32(data.size()));
    QFile file(path);
    return file.open(QIODevice::WriteOnly)
        && file.write(header + data) == header.size() + data.size();
}

inline bool runTool(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
}

// Speech made with espeak-ng, as the sound card would deliver it: 44100 Hz, stereo, 16 bit,
// with `before` seconds of silence in front and `after` seconds behind. False when the
// tools are missing or fail.
inline bool makeSpeechWav(const QString& dir, const QString& name, double before, double after)
{
    const QString espeak = QStandardPaths::findExecutable(QStringLiteral("espeak-ng"));
    const QString sox = QStandardPaths::findExecutable(QStringLiteral("sox"));
    if (espeak.isEmpty() || sox.isEmpty())
        return false;
    const QString raw = dir + QStringLiteral("/espeak-") + name;
    return runTool(espeak,
               { QStringLiteral("-w"), raw,
                   QStringLiteral("Testing the voice operated switch, one two three.") })
        && runTool(sox,
            { QStringLiteral("-D"), QStringLiteral("-V1"), raw, QStringLiteral("-r"),
                QStringLiteral("44100"), QStringLiteral("-c"), QStringLiteral("2"),
                QStringLiteral("-b"), QStringLiteral("16"), dir + '/' + name, QStringLiteral("pad"),
                QString::number(before), QString::number(after) });
}
