// The real tarnveil.exe, copied into a fresh directory per run: without a
// runtime, and against the fake runtime found through the environment folder
// or posing as WebView2Loader.dll beside the program. Each run is closed with
// WM_CLOSE and must end with exit code 0 and the exit line.
#include <gtest/gtest.h>

#include <functional>

#include "base/winstr.h"
#include "tests/win/support.h"
#include "web/page.h"

namespace {

using namespace tvtest;

const char* kReady = "PROJECT: Tarnveil | WebView2 готов";
const char* kExit = "=== ВЫХОД ===";
const char* kBanner =
    "=== ЗАПУСК === AUTHOR: Brannick & Quillmoor | PROJECT: Tarnveil | VERSION: 1.0.0";

struct Found {
    DWORD pid;
    const wchar_t* cls;
    HWND hwnd = nullptr;
};

HWND topWindowOf(DWORD pid, const wchar_t* cls) {
    Found f{pid, cls};
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
            auto* f = reinterpret_cast<Found*>(p);
            DWORD pid = 0;
            wchar_t name[64] = {};
            GetWindowThreadProcessId(w, &pid);
            GetClassNameW(w, name, 64);
            if (pid == f->pid && std::wstring(name) == f->cls) {
                f->hwnd = w;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&f));
    return f.hwnd;
}

std::vector<std::wstring> childTexts(HWND parent, const wchar_t* cls, bool visibleOnly) {
    struct Ctx {
        const wchar_t* cls;
        bool visibleOnly;
        std::vector<std::wstring> texts;
    } ctx{cls, visibleOnly, {}};
    EnumChildWindows(
        parent,
        [](HWND w, LPARAM p) -> BOOL {
            auto* c = reinterpret_cast<Ctx*>(p);
            wchar_t name[64] = {}, text[512] = {};
            GetClassNameW(w, name, 64);
            if (_wcsicmp(name, c->cls) == 0 && (!c->visibleOnly || IsWindowVisible(w))) {
                GetWindowTextW(w, text, 512);
                c->texts.push_back(text);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&ctx));
    return ctx.texts;
}

// One run of the program in its own directory.
class ProgramRun {
public:
    std::wstring dir, record;
    HWND window = nullptr;

    explicit ProgramRun(const std::wstring& name) {
        const std::wstring work = windowsPath(TV_WIN_TEST_WORK);
        CreateDirectoryW(work.c_str(), nullptr);
        dir = work + L"\\" + name;
        removeTree(dir);
        CreateDirectoryW(dir.c_str(), nullptr);
        record = dir + L"\\fake.log";
        exe_ = dir + L"\\tarnveil.exe";
        copied_ = CopyFileW(windowsPath(TV_TARNVEIL_EXE).c_str(), exe_.c_str(), FALSE) != 0;
    }
    ~ProgramRun() {
        if (pi_.hProcess) {
            if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT)
                TerminateProcess(pi_.hProcess, 77);
            CloseHandle(pi_.hProcess);
            CloseHandle(pi_.hThread);
        }
    }

    // Starts the program (the environment of this process is inherited) and
    // waits for its main window.
    bool start(const std::wstring& args = L"") {
        if (!copied_)
            return false;
        std::wstring cmd = L"\"" + exe_ + L"\"" + (args.empty() ? L"" : L" " + args);
        STARTUPINFOW si{};
        si.cb = sizeof si;
        if (!CreateProcessW(exe_.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            dir.c_str(), &si, &pi_))
            return false;
        return waitFor([&] { return (window = topWindowOf(pi_.dwProcessId, L"TarnveilClass")); },
                       30000);
    }

    std::vector<std::string> log() const { return logMessages(dir + L"\\probe.log"); }
    std::vector<std::string> fake() const { return readLines(record); }
    bool logHas(const std::string& line) const { return contains(log(), line); }
    bool fakeHas(const std::string& prefix) const { return indexOf(fake(), prefix) >= 0; }
    DWORD pid() const { return pi_.dwProcessId; }

    // WM_CLOSE, then the exit code (STILL_ACTIVE when it did not end in time).
    DWORD close() {
        PostMessageW(window, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(pi_.hProcess, 20000) != WAIT_OBJECT_0)
            return STILL_ACTIVE;
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(pi_.hProcess, &code);
        return code;
    }

    std::string clientBounds() const {
        RECT r{};
        GetClientRect(window, &r);
        return "put_Bounds " + std::to_string(r.left) + " " + std::to_string(r.top) + " " +
               std::to_string(r.right) + " " + std::to_string(r.bottom);
    }

private:
    std::wstring exe_;
    bool copied_ = false;
    PROCESS_INFORMATION pi_{};
};

// The fake's variables for one run; no runtime folder unless given.
struct FakeEnv {
    ScopedEnv folder, log, mode;
    FakeEnv(const ProgramRun& run, const wchar_t* runtimeFolder, const wchar_t* fakeMode)
        : folder(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", runtimeFolder),
          log(L"TV_FAKE_WV2_LOG", run.record.c_str()), mode(L"TV_FAKE_WV2_MODE", fakeMode) {}
};

const wchar_t* kRuntimeMissingText =
    L"Не удалось запустить WebView2 Runtime.\nУстанови Microsoft Edge WebView2 Runtime.";

// Waits for the program's message box and checks it; true when it was there.
// `before` runs while the box is on screen; the box is closed with OK.
bool answerBox(ProgramRun& run, const wchar_t* text, const std::function<void()>& before = {}) {
    HWND box = nullptr;
    // Created hidden and filled in, then shown: wait for it to be on screen.
    if (!waitFor([&] { return (box = topWindowOf(run.pid(), L"#32770")) && IsWindowVisible(box); },
                 15000)) {
        ADD_FAILURE() << "no message box";
        return false;
    }
    if (before)
        before();
    wchar_t caption[64] = {};
    GetWindowTextW(box, caption, 64);
    EXPECT_STREQ(caption, L"Tarnveil");
    EXPECT_EQ(GetWindow(box, GW_OWNER), run.window);
    bool textFound = false;
    for (const auto& t : childTexts(box, L"Static", false))
        textFound |= t == text;
    EXPECT_TRUE(textFound) << tv::fromWide(text);
    EXPECT_EQ(childTexts(box, L"Button", true).size(), 1u) << "a single OK button";
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_TRUE(waitFor([&] { return !IsWindow(box); }, 5000));
    return true;
}

void expectCleanExit(ProgramRun& run) {
    EXPECT_EQ(run.close(), 0u);
    const auto log = run.log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), kBanner);
    EXPECT_EQ(log.back(), kExit);
}

void expectNoUnexpectedSlots(const ProgramRun& run) {
    for (const auto& line : run.fake())
        EXPECT_EQ(line.rfind("unexpected", 0), std::string::npos) << line;
}

std::wstring versionString(const std::vector<BYTE>& info, const wchar_t* name) {
    void* value = nullptr;
    UINT len = 0;
    const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueW(info.data(), key.c_str(), &value, &len) || !value)
        return L"(missing)";
    return static_cast<const wchar_t*>(value);
}

// The program file carries the version record and nothing else: no icon (it
// is drawn), no manifest (no DPI awareness is declared).
TEST(DesktopRun, ProgramFileCarriesOnlyTheVersionRecord) {
    const std::wstring exe = windowsPath(TV_TARNVEIL_EXE);
    HMODULE image = LoadLibraryExW(exe.c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(image, nullptr);
    std::vector<ULONG_PTR> types;
    EnumResourceTypesW(
        image,
        [](HMODULE, LPWSTR type, LONG_PTR p) -> BOOL {
            reinterpret_cast<std::vector<ULONG_PTR>*>(p)->push_back(
                IS_INTRESOURCE(type) ? reinterpret_cast<ULONG_PTR>(type) : 0xFFFF);
            return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&types));
    FreeLibrary(image);
    EXPECT_EQ(types, std::vector<ULONG_PTR>{reinterpret_cast<ULONG_PTR>(RT_VERSION)});

    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(versionString(info, L"FileVersion"), L"1.0.0.0");
    EXPECT_EQ(versionString(info, L"ProductVersion"), L"1.0.0");
    EXPECT_EQ(versionString(info, L"ProductName"), L"Tarnveil");
    EXPECT_EQ(versionString(info, L"InternalName"), L"Tarnveil");
}

TEST(DesktopRun, WithoutARuntimeTheWindowStaysAndClosesCleanly) {
    ProgramRun run(L"no-runtime");
    FakeEnv env(run, nullptr, nullptr);
    ASSERT_TRUE(run.start());
    ASSERT_TRUE(waitFor(
        [&] { return run.logHas("CreateCoreWebView2EnvironmentWithOptions ERROR"); }, 10000));
    Sleep(300);
    EXPECT_EQ(topWindowOf(run.pid(), L"#32770"), nullptr) << "no message box for a failed call";
    DWORD_PTR r = 0;
    EXPECT_NE(SendMessageTimeoutW(run.window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &r), 0);
    EXPECT_TRUE(dirExists(run.dir + L"\\ProbeData"));
    EXPECT_TRUE(dirExists(run.dir + L"\\scans"));
    expectCleanExit(run);
}

TEST(DesktopRun, FakeRuntimeFromTheEnvironmentFolderLoadsThePage) {
    ProgramRun run(L"fake-runtime");
    FakeEnv env(run, windowsPath(TV_FAKE_RUNTIME_DIR).c_str(), nullptr);
    ASSERT_TRUE(run.start());
    ASSERT_TRUE(waitFor([&] { return run.fakeHas(R"(PostWebMessageAsJson {"t":"files")"); }, 20000))
        << "the page's ready was not answered";
    const auto f = run.fake();

    EXPECT_EQ(f[0],
              "entry runtime check=1 type=1 userData=" + tv::fromWide(run.dir) + "\\ProbeData");
    EXPECT_TRUE(contains(f, "options none")) << "no options object without --cdp";
    char parent[32];
    std::snprintf(parent, sizeof parent, "0x%llX",
                  static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(run.window)));
    EXPECT_TRUE(contains(f, std::string("CreateCoreWebView2Controller parent=") + parent));

    // Controller: bounds of the client area, the dark ground, then the web view.
    const int bounds = indexOf(f, "put_Bounds ");
    const int background = indexOf(f, "put_DefaultBackgroundColor ");
    const int webView = indexOf(f, "get_CoreWebView2");
    ASSERT_GE(bounds, 0);
    EXPECT_EQ(f[bounds], run.clientBounds());
    ASSERT_GE(background, 0);
    EXPECT_EQ(f[background], "put_DefaultBackgroundColor 255 14 10 22");
    EXPECT_LT(bounds, webView);

    // Settings: exactly the three switched off, everything else left alone.
    int settingPuts = 0;
    for (const auto& line : f)
        settingPuts += line.rfind("put_", 0) == 0 && line.rfind("put_Bounds", 0) != 0 &&
                       line.rfind("put_DefaultBackground", 0) != 0;
    EXPECT_EQ(settingPuts, 3);
    EXPECT_TRUE(contains(f, "put_AreDefaultContextMenusEnabled 0"));
    EXPECT_TRUE(contains(f, "put_IsZoomControlEnabled 0"));
    EXPECT_TRUE(contains(f, "put_IsStatusBarEnabled 0"));

    // The handler is in place before the page is loaded, and the page is ours.
    const int handler = indexOf(f, "add_WebMessageReceived");
    const int navigate = indexOf(f, "NavigateToString ");
    ASSERT_GE(handler, 0);
    ASSERT_GE(navigate, 0);
    EXPECT_LT(handler, navigate);
    const std::wstring page = tv::toWide(tv::pageText());
    EXPECT_EQ(f[navigate],
              "NavigateToString units=" + std::to_string(page.size()) + " fnv=" + fnv1aHex(page));

    // "ready" is answered with hello, then files (a non-string post before it is ignored).
    const int ready = indexOf(f, "page posts ready");
    const int hello = indexOf(f, R"(PostWebMessageAsJson {"t":"hello")");
    const int files = indexOf(f, R"(PostWebMessageAsJson {"t":"files")");
    EXPECT_LT(indexOf(f, "page posts 42"), ready);
    EXPECT_LT(ready, hello);
    EXPECT_LT(hello, files);
    EXPECT_NE(f[hello].find(R"("project":"Tarnveil")"), std::string::npos) << f[hello];
    EXPECT_TRUE(contains(f, "environment handler returned 0x0"));
    EXPECT_TRUE(contains(f, "controller handler returned 0x0"));
    expectNoUnexpectedSlots(run);
    EXPECT_TRUE(run.logHas(kReady));
    // The fake runtime carries no version record and its folder is no version.
    EXPECT_TRUE(run.logHas("WebView2 runtime version unknown"));
    expectCleanExit(run);
}

TEST(DesktopRun, CdpPassesExactlyTheDebuggingPort) {
    ProgramRun run(L"cdp");
    FakeEnv env(run, windowsPath(TV_FAKE_RUNTIME_DIR).c_str(), L"options-roundtrip");
    ASSERT_TRUE(run.start(L"--cdp"));
    ASSERT_TRUE(waitFor([&] { return run.logHas(kReady); }, 20000));
    const auto f = run.fake();
    EXPECT_TRUE(contains(f, "options QueryInterface ok"));
    EXPECT_TRUE(contains(f, "options AdditionalBrowserArguments hr=0x0 "
                            "value=--remote-debugging-port=9222"));
    EXPECT_TRUE(contains(f, "options TargetCompatibleBrowserVersion hr=0x0 value=144.0.3719.77"));
    // Unset strings are null with S_OK, as in the SDK's class; "" is a string.
    EXPECT_TRUE(contains(f, "options Language hr=0x0 value=(null)"));
    EXPECT_TRUE(contains(f, "options put Language= hr=0x0 then hr=0x0 value="));
    EXPECT_TRUE(contains(f, "options put Language=ru hr=0x0 then hr=0x0 value=ru"));
    EXPECT_TRUE(contains(f, "options put Language=(null) hr=0x0 then hr=0x0 value=(null)"));
    expectNoUnexpectedSlots(run);
    expectCleanExit(run);
}

TEST(DesktopRun, LoaderBesideTheProgramIsUsed) {
    // The loader's version query decides; the oldest accepted runtime starts.
    ProgramRun run(L"loader");
    ASSERT_TRUE(CopyFileW(windowsPath(TV_FAKE_DLL).c_str(),
                          (run.dir + L"\\WebView2Loader.dll").c_str(), FALSE));
    FakeEnv env(run, nullptr, nullptr);
    ScopedEnv version(L"TV_FAKE_WV2_VERSION", L"86.0.616.0");
    ASSERT_TRUE(run.start());
    ASSERT_TRUE(
        waitFor([&] { return run.fakeHas(R"(PostWebMessageAsJson {"t":"files")"); }, 20000));
    const auto f = run.fake();
    ASSERT_GE(f.size(), 2u);
    EXPECT_EQ(f[0], "version query folder=(null)");
    EXPECT_EQ(f[1], "entry loader folder=(null) userData=" + tv::fromWide(run.dir) + "\\ProbeData");
    EXPECT_FALSE(run.logHas("WebView2 runtime version unknown"));
    expectCleanExit(run);
}

TEST(DesktopRun, LoaderOldRuntimesAreRefusedLikeAMissingOne) {
    // Older by the loader's answer (a channel name after it is allowed), and
    // older by the name of a runtime's versioned folder.
    struct Case {
        const wchar_t* name;
        bool loader;
        const wchar_t* version;
        std::string logged;
    } cases[] = {
        {L"old-loader", true, L"86.0.615.999 beta", "86.0.615.999 beta"},
        {L"old-folder", false, L"85.0.564.40", "85.0.564.40"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(tv::fromWide(c.name));
        ProgramRun run(c.name);
        std::wstring folder;
        if (c.loader) {
            ASSERT_TRUE(CopyFileW(windowsPath(TV_FAKE_DLL).c_str(),
                                  (run.dir + L"\\WebView2Loader.dll").c_str(), FALSE));
        } else {
            folder = run.dir + L"\\" + c.version;
            std::wstring sub = folder;
            for (const wchar_t* part : {L"", L"\\EBWebView", L"\\x64"})
                CreateDirectoryW((sub += part).c_str(), nullptr);
            ASSERT_TRUE(CopyFileW(windowsPath(TV_FAKE_DLL).c_str(),
                                  (sub + L"\\EmbeddedBrowserWebView.dll").c_str(), FALSE));
        }
        FakeEnv env(run, c.loader ? nullptr : folder.c_str(), nullptr);
        ScopedEnv version(L"TV_FAKE_WV2_VERSION", c.version);
        ASSERT_TRUE(run.start());
        ASSERT_TRUE(answerBox(run, kRuntimeMissingText));
        EXPECT_TRUE(run.logHas("WebView2 runtime " + c.logged + " older than 86.0.616.0"));
        EXPECT_TRUE(run.logHas("WebView2 environment ERROR"));
        EXPECT_FALSE(run.fakeHas("entry ")) << "an old runtime is never started";
        expectCleanExit(run);
    }
}

TEST(DesktopRun, EnvironmentFailureShowsTheMessageBoxAndKeepsTheWindow) {
    ProgramRun run(L"env-fail");
    FakeEnv env(run, windowsPath(TV_FAKE_RUNTIME_DIR).c_str(), L"env-fail");
    ASSERT_TRUE(run.start());
    // The box waits for the window procedure: the callback has returned (the
    // fake writes that line after its Invoke call) before the box is up.
    ASSERT_TRUE(answerBox(run, kRuntimeMissingText, [&] {
        EXPECT_TRUE(run.logHas("WebView2 environment ERROR")) << "logged before the box is shown";
        EXPECT_TRUE(run.fakeHas("environment handler returned 0x80004005"));
    }));
    EXPECT_FALSE(run.fakeHas("CreateCoreWebView2Controller"));
    EXPECT_TRUE(IsWindow(run.window)) << "the window stays open, empty";
    expectCleanExit(run);
}

TEST(DesktopRun, ControllerCallFailuresAreLoggedABusyProfileIsTold) {
    {
        // Another window holds ProbeData with other browser arguments.
        ProgramRun run(L"controller-busy");
        FakeEnv env(run, windowsPath(TV_FAKE_RUNTIME_DIR).c_str(), nullptr);
        ScopedEnv hr(L"TV_FAKE_WV2_CONTROLLER_HR", L"8007139F");
        ASSERT_TRUE(run.start());
        ASSERT_TRUE(answerBox(run,
                              L"Папку ProbeData держит другое окно Tarnveil с другими "
                              L"настройками.\nЗакрой его и запусти Tarnveil снова.",
                              [&] {
                                  EXPECT_TRUE(run.logHas("WebView2 controller ERROR"));
                                  EXPECT_TRUE(
                                      run.fakeHas("environment handler returned 0x8007139F"));
                              }));
        EXPECT_FALSE(run.logHas("WebView2 environment ERROR"));
        expectCleanExit(run);
    }
    {
        ProgramRun run(L"controller-call-fail");
        FakeEnv env(run, windowsPath(TV_FAKE_RUNTIME_DIR).c_str(), nullptr);
        ScopedEnv hr(L"TV_FAKE_WV2_CONTROLLER_HR", L"80004005");
        ASSERT_TRUE(run.start());
        ASSERT_TRUE(waitFor([&] { return run.logHas("WebView2 controller ERROR"); }, 15000));
        EXPECT_TRUE(
            waitFor([&] { return run.fakeHas("environment handler returned 0x80004005"); }, 5000));
        Sleep(300);
        EXPECT_EQ(topWindowOf(run.pid(), L"#32770"), nullptr) << "other codes show no box";
        expectCleanExit(run);
    }
}

TEST(DesktopRun, ControllerFailuresAreLoggedWithoutABox) {
    {
        ProgramRun run(L"controller-fail");
        FakeEnv env(run, windowsPath(TV_FAKE_RUNTIME_DIR).c_str(), L"controller-fail");
        ASSERT_TRUE(run.start());
        ASSERT_TRUE(waitFor([&] { return run.logHas("WebView2 controller ERROR"); }, 15000));
        EXPECT_TRUE(
            waitFor([&] { return run.fakeHas("controller handler returned 0x80004005"); }, 5000));
        EXPECT_EQ(topWindowOf(run.pid(), L"#32770"), nullptr);
        EXPECT_FALSE(run.fakeHas("put_Bounds"));
        expectCleanExit(run);
    }
    {
        // The controller stays, sized and dark, but no page is loaded.
        ProgramRun run(L"no-webview");
        FakeEnv env(run, windowsPath(TV_FAKE_RUNTIME_DIR).c_str(), L"no-webview");
        ASSERT_TRUE(run.start());
        ASSERT_TRUE(waitFor([&] { return run.logHas("get_CoreWebView2 ERROR"); }, 15000));
        EXPECT_TRUE(run.fakeHas("put_Bounds"));
        EXPECT_TRUE(run.fakeHas("put_DefaultBackgroundColor 255 14 10 22"));
        EXPECT_FALSE(run.fakeHas("NavigateToString"));
        EXPECT_FALSE(run.logHas(kReady));
        expectCleanExit(run);
    }
}

} // namespace
