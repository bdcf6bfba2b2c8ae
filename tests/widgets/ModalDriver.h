#pragma once

// Drives a modal dialog from inside its own event loop, so that tests can go through the
// real exec() path without blocking.

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

namespace vokeytest {

// Runs the action once on the next modal widget that becomes visible while this object
// lives. A dialog still open after the action is rejected, so a failed check inside the
// action cannot leave exec() waiting forever.
class ModalAction {
public:
    explicit ModalAction(std::function<void(QWidget*)> action)
        : m_timer(std::make_unique<QTimer>())
    {
        m_timer->setInterval(5);
        QObject::connect(m_timer.get(), &QTimer::timeout, m_timer.get(), [this, action] {
            QPointer<QWidget> modal = QApplication::activeModalWidget();
            if (!modal || !modal->isVisible())
                return;
            m_timer->stop();
            m_ran = true;
            action(modal);
            if (modal && modal->isVisible()) {
                if (auto* dialog = qobject_cast<QDialog*>(modal.data()))
                    dialog->reject();
            }
        });
        m_timer->start();
    }
    ModalAction(const ModalAction&) = delete;
    ModalAction& operator=(const ModalAction&) = delete;

    // Whether a modal widget appeared and the action ran.
    bool ran() const { return m_ran; }

private:
    std::unique_ptr<QTimer> m_timer;
    bool m_ran = false;
};

// How many widgets of class T exist: a dialog released after closing leaves none.
template <typename T> int widgetsAlive()
{
    int count = 0;
    for (QWidget* widget : QApplication::allWidgets())
        count += qobject_cast<T*>(widget) != nullptr;
    return count;
}

}
