#include "app/win/webview2_loader.h"

#include <cstring>
#include <vector>

#include "app/paths.h"
#include "probe/winstr.h"

namespace tv {
namespace {

// Edge updater client ids, in the order the channels are tried.
constexpr const wchar_t* kChannelIds[] = {
    L"{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}", // stable
    L"{2CD8A007-E189-409D-A2C8-9AF4EF3C72AA}", // beta
    L"{0D50BFEC-CD6A-4F9A-964C-C7416E3ACB10}", // dev
    L"{65C35B14-6C1D-4122-AC46-7148CC9D6497}", // canary
};

bool fileExists(const std::wstring& path) {
    const DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring withoutTrailingSeparators(std::wstring s) {
    while (!s.empty() && (s.back() == L'\\' || s.back() == L'/'))
        s.pop_back();
    return s;
}

// A string value through the 32-bit registry view, where the updater writes.
bool readRegString(HKEY root, const std::wstring& subkey, const wchar_t* name, std::wstring& out) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key) !=
        ERROR_SUCCESS)
        return false;
    DWORD type = 0, bytes = 0;
    bool ok = RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS &&
              (type == REG_SZ || type == REG_EXPAND_SZ);
    std::vector<wchar_t> buf;
    if (ok) {
        buf.assign(bytes / sizeof(wchar_t) + 1, L'\0');
        DWORD got = static_cast<DWORD>(buf.size() * sizeof(wchar_t));
        ok = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf.data()),
                              &got) == ERROR_SUCCESS;
    }
    RegCloseKey(key);
    if (!ok)
        return false;
    out.assign(buf.data()); // up to the first NUL; a missing terminator is covered by the +1
    return true;
}

// The runtime folder of one channel under one root, or empty.
std::wstring registeredFolder(HKEY root, const wchar_t* clientId) {
    const std::wstring updater = L"SOFTWARE\\Microsoft\\EdgeUpdate\\";
    std::wstring folder;
    // ClientState: "EBWebView" names the versioned folder itself.
    if (readRegString(root, updater + L"ClientState\\" + clientId, L"EBWebView", folder)) {
        folder = withoutTrailingSeparators(folder);
        if (!folder.empty() && fileExists(webView2RuntimeLibrary(folder)))
            return folder;
    }
    // Clients: the version "pv" below the install "location". On 64-bit Windows
    // the 32-bit view maps HKLM to WOW6432Node.
    std::wstring version, location;
    const std::wstring clients = updater + L"Clients\\" + clientId;
    if (readRegString(root, clients, L"pv", version) && !version.empty() && version != L"0.0.0.0" &&
        readRegString(root, clients, L"location", location)) {
        location = withoutTrailingSeparators(location);
        if (!location.empty()) {
            folder = location + L"\\" + version;
            if (fileExists(webView2RuntimeLibrary(folder)))
                return folder;
        }
    }
    return {};
}

template <class Fn> Fn procAddress(HMODULE module, const char* name) {
    FARPROC p = GetProcAddress(module, name);
    Fn fn = nullptr;
    static_assert(sizeof fn == sizeof p);
    std::memcpy(&fn, &p, sizeof fn);
    return fn;
}

} // namespace

std::wstring webView2RuntimeLibrary(const std::wstring& folder) {
    return folder + L"\\EBWebView\\x64\\EmbeddedBrowserWebView.dll";
}

bool findWebView2Runtime(WebView2Runtime& out) {
    wchar_t env[MAX_PATH * 2] = {};
    const DWORD n = GetEnvironmentVariableW(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", env,
                                            static_cast<DWORD>(std::size(env)));
    if (n > 0 && n < std::size(env)) {
        out.folder = withoutTrailingSeparators(env);
        out.runtimeType = 1;
        return !out.folder.empty() && fileExists(webView2RuntimeLibrary(out.folder));
    }
    for (const wchar_t* id : kChannelIds) {
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
            std::wstring folder = registeredFolder(root, id);
            if (!folder.empty()) {
                out.folder = std::move(folder);
                out.runtimeType = 0;
                return true;
            }
        }
    }
    return false;
}

HRESULT createWebView2Environment(PCWSTR browserExecutableFolder, PCWSTR userDataFolder,
                                  wv2::EnvironmentOptions* options,
                                  wv2::EnvironmentCompletedHandler* handler) {
    // The SDK's loader, when it ships beside the program, knows best.
    const std::wstring loaderPath = toWide(joinPath(executableDir(), "WebView2Loader.dll"));
    if (fileExists(loaderPath)) {
        if (HMODULE loader = LoadLibraryW(loaderPath.c_str())) {
            auto create = procAddress<wv2::CreateEnvironmentWithOptionsFn>(
                loader, "CreateCoreWebView2EnvironmentWithOptions");
            if (create)
                return create(browserExecutableFolder, userDataFolder, options, handler);
        }
    }

    WebView2Runtime runtime;
    if (browserExecutableFolder && *browserExecutableFolder) {
        runtime.folder = withoutTrailingSeparators(browserExecutableFolder);
        runtime.runtimeType = 1;
        if (!fileExists(webView2RuntimeLibrary(runtime.folder)))
            return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    } else if (!findWebView2Runtime(runtime)) {
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }

    // Loaded for good: the runtime's objects live as long as the process.
    HMODULE lib = LoadLibraryExW(webView2RuntimeLibrary(runtime.folder).c_str(), nullptr,
                                 LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!lib) {
        const DWORD err = GetLastError();
        return err ? HRESULT_FROM_WIN32(err) : E_FAIL;
    }
    auto create = procAddress<wv2::CreateWebViewEnvironmentInternalFn>(
        lib, "CreateWebViewEnvironmentWithOptionsInternal");
    if (!create)
        return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    return create(true, runtime.runtimeType, userDataFolder, options, handler);
}

} // namespace tv
