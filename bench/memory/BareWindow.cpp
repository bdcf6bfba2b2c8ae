// The yardstick for the window's footprint: the least a Qt widget program that redraws
// something every 33 ms needs.
#include <QApplication>
#include <QLabel>
#include <QTimer>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QLabel label;
    label.setWindowTitle(QStringLiteral("bare label"));
    label.setMinimumSize(300, 100);
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &label, [&] { label.setNum(++ticks); });
    timer.start(33);
    label.show();
    return app.exec();
}
