// The Linux desktop host in-process, on a real (virtual) X display: the icon
// as the window gets it, the window's size rule and minimum, closing, and the
// message channel between a real WebKitGTK page and the native side.
// Run under tests/e2e/xvfb.sh with a 1600x1000 screen.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/gtk/host_gtk.h"
#include "app/icon.h"
#include "base/log.h"
#include "base/paths.h"
#include "bridge/host_hooks.h"
#include "bridge/state.h"
#include "bridge/ui_sink.h"

namespace tv::gtkhost {
namespace {

using Clock = std::chrono::steady_clock;

// Runs the main loop until `done` holds or the time is up.
bool spinUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        while (g_main_context_pending(nullptr))
            g_main_context_iteration(nullptr, FALSE);
        if (done())
            return true;
        if (Clock::now() >= end)
            return false;
        g_usleep(2000);
    }
}

void spinFor(int ms) {
    spinUntil([] { return false; }, ms);
}

// Evaluates a script in the page and returns its result as JSON text.
std::string evalJson(WebKitWebView* view, const std::string& script) {
    struct Result {
        bool done = false;
        std::string json;
    } r;
    webkit_web_view_evaluate_javascript(
        view, script.c_str(), -1, nullptr, nullptr, nullptr,
        [](GObject* o, GAsyncResult* res, gpointer p) {
            auto* out = static_cast<Result*>(p);
            GError* error = nullptr;
            JSCValue* v =
                webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(o), res, &error);
            if (v) {
                gchar* j = jsc_value_to_json(v, 0);
                out->json = j ? j : "undefined";
                g_free(j);
                g_object_unref(v);
            } else {
                out->json = std::string("ERROR: ") + (error ? error->message : "?");
                g_clear_error(&error);
            }
            out->done = true;
        },
        &r);
    spinUntil([&] { return r.done; }, 10000);
    return r.json;
}

// Every test gets its own data directory: two web contexts must not share one.
std::string freshDataDir() {
    static int counter = 0;
    static const std::string base = [] {
        gchar* d = g_dir_make_tmp("tv-e2e-XXXXXX", nullptr);
        std::string s = d ? d : "/tmp";
        g_free(d);
        return s;
    }();
    return base + "/data" + std::to_string(++counter);
}

std::string logText() {
    std::ifstream in(joinPath(executableDir(), "probe.log"), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// A page that records every message it receives and posts one command as its
// script runs.
const char* kRecordingPage =
    R"(<!DOCTYPE html><html><head><meta charset="utf-8"><title>t</title></head>
<body><script>
window.got = [];
window.chrome.webview.addEventListener('message', function (e) { window.got.push(e.data); });
window.chrome.webview.postMessage('first');
</script></body></html>)";

class GtkHost : public ::testing::Test {
protected:
    void TearDown() override {
        setUiSink(nullptr);
        if (window_)
            gtk_widget_destroy(GTK_WIDGET(window_));
        spinFor(50);
        cancelFlag().store(false);
    }

    WebKitWebView* open(const char* page, bool waitLoaded = true) {
        window_ = createMainWindow();
        gtk_widget_show(GTK_WIDGET(window_));
        WebHostConfig c;
        c.dataDir = freshDataDir();
        c.page = page;
        c.onCommand = [this](const std::string& t) { commands_.push_back(t); };
        WebKitWebView* view = startWebHost(window_, c);
        if (view && waitLoaded) {
            EXPECT_TRUE(spinUntil([&] { return !webkit_web_view_is_loading(view); }, 20000));
        }
        return view;
    }

    GtkWindow* window_ = nullptr;
    std::vector<std::string> commands_;
};

uint32_t tablePixel(const GdkPixbuf* p, int x, int y) {
    const guchar* px = gdk_pixbuf_read_pixels(p) + y * gdk_pixbuf_get_rowstride(p) + x * 4;
    return (uint32_t(px[3]) << 24) | (uint32_t(px[0]) << 16) | (uint32_t(px[1]) << 8) | px[2];
}

TEST(GtkIcon, PixbufMatchesTheDrawnPictureAt32And16) {
    GdkPixbuf* p32 = iconPixbuf(32);
    ASSERT_NE(p32, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_width(p32), 32);
    EXPECT_EQ(gdk_pixbuf_get_height(p32), 32);
    ASSERT_TRUE(gdk_pixbuf_get_has_alpha(p32));
    ASSERT_EQ(gdk_pixbuf_get_n_channels(p32), 4);
    EXPECT_EQ(tablePixel(p32, 16, 16), 0xFFFFDCFFu); // highlight
    EXPECT_EQ(tablePixel(p32, 15, 15), 0xFF14081Eu); // pupil
    EXPECT_EQ(tablePixel(p32, 8, 16), 0xFFBE3CDCu);  // iris
    EXPECT_EQ(tablePixel(p32, 16, 24), 0xFFEBDCF5u); // white
    EXPECT_EQ(tablePixel(p32, 16, 8), 0xFF461E78u);  // upper lid
    EXPECT_EQ(tablePixel(p32, 2, 16), 0xFFE15A6Eu);  // corner streaks
    EXPECT_EQ(tablePixel(p32, 29, 16), 0xFFE15A6Eu);
    EXPECT_EQ(tablePixel(p32, 0, 0), 0u);

    GdkPixbuf* p16 = iconPixbuf(16);
    ASSERT_NE(p16, nullptr);
    EXPECT_EQ(tablePixel(p16, 8, 8), 0xFFFFDCFFu);
    EXPECT_EQ(tablePixel(p16, 7, 7), 0xFF14081Eu);
    EXPECT_EQ(tablePixel(p16, 8, 4), 0xFF461E78u);
    EXPECT_EQ(tablePixel(p16, 8, 11), 0xFFBE3CDCu);
    EXPECT_EQ(tablePixel(p16, 0, 0), 0u);

    // Every pixel, the glow's partly covered ones included: alpha exact, colour
    // the premultiplied value undone (within the truncation of premultiplying).
    const auto argb = drawIconPixels(32);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            const uint32_t want = argb[size_t(y) * 32 + x];
            const uint32_t got = tablePixel(p32, x, y);
            const uint32_t a = want >> 24;
            ASSERT_EQ(got >> 24, a) << x << "," << y;
            for (int shift : {16, 8, 0}) {
                const uint32_t back = ((got >> shift) & 0xFF) * a / 255;
                const uint32_t pre = (want >> shift) & 0xFF;
                ASSERT_LE(back > pre ? back - pre : pre - back, 1u) << x << "," << y;
            }
        }
    EXPECT_EQ(iconPixbuf(0), nullptr);
    g_object_unref(p32);
    g_object_unref(p16);
}

TEST(GtkWindowRect, SizeRuleOnCommonWorkAreas) {
    const Rect big = mainWindowRect({0, 0, 1600, 1000});
    EXPECT_EQ(big.width, 1240);
    EXPECT_EQ(big.height, 820);
    EXPECT_EQ(big.x, 180);
    EXPECT_EQ(big.y, 90);

    const Rect small = mainWindowRect({0, 0, 1024, 768});
    EXPECT_EQ(small.width, 984);
    EXPECT_EQ(small.height, 688);
    EXPECT_EQ(small.x, 20);
    EXPECT_EQ(small.y, 40);

    // A work area below a top panel: centred inside it, odd slack halved down.
    const Rect panel = mainWindowRect({0, 27, 1281, 873});
    EXPECT_EQ(panel.width, 1240);
    EXPECT_EQ(panel.height, 793);
    EXPECT_EQ(panel.x, 20);
    EXPECT_EQ(panel.y, 27 + 40);

    // A second monitor's work area starts away from the origin.
    const Rect right = mainWindowRect({1920, 0, 1280, 1024});
    EXPECT_EQ(right.x, 1920 + 20);
    EXPECT_EQ(right.y, 102);
}

TEST_F(GtkHost, WindowHasTitleSizeMinimumAndIcons) {
    window_ = createMainWindow();
    gtk_widget_show(GTK_WIDGET(window_));
    ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(window_)); }, 5000));
    spinFor(100);
    EXPECT_STREQ(gtk_window_get_title(window_), "Tarnveil — Veldrane");

    const Rect wa = primaryWorkArea();
    EXPECT_EQ(wa.width, 1600); // the test display
    EXPECT_EQ(wa.height, 1000);
    int x = 0, y = 0, w = 0, h = 0;
    gtk_window_get_size(window_, &w, &h);
    gdk_window_get_origin(gtk_widget_get_window(GTK_WIDGET(window_)), &x, &y);
    EXPECT_EQ(w, 1240);
    EXPECT_EQ(h, 820);
    EXPECT_EQ(x, 180);
    EXPECT_EQ(y, 90);

    // Asked to shrink below the minimum, it stops at 980 x 640.
    gtk_window_resize(window_, 500, 300);
    spinUntil(
        [&] {
            gtk_window_get_size(window_, &w, &h);
            return w != 1240;
        },
        3000);
    gtk_window_get_size(window_, &w, &h);
    EXPECT_EQ(w, 980);
    EXPECT_EQ(h, 640);

    GList* icons = gtk_window_get_icon_list(window_);
    std::vector<int> sizes;
    for (GList* l = icons; l; l = l->next)
        sizes.push_back(gdk_pixbuf_get_width(GDK_PIXBUF(l->data)));
    g_list_free(icons);
    EXPECT_EQ(sizes, (std::vector<int>{16, 32, 48, 64, 128}));
}

TEST_F(GtkHost, ClosingSetsTheCancelFlagThenDestroysTheWindow) {
    window_ = createMainWindow();
    gtk_widget_show(GTK_WIDGET(window_));
    ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(window_)); }, 5000));
    bool destroyed = false;
    bool flagAtDestroy = false;
    struct Seen {
        bool* destroyed;
        bool* flag;
    } seen{&destroyed, &flagAtDestroy};
    g_signal_connect(window_, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer p) {
                         auto* s = static_cast<Seen*>(p);
                         *s->destroyed = true;
                         *s->flag = cancelFlag().load();
                     }),
                     &seen);
    cancelFlag().store(false);
    gtk_window_close(window_); // what the window manager's close button does
    ASSERT_TRUE(spinUntil([&] { return destroyed; }, 5000));
    EXPECT_TRUE(flagAtDestroy);
    window_ = nullptr;
}

TEST_F(GtkHost, PageCommandsReachTheHandlerInOrderFromTheFirstOn) {
    const char* page = R"(<!DOCTYPE html><html><head><meta charset="utf-8"></head><body><script>
var w = window.chrome.webview;
w.postMessage('ready');
for (var i = 0; i < 200; i++) w.postMessage('cmd\t' + i);
w.postMessage({ not: 'a string' });
w.postMessage(42);
w.postMessage('save\tx.json\tтекст\twith\u0000nul');
w.postMessage('last');
</script></body></html>)";
    ASSERT_NE(open(page), nullptr);
    ASSERT_TRUE(spinUntil([&] { return !commands_.empty() && commands_.back() == "last"; }, 10000));
    ASSERT_EQ(commands_.size(), 203u);
    EXPECT_EQ(commands_[0], "ready");
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(commands_[size_t(i) + 1], "cmd\t" + std::to_string(i));
    // Values that are not strings are ignored; a string keeps all its bytes.
    EXPECT_EQ(commands_[201], std::string("save\tx.json\tтекст\twith\0nul", 31));
}

TEST_F(GtkHost, AThousandMessagesFromAWorkerArriveInPostingOrder) {
    installUiSink();
    WebKitWebView* view = open(kRecordingPage);
    ASSERT_NE(view, nullptr);
    // Texts that would break a naively built script: quotes, backslashes,
    // line and paragraph separators, a closing script tag, Cyrillic, emoji.
    const std::string tricky = R"(\" ' </script> \\u2028 )"
                               "\xE2\x80\xA8\xE2\x80\xA9 тест \xF0\x9F\x91\x81";
    std::thread worker([&] {
        for (int i = 0; i < 1000; ++i)
            postUiMessage(R"({"t":"seq","i":)" + std::to_string(i) + R"(,"s":")" + tricky +
                          R"("})");
    });
    const bool all =
        spinUntil([&] { return evalJson(view, "window.got.length") == "1000"; }, 30000);
    worker.join();
    ASSERT_TRUE(all) << evalJson(view, "window.got.length");
    EXPECT_EQ(
        evalJson(view, "window.got.every(function (m, k) { return m.t === 'seq' && m.i === k; })"),
        "true");
    EXPECT_EQ(evalJson(view, "window.got[999].s"),
              R"("\" ' </script> \\u2028 )"
              "\xE2\x80\xA8\xE2\x80\xA9 тест \xF0\x9F\x91\x81\"");
}

TEST_F(GtkHost, MessageTextNeverRunsAsScript) {
    installUiSink();
    WebKitWebView* view = open(kRecordingPage);
    ASSERT_NE(view, nullptr);
    ASSERT_EQ(evalJson(view, "window.got.length"), "0");
    postUiMessage(R"({"t":"a"})");
    // Not JSON: would run as code if it were pasted into a script.
    postUiMessage(R"({"t":"x"}); window.pwned = 1; ({"t":"y"})");
    postUiMessage(R"("]); window.pwned = 2; (["})");
    postUiMessage("{\"t\":\"with\0nul\"}");
    postUiMessage(R"({"t":"b"})");
    ASSERT_TRUE(spinUntil([&] { return evalJson(view, "window.got.length") == "2"; }, 10000));
    spinFor(200);
    EXPECT_EQ(evalJson(view, "window.got.map(function (m) { return m.t; })"), R"(["a","b"])");
    EXPECT_EQ(evalJson(view, "typeof window.pwned"), "\"undefined\"");
}

TEST_F(GtkHost, MessagesWaitForThePageOnceTheViewExists) {
    installUiSink();
    // No web view yet: dropped.
    postUiMessage(R"({"t":"early"})");
    spinFor(50);
    WebKitWebView* view = open(kRecordingPage, false);
    ASSERT_NE(view, nullptr);
    // The view exists, its page is still loading: these wait for it.
    postUiMessage(R"({"t":"q1"})");
    postUiMessage(R"({"t":"q2"})");
    ASSERT_TRUE(spinUntil([&] { return !webkit_web_view_is_loading(view); }, 20000));
    ASSERT_TRUE(spinUntil([&] { return evalJson(view, "window.got.length") == "2"; }, 10000));
    EXPECT_EQ(evalJson(view, "window.got.map(function (m) { return m.t; })"), R"(["q1","q2"])");
    // The page's own first command got through as well.
    ASSERT_FALSE(commands_.empty());
    EXPECT_EQ(commands_[0], "first");
}

TEST_F(GtkHost, NavigationAwayFromThePageIsRefused) {
    const char* page = R"(<!DOCTYPE html><html><head><meta charset="utf-8"></head><body>
<a id="out" href="file:///">out</a><script>window.marker = 'page';</script></body></html>)";
    WebKitWebView* view = open(page);
    ASSERT_NE(view, nullptr);
    ASSERT_EQ(evalJson(view, "window.marker"), "\"page\"");
    evalJson(view, "document.getElementById('out').click(); 0");
    spinFor(300);
    evalJson(view, "location.href = 'data:text/html,<p>gone</p>'; 0");
    spinFor(300);
    evalJson(view, "window.open('data:text/html,x'); 0");
    spinFor(300);
    evalJson(view, "location.href = 'about:blank'; 0"); // a reload of nothing
    spinFor(300);
    webkit_web_view_load_uri(view, "file:///");
    spinFor(500);
    EXPECT_EQ(evalJson(view, "window.marker"), "\"page\"");
    EXPECT_STREQ(webkit_web_view_get_uri(view), "about:blank");
    // A jump inside the page stays allowed.
    evalJson(view, "location.hash = '#help'; 0");
    spinFor(200);
    EXPECT_EQ(evalJson(view, "location.hash + ' ' + window.marker"), "\"#help page\"");
}

TEST_F(GtkHost, ClipboardHookPutsTheTextOnTheClipboard) {
    window_ = createMainWindow();
    installDesktopHooks();
    ASSERT_TRUE(hostHooks().setClipboardText);
    const std::string text = "Отчёт Tarnveil\nстрока\tдва\n";
    ASSERT_TRUE(hostHooks().setClipboardText(text));
    gchar* got = gtk_clipboard_wait_for_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(std::string(got), text);
    g_free(got);
}

// Any visible popup menu of this process (a context menu would be one).
bool popupMenuShown() {
    GList* tops = gtk_window_list_toplevels();
    bool shown = false;
    for (GList* l = tops; l; l = l->next) {
        GtkWidget* w = GTK_WIDGET(l->data);
        if (gtk_window_get_window_type(GTK_WINDOW(w)) == GTK_WINDOW_POPUP &&
            gtk_widget_get_visible(w) && GTK_IS_MENU(gtk_bin_get_child(GTK_BIN(w))))
            shown = true;
    }
    g_list_free(tops);
    return shown;
}

void clickRight(GtkWidget* view, double x, double y, GdkEventType type) {
    GdkEvent* e = gdk_event_new(type);
    GdkWindow* win = gtk_widget_get_window(view);
    e->button.window = GDK_WINDOW(g_object_ref(win));
    e->button.send_event = TRUE;
    e->button.time = GDK_CURRENT_TIME;
    e->button.x = x;
    e->button.y = y;
    e->button.button = 3;
    GdkSeat* seat = gdk_display_get_default_seat(gdk_window_get_display(win));
    gdk_event_set_device(e, gdk_seat_get_pointer(seat));
    gtk_main_do_event(e);
    gdk_event_free(e);
}

TEST_F(GtkHost, RightClickOpensNoContextMenu) {
    const char* page = R"(<!DOCTYPE html><html><body style="margin:0">
<p style="height:2000px">text to click on</p>
<script>window.menus = 0; document.addEventListener('contextmenu', function () { window.menus++; });</script>
</body></html>)";
    WebKitWebView* view = open(page);
    ASSERT_NE(view, nullptr);
    spinFor(200);
    clickRight(GTK_WIDGET(view), 40, 10, GDK_BUTTON_PRESS);
    clickRight(GTK_WIDGET(view), 40, 10, GDK_BUTTON_RELEASE);
    // The page itself still sees the event; only the browser's menu is off.
    ASSERT_TRUE(spinUntil([&] { return evalJson(view, "window.menus") == "1"; }, 5000));
    spinFor(500);
    EXPECT_FALSE(popupMenuShown());
}

// The web content processes of this process (children, or grandchildren
// when the engine's sandbox launcher sits between); a spare one the engine
// keeps ready may be among them.
std::vector<pid_t> findWebProcesses() {
    struct Proc {
        pid_t pid, ppid;
        std::string comm, state;
    };
    std::vector<Proc> procs;
    std::vector<pid_t> found;
    DIR* dir = opendir("/proc");
    if (!dir)
        return found;
    while (dirent* e = readdir(dir)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
        if (pid <= 0)
            continue;
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        std::getline(stat, line);
        const auto open = line.find('('), close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close + 2 > line.size())
            continue;
        Proc p{pid, 0, line.substr(open + 1, close - open - 1), ""};
        std::istringstream rest(line.substr(close + 2));
        long ppid = 0;
        rest >> p.state >> ppid;
        p.ppid = static_cast<pid_t>(ppid);
        procs.push_back(p);
    }
    closedir(dir);
    auto parentOf = [&](pid_t pid) -> pid_t {
        for (const Proc& p : procs)
            if (p.pid == pid)
                return p.ppid;
        return 0;
    };
    for (const Proc& p : procs) {
        if (p.comm.rfind("WebKitWebProces", 0) != 0 || p.state == "Z")
            continue;
        pid_t up = p.ppid;
        for (int depth = 0; depth < 3 && up > 1; ++depth, up = parentOf(up))
            if (up == getpid()) {
                found.push_back(p.pid);
                break;
            }
    }
    return found;
}

GtkWidget* findMessageDialog() {
    GList* tops = gtk_window_list_toplevels();
    GtkWidget* found = nullptr;
    for (GList* l = tops; l; l = l->next)
        if (GTK_IS_MESSAGE_DIALOG(l->data) && gtk_widget_get_visible(GTK_WIDGET(l->data)))
            found = GTK_WIDGET(l->data);
    g_list_free(tops);
    return found;
}

TEST_F(GtkHost, WebContentFailingAtStartIsLoggedAndShown) {
    // The page keeps its load busy for a while, so the failure comes before
    // the page has loaded, as a missing or broken engine would.
    const char* page = R"(<!DOCTYPE html><html><body><script>
window.chrome.webview.postMessage('busy');
var t = Date.now(); while (Date.now() - t < 8000) {}
</script></body></html>)";
    const size_t logBefore = logText().size();
    WebKitWebView* view = open(page, false);
    ASSERT_NE(view, nullptr);
    // The page's script runs (so its process exists) and its load goes on.
    ASSERT_TRUE(spinUntil([&] { return !commands_.empty(); }, 10000));
    ASSERT_TRUE(webkit_web_view_is_loading(view));
    const std::vector<pid_t> pids = findWebProcesses();
    ASSERT_FALSE(pids.empty());
    for (pid_t pid : pids)
        kill(pid, SIGKILL);
    ASSERT_TRUE(spinUntil([] { return findMessageDialog() != nullptr; }, 8000));
    GtkWidget* dialog = findMessageDialog();
    gchar* text = nullptr;
    g_object_get(dialog, "text", &text, nullptr);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text),
              "Не удалось запустить WebKitGTK.\nУстанови WebKitGTK (пакет libwebkit2gtk-4.1-0).");
    g_free(text);
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(dialog)), window_);
    EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(dialog)));
    const std::string log = logText().substr(logBefore);
    EXPECT_NE(log.find("] WebView2 environment ERROR\n"), std::string::npos) << log;
    gtk_widget_destroy(dialog);
}

} // namespace
} // namespace tv::gtkhost

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "no display: run under tests/e2e/xvfb.sh\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
