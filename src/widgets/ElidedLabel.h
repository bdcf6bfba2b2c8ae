#pragma once

#include <QLabel>

// A one-line label for a text that may be longer than the label: it paints as much of the
// text as fits, ending in "…" where the rest is cut (never mid-letter), and carries the whole
// text as its tool tip. text() is always the whole text. The window's rig name labels.
class ElidedLabel : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    // Hides QLabel::setText so that the tool tip follows the text; call it through this class.
    void setText(const QString& text);

    // What the label paints: the text, elided to the label's width.
    QString displayedText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};
