#pragma once

#include "replay/ReplayRunner.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <span>

class ReplayPlot;

// What vokey-replay does besides printing the transmit changes: the picture and the
// Gain/Delay suggestion.

// The picture's title: the file's name, Gain and Delay, marked when they are a suggestion.
QString plotTitle(const QString& wavPath, const ReplaySettings& settings, bool suggested);

// Draws and writes the PNG. Needs a QGuiApplication (for the fonts); returns an error
// message, or nothing on success.
std::optional<QString> savePlot(
    const ReplayPlot& plot, const QString& pngPath, const QString& title, int gain);

// Prints the suggestion for the two recordings to standard output, and with plotPath set
// writes the picture of the speech replayed at the suggested settings. Returns an error
// message, or nothing on success.
std::optional<QString> printSuggestion(std::span<const std::int16_t> noise,
    std::span<const std::int16_t> speech, const QString& speechPath, const ReplaySettings& settings,
    const QString& plotPath);
