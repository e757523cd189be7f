#pragma once
// The few UI Automation client interfaces the tab strip uses, declared here
// because mingw-w64 10 (Debian 12's) ships only the provider side of UI
// Automation: its uiautomationclient.h declares neither IUIAutomation nor
// CLSID_CUIAutomation. Each interface keeps the platform's own layout: the
// methods before the last one used are all declared, in the platform's
// order, those never called as placeholders. The names sit in a namespace
// of their own so that they never meet a newer SDK's declarations, and the
// identifiers are passed explicitly instead of through __uuidof.

#include <windows.h>
#include <oaidl.h>

namespace uia {

// UI Automation's own numbers, as the platform defines them.
constexpr int kControlTypeProperty = 30003;
constexpr int kNameProperty = 30005;
constexpr int kIsSelectedProperty = 30079;  // SelectionItem.IsSelected
constexpr int kTabControlType = 50018;
constexpr int kTabItemControlType = 50019;
constexpr int kInvokePattern = 10000;
constexpr int kSelectionItemPattern = 10010;
constexpr int kTreeScopeChildren = 0x02;
constexpr int kTreeScopeDescendants = 0x04;

// {ff48dba4-60ef-4201-aa87-54103eef594e}
constexpr CLSID kCUIAutomation = {0xff48dba4, 0x60ef, 0x4201, {0xaa, 0x87, 0x54, 0x10, 0x3e, 0xef, 0x59, 0x4e}};
// {e22ad333-b25f-460c-83d0-0581107395c9}: the same service, with IUIAutomation2.
constexpr CLSID kCUIAutomation8 = {0xe22ad333, 0xb25f, 0x460c, {0x83, 0xd0, 0x05, 0x81, 0x10, 0x73, 0x95, 0xc9}};
// {30cbe57d-d9d0-452a-ab13-7ac5ac4825ee}
constexpr IID kIID_IUIAutomation = {0x30cbe57d, 0xd9d0, 0x452a, {0xab, 0x13, 0x7a, 0xc5, 0xac, 0x48, 0x25, 0xee}};
// {34723aff-0c9d-49d0-9896-7ab52df8cd8a}
constexpr IID kIID_IUIAutomation2 = {0x34723aff, 0x0c9d, 0x49d0, {0x98, 0x96, 0x7a, 0xb5, 0x2d, 0xf8, 0xcd, 0x8a}};
// {a8efa66a-0fda-421a-9194-38021f3578ea}
constexpr IID kIID_SelectionItemPattern = {0xa8efa66a, 0x0fda, 0x421a, {0x91, 0x94, 0x38, 0x02, 0x1f, 0x35, 0x78, 0xea}};
// {fb377fbe-8ea6-46d5-9c73-6499642d3059}
constexpr IID kIID_InvokePattern = {0xfb377fbe, 0x8ea6, 0x46d5, {0x9c, 0x73, 0x64, 0x99, 0x64, 0x2d, 0x30, 0x59}};

struct IUIAutomationCondition : IUnknown {};

// Which properties a request brings back with the elements it finds, so
// that reading them later is not a call into the element's process.
struct IUIAutomationCacheRequest : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE AddProperty(int property) = 0;
};

struct IUIAutomationElementArray;

struct IUIAutomationElement : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetFocus() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRuntimeId(SAFEARRAY** runtimeId) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindFirst(int scope, IUIAutomationCondition* condition,
                                                IUIAutomationElement** found) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindAll(int scope, IUIAutomationCondition* condition,
                                              IUIAutomationElementArray** found) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindFirstBuildCache() = 0;  // placeholder
    virtual HRESULT STDMETHODCALLTYPE FindAllBuildCache(int scope, IUIAutomationCondition* condition,
                                                        IUIAutomationCacheRequest* cacheRequest,
                                                        IUIAutomationElementArray** found) = 0;
    virtual HRESULT STDMETHODCALLTYPE BuildUpdatedCache() = 0;  // placeholder
    virtual HRESULT STDMETHODCALLTYPE GetCurrentPropertyValue(int property, VARIANT* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentPropertyValueEx() = 0;  // placeholder
    virtual HRESULT STDMETHODCALLTYPE GetCachedPropertyValue(int property, VARIANT* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCachedPropertyValueEx() = 0;  // placeholder
    virtual HRESULT STDMETHODCALLTYPE GetCurrentPatternAs(int pattern, REFIID riid, void** object) = 0;
};

struct IUIAutomationElementArray : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE get_Length(int* length) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetElement(int index, IUIAutomationElement** element) = 0;
};

struct IUIAutomationSelectionItemPattern : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Select() = 0;
};

struct IUIAutomationInvokePattern : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Invoke() = 0;
};

struct IUIAutomation : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CompareElements() = 0;    // placeholder
    virtual HRESULT STDMETHODCALLTYPE CompareRuntimeIds() = 0;  // placeholder
    virtual HRESULT STDMETHODCALLTYPE GetRootElement(IUIAutomationElement** root) = 0;
    virtual HRESULT STDMETHODCALLTYPE ElementFromHandle(HWND window, IUIAutomationElement** element) = 0;
    // ElementFromPoint to get_ContentViewCondition: 13 methods, never called.
    virtual HRESULT STDMETHODCALLTYPE Unused04() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused05() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused06() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused07() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused08() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused09() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused10() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused11() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused12() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused13() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused14() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused15() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused16() = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateCacheRequest(IUIAutomationCacheRequest** cacheRequest) = 0;
    // CreateTrueCondition, CreateFalseCondition.
    virtual HRESULT STDMETHODCALLTYPE Unused18() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused19() = 0;
    virtual HRESULT STDMETHODCALLTYPE CreatePropertyCondition(int property, VARIANT value,
                                                              IUIAutomationCondition** condition) = 0;
    // CreatePropertyConditionEx to ElementFromIAccessibleBuildCache: 34
    // methods, never called, declared only so that IUIAutomation2's own
    // methods land in their slots.
    virtual HRESULT STDMETHODCALLTYPE Unused21() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused22() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused23() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused24() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused25() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused26() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused27() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused28() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused29() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused30() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused31() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused32() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused33() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused34() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused35() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused36() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused37() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused38() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused39() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused40() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused41() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused42() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused43() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused44() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused45() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused46() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused47() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused48() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused49() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused50() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused51() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused52() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused53() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused54() = 0;
};

struct IUIAutomation2 : IUIAutomation {
    virtual HRESULT STDMETHODCALLTYPE get_AutoSetFocus(BOOL* autoSetFocus) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_AutoSetFocus(BOOL autoSetFocus) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ConnectionTimeout(DWORD* milliseconds) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ConnectionTimeout(DWORD milliseconds) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_TransactionTimeout(DWORD* milliseconds) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_TransactionTimeout(DWORD milliseconds) = 0;
};

}  // namespace uia
