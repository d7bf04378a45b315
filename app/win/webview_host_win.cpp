#include "app/win/webview_host.h"

#include "app/log.h"
#include "app/paths.h"
#include "app/win/webview2_abi.h"
#include "app/win/webview2_loader.h"
#include "bridge/dispatcher.h"
#include "bridge/state.h"
#include "probe/winstr.h"
#include "web/page.h"

namespace tv {
namespace {

using namespace wv2;

// Process-wide web view references: set once on the UI thread by the
// controller callback, read by the window procedure, never released.
HWND gHostWindow = nullptr;
Controller* gController = nullptr;
WebView* gWebView = nullptr;

// A hand-written COM object: `iface` first, so the interface pointer is the
// object pointer. Derived classes add their own data and Invoke.
template <class Derived, class Iface> struct ComObject {
    Iface iface;
    LONG refs = 1;

    static Derived* self(Iface* i) {
        return static_cast<Derived*>(reinterpret_cast<ComObject*>(i));
    }
    static HRESULT STDMETHODCALLTYPE QueryInterface(Iface* i, REFIID iid, void** out) {
        if (!out)
            return E_POINTER;
        if (sameIid(iid, kIidUnknown) || sameIid(iid, Derived::kIid)) {
            *out = i;
            AddRef(i);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    static ULONG STDMETHODCALLTYPE AddRef(Iface* i) {
        return static_cast<ULONG>(InterlockedIncrement(&self(i)->refs));
    }
    static ULONG STDMETHODCALLTYPE Release(Iface* i) {
        const LONG n = InterlockedDecrement(&self(i)->refs);
        if (n == 0)
            delete self(i);
        return static_cast<ULONG>(n);
    }
    Iface* get() { return &iface; }
    void release() { Release(&iface); }
};

LPWSTR taskMemCopy(const std::wstring& s) {
    auto* p = static_cast<LPWSTR>(CoTaskMemAlloc((s.size() + 1) * sizeof(wchar_t)));
    if (p)
        std::memcpy(p, s.c_str(), (s.size() + 1) * sizeof(wchar_t));
    return p;
}

// ICoreWebView2EnvironmentOptions with the SDK options class's defaults.
struct Options : ComObject<Options, EnvironmentOptions> {
    static constexpr const IID& kIid = kIidEnvironmentOptions;
    std::wstring arguments;
    std::wstring language;
    std::wstring targetVersion = L"144.0.3719.77";
    BOOL singleSignOn = FALSE;

    static HRESULT copyOut(LPWSTR* out, const std::wstring& v) {
        if (!out)
            return E_POINTER;
        *out = taskMemCopy(v);
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    static void put(std::wstring& field, LPCWSTR v) { field = v ? v : L""; }

    static HRESULT STDMETHODCALLTYPE getArguments(EnvironmentOptions* i, LPWSTR* out) {
        return copyOut(out, self(i)->arguments);
    }
    static HRESULT STDMETHODCALLTYPE putArguments(EnvironmentOptions* i, LPCWSTR v) {
        put(self(i)->arguments, v);
        return S_OK;
    }
    static HRESULT STDMETHODCALLTYPE getLanguage(EnvironmentOptions* i, LPWSTR* out) {
        return copyOut(out, self(i)->language);
    }
    static HRESULT STDMETHODCALLTYPE putLanguage(EnvironmentOptions* i, LPCWSTR v) {
        put(self(i)->language, v);
        return S_OK;
    }
    static HRESULT STDMETHODCALLTYPE getTarget(EnvironmentOptions* i, LPWSTR* out) {
        return copyOut(out, self(i)->targetVersion);
    }
    static HRESULT STDMETHODCALLTYPE putTarget(EnvironmentOptions* i, LPCWSTR v) {
        put(self(i)->targetVersion, v);
        return S_OK;
    }
    static HRESULT STDMETHODCALLTYPE getSso(EnvironmentOptions* i, BOOL* out) {
        if (!out)
            return E_POINTER;
        *out = self(i)->singleSignOn;
        return S_OK;
    }
    static HRESULT STDMETHODCALLTYPE putSso(EnvironmentOptions* i, BOOL v) {
        self(i)->singleSignOn = v;
        return S_OK;
    }

    static constexpr EnvironmentOptionsVtbl kVtbl = {
        QueryInterface, AddRef,    Release,   getArguments, putArguments, getLanguage,
        putLanguage,    getTarget, putTarget, getSso,       putSso};
    Options() { iface.lpVtbl = &kVtbl; }
};

// Page message: the text goes to the command dispatcher.
struct MessageHandler : ComObject<MessageHandler, WebMessageReceivedEventHandler> {
    static constexpr const IID& kIid = kIidWebMessageReceivedEventHandler;

    static HRESULT STDMETHODCALLTYPE Invoke(WebMessageReceivedEventHandler*, WebView*,
                                            WebMessageReceivedEventArgs* args) {
        if (!args)
            return S_OK;
        LPWSTR text = nullptr;
        const HRESULT hr = args->TryGetWebMessageAsString(&text);
        if (SUCCEEDED(hr) && text) {
            const std::string command = fromWide(text);
            CoTaskMemFree(text);
            dispatchCommand(command);
        } else if (text) {
            CoTaskMemFree(text);
        }
        return S_OK;
    }

    static constexpr WebMessageReceivedEventHandlerVtbl kVtbl = {QueryInterface, AddRef, Release,
                                                                 Invoke};
    MessageHandler() { iface.lpVtbl = &kVtbl; }
};

template <class T> void replaceRef(T*& slot, T* fresh) {
    if (slot)
        slot->Release();
    slot = fresh;
}

HRESULT onControllerCreated(HRESULT result, Controller* controller) {
    if (FAILED(result) || !controller) {
        logLine("WebView2 controller ERROR");
        return result;
    }
    controller->AddRef();
    replaceRef(gController, controller);

    RECT bounds{};
    GetClientRect(gHostWindow, &bounds);
    controller->put_Bounds(bounds);

    Controller2* controller2 = nullptr;
    if (SUCCEEDED(
            controller->QueryInterface(kIidController2, reinterpret_cast<void**>(&controller2))) &&
        controller2) {
        controller2->put_DefaultBackgroundColor(Color{255, 14, 10, 22}); // the class brush
        controller2->Release();
    }

    WebView* webView = nullptr;
    if (FAILED(controller->get_CoreWebView2(&webView)) || !webView) {
        logLine("get_CoreWebView2 ERROR");
        return S_OK;
    }
    replaceRef(gWebView, webView); // the out parameter's reference becomes ours

    Settings* settings = nullptr;
    if (SUCCEEDED(webView->get_Settings(&settings)) && settings) {
        settings->put_AreDefaultContextMenusEnabled(FALSE);
        settings->put_IsZoomControlEnabled(FALSE);
        settings->put_IsStatusBarEnabled(FALSE);
    }

    // Registered before navigating: the page's first message is sent as soon
    // as its script runs.
    auto* handler = new MessageHandler;
    EventToken token{};
    webView->add_WebMessageReceived(handler->get(), &token);
    handler->release();

    webView->NavigateToString(toWide(pageText()).c_str());
    logLine("PROJECT: Tarnveil | WebView2 готов");
    if (settings)
        settings->Release();
    return S_OK;
}

struct ControllerHandler : ComObject<ControllerHandler, ControllerCompletedHandler> {
    static constexpr const IID& kIid = kIidControllerCompletedHandler;
    static HRESULT STDMETHODCALLTYPE Invoke(ControllerCompletedHandler*, HRESULT result,
                                            Controller* controller) {
        return onControllerCreated(result, controller);
    }
    static constexpr ControllerCompletedHandlerVtbl kVtbl = {QueryInterface, AddRef, Release,
                                                             Invoke};
    ControllerHandler() { iface.lpVtbl = &kVtbl; }
};

HRESULT onEnvironmentCreated(HRESULT result, Environment* environment) {
    if (SUCCEEDED(result) && environment) {
        auto* handler = new ControllerHandler;
        const HRESULT hr = environment->CreateCoreWebView2Controller(gHostWindow, handler->get());
        handler->release();
        return hr;
    }
    logLine("WebView2 environment ERROR");
    MessageBoxW(
        gHostWindow,
        L"Не удалось запустить WebView2 Runtime.\nУстанови Microsoft Edge WebView2 Runtime.",
        L"Tarnveil", MB_ICONERROR | MB_OK);
    return result;
}

struct EnvironmentHandler : ComObject<EnvironmentHandler, EnvironmentCompletedHandler> {
    static constexpr const IID& kIid = kIidEnvironmentCompletedHandler;
    static HRESULT STDMETHODCALLTYPE Invoke(EnvironmentCompletedHandler*, HRESULT result,
                                            Environment* environment) {
        return onEnvironmentCreated(result, environment);
    }
    static constexpr EnvironmentCompletedHandlerVtbl kVtbl = {QueryInterface, AddRef, Release,
                                                              Invoke};
    EnvironmentHandler() { iface.lpVtbl = &kVtbl; }
};

} // namespace

void startWebViewHost(HWND mainWindow, bool remoteDebugging) {
    gHostWindow = mainWindow;
    const std::string dir = executableDir();
    const std::string probeData = joinPath(dir, "ProbeData");
    const std::string scans = joinPath(dir, "scans");
    setScansPath(scans);
    makeDir(probeData);
    makeDir(scans);

    Options* options = nullptr;
    if (remoteDebugging) {
        options = new Options;
        options->arguments = kRemoteDebuggingArgument;
    }
    auto* handler = new EnvironmentHandler;
    const std::wstring userData = toWide(probeData);
    const HRESULT hr = createWebView2Environment(
        nullptr, userData.c_str(), options ? options->get() : nullptr, handler->get());
    if (FAILED(hr))
        logLine("CreateCoreWebView2EnvironmentWithOptions ERROR");
    handler->release();
    if (options)
        options->release();
}

void resizeWebView(HWND mainWindow) {
    if (!gController)
        return;
    RECT bounds{};
    GetClientRect(mainWindow, &bounds);
    gController->put_Bounds(bounds);
}

void postJsonToPage(const std::wstring& json) {
    if (gWebView)
        gWebView->PostWebMessageAsJson(json.c_str());
}

bool webViewReady() {
    return gWebView != nullptr;
}

} // namespace tv
