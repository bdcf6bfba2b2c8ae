#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

struct _XDisplay;

// Talks to a program's top-level window on an X display the way a window manager and a user
// do: asks it for _NET_WM_PING answers (its GUI thread replies only while it processes
// events) and clicks at points of its client area.
class XWindowProbe {
public:
    explicit XWindowProbe(const QString& display);
    ~XWindowProbe();
    XWindowProbe(const XWindowProbe&) = delete;
    XWindowProbe& operator=(const XWindowProbe&) = delete;

    bool connected() const { return m_display != nullptr; }
    // Finds the mapped top-level window whose title starts with prefix.
    bool findWindow(const QString& titlePrefix);
    int height() const;

    // Sends a ping with a fresh number; pong() tells whether the answer to `number` came.
    std::uint32_t ping();
    bool pong(std::uint32_t number);
    // A left click at (x, y) of the window.
    void click(int x, int y);
    // The pixels of a rectangle of the window as the X server has them (empty on failure).
    QByteArray picture(int x, int y, int w, int h) const;

private:
    _XDisplay* m_display = nullptr;
    unsigned long m_window = 0;
    std::uint32_t m_next = 1;
    std::uint32_t m_lastAnswered = 0;
};
