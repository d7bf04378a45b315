// A stand-in for the WebView2 runtime, built by the tests: a DLL that exports
// the runtime library's entry (and the SDK loader's, so it can also pose as
// WebView2Loader.dll), implements the interfaces the host calls with the same
// slot numbers, and writes every call it sees as one UTF-8 line to the file
// named by TV_FAKE_WV2_LOG.
//
// Its vtables are plain arrays filled by slot number from the ABI table, on
// purpose independent of the program's own declarations: a host that calls
// the wrong slot lands in a stub that records "unexpected <interface> slot N".
//
// Like the real runtime it answers asynchronously: completions and page
// messages are posted to a message-only window of the calling thread and
// delivered by that thread's message loop. TV_FAKE_WV2_MODE picks a failure:
// "sync-fail" (the entry fails at once), "env-fail", "controller-fail",
// "no-webview", "options-roundtrip" (also puts options back and reads them
// again); anything else is the normal run. TV_FAKE_WV2_CONTROLLER_HR (hex)
// makes CreateCoreWebView2Controller fail at once with that code;
// TV_FAKE_WV2_VERSION is what the loader's version query reports. After
// NavigateToString the fake "page" posts a non-string message, then the
// commands of TV_FAKE_WV2_POSTS (';'-separated; default "ready").
#include <objbase.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

// ---- recording ------------------------------------------------------------

std::wstring envVar(const wchar_t* name) {
    wchar_t buf[1024];
    const DWORD n = GetEnvironmentVariableW(name, buf, 1024);
    return n > 0 && n < 1024 ? std::wstring(buf, n) : std::wstring();
}

std::string utf8(const wchar_t* w) {
    if (!w)
        return "(null)";
    const int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
    std::string s(n > 0 ? n - 1 : 0, '\0');
    if (n > 1)
        WideCharToMultiByte(CP_UTF8, 0, w, -1, s.data(), n, nullptr, nullptr);
    return s;
}

void record(const std::string& line) {
    const std::wstring path = envVar(L"TV_FAKE_WV2_LOG");
    if (path.empty())
        return;
    HANDLE f = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return;
    const std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(f);
}

std::string hex(unsigned long long v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%llX", v);
    return buf;
}

std::string mode() {
    return utf8(envVar(L"TV_FAKE_WV2_MODE").c_str());
}

// ---- asynchronous delivery through the caller's message loop ---------------

constexpr UINT kRunLater = WM_APP + 7;

LRESULT CALLBACK pumpProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == kRunLater) {
        auto* fn = reinterpret_cast<std::function<void()>*>(lParam);
        (*fn)();
        delete fn;
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

HWND pumpWindow() {
    static HWND pump = nullptr;
    if (!pump) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = pumpProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"TvFakeWebView2Pump";
        RegisterClassW(&wc);
        pump = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               wc.hInstance, nullptr);
    }
    return pump;
}

void later(std::function<void()> fn) {
    PostMessageW(pumpWindow(), kRunLater, 0,
                 reinterpret_cast<LPARAM>(new std::function<void()>(std::move(fn))));
}

// ---- calling the host's objects by slot number -----------------------------

template <class R, class... A> R callSlot(void* object, int slot, A... args) {
    using Fn = R(STDMETHODCALLTYPE*)(void*, A...);
    void** vtbl = *static_cast<void***>(object);
    Fn fn;
    std::memcpy(&fn, &vtbl[slot], sizeof fn);
    return fn(object, args...);
}
void addRef(void* o) {
    callSlot<ULONG>(o, 1);
}
void release(void* o) {
    callSlot<ULONG>(o, 2);
}

// ---- our objects -----------------------------------------------------------

struct Iid {
    unsigned long d1;
    unsigned short d2, d3;
    unsigned char d4[8];
};
constexpr Iid kUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr Iid kEnvironment = {
    0xB96D755E, 0x0319, 0x4E92, {0xA2, 0x96, 0x23, 0x43, 0x6F, 0x46, 0xA1, 0xFC}};
constexpr Iid kController = {
    0x4D00C0D1, 0x9434, 0x4EB6, {0x80, 0x78, 0x86, 0x97, 0xA5, 0x60, 0x33, 0x4F}};
constexpr Iid kController2 = {
    0xC979903E, 0xD4CA, 0x4228, {0x92, 0xEB, 0x47, 0xEE, 0x3F, 0xA9, 0x6E, 0xAB}};
constexpr Iid kWebView = {
    0x76ECEACB, 0x0462, 0x4D94, {0xAC, 0x83, 0x42, 0x3A, 0x67, 0x93, 0x77, 0x5E}};
constexpr Iid kSettings = {
    0xE562E4F0, 0xD7FA, 0x43AC, {0x8D, 0x71, 0xC0, 0x51, 0x50, 0x49, 0x9F, 0x00}};
constexpr Iid kArgs = {
    0x0F99A40C, 0xE962, 0x4207, {0x9E, 0x92, 0xE3, 0xD5, 0x42, 0xEF, 0xF8, 0x49}};
constexpr Iid kOptions = {
    0x2FDE08A8, 0x1E9A, 0x4766, {0x8C, 0x05, 0x95, 0xA9, 0xCE, 0xB9, 0xD1, 0xC5}};

bool same(REFIID a, const Iid& b) {
    return std::memcmp(&a, &b, sizeof b) == 0;
}

enum Kind { kEnv, kCtl, kWv, kSet, kArg, kKinds };
constexpr const char* kKindName[kKinds] = {"Environment", "Controller", "WebView", "Settings",
                                           "WebMessageReceivedEventArgs"};
constexpr int kSlotCount[kKinds] = {4, 28, 36, 19, 6};

struct Object {
    void** vtbl;
    Kind kind;
    LONG refs = 1;
    std::wstring text;    // args: the posted text
    bool isString = true; // args: false for a posted non-string
};

template <int K, int Slot> HRESULT STDMETHODCALLTYPE unexpected(void*) {
    record(std::string("unexpected ") + kKindName[K] + " slot " + std::to_string(Slot));
    return E_NOTIMPL;
}

template <int K, size_t... S> std::vector<void*> stubs(std::index_sequence<S...>) {
    return {reinterpret_cast<void*>(&unexpected<K, static_cast<int>(S)>)...};
}

template <class Fn> void put(std::vector<void*>& v, int slot, Fn fn) {
    std::memcpy(&v[slot], &fn, sizeof fn);
}

HRESULT STDMETHODCALLTYPE queryInterface(Object* self, REFIID iid, void** out);
ULONG STDMETHODCALLTYPE objAddRef(Object* self) {
    return InterlockedIncrement(&self->refs);
}
ULONG STDMETHODCALLTYPE objRelease(Object* self) {
    return InterlockedDecrement(&self->refs);
}

Object* gEnvironment;
Object* gController;
Object* gWebView;
Object* gSettings;
void* gMessageHandler; // the host's, registered by add_WebMessageReceived

HRESULT STDMETHODCALLTYPE queryInterface(Object* self, REFIID iid, void** out) {
    static const Iid* own[kKinds] = {&kEnvironment, &kController, &kWebView, &kSettings, &kArgs};
    const bool ok = same(iid, kUnknown) || same(iid, *own[self->kind]) ||
                    (self->kind == kCtl && same(iid, kController2));
    if (!ok) {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    if (self->kind == kCtl && same(iid, kController2))
        record("QueryInterface Controller2");
    *out = self;
    objAddRef(self);
    return S_OK;
}

// Environment
HRESULT STDMETHODCALLTYPE createController(Object*, HWND parent, void* handler) {
    record("CreateCoreWebView2Controller parent=" + hex(reinterpret_cast<UINT_PTR>(parent)));
    const std::wstring failWith = envVar(L"TV_FAKE_WV2_CONTROLLER_HR");
    if (!failWith.empty()) {
        const auto hr = static_cast<HRESULT>(std::wcstoul(failWith.c_str(), nullptr, 16));
        record("controller call fails " + hex(static_cast<unsigned long>(hr)));
        return hr;
    }
    addRef(handler);
    later([handler] {
        const bool fail = mode() == "controller-fail";
        const HRESULT hr = callSlot<HRESULT>(handler, 3, fail ? E_FAIL : S_OK,
                                             fail ? nullptr : static_cast<void*>(gController));
        record("controller handler returned " + hex(static_cast<unsigned long>(hr)));
        release(handler);
    });
    return S_OK;
}

// Controller
HRESULT STDMETHODCALLTYPE getBounds(Object*, RECT* r) {
    *r = RECT{};
    return S_OK;
}
HRESULT STDMETHODCALLTYPE putBounds(Object*, RECT r) {
    record("put_Bounds " + std::to_string(r.left) + " " + std::to_string(r.top) + " " +
           std::to_string(r.right) + " " + std::to_string(r.bottom));
    return S_OK;
}
HRESULT STDMETHODCALLTYPE notifyMoved(Object*) {
    record("NotifyParentWindowPositionChanged");
    return S_OK;
}
HRESULT STDMETHODCALLTYPE getCoreWebView2(Object*, void** out) {
    record("get_CoreWebView2");
    if (mode() == "no-webview") {
        *out = nullptr;
        return E_FAIL;
    }
    objAddRef(gWebView);
    *out = gWebView;
    return S_OK;
}
struct Color {
    BYTE a, r, g, b;
};
HRESULT STDMETHODCALLTYPE putBackground(Object*, Color c) {
    record("put_DefaultBackgroundColor " + std::to_string(c.a) + " " + std::to_string(c.r) + " " +
           std::to_string(c.g) + " " + std::to_string(c.b));
    return S_OK;
}

// Settings: get/put pairs from slot 3 on.
constexpr const char* kSettingName[] = {
    "IsScriptEnabled",       "IsWebMessageEnabled", "AreDefaultScriptDialogsEnabled",
    "IsStatusBarEnabled",    "AreDevToolsEnabled",  "AreDefaultContextMenusEnabled",
    "AreHostObjectsAllowed", "IsZoomControlEnabled"};
BOOL gSettingValue[8] = {TRUE, TRUE, TRUE, TRUE, TRUE, TRUE, TRUE, TRUE};
template <int I> HRESULT STDMETHODCALLTYPE getSetting(Object*, BOOL* v) {
    *v = gSettingValue[I];
    return S_OK;
}
template <int I> HRESULT STDMETHODCALLTYPE putSetting(Object*, BOOL v) {
    gSettingValue[I] = v;
    record(std::string("put_") + kSettingName[I] + " " + std::to_string(v));
    return S_OK;
}
template <size_t... I> void putSettings(std::vector<void*>& v, std::index_sequence<I...>) {
    (put(v, 3 + 2 * I, &getSetting<I>), ...);
    (put(v, 4 + 2 * I, &putSetting<I>), ...);
}

// Web message event arguments
LPWSTR taskCopy(const std::wstring& s) {
    auto* p = static_cast<LPWSTR>(CoTaskMemAlloc((s.size() + 1) * sizeof(wchar_t)));
    std::memcpy(p, s.c_str(), (s.size() + 1) * sizeof(wchar_t));
    return p;
}
HRESULT STDMETHODCALLTYPE argsSource(Object*, LPWSTR* out) {
    *out = taskCopy(L"about:blank");
    return S_OK;
}
HRESULT STDMETHODCALLTYPE argsJson(Object* self, LPWSTR* out) {
    *out = taskCopy(self->isString ? L"\"" + self->text + L"\"" : self->text);
    return S_OK;
}
HRESULT STDMETHODCALLTYPE argsString(Object* self, LPWSTR* out) {
    if (!self->isString) {
        *out = nullptr;
        return E_INVALIDARG;
    }
    *out = taskCopy(self->text);
    return S_OK;
}

Object* makeObject(Kind kind);

void pagePosts(const std::wstring& text, bool isString) {
    if (!gMessageHandler)
        return;
    Object* args = makeObject(kArg);
    args->text = text;
    args->isString = isString;
    record("page posts " + utf8(text.c_str()));
    const HRESULT hr = callSlot<HRESULT>(gMessageHandler, 3, static_cast<void*>(gWebView),
                                         static_cast<void*>(args));
    record("page message handler returned " + hex(static_cast<unsigned long>(hr)));
}

// WebView
HRESULT STDMETHODCALLTYPE getSettings(Object*, void** out) {
    record("get_Settings");
    objAddRef(gSettings);
    *out = gSettings;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE navigateToString(Object*, LPCWSTR html) {
    unsigned long long h = 1469598103934665603ull; // FNV-1a over the UTF-16 code units
    size_t n = 0;
    for (; html && html[n]; ++n) {
        h ^= static_cast<unsigned short>(html[n]);
        h *= 1099511628211ull;
    }
    record("NavigateToString units=" + std::to_string(n) + " fnv=" + hex(h));
    later([] { pagePosts(L"42", false); });
    std::wstring posts = envVar(L"TV_FAKE_WV2_POSTS");
    if (posts.empty())
        posts = L"ready";
    for (size_t start = 0; start <= posts.size();) {
        const size_t end = std::min(posts.find(L';', start), posts.size());
        const std::wstring command = posts.substr(start, end - start);
        later([command] { pagePosts(command, true); });
        start = end + 1;
    }
    return S_OK;
}
HRESULT STDMETHODCALLTYPE postJson(Object*, LPCWSTR json) {
    record("PostWebMessageAsJson " + utf8(json));
    return S_OK;
}
HRESULT STDMETHODCALLTYPE addMessageReceived(Object*, void* handler, __int64* token) {
    record("add_WebMessageReceived");
    addRef(handler);
    gMessageHandler = handler;
    *token = 1;
    return S_OK;
}

std::vector<void*>& vtable(Kind kind) {
    static std::vector<void*> tables[kKinds];
    std::vector<void*>& v = tables[kind];
    if (!v.empty())
        return v;
    switch (kind) {
    case kEnv:
        v = stubs<kEnv>(std::make_index_sequence<4>());
        put(v, 3, &createController);
        break;
    case kCtl:
        v = stubs<kCtl>(std::make_index_sequence<28>());
        put(v, 5, &getBounds);
        put(v, 6, &putBounds);
        put(v, 23, &notifyMoved);
        put(v, 25, &getCoreWebView2);
        put(v, 27, &putBackground);
        break;
    case kWv:
        v = stubs<kWv>(std::make_index_sequence<36>());
        put(v, 3, &getSettings);
        put(v, 6, &navigateToString);
        put(v, 32, &postJson);
        put(v, 34, &addMessageReceived);
        break;
    case kSet:
        v = stubs<kSet>(std::make_index_sequence<19>());
        putSettings(v, std::make_index_sequence<8>());
        break;
    case kArg:
        v = stubs<kArg>(std::make_index_sequence<6>());
        put(v, 3, &argsSource);
        put(v, 4, &argsJson);
        put(v, 5, &argsString);
        break;
    case kKinds:
        break;
    }
    put(v, 0, &queryInterface);
    put(v, 1, &objAddRef);
    put(v, 2, &objRelease);
    return v;
}

Object* makeObject(Kind kind) {
    auto* o = new Object;
    o->vtbl = vtable(kind).data();
    o->kind = kind;
    return o;
}

void readOptions(void* options) {
    if (!options) {
        record("options none");
        return;
    }
    void* asOptions = nullptr;
    const HRESULT qi =
        callSlot<HRESULT>(options, 0, reinterpret_cast<const IID*>(&kOptions), &asOptions);
    record(std::string("options QueryInterface ") + (SUCCEEDED(qi) && asOptions ? "ok" : "failed"));
    if (asOptions)
        release(asOptions);
    // What each string getter returns: the result code and the text, "(null)"
    // for a null pointer.
    const char* names[] = {"AdditionalBrowserArguments", "Language",
                           "TargetCompatibleBrowserVersion"};
    auto get = [&](int i) {
        LPWSTR value = nullptr;
        const HRESULT hr = callSlot<HRESULT>(options, 3 + 2 * i, &value);
        const std::string text = utf8(value);
        CoTaskMemFree(value);
        return "hr=" + hex(static_cast<unsigned long>(hr)) + " value=" + text;
    };
    for (int i = 0; i < 3; ++i)
        record(std::string("options ") + names[i] + " " + get(i));
    if (mode() != "options-roundtrip")
        return;
    for (const wchar_t* value : {L"", L"ru", static_cast<const wchar_t*>(nullptr)}) {
        const HRESULT hr = callSlot<HRESULT>(options, 6, value);
        record("options put Language=" + utf8(value) +
               " hr=" + hex(static_cast<unsigned long>(hr)) + " then " + get(1));
    }
}

HRESULT startEnvironment(void* options, void* handler) {
    readOptions(options);
    if (mode() == "sync-fail")
        return E_ACCESSDENIED;
    gEnvironment = makeObject(kEnv);
    gController = makeObject(kCtl);
    gWebView = makeObject(kWv);
    gSettings = makeObject(kSet);
    addRef(handler);
    later([handler] {
        const bool fail = mode() == "env-fail";
        const HRESULT hr = callSlot<HRESULT>(handler, 3, fail ? E_FAIL : S_OK,
                                             fail ? nullptr : static_cast<void*>(gEnvironment));
        record("environment handler returned " + hex(static_cast<unsigned long>(hr)));
        release(handler);
    });
    return S_OK;
}

} // namespace

extern "C" __declspec(dllexport) HRESULT STDMETHODCALLTYPE
    CreateWebViewEnvironmentWithOptionsInternal(bool checkRunningInstance, int runtimeType,
                                                PCWSTR userDataFolder, void* options,
                                                void* handler) {
    record("entry runtime check=" + std::to_string(checkRunningInstance ? 1 : 0) +
           " type=" + std::to_string(runtimeType) + " userData=" + utf8(userDataFolder));
    return startEnvironment(options, handler);
}

extern "C" __declspec(dllexport) HRESULT STDMETHODCALLTYPE
    CreateCoreWebView2EnvironmentWithOptions(PCWSTR browserExecutableFolder, PCWSTR userDataFolder,
                                             void* options, void* handler) {
    record("entry loader folder=" + utf8(browserExecutableFolder) +
           " userData=" + utf8(userDataFolder));
    return startEnvironment(options, handler);
}

extern "C" __declspec(dllexport) HRESULT STDMETHODCALLTYPE
    GetAvailableCoreWebView2BrowserVersionString(PCWSTR browserExecutableFolder, LPWSTR* version) {
    record("version query folder=" + utf8(browserExecutableFolder));
    const std::wstring chosen = envVar(L"TV_FAKE_WV2_VERSION");
    *version = taskCopy(chosen.empty() ? L"144.0.3719.77" : chosen);
    return S_OK;
}
