#pragma once
// Shared by the window's tests: the station's test support, and a way through modal dialogs.

#include "app/DialogMessageBoxes.h"
#include "station/StationTestSupport.h"

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QWidget>

// Closes the next modal dialog as soon as it shows, with reject (Cancel) or accept (OK).
// Returns at once; the dialog is closed from the event loop that runs it.
inline void closeNextModal(bool accept = false)
{
    auto* timer = new QTimer(qApp);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, accept] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            accept ? dialog->accept() : dialog->reject();
            timer->deleteLater();
            timer->stop();
        }
    });
    timer->start();
}
