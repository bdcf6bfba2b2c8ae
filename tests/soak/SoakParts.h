#pragma once
// What the soak prepares before it starts and reads of the running program: the speech it
// plays on repeat, and the program's descriptors, threads and memory from /proc.

#include <QString>

// The speech, its length in seconds (one phrase and its pause), and its voiced length.
struct Speech {
    QString path;
    double phraseSeconds = 0;
    double voicedSeconds = 0;
};

// A phrase of espeak-ng speech and its pause, repeated for at least `totalSeconds`; an
// empty path when the tools are missing.
Speech makeSpeech(const QString& dir, int totalSeconds);

struct Resources {
    int fds = 0;
    int threads = 0;
    long rssKiB = 0;
};

Resources resourcesOf(qint64 pid);
