#pragma once

// Drives a modal dialog from inside its own event loop, so that tests can call the real
// exec() path without blocking.

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace vokeytest {

// Runs action on the next modal widget that becomes visible. Whatever the action does,
// a dialog still open afterwards is rejected, so a failed check cannot leave exec()
// waiting forever.
inline void onNextModal(std::function<void(QWidget*)> action)
{
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, action] {
        QPointer<QWidget> modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        action(modal);
        if (modal && modal->isVisible()) {
            if (auto* dialog = qobject_cast<QDialog*>(modal.data()))
                dialog->reject();
        }
    });
    timer->start();
}

}
