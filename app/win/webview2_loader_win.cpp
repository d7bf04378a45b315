#include "app/win/webview2_loader.h"

#include <cstring>
#include <vector>

#include "app/host.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/winstr.h"

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

// An environment variable of any length; empty when unset.
std::wstring environmentVariable(const wchar_t* name) {
    std::wstring value;
    DWORD size = GetEnvironmentVariableW(name, nullptr, 0); // with the NUL
    while (size > 0) {
        value.assign(size, L'\0');
        const DWORD n = GetEnvironmentVariableW(name, value.data(), size);
        if (n < size) { // fits: n characters without the NUL
            value.resize(n);
            return value;
        }
        size = n; // grew in between: ask again with the new size
    }
    return {};
}

// Rooted ("\\server\share", "\\x", "C:\x", also drive-relative "C:x"): not
// relative to the program's directory.
bool isRooted(const std::wstring& p) {
    return (!p.empty() && (p[0] == L'\\' || p[0] == L'/')) || (p.size() >= 2 && p[1] == L':');
}

std::wstring fullPath(const std::wstring& path) {
    std::wstring out;
    DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    while (size > 0) {
        out.assign(size, L'\0');
        const DWORD n = GetFullPathNameW(path.c_str(), size, out.data(), nullptr);
        if (n == 0)
            break;
        if (n < size) {
            out.resize(n);
            return out;
        }
        size = n;
    }
    return path; // the system could not normalise it; let the file check decide
}

// "120.0.2210.91" from the library's fixed version record, or empty.
std::wstring libraryVersion(const std::wstring& path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0)
        return {};
    std::vector<BYTE> info(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    if (!GetFileVersionInfoW(path.c_str(), 0, size, info.data()) ||
        !VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &len) || !fixed ||
        len < sizeof *fixed || fixed->dwSignature != 0xFEEF04BD)
        return {};
    return std::to_wstring(HIWORD(fixed->dwProductVersionMS)) + L"." +
           std::to_wstring(LOWORD(fixed->dwProductVersionMS)) + L"." +
           std::to_wstring(HIWORD(fixed->dwProductVersionLS)) + L"." +
           std::to_wstring(LOWORD(fixed->dwProductVersionLS));
}

// The last component of a folder when it reads as a version, or empty.
std::wstring folderVersion(const std::wstring& folder) {
    const size_t cut = folder.find_last_of(L"\\/");
    const std::wstring name = cut == std::wstring::npos ? folder : folder.substr(cut + 1);
    return compareVersions(fromWide(name), "0") ? name : std::wstring();
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

std::wstring resolveRuntimeFolder(const std::wstring& folder, const char* what) {
    std::wstring path = withoutTrailingSeparators(folder);
    if (path.empty())
        return {};
    if (!isRooted(path))
        path = toWide(executableDir()) + L"\\" + path;
    path = withoutTrailingSeparators(fullPath(path));
    if (webView2RuntimeLibrary(path).size() >= MAX_PATH) {
        logLine(std::string(what) + " too long ERROR");
        return {};
    }
    return path;
}

bool findWebView2Runtime(WebView2Runtime& out) {
    const std::wstring env = environmentVariable(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER");
    if (!env.empty()) {
        out.folder = resolveRuntimeFolder(env, "WEBVIEW2_BROWSER_EXECUTABLE_FOLDER");
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

HRESULT locateWebView2(PCWSTR browserExecutableFolder, WebView2Runtime& out) {
    out = WebView2Runtime{};
    // The SDK's loader, when it ships beside the program, knows best.
    const std::wstring loaderPath = toWide(joinPath(executableDir(), "WebView2Loader.dll"));
    if (fileExists(loaderPath)) {
        if (HMODULE loader = LoadLibraryW(loaderPath.c_str())) {
            out.loaderCreate = procAddress<wv2::CreateEnvironmentWithOptionsFn>(
                loader, "CreateCoreWebView2EnvironmentWithOptions");
            out.loaderVersion = procAddress<wv2::GetBrowserVersionStringFn>(
                loader, "GetAvailableCoreWebView2BrowserVersionString");
            if (out.loaderCreate) {
                out.hasLoaderFolder = browserExecutableFolder != nullptr;
                if (browserExecutableFolder)
                    out.loaderFolder = browserExecutableFolder;
                return S_OK;
            }
            out.loaderVersion = nullptr;
        }
    }

    if (browserExecutableFolder && *browserExecutableFolder) {
        out.folder = resolveRuntimeFolder(browserExecutableFolder, "browserExecutableFolder");
        out.runtimeType = 1;
        if (out.folder.empty() || !fileExists(webView2RuntimeLibrary(out.folder)))
            return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        return S_OK;
    }
    return findWebView2Runtime(out) ? S_OK : HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
}

std::wstring webView2RuntimeVersion(const WebView2Runtime& runtime) {
    if (runtime.loaderCreate) {
        if (!runtime.loaderVersion)
            return {};
        LPWSTR text = nullptr;
        const HRESULT hr = runtime.loaderVersion(
            runtime.hasLoaderFolder ? runtime.loaderFolder.c_str() : nullptr, &text);
        std::wstring version = SUCCEEDED(hr) && text ? text : L"";
        CoTaskMemFree(text);
        return compareVersions(fromWide(version), "0") ? version : std::wstring();
    }
    // An installed runtime lives in a folder named after its version; a
    // fixed-version folder may be named anything, but its library says.
    const std::wstring byName = folderVersion(runtime.folder);
    const std::wstring byRecord = libraryVersion(webView2RuntimeLibrary(runtime.folder));
    if (runtime.runtimeType == 0)
        return byName.empty() ? byRecord : byName;
    return byRecord.empty() ? byName : byRecord;
}

HRESULT startWebView2Environment(const WebView2Runtime& runtime, PCWSTR userDataFolder,
                                 wv2::EnvironmentOptions* options,
                                 wv2::EnvironmentCompletedHandler* handler) {
    if (runtime.loaderCreate)
        return runtime.loaderCreate(runtime.hasLoaderFolder ? runtime.loaderFolder.c_str()
                                                            : nullptr,
                                    userDataFolder, options, handler);
    // Loaded for good: the runtime's objects live as long as the process.
    // LOAD_WITH_ALTERED_SEARCH_PATH needs the absolute path it gets here.
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

HRESULT createWebView2Environment(PCWSTR browserExecutableFolder, PCWSTR userDataFolder,
                                  wv2::EnvironmentOptions* options,
                                  wv2::EnvironmentCompletedHandler* handler) {
    WebView2Runtime runtime;
    const HRESULT hr = locateWebView2(browserExecutableFolder, runtime);
    return FAILED(hr) ? hr : startWebView2Environment(runtime, userDataFolder, options, handler);
}

} // namespace tv
