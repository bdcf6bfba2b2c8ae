#pragma once

#include "station/MessageBoxes.h"

#include <QPointer>

class QWidget;

// The real boxes. Notices and reports open without blocking, so the timers and the
// keying go on while they are shown.
class DialogMessageBoxes : public IMessageBoxes {
public:
    explicit DialogMessageBoxes(QWidget* parent = nullptr);
    ~DialogMessageBoxes() override;

    void setParent(QWidget* parent) { m_parent = parent; }

    void message(const QString& text) override;
    void report(const QString& text, std::function<void()> dismissed) override;
    void fatal(const QString& caption, const QString& text) override;
    bool confirm(const QString& caption, const QString& text) override;

private:
    void openBox(const QString& text, std::function<void()> dismissed);

    QPointer<QWidget> m_parent;
};

// The message boxes for this process: FileMessageBoxes when VOKEY_MESSAGE_LOG is set,
// DialogMessageBoxes otherwise.
std::unique_ptr<IMessageBoxes> createMessageBoxes();
