#pragma once
// Test speech: a phrase spoken by espeak-ng, converted by sox to what the sound card would
// deliver. Both tools are looked up on the path; without them there is no speech, and the
// tests that need it skip.

#include <QString>
#include <QStringList>

struct SpeechFormat {
    QString text = QStringLiteral("Testing the voice operated switch, one two three.");
    int channels = 2;
    double before = 0; // seconds of silence in front of the phrase
    double after = 0; // and behind it
    bool raw = false; // the samples alone, without a WAV header
};

// Whether espeak-ng and sox are both there.
bool speechToolsFound();
// Writes the phrase to `path` as 16-bit 44100 Hz samples. espeak-ng's own file (22050 Hz
// mono) stays beside it, named espeakFileOf(path). False when a tool is missing or fails.
bool makeSpeechWav(const QString& path, const SpeechFormat& format = {});
QString espeakFileOf(const QString& path);

// Runs a program to completion within a minute; whether it ended with status 0. `output`,
// when given, receives its standard output.
bool runTool(const QString& program, const QStringList& arguments, QString* output = nullptr);

#define SKIP_WITHOUT_SPEECH_TOOLS()                                                                \
    do {                                                                                           \
        if (!speechToolsFound())                                                                   \
            QSKIP("espeak-ng and sox are needed to make the test speech");                         \
    } while (false)
