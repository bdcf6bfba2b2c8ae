#pragma once

#include "replay/ReplayRunner.h"

#include <QString>
#include <optional>
#include <utility>
#include <vector>

// vokey-replay --evaluate: how the two attack rules key on a corpus of recordings whose
// speech onsets are known (scripts/vox-corpus makes one from espeak-ng speech and generated
// noise).
//
// Corpus file: one recording per line, blank lines and lines starting with "#" ignored,
// fields separated by blanks, file names relative to the corpus file:
//   KIND FILE NOISE SPEECH [ONSET-END ...]
// KIND is speech, noise or clicks. The Gain and Delay are those --suggest proposes (with the
// default attack) for NOISE and SPEECH; both rules run at that same Gain and Delay. A speech
// recording lists its phrases as sample numbers (44100 Hz) from the phrase's onset to its
// last sample.
//
// Per phrase, onset to keyed is 0 when transmit is on at the onset, else the time from the
// onset to the first keying before the phrase ends; a phrase that ends unkeyed is missed.
// Speech covered is the share of the phrases' time with transmit on. Keyed time counts every
// span of transmit on the recording (its replay runs past the end until released).
struct CorpusRecording {
    enum class Kind { Speech, Noise, Clicks };
    Kind kind = Kind::Speech;
    QString file;
    QString noise;
    QString speech;
    std::vector<std::pair<qint64, qint64>> phrases; // onset and last sample
};

// Reads a corpus file; on failure returns the reason (with the line number).
std::optional<QString> readCorpus(const QString& corpusPath, std::vector<CorpusRecording>& out);

struct RuleFigures {
    std::vector<std::optional<double>> onsetToKeyedMs; // per phrase; empty: missed
    double phraseMs = 0; // total time of the phrases
    double coveredMs = 0; // of that, with transmit on
    double keyedMs = 0; // transmit on over the whole replay
};

struct RecordingFigures {
    CorpusRecording recording;
    int gain = 0;
    int delay = 0;
    int fastGain = 0; // what --suggest --attack fast proposes for the same noise
    RuleFigures average;
    RuleFigures fast;
};

// Figures of one recording with one rule, from its transmit changes (on/off times in ms as
// the replay reports them) and its phrases.
RuleFigures figuresOf(const std::vector<std::pair<bool, qint64>>& changes,
    const std::vector<std::pair<qint64, qint64>>& phrases);

// The goals for the fast rule over the whole corpus, each with its verdict.
struct Goal {
    QString text;
    bool met = false;
};

struct EvaluationGoals {
    static constexpr double MaxMedianMs = 66;
    static constexpr double MaxOnsetMs = 100;
};

// Runs the corpus: loads every file once, suggests, replays both rules. Returns the reason
// when a file cannot be read or a noise keys at every Gain.
// settings.txTimeout applies to every replay.
std::optional<QString> evaluateCorpus(const std::vector<CorpusRecording>& corpus,
    const ReplaySettings& settings, std::vector<RecordingFigures>& out);

// The table (one row per recording and rule), the corpus summary per rule and the goals.
QString formatEvaluation(const std::vector<RecordingFigures>& figures, std::vector<Goal>& goals);
