#include "app/win/webview_host.h"

#include <memory>
#include <optional>

#include "app/host.h"
#include "app/win/main_window.h"
#include "app/win/webview2_abi.h"
#include "app/win/webview2_loader.h"
#include "base/log.h"
#include "base/winstr.h"
#include "bridge/dispatcher.h"
#include "bridge/state.h"
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

// ICoreWebView2EnvironmentOptions with the SDK options class's defaults. As in
// that class, a string never set (or set to null) is handed out as a null
// pointer with S_OK, a set one (even "") as a CoTaskMemAlloc copy.
struct Options : ComObject<Options, EnvironmentOptions> {
    using Text = std::optional<std::wstring>;
    static constexpr const IID& kIid = kIidEnvironmentOptions;
    Text arguments;
    Text language;
    Text targetVersion = L"144.0.3719.77";
    BOOL singleSignOn = FALSE;
    Options();
};

template <Options::Text Options::*M>
HRESULT STDMETHODCALLTYPE getText(EnvironmentOptions* i, LPWSTR* out) {
    if (!out)
        return E_POINTER;
    const Options::Text& value = Options::self(i)->*M;
    *out = value ? taskMemCopy(*value) : nullptr;
    return !value || *out ? S_OK : E_OUTOFMEMORY;
}

template <Options::Text Options::*M>
HRESULT STDMETHODCALLTYPE putText(EnvironmentOptions* i, LPCWSTR value) {
    return guardedCall("environment options", E_OUTOFMEMORY, [&] {
        Options::Text& field = Options::self(i)->*M;
        if (value)
            field = value;
        else
            field.reset();
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE getSso(EnvironmentOptions* i, BOOL* out) {
    if (!out)
        return E_POINTER;
    *out = Options::self(i)->singleSignOn;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE putSso(EnvironmentOptions* i, BOOL value) {
    Options::self(i)->singleSignOn = value;
    return S_OK;
}

constexpr EnvironmentOptionsVtbl kOptionsVtbl = {Options::QueryInterface,
                                                 Options::AddRef,
                                                 Options::Release,
                                                 getText<&Options::arguments>,
                                                 putText<&Options::arguments>,
                                                 getText<&Options::language>,
                                                 putText<&Options::language>,
                                                 getText<&Options::targetVersion>,
                                                 putText<&Options::targetVersion>,
                                                 getSso,
                                                 putSso};

Options::Options() {
    iface.lpVtbl = &kOptionsVtbl;
}

// Page message: the text goes to the command dispatcher.
struct MessageHandler : ComObject<MessageHandler, WebMessageReceivedEventHandler> {
    static constexpr const IID& kIid = kIidWebMessageReceivedEventHandler;

    static HRESULT STDMETHODCALLTYPE Invoke(WebMessageReceivedEventHandler*, WebView*,
                                            WebMessageReceivedEventArgs* args) {
        if (!args)
            return S_OK;
        LPWSTR text = nullptr;
        const HRESULT hr = args->TryGetWebMessageAsString(&text);
        const std::unique_ptr<wchar_t, decltype(&CoTaskMemFree)> owned(text, CoTaskMemFree);
        if (FAILED(hr) || !text)
            return S_OK;
        // A command that fails by throwing is dropped; later ones still run.
        return guardedCall("page message", S_OK, [&] {
            dispatchCommand(fromWide(text));
            return S_OK;
        });
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

// Another Tarnveil window runs the browser on ProbeData with other arguments.
constexpr HRESULT kProfileBusy = HRESULT_FROM_WIN32(ERROR_INVALID_STATE);

HRESULT controllerFailed(HRESULT result) {
    logLine(kLogControllerFailed);
    if (result == kProfileBusy)
        postStartupBox(gHostWindow, StartupBox::profileBusy);
    return result;
}

void environmentFailed() {
    logLine(kLogEnvironmentFailed);
    postStartupBox(gHostWindow, StartupBox::runtimeMissing);
}

HRESULT onControllerCreated(HRESULT result, Controller* controller) {
    if (FAILED(result) || !controller)
        return controllerFailed(result);
    controller->AddRef();
    replaceRef(gController, controller);

    RECT bounds{};
    GetClientRect(gHostWindow, &bounds);
    controller->put_Bounds(bounds);

    Controller2* controller2 = nullptr;
    if (SUCCEEDED(
            controller->QueryInterface(kIidController2, reinterpret_cast<void**>(&controller2))) &&
        controller2) {
        controller2->put_DefaultBackgroundColor(
            Color{255, kGroundColour.r, kGroundColour.g, kGroundColour.b});
        controller2->Release();
    }

    WebView* webView = nullptr;
    if (FAILED(controller->get_CoreWebView2(&webView)) || !webView) {
        logLine(kLogWebViewFailed);
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
    logLine(kLogWebViewReady);
    if (settings)
        settings->Release();
    return S_OK;
}

// A completion handler whose Invoke hands (result, object) to `onDone`.
template <class Iface, class Vtbl, const IID& Iid, class Arg, HRESULT (*onDone)(HRESULT, Arg*)>
struct CompletedHandler : ComObject<CompletedHandler<Iface, Vtbl, Iid, Arg, onDone>, Iface> {
    using Base = ComObject<CompletedHandler, Iface>;
    static constexpr const IID& kIid = Iid;
    static constexpr std::string_view kWhere = "WebView2 completion handler";
    static HRESULT STDMETHODCALLTYPE Invoke(Iface*, HRESULT result, Arg* object) {
        return guardedCall(kWhere, E_UNEXPECTED, [&] { return onDone(result, object); });
    }
    static constexpr Vtbl kVtbl = {Base::QueryInterface, Base::AddRef, Base::Release, Invoke};
    CompletedHandler() { this->iface.lpVtbl = &kVtbl; }
};

using ControllerHandler =
    CompletedHandler<ControllerCompletedHandler, ControllerCompletedHandlerVtbl,
                     kIidControllerCompletedHandler, Controller, onControllerCreated>;

HRESULT onEnvironmentCreated(HRESULT result, Environment* environment) {
    if (FAILED(result) || !environment) {
        environmentFailed();
        return result;
    }
    auto* handler = new ControllerHandler;
    const HRESULT hr = environment->CreateCoreWebView2Controller(gHostWindow, handler->get());
    handler->release();
    return FAILED(hr) ? controllerFailed(hr) : hr;
}

using EnvironmentHandler =
    CompletedHandler<EnvironmentCompletedHandler, EnvironmentCompletedHandlerVtbl,
                     kIidEnvironmentCompletedHandler, Environment, onEnvironmentCreated>;

// Runtimes before kMinRuntimeVersion lack calls the host makes. One whose
// version cannot be told is tried all the same.
bool runtimeAcceptable(const WebView2Runtime& runtime) {
    const std::string version = fromWide(webView2RuntimeVersion(runtime));
    if (version.empty()) {
        logLine("WebView2 runtime version unknown");
        return true;
    }
    if (compareVersions(version, kMinRuntimeVersion).value_or(0) >= 0)
        return true;
    std::string line = "WebView2 runtime " + version + " older than ";
    line += kMinRuntimeVersion;
    logLine(line);
    return false;
}

} // namespace

void startWebViewHost(HWND mainWindow, bool remoteDebugging) {
    gHostWindow = mainWindow;
    const std::string probeData = prepareHostDirs().probeData;

    Options* options = nullptr;
    if (remoteDebugging) {
        options = new Options;
        options->arguments = kRemoteDebuggingArgument;
    }
    WebView2Runtime runtime;
    HRESULT hr = locateWebView2(nullptr, runtime);
    if (SUCCEEDED(hr) && !runtimeAcceptable(runtime)) {
        environmentFailed();
    } else {
        auto* handler = new EnvironmentHandler;
        const std::wstring userData = toWide(probeData);
        if (SUCCEEDED(hr))
            hr = startWebView2Environment(runtime, userData.c_str(),
                                          options ? options->get() : nullptr, handler->get());
        if (FAILED(hr))
            logLine(kLogEnvironmentCallFailed);
        handler->release();
    }
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

void notifyWebViewMoved() {
    if (gController)
        gController->NotifyParentWindowPositionChanged();
}

void postJsonToPage(const std::wstring& json) {
    if (gWebView)
        gWebView->PostWebMessageAsJson(json.c_str());
}

bool webViewReady() {
    return gWebView != nullptr;
}

} // namespace tv
