// Our own declarations of the WebView2 COM interfaces the host uses.
//
// mingw-w64 ships no WebView2 header and the SDK is not part of the build, so
// the interfaces are written here as C-style vtables: a struct of function
// pointers per interface, in slot order, and an interface struct holding the
// vtable pointer. Slots we never call are still listed so that every slot we
// do call sits at its ABI index; a static_assert per called method pins that
// index. Small inline members forward to the vtable for readable call sites.
#pragma once

#include <cstddef>
#include <cstring>
#include <objbase.h>
#include <windows.h>

namespace tv::wv2 {

// EventRegistrationToken: one 64-bit value.
struct EventToken {
    __int64 value;
};
static_assert(sizeof(EventToken) == 8);

// COREWEBVIEW2_COLOR: four bytes in the order A, R, G, B (not a COLORREF).
struct Color {
    BYTE A, R, G, B;
};
static_assert(sizeof(Color) == 4);

// Interface identifiers.
inline constexpr IID kIidEnvironment = {
    0xB96D755E, 0x0319, 0x4E92, {0xA2, 0x96, 0x23, 0x43, 0x6F, 0x46, 0xA1, 0xFC}};
inline constexpr IID kIidController = {
    0x4D00C0D1, 0x9434, 0x4EB6, {0x80, 0x78, 0x86, 0x97, 0xA5, 0x60, 0x33, 0x4F}};
inline constexpr IID kIidController2 = {
    0xC979903E, 0xD4CA, 0x4228, {0x92, 0xEB, 0x47, 0xEE, 0x3F, 0xA9, 0x6E, 0xAB}};
inline constexpr IID kIidWebView = {
    0x76ECEACB, 0x0462, 0x4D94, {0xAC, 0x83, 0x42, 0x3A, 0x67, 0x93, 0x77, 0x5E}};
inline constexpr IID kIidSettings = {
    0xE562E4F0, 0xD7FA, 0x43AC, {0x8D, 0x71, 0xC0, 0x51, 0x50, 0x49, 0x9F, 0x00}};
inline constexpr IID kIidWebMessageReceivedEventArgs = {
    0x0F99A40C, 0xE962, 0x4207, {0x9E, 0x92, 0xE3, 0xD5, 0x42, 0xEF, 0xF8, 0x49}};
inline constexpr IID kIidEnvironmentCompletedHandler = {
    0x4E8A3389, 0xC9D8, 0x4BD2, {0xB6, 0xB5, 0x12, 0x4F, 0xEE, 0x6C, 0xC1, 0x4D}};
inline constexpr IID kIidControllerCompletedHandler = {
    0x6C4819F3, 0xC9B7, 0x4260, {0x81, 0x27, 0xC9, 0xF5, 0xBD, 0xE7, 0xF6, 0x8C}};
inline constexpr IID kIidWebMessageReceivedEventHandler = {
    0x57213F19, 0x00E6, 0x49FA, {0x8E, 0x07, 0x89, 0x8E, 0xA0, 0x1E, 0xCB, 0xD2}};
inline constexpr IID kIidEnvironmentOptions = {
    0x2FDE08A8, 0x1E9A, 0x4766, {0x8C, 0x05, 0x95, 0xA9, 0xCE, 0xB9, 0xD1, 0xC5}};
inline constexpr IID kIidUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

inline bool sameIid(const IID& a, const IID& b) {
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           std::memcmp(a.Data4, b.Data4, sizeof a.Data4) == 0;
}

// The slot index of a vtable member, checked at compile time.
#define TV_WV2_SLOT(Vtbl, member, index)                                                           \
    static_assert(offsetof(Vtbl, member) == (index) * sizeof(void*),                               \
                  #Vtbl "::" #member " must be slot " #index)

// Slots 0-2 of every interface.
#define TV_WV2_IUNKNOWN(Self)                                                                      \
    HRESULT(STDMETHODCALLTYPE* QueryInterface)(Self*, REFIID, void**);                             \
    ULONG(STDMETHODCALLTYPE* AddRef)(Self*);                                                       \
    ULONG(STDMETHODCALLTYPE* Release)(Self*)

// A slot we never call: any pointer-sized entry keeps the count exact.
using Unused = void*;

struct Environment;
struct Controller;
struct Controller2;
struct WebView;
struct Settings;
struct WebMessageReceivedEventArgs;
struct EnvironmentCompletedHandler;
struct ControllerCompletedHandler;
struct WebMessageReceivedEventHandler;
struct EnvironmentOptions;

// Members shared by every interface struct: the vtable pointer and IUnknown.
// clang-format off
#define TV_WV2_INTERFACE_BODY(Self, VtblType)                                                      \
    const VtblType* lpVtbl;                                                                        \
    HRESULT QueryInterface(REFIID iid, void** out) { return lpVtbl->QueryInterface(this, iid, out); } \
    ULONG AddRef() { return lpVtbl->AddRef(this); }                                                \
    ULONG Release() { return lpVtbl->Release(this); }
// clang-format on

// ICoreWebView2Environment
struct EnvironmentVtbl {
    TV_WV2_IUNKNOWN(Environment);
    HRESULT(STDMETHODCALLTYPE* CreateCoreWebView2Controller)
    (Environment*, HWND parent, ControllerCompletedHandler* handler);
};
TV_WV2_SLOT(EnvironmentVtbl, CreateCoreWebView2Controller, 3);

struct Environment {
    TV_WV2_INTERFACE_BODY(Environment, EnvironmentVtbl)
    HRESULT CreateCoreWebView2Controller(HWND parent, ControllerCompletedHandler* handler) {
        return lpVtbl->CreateCoreWebView2Controller(this, parent, handler);
    }
};

// ICoreWebView2Controller
struct ControllerVtbl {
    TV_WV2_IUNKNOWN(Controller);
    HRESULT(STDMETHODCALLTYPE* get_IsVisible)(Controller*, BOOL*);
    HRESULT(STDMETHODCALLTYPE* put_IsVisible)(Controller*, BOOL);
    HRESULT(STDMETHODCALLTYPE* get_Bounds)(Controller*, RECT*);
    HRESULT(STDMETHODCALLTYPE* put_Bounds)(Controller*, RECT);
    HRESULT(STDMETHODCALLTYPE* get_ZoomFactor)(Controller*, double*);
    HRESULT(STDMETHODCALLTYPE* put_ZoomFactor)(Controller*, double);
    Unused add_ZoomFactorChanged;
    Unused remove_ZoomFactorChanged;
    HRESULT(STDMETHODCALLTYPE* SetBoundsAndZoomFactor)(Controller*, RECT, double);
    Unused MoveFocus;
    Unused add_MoveFocusRequested;
    Unused remove_MoveFocusRequested;
    Unused add_GotFocus;
    Unused remove_GotFocus;
    Unused add_LostFocus;
    Unused remove_LostFocus;
    Unused add_AcceleratorKeyPressed;
    Unused remove_AcceleratorKeyPressed;
    HRESULT(STDMETHODCALLTYPE* get_ParentWindow)(Controller*, HWND*);
    HRESULT(STDMETHODCALLTYPE* put_ParentWindow)(Controller*, HWND);
    HRESULT(STDMETHODCALLTYPE* NotifyParentWindowPositionChanged)(Controller*);
    HRESULT(STDMETHODCALLTYPE* Close)(Controller*);
    HRESULT(STDMETHODCALLTYPE* get_CoreWebView2)(Controller*, WebView**);
};
TV_WV2_SLOT(ControllerVtbl, put_Bounds, 6);
TV_WV2_SLOT(ControllerVtbl, NotifyParentWindowPositionChanged, 23);
TV_WV2_SLOT(ControllerVtbl, get_CoreWebView2, 25);
static_assert(sizeof(ControllerVtbl) == 26 * sizeof(void*));

struct Controller {
    TV_WV2_INTERFACE_BODY(Controller, ControllerVtbl)
    HRESULT put_Bounds(RECT bounds) { return lpVtbl->put_Bounds(this, bounds); }
    // The parent window moved: pop-ups and accessibility follow it.
    HRESULT NotifyParentWindowPositionChanged() {
        return lpVtbl->NotifyParentWindowPositionChanged(this);
    }
    HRESULT get_CoreWebView2(WebView** out) { return lpVtbl->get_CoreWebView2(this, out); }
};

// ICoreWebView2Controller2: the slots of ICoreWebView2Controller, then two more.
struct Controller2Vtbl {
    ControllerVtbl controller;
    HRESULT(STDMETHODCALLTYPE* get_DefaultBackgroundColor)(Controller2*, Color*);
    HRESULT(STDMETHODCALLTYPE* put_DefaultBackgroundColor)(Controller2*, Color);
};
TV_WV2_SLOT(Controller2Vtbl, put_DefaultBackgroundColor, 27);

struct Controller2 {
    const Controller2Vtbl* lpVtbl;
    ULONG Release() { return lpVtbl->controller.Release(reinterpret_cast<Controller*>(this)); }
    HRESULT put_DefaultBackgroundColor(Color c) {
        return lpVtbl->put_DefaultBackgroundColor(this, c);
    }
};

// ICoreWebView2
struct WebViewVtbl {
    TV_WV2_IUNKNOWN(WebView);
    HRESULT(STDMETHODCALLTYPE* get_Settings)(WebView*, Settings**);
    HRESULT(STDMETHODCALLTYPE* get_Source)(WebView*, LPWSTR*);
    HRESULT(STDMETHODCALLTYPE* Navigate)(WebView*, LPCWSTR);
    HRESULT(STDMETHODCALLTYPE* NavigateToString)(WebView*, LPCWSTR html);
    Unused add_NavigationStarting;
    Unused remove_NavigationStarting;
    Unused add_ContentLoading;
    Unused remove_ContentLoading;
    Unused add_SourceChanged;
    Unused remove_SourceChanged;
    Unused add_HistoryChanged;
    Unused remove_HistoryChanged;
    Unused add_NavigationCompleted;
    Unused remove_NavigationCompleted;
    Unused add_FrameNavigationStarting;
    Unused remove_FrameNavigationStarting;
    Unused add_FrameNavigationCompleted;
    Unused remove_FrameNavigationCompleted;
    Unused add_ScriptDialogOpening;
    Unused remove_ScriptDialogOpening;
    Unused add_PermissionRequested;
    Unused remove_PermissionRequested;
    Unused add_ProcessFailed;
    Unused remove_ProcessFailed;
    Unused AddScriptToExecuteOnDocumentCreated;
    Unused RemoveScriptToExecuteOnDocumentCreated;
    Unused ExecuteScript;
    Unused CapturePreview;
    HRESULT(STDMETHODCALLTYPE* Reload)(WebView*);
    HRESULT(STDMETHODCALLTYPE* PostWebMessageAsJson)(WebView*, LPCWSTR json);
    HRESULT(STDMETHODCALLTYPE* PostWebMessageAsString)(WebView*, LPCWSTR text);
    HRESULT(STDMETHODCALLTYPE* add_WebMessageReceived)
    (WebView*, WebMessageReceivedEventHandler* handler, EventToken* token);
    HRESULT(STDMETHODCALLTYPE* remove_WebMessageReceived)(WebView*, EventToken token);
};
TV_WV2_SLOT(WebViewVtbl, get_Settings, 3);
TV_WV2_SLOT(WebViewVtbl, NavigateToString, 6);
TV_WV2_SLOT(WebViewVtbl, PostWebMessageAsJson, 32);
TV_WV2_SLOT(WebViewVtbl, add_WebMessageReceived, 34);

struct WebView {
    TV_WV2_INTERFACE_BODY(WebView, WebViewVtbl)
    HRESULT get_Settings(Settings** out) { return lpVtbl->get_Settings(this, out); }
    HRESULT NavigateToString(LPCWSTR html) { return lpVtbl->NavigateToString(this, html); }
    HRESULT PostWebMessageAsJson(LPCWSTR json) { return lpVtbl->PostWebMessageAsJson(this, json); }
    HRESULT add_WebMessageReceived(WebMessageReceivedEventHandler* h, EventToken* token) {
        return lpVtbl->add_WebMessageReceived(this, h, token);
    }
};

// ICoreWebView2Settings
struct SettingsVtbl {
    TV_WV2_IUNKNOWN(Settings);
    HRESULT(STDMETHODCALLTYPE* get_IsScriptEnabled)(Settings*, BOOL*);
    HRESULT(STDMETHODCALLTYPE* put_IsScriptEnabled)(Settings*, BOOL);
    HRESULT(STDMETHODCALLTYPE* get_IsWebMessageEnabled)(Settings*, BOOL*);
    HRESULT(STDMETHODCALLTYPE* put_IsWebMessageEnabled)(Settings*, BOOL);
    HRESULT(STDMETHODCALLTYPE* get_AreDefaultScriptDialogsEnabled)(Settings*, BOOL*);
    HRESULT(STDMETHODCALLTYPE* put_AreDefaultScriptDialogsEnabled)(Settings*, BOOL);
    HRESULT(STDMETHODCALLTYPE* get_IsStatusBarEnabled)(Settings*, BOOL*);
    HRESULT(STDMETHODCALLTYPE* put_IsStatusBarEnabled)(Settings*, BOOL);
    HRESULT(STDMETHODCALLTYPE* get_AreDevToolsEnabled)(Settings*, BOOL*);
    HRESULT(STDMETHODCALLTYPE* put_AreDevToolsEnabled)(Settings*, BOOL);
    HRESULT(STDMETHODCALLTYPE* get_AreDefaultContextMenusEnabled)(Settings*, BOOL*);
    HRESULT(STDMETHODCALLTYPE* put_AreDefaultContextMenusEnabled)(Settings*, BOOL);
    HRESULT(STDMETHODCALLTYPE* get_AreHostObjectsAllowed)(Settings*, BOOL*);
    HRESULT(STDMETHODCALLTYPE* put_AreHostObjectsAllowed)(Settings*, BOOL);
    HRESULT(STDMETHODCALLTYPE* get_IsZoomControlEnabled)(Settings*, BOOL*);
    HRESULT(STDMETHODCALLTYPE* put_IsZoomControlEnabled)(Settings*, BOOL);
};
TV_WV2_SLOT(SettingsVtbl, put_IsStatusBarEnabled, 10);
TV_WV2_SLOT(SettingsVtbl, put_AreDefaultContextMenusEnabled, 14);
TV_WV2_SLOT(SettingsVtbl, put_IsZoomControlEnabled, 18);

struct Settings {
    TV_WV2_INTERFACE_BODY(Settings, SettingsVtbl)
    HRESULT put_IsStatusBarEnabled(BOOL on) { return lpVtbl->put_IsStatusBarEnabled(this, on); }
    HRESULT put_AreDefaultContextMenusEnabled(BOOL on) {
        return lpVtbl->put_AreDefaultContextMenusEnabled(this, on);
    }
    HRESULT put_IsZoomControlEnabled(BOOL on) { return lpVtbl->put_IsZoomControlEnabled(this, on); }
};

// ICoreWebView2WebMessageReceivedEventArgs
struct WebMessageReceivedEventArgsVtbl {
    TV_WV2_IUNKNOWN(WebMessageReceivedEventArgs);
    HRESULT(STDMETHODCALLTYPE* get_Source)(WebMessageReceivedEventArgs*, LPWSTR*);
    HRESULT(STDMETHODCALLTYPE* get_WebMessageAsJson)(WebMessageReceivedEventArgs*, LPWSTR*);
    HRESULT(STDMETHODCALLTYPE* TryGetWebMessageAsString)(WebMessageReceivedEventArgs*, LPWSTR*);
};
TV_WV2_SLOT(WebMessageReceivedEventArgsVtbl, TryGetWebMessageAsString, 5);

struct WebMessageReceivedEventArgs {
    TV_WV2_INTERFACE_BODY(WebMessageReceivedEventArgs, WebMessageReceivedEventArgsVtbl)
    // E_INVALIDARG when the page posted something other than a string. The text
    // is task memory: free it with CoTaskMemFree.
    HRESULT TryGetWebMessageAsString(LPWSTR* out) {
        return lpVtbl->TryGetWebMessageAsString(this, out);
    }
};

// Interfaces the host implements and the runtime calls.

// ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler
struct EnvironmentCompletedHandlerVtbl {
    TV_WV2_IUNKNOWN(EnvironmentCompletedHandler);
    HRESULT(STDMETHODCALLTYPE* Invoke)(EnvironmentCompletedHandler*, HRESULT, Environment*);
};
TV_WV2_SLOT(EnvironmentCompletedHandlerVtbl, Invoke, 3);
struct EnvironmentCompletedHandler {
    const EnvironmentCompletedHandlerVtbl* lpVtbl;
};

// ICoreWebView2CreateCoreWebView2ControllerCompletedHandler
struct ControllerCompletedHandlerVtbl {
    TV_WV2_IUNKNOWN(ControllerCompletedHandler);
    HRESULT(STDMETHODCALLTYPE* Invoke)(ControllerCompletedHandler*, HRESULT, Controller*);
};
TV_WV2_SLOT(ControllerCompletedHandlerVtbl, Invoke, 3);
struct ControllerCompletedHandler {
    const ControllerCompletedHandlerVtbl* lpVtbl;
};

// ICoreWebView2WebMessageReceivedEventHandler
struct WebMessageReceivedEventHandlerVtbl {
    TV_WV2_IUNKNOWN(WebMessageReceivedEventHandler);
    HRESULT(STDMETHODCALLTYPE* Invoke)
    (WebMessageReceivedEventHandler*, WebView* sender, WebMessageReceivedEventArgs* args);
};
TV_WV2_SLOT(WebMessageReceivedEventHandlerVtbl, Invoke, 3);
struct WebMessageReceivedEventHandler {
    const WebMessageReceivedEventHandlerVtbl* lpVtbl;
};

// ICoreWebView2EnvironmentOptions. Getters hand out CoTaskMemAlloc copies.
struct EnvironmentOptionsVtbl {
    TV_WV2_IUNKNOWN(EnvironmentOptions);
    HRESULT(STDMETHODCALLTYPE* get_AdditionalBrowserArguments)(EnvironmentOptions*, LPWSTR*);
    HRESULT(STDMETHODCALLTYPE* put_AdditionalBrowserArguments)(EnvironmentOptions*, LPCWSTR);
    HRESULT(STDMETHODCALLTYPE* get_Language)(EnvironmentOptions*, LPWSTR*);
    HRESULT(STDMETHODCALLTYPE* put_Language)(EnvironmentOptions*, LPCWSTR);
    HRESULT(STDMETHODCALLTYPE* get_TargetCompatibleBrowserVersion)(EnvironmentOptions*, LPWSTR*);
    HRESULT(STDMETHODCALLTYPE* put_TargetCompatibleBrowserVersion)(EnvironmentOptions*, LPCWSTR);
    HRESULT(STDMETHODCALLTYPE* get_AllowSingleSignOnUsingOSPrimaryAccount)
    (EnvironmentOptions*, BOOL*);
    HRESULT(STDMETHODCALLTYPE* put_AllowSingleSignOnUsingOSPrimaryAccount)
    (EnvironmentOptions*, BOOL);
};
TV_WV2_SLOT(EnvironmentOptionsVtbl, get_AdditionalBrowserArguments, 3);
TV_WV2_SLOT(EnvironmentOptionsVtbl, put_AdditionalBrowserArguments, 4);
TV_WV2_SLOT(EnvironmentOptionsVtbl, get_Language, 5);
TV_WV2_SLOT(EnvironmentOptionsVtbl, put_Language, 6);
TV_WV2_SLOT(EnvironmentOptionsVtbl, get_TargetCompatibleBrowserVersion, 7);
TV_WV2_SLOT(EnvironmentOptionsVtbl, put_TargetCompatibleBrowserVersion, 8);
TV_WV2_SLOT(EnvironmentOptionsVtbl, get_AllowSingleSignOnUsingOSPrimaryAccount, 9);
TV_WV2_SLOT(EnvironmentOptionsVtbl, put_AllowSingleSignOnUsingOSPrimaryAccount, 10);
struct EnvironmentOptions {
    const EnvironmentOptionsVtbl* lpVtbl;
};

// The entry of WebView2Loader.dll.
using CreateEnvironmentWithOptionsFn =
    HRESULT(STDMETHODCALLTYPE*)(PCWSTR browserExecutableFolder, PCWSTR userDataFolder,
                                EnvironmentOptions* options, EnvironmentCompletedHandler* handler);

// WebView2Loader.dll's GetAvailableCoreWebView2BrowserVersionString: the
// version (a blank and the channel name after it for other channels than
// stable) as task memory, or a failure when no runtime is found.
using GetBrowserVersionStringFn = HRESULT(STDMETHODCALLTYPE*)(PCWSTR browserExecutableFolder,
                                                              LPWSTR* versionInfo);

// The entry of the runtime's EmbeddedBrowserWebView.dll. runtimeType: 0 for an
// installed runtime, 1 for a fixed-version folder.
using CreateWebViewEnvironmentInternalFn =
    HRESULT(STDMETHODCALLTYPE*)(bool checkRunningInstance, int runtimeType, PCWSTR userDataFolder,
                                EnvironmentOptions* options, EnvironmentCompletedHandler* handler);

#undef TV_WV2_INTERFACE_BODY
#undef TV_WV2_IUNKNOWN

} // namespace tv::wv2
