// Finding the WebView2 runtime: the environment variable, the updater's
// registry entries (per machine before per user, stable channel first, stale
// entries passed over) and starting the found runtime through its library.
// The registry entries are written into the test prefix and removed again.
#include <gtest/gtest.h>

#include "app/host.h"
#include "app/win/webview2_loader.h"
#include "base/paths.h"
#include "base/winstr.h"
#include "tests/win/support.h"

namespace {

using namespace tvtest;
using tv::WebView2Runtime;
using tv::webView2RuntimeLibrary;

const wchar_t* kStable = L"{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
const wchar_t* kBeta = L"{2CD8A007-E189-409D-A2C8-9AF4EF3C72AA}";

void clearUpdater(HKEY root) {
    HKEY k = nullptr;
    if (RegOpenKeyExW(root, L"SOFTWARE\\Microsoft", 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, &k) ==
        ERROR_SUCCESS) {
        RegDeleteTreeW(k, L"EdgeUpdate");
        RegCloseKey(k);
    }
}

void setValue(HKEY root, const std::wstring& kind, const wchar_t* client, const wchar_t* name,
              const std::wstring& value) {
    const std::wstring sub = L"SOFTWARE\\Microsoft\\EdgeUpdate\\" + kind + L"\\" + client;
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExW(root, sub.c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_32KEY,
                              nullptr, &k, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(k);
}

class RuntimeDiscovery : public ::testing::Test {
protected:
    std::wstring root = windowsPath(TV_WIN_TEST_WORK) + L"\\discovery";
    ScopedEnv noFolder{L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", nullptr};

    void SetUp() override {
        clearUpdater(HKEY_LOCAL_MACHINE);
        clearUpdater(HKEY_CURRENT_USER);
        CreateDirectoryW(windowsPath(TV_WIN_TEST_WORK).c_str(), nullptr);
        removeTree(root);
        CreateDirectoryW(root.c_str(), nullptr);
    }
    void TearDown() override {
        clearUpdater(HKEY_LOCAL_MACHINE);
        clearUpdater(HKEY_CURRENT_USER);
    }

    // A folder laid out like a runtime: <folder>\EBWebView\x64\<library>.
    // With `real`, the library is the fake runtime; otherwise an empty file.
    std::wstring runtimeFolder(const std::wstring& name, bool real = false) {
        std::wstring folder = root;
        for (const std::wstring& part : {name, std::wstring(L"EBWebView"), std::wstring(L"x64")}) {
            folder += L"\\" + part;
            CreateDirectoryW(folder.c_str(), nullptr);
        }
        const std::wstring lib = folder + L"\\EmbeddedBrowserWebView.dll";
        if (real) {
            CopyFileW(windowsPath(TV_FAKE_DLL).c_str(), lib.c_str(), FALSE);
        } else {
            HANDLE f =
                CreateFileW(lib.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            CloseHandle(f);
        }
        return root + L"\\" + name;
    }
    std::wstring emptyFolder(const std::wstring& name) {
        CreateDirectoryW((root + L"\\" + name).c_str(), nullptr);
        return root + L"\\" + name;
    }
};

TEST_F(RuntimeDiscovery, EnvironmentFolderDecidesAlone) {
    const std::wstring fixed = runtimeFolder(L"fixed");
    setValue(HKEY_CURRENT_USER, L"ClientState", kStable, L"EBWebView", runtimeFolder(L"installed"));
    WebView2Runtime rt;
    {
        ScopedEnv env(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", (fixed + L"\\").c_str());
        ASSERT_TRUE(tv::findWebView2Runtime(rt));
        EXPECT_EQ(rt.folder, fixed);
        EXPECT_EQ(rt.runtimeType, 1);
    }
    {
        // A variable naming a folder without a runtime does not fall back.
        ScopedEnv env(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", emptyFolder(L"nothing").c_str());
        EXPECT_FALSE(tv::findWebView2Runtime(rt));
    }
    ASSERT_TRUE(tv::findWebView2Runtime(rt));
    EXPECT_EQ(rt.folder, root + L"\\installed");
    EXPECT_EQ(rt.runtimeType, 0);
}

TEST_F(RuntimeDiscovery, RelativeFolderIsTakenFromTheProgramsDirectory) {
    const std::wstring exeDir = tv::toWide(tv::executableDir());
    ASSERT_EQ(root.rfind(exeDir + L"\\", 0), 0u) << "the work folder lies below the program";
    runtimeFolder(L"relative");
    const std::wstring rel = root.substr(exeDir.size() + 1) + L"\\.\\relative\\";
    // From the working directory the same text names nothing.
    wchar_t cwd[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, cwd);
    SetCurrentDirectoryW(emptyFolder(L"elsewhere").c_str());
    WebView2Runtime rt;
    {
        ScopedEnv env(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", rel.c_str());
        EXPECT_TRUE(tv::findWebView2Runtime(rt)) << tv::fromWide(rel);
    }
    SetCurrentDirectoryW(cwd);
    EXPECT_EQ(rt.folder, root + L"\\relative") << "absolute and normalised";
    EXPECT_EQ(rt.runtimeType, 1);
}

TEST_F(RuntimeDiscovery, TooLongFolderIsLoggedAndDecidesAlone) {
    setValue(HKEY_CURRENT_USER, L"ClientState", kStable, L"EBWebView", runtimeFolder(L"installed"));
    const std::wstring log = tv::toWide(tv::joinPath(tv::executableDir(), "probe.log"));
    const char* line = "WEBVIEW2_BROWSER_EXECUTABLE_FOLDER too long ERROR";
    // Longer than a MAX_PATH path and than any fixed buffer of twice that.
    for (size_t length : {300u, 5000u}) {
        const size_t before = logMessages(log).size();
        ScopedEnv env(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", std::wstring(length, L'x').c_str());
        WebView2Runtime rt;
        EXPECT_FALSE(tv::findWebView2Runtime(rt)) << length;
        const auto lines = logMessages(log);
        ASSERT_EQ(lines.size(), before + 1) << length;
        EXPECT_EQ(lines.back(), line);
    }
}

TEST_F(RuntimeDiscovery, VersionFromTheFolderNameOrTheLibrarysRecord) {
    WebView2Runtime rt;
    // Installed: the versioned folder's name.
    setValue(HKEY_CURRENT_USER, L"ClientState", kStable, L"EBWebView",
             runtimeFolder(L"120.0.2210.91"));
    ASSERT_EQ(tv::locateWebView2(nullptr, rt), S_OK);
    EXPECT_EQ(tv::webView2RuntimeVersion(rt), L"120.0.2210.91");

    // Fixed-version folders: the library's version record first (the program
    // file stands in for a library that has one), else a versioned name.
    const std::wstring recorded = runtimeFolder(L"85.0.1.0");
    ASSERT_TRUE(CopyFileW(windowsPath(TV_TARNVEIL_EXE).c_str(),
                          webView2RuntimeLibrary(recorded).c_str(), FALSE));
    struct Case {
        std::wstring folder, version;
    } cases[] = {
        {recorded, L"1.0.0.0"},
        {runtimeFolder(L"90.1.2.3"), L"90.1.2.3"},
        {runtimeFolder(L"fixed"), L""},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(tv::locateWebView2(c.folder.c_str(), rt), S_OK) << tv::fromWide(c.folder);
        EXPECT_EQ(rt.runtimeType, 1);
        EXPECT_EQ(tv::webView2RuntimeVersion(rt), c.version) << tv::fromWide(c.folder);
    }
}

TEST(RuntimeVersion, ComparedNumberByNumber) {
    struct Case {
        const char *a, *b;
        int want;
    } cases[] = {
        {"86.0.616.0", "86.0.616.0", 0},    {"86.0.616", "86.0.616.0", 0},
        {"86.0.615.999", "86.0.616.0", -1}, {"86.0.1000.0", "86.0.616.0", 1},
        {"100.0.0.0", "86.0.616.0", 1},     {"120.0.2210.91 beta", "86.0.616.0", 1},
        {"9.0.616.0", "86.0.616.0", -1},
    };
    for (const Case& c : cases) {
        const auto got = tv::compareVersions(c.a, c.b);
        ASSERT_TRUE(got.has_value()) << c.a;
        EXPECT_EQ(*got, c.want) << c.a << " vs " << c.b;
    }
    for (const char* bad : {"", "beta", "86..0", "86.0.", "86.x", "v86", "99999999999.0"})
        EXPECT_FALSE(tv::compareVersions(bad, "86.0.616.0").has_value()) << bad;
}

TEST_F(RuntimeDiscovery, PerMachineBeforePerUser) {
    setValue(HKEY_LOCAL_MACHINE, L"ClientState", kStable, L"EBWebView", runtimeFolder(L"machine"));
    setValue(HKEY_CURRENT_USER, L"ClientState", kStable, L"EBWebView", runtimeFolder(L"user"));
    WebView2Runtime rt;
    ASSERT_TRUE(tv::findWebView2Runtime(rt));
    EXPECT_EQ(rt.folder, root + L"\\machine");
    clearUpdater(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(tv::findWebView2Runtime(rt));
    EXPECT_EQ(rt.folder, root + L"\\user");
}

TEST_F(RuntimeDiscovery, ClientsGiveTheVersionBelowTheLocation) {
    runtimeFolder(L"120.0.2210.91");
    setValue(HKEY_CURRENT_USER, L"Clients", kStable, L"location", root + L"\\");
    WebView2Runtime rt;
    for (const wchar_t* notInstalled : {L"", L"0.0.0.0"}) {
        setValue(HKEY_CURRENT_USER, L"Clients", kStable, L"pv", notInstalled);
        EXPECT_FALSE(tv::findWebView2Runtime(rt)) << "pv '" << tv::fromWide(notInstalled) << "'";
    }
    setValue(HKEY_CURRENT_USER, L"Clients", kStable, L"pv", L"120.0.2210.91");
    ASSERT_TRUE(tv::findWebView2Runtime(rt));
    EXPECT_EQ(rt.folder, root + L"\\120.0.2210.91");
    EXPECT_EQ(rt.runtimeType, 0);
}

TEST_F(RuntimeDiscovery, StaleEntriesArePassedOver) {
    // Stable is registered but its folder is gone; beta is installed.
    setValue(HKEY_LOCAL_MACHINE, L"ClientState", kStable, L"EBWebView", emptyFolder(L"removed"));
    setValue(HKEY_CURRENT_USER, L"ClientState", kBeta, L"EBWebView", runtimeFolder(L"beta"));
    WebView2Runtime rt;
    ASSERT_TRUE(tv::findWebView2Runtime(rt));
    EXPECT_EQ(rt.folder, root + L"\\beta");
}

// Counts its calls; the environment is released at once.
struct CountingHandler {
    tv::wv2::EnvironmentCompletedHandler iface;
    int calls = 0;
    HRESULT result = E_UNEXPECTED;
    bool gotEnvironment = false;

    static HRESULT STDMETHODCALLTYPE qi(tv::wv2::EnvironmentCompletedHandler* self, REFIID,
                                        void** out) {
        *out = self;
        return S_OK;
    }
    static ULONG STDMETHODCALLTYPE ref(tv::wv2::EnvironmentCompletedHandler*) { return 1; }
    static HRESULT STDMETHODCALLTYPE invoke(tv::wv2::EnvironmentCompletedHandler* self, HRESULT hr,
                                            tv::wv2::Environment* env) {
        auto* h = reinterpret_cast<CountingHandler*>(self);
        ++h->calls;
        h->result = hr;
        h->gotEnvironment = env != nullptr;
        return S_OK;
    }
    static constexpr tv::wv2::EnvironmentCompletedHandlerVtbl kVtbl = {qi, ref, ref, invoke};
    CountingHandler() { iface.lpVtbl = &kVtbl; }
};

TEST_F(RuntimeDiscovery, NothingFoundFailsAtOnceWithoutTheHandler) {
    WebView2Runtime rt;
    EXPECT_FALSE(tv::findWebView2Runtime(rt));
    CountingHandler handler;
    EXPECT_EQ(tv::createWebView2Environment(nullptr, root.c_str(), nullptr, &handler.iface),
              HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    pumpUntil([] { return false; }, 200);
    EXPECT_EQ(handler.calls, 0);
}

TEST_F(RuntimeDiscovery, StartsTheRegisteredRuntimeAsInstalled) {
    const std::wstring record = root + L"\\record.log";
    ScopedEnv log(L"TV_FAKE_WV2_LOG", record.c_str());
    ScopedEnv mode(L"TV_FAKE_WV2_MODE", nullptr);
    setValue(HKEY_CURRENT_USER, L"ClientState", kStable, L"EBWebView",
             runtimeFolder(L"real", true));
    const std::wstring userData = root + L"\\ProbeData";
    CountingHandler handler;
    ASSERT_EQ(tv::createWebView2Environment(nullptr, userData.c_str(), nullptr, &handler.iface),
              S_OK);
    EXPECT_EQ(handler.calls, 0) << "the completion arrives through the message loop";
    EXPECT_TRUE(pumpUntil([&] { return handler.calls > 0; }, 5000));
    EXPECT_EQ(handler.calls, 1);
    EXPECT_EQ(handler.result, S_OK);
    EXPECT_TRUE(handler.gotEnvironment);
    const auto lines = readLines(record);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "entry runtime check=1 type=0 userData=" + tv::fromWide(userData));
    EXPECT_TRUE(contains(lines, "options none"));
}

} // namespace
