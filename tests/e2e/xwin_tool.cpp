// A small X11 client for the end-to-end tests: finds a top-level window by its
// title and reports what the desktop sees of it, or asks it to close the way a
// window manager does (WM_DELETE_WINDOW).
//
//   e2e_xwin info TITLE TIMEOUT_MS   one JSON object: id, x, y, width, height,
//                                    title, wmClass, icons (size and ARGB pixels
//                                    of each _NET_WM_ICON image)
//   e2e_xwin close TITLE             sends WM_DELETE_WINDOW
//
// Exit code 0 on success, 1 when no such window appeared in time.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

std::string utf8Property(Display* d, Window w, Atom prop, Atom type) {
    Atom actual = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string out;
    if (XGetWindowProperty(d, w, prop, 0, 4096, False, type, &actual, &format, &count, &after,
                           &data) == Success &&
        data && format == 8)
        out.assign(reinterpret_cast<char*>(data), count);
    if (data)
        XFree(data);
    return out;
}

Window findByTitle(Display* d, const std::string& title) {
    const Atom netName = XInternAtom(d, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
    Window root = DefaultRootWindow(d), parent = 0, *children = nullptr;
    unsigned int n = 0;
    Window found = 0;
    if (!XQueryTree(d, root, &root, &parent, &children, &n))
        return 0;
    for (unsigned int i = 0; i < n && !found; ++i) {
        XWindowAttributes a;
        if (!XGetWindowAttributes(d, children[i], &a) || a.map_state != IsViewable)
            continue;
        if (utf8Property(d, children[i], netName, utf8) == title)
            found = children[i];
    }
    if (children)
        XFree(children);
    return found;
}

Window waitForWindow(Display* d, const std::string& title, long timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (Window w = findByTitle(d, title))
            return w;
        if (std::chrono::steady_clock::now() >= end)
            return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

std::string jsonString(const std::string& s) {
    std::string o = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            o += '\\';
            o += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            o += buf;
        } else {
            o += static_cast<char>(c);
        }
    }
    return o + "\"";
}

int info(Display* d, const std::string& title, long timeoutMs) {
    const Window w = waitForWindow(d, title, timeoutMs);
    if (!w) {
        std::fprintf(stderr, "no window titled %s\n", title.c_str());
        return 1;
    }
    XWindowAttributes a;
    XGetWindowAttributes(d, w, &a);
    int rx = 0, ry = 0;
    Window child = 0;
    XTranslateCoordinates(d, w, DefaultRootWindow(d), 0, 0, &rx, &ry, &child);
    XClassHint hint{};
    std::string wmClass;
    if (XGetClassHint(d, w, &hint)) {
        wmClass = std::string(hint.res_name ? hint.res_name : "") + "/" +
                  (hint.res_class ? hint.res_class : "");
        XFree(hint.res_name);
        XFree(hint.res_class);
    }
    std::printf("{\"id\":%lu,\"x\":%d,\"y\":%d,\"width\":%d,\"height\":%d,\"title\":%s,"
                "\"wmClass\":%s,\"icons\":[",
                static_cast<unsigned long>(w), rx, ry, a.width, a.height, jsonString(title).c_str(),
                jsonString(wmClass).c_str());
    // _NET_WM_ICON: width, height, then width * height ARGB values, repeated.
    const Atom iconAtom = XInternAtom(d, "_NET_WM_ICON", False);
    Atom actual = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, w, iconAtom, 0, 1 << 20, False, XA_CARDINAL, &actual, &format, &count,
                           &after, &data) == Success &&
        data && format == 32) {
        // Format-32 items come as longs.
        const auto* v = reinterpret_cast<const unsigned long*>(data);
        unsigned long i = 0;
        bool first = true;
        while (i + 2 <= count) {
            const unsigned long iw = v[i], ih = v[i + 1];
            i += 2;
            if (iw == 0 || ih == 0 || i + iw * ih > count)
                break;
            std::printf("%s{\"width\":%lu,\"height\":%lu,\"argb\":[", first ? "" : ",", iw, ih);
            for (unsigned long k = 0; k < iw * ih; ++k)
                std::printf("%s%lu", k ? "," : "", v[i + k] & 0xFFFFFFFFul);
            std::printf("]}");
            first = false;
            i += iw * ih;
        }
    }
    if (data)
        XFree(data);
    std::printf("]}\n");
    return 0;
}

int closeWindow(Display* d, const std::string& title) {
    const Window w = findByTitle(d, title);
    if (!w) {
        std::fprintf(stderr, "no window titled %s\n", title.c_str());
        return 1;
    }
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = w;
    e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, w, False, NoEventMask, &e);
    XFlush(d);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: e2e_xwin info TITLE TIMEOUT_MS | close TITLE\n");
        return 2;
    }
    Display* d = XOpenDisplay(nullptr);
    if (!d) {
        std::fprintf(stderr, "cannot open display\n");
        return 1;
    }
    const std::string cmd = argv[1], title = argv[2];
    int rc = 2;
    if (cmd == "info")
        rc = info(d, title, argc > 3 ? std::atol(argv[3]) : 0);
    else if (cmd == "close")
        rc = closeWindow(d, title);
    XCloseDisplay(d);
    return rc;
}
