#pragma once

#include "MessageBoxes.h"

#include "core/TLog.h"

#include <QStringList>

#include <functional>
#include <utility>

// What every part of the station reports to: the log, the application-wide error report and
// the message boxes.
struct StationServices {
    TLog& log;
    ErrorReport& errors;
    IMessageBoxes& messages;

    // Lines from before the log was opened (a rig's problem found while connecting at
    // start): written once it is.
    QStringList early {};
    bool logOpen = false;

    void logLine(const QString& text)
    {
        if (logOpen)
            log.WriteLine(1, text);
        else
            early << text;
    }
    void logOpened()
    {
        logOpen = true;
        for (const QString& text : std::exchange(early, {}))
            log.WriteLine(1, text);
    }
    // A line in the log that the operator is shown as well.
    void report(const QString& text)
    {
        logLine(text);
        errors.show(text);
    }
    // Runs a handler; an error it raises goes to the error report. False when it raised one.
    bool guarded(const std::function<void()>& handler);
};
