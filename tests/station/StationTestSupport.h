#pragma once
// Shared by the station's and the window's tests: message boxes that record instead of
// showing, and test audio.

#include "common/Speech.h"
#include "common/WavWriter.h"
#include "station/MessageBoxes.h"

#include <QStringList>

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
