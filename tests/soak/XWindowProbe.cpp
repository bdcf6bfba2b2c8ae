#include "XWindowProbe.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

XWindowProbe::XWindowProbe(const QString& display)
    : m_display(XOpenDisplay(display.toLocal8Bit().constData()))
{
    if (m_display)
        // Ping answers go to the root window with these masks.
        XSelectInput(
            m_display, DefaultRootWindow(m_display), StructureNotifyMask | SubstructureNotifyMask);
}

XWindowProbe::~XWindowProbe()
{
    if (m_display)
        XCloseDisplay(m_display);
}

bool XWindowProbe::findWindow(const QString& titlePrefix)
{
    if (!m_display)
        return false;
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(m_display, DefaultRootWindow(m_display), &root, &parent, &children, &count))
        return false;
    m_window = 0;
    for (unsigned i = 0; i < count && !m_window; ++i) {
        XWindowAttributes attributes;
        char* name = nullptr;
        if (XGetWindowAttributes(m_display, children[i], &attributes)
            && attributes.map_state == IsViewable && XFetchName(m_display, children[i], &name)
            && name) {
            if (QString::fromLocal8Bit(name).startsWith(titlePrefix))
                m_window = children[i];
            XFree(name);
        }
    }
    if (children)
        XFree(children);
    return m_window != 0;
}

int XWindowProbe::height() const
{
    XWindowAttributes attributes;
    return m_window && XGetWindowAttributes(m_display, m_window, &attributes) ? attributes.height
                                                                              : 0;
}

std::uint32_t XWindowProbe::ping()
{
    if (!m_window)
        return 0;
    XEvent event {};
    event.xclient.type = ClientMessage;
    event.xclient.window = m_window;
    event.xclient.message_type = XInternAtom(m_display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(m_display, "_NET_WM_PING", False));
    event.xclient.data.l[1] = long(m_next);
    event.xclient.data.l[2] = long(m_window);
    XSendEvent(m_display, m_window, False, NoEventMask, &event);
    XFlush(m_display);
    return m_next++;
}

bool XWindowProbe::pong(std::uint32_t number)
{
    const Atom pingAtom = XInternAtom(m_display, "_NET_WM_PING", False);
    while (XPending(m_display) > 0) {
        XEvent event;
        XNextEvent(m_display, &event);
        if (event.type == ClientMessage && Atom(event.xclient.data.l[0]) == pingAtom)
            m_lastAnswered = std::max(m_lastAnswered, std::uint32_t(event.xclient.data.l[1]));
    }
    return m_lastAnswered >= number;
}

void XWindowProbe::click(int x, int y)
{
    if (!m_window)
        return;
    for (const int type : { ButtonPress, ButtonRelease }) {
        XEvent event {};
        event.xbutton.type = type;
        event.xbutton.window = m_window;
        event.xbutton.root = DefaultRootWindow(m_display);
        event.xbutton.x = x;
        event.xbutton.y = y;
        event.xbutton.button = Button1;
        event.xbutton.state = type == ButtonRelease ? Button1Mask : 0;
        event.xbutton.same_screen = True;
        event.xbutton.time = CurrentTime;
        XSendEvent(m_display, m_window, True,
            type == ButtonPress ? ButtonPressMask : ButtonReleaseMask, &event);
    }
    XFlush(m_display);
}

QByteArray XWindowProbe::picture(int x, int y, int w, int h) const
{
    if (!m_window)
        return {};
    XImage* image
        = XGetImage(m_display, m_window, x, y, unsigned(w), unsigned(h), AllPlanes, ZPixmap);
    if (!image)
        return {};
    const QByteArray pixels(image->data, qsizetype(image->bytes_per_line) * image->height);
    XDestroyImage(image);
    return pixels;
}
