// The tab strip through UI Automation (see tab_strip.h).
//
// Reading the strip is three requests into Explorer's process: the frame's
// element, its first element of control type Tab (the strip), then the
// strip's TabItem children with their name and selected state brought back
// in the same request (a cache request), instead of asking each item for
// each property. Searching the whole frame for tab items would walk the
// navigation pane and the file list too. Before each request the client's connection and
// transaction time-outs are set to what is left until the caller's
// deadline, so a hung or slow Explorer costs the budget, not the
// activation. The client's objects live only for one call of the table: the
// strip is read afresh each time, since tabs come and go while the user
// works.
//
// Microsoft recommends making UI Automation client calls from a
// multithreaded apartment: a client whose single-threaded apartment thread
// owns windows can deadlock when UI Automation needs that thread to answer
// for them. These calls run on the activation's own thread (an STA, the
// main window's or the watcher's) all the same: they only ever reach
// Explorer's frame in another process, never a window of ours, and each is
// bounded by its time-outs. A thread of their own would add a wait that
// could not be abandoned safely once a call into Explorer hangs.

#include "explorer/tab_strip.h"

#include <wrl/client.h>

#include "explorer/ui_automation_client.h"

using Microsoft::WRL::ComPtr;

namespace {

// Gives the next request what is left until deadline; false once nothing
// is left (a time-out of 0 would not mean "none").
bool LeaveRestOfBudget(uia::IUIAutomation2* automation, ULONGLONG deadline) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return false;
    const DWORD left = static_cast<DWORD>(deadline - now);
    return SUCCEEDED(automation->put_ConnectionTimeout(left)) && SUCCEEDED(automation->put_TransactionTimeout(left));
}

// The automation client; null where UI Automation is not served (Wine 8
// registers no client). By default the client sets the focus to an element
// before it selects or invokes it, which would take the keyboard from the
// user; a client that cannot be told not to is not used at all.
ComPtr<uia::IUIAutomation2> Automation() {
    ComPtr<uia::IUIAutomation2> automation;
    if (FAILED(CoCreateInstance(uia::kCUIAutomation8, nullptr, CLSCTX_INPROC_SERVER, uia::kIID_IUIAutomation2,
                                reinterpret_cast<void**>(automation.GetAddressOf()))) ||
        !automation || FAILED(automation->put_AutoSetFocus(FALSE))) {
        return nullptr;
    }
    return automation;
}

ComPtr<uia::IUIAutomationCondition> ControlTypeIs(uia::IUIAutomation2* automation, int controlType) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = controlType;
    ComPtr<uia::IUIAutomationCondition> condition;
    if (FAILED(automation->CreatePropertyCondition(uia::kControlTypeProperty, value, &condition))) return nullptr;
    return condition;
}

// The TabItem children of frame's strip, in the strip's order, with their
// name and selected state cached.
ComPtr<uia::IUIAutomationElementArray> ReadStrip(uia::IUIAutomation2* automation, HWND frame, ULONGLONG deadline) {
    ComPtr<uia::IUIAutomationCondition> isTab = ControlTypeIs(automation, uia::kTabControlType);
    ComPtr<uia::IUIAutomationCondition> isTabItem = ControlTypeIs(automation, uia::kTabItemControlType);
    ComPtr<uia::IUIAutomationCacheRequest> cache;
    if (!isTab || !isTabItem || FAILED(automation->CreateCacheRequest(&cache)) || !cache ||
        FAILED(cache->AddProperty(uia::kNameProperty)) || FAILED(cache->AddProperty(uia::kIsSelectedProperty))) {
        return nullptr;
    }

    ComPtr<uia::IUIAutomationElement> root;
    if (!LeaveRestOfBudget(automation, deadline) || FAILED(automation->ElementFromHandle(frame, &root)) || !root) {
        return nullptr;
    }
    // The strip lies somewhere below the frame, its tabs right under it. No
    // test under Wine reaches this search (it serves no UI Automation
    // client), and on Windows either scope finds the tested tab control:
    // the way to Explorer's own strip is checked by hand on Windows 11.
    ComPtr<uia::IUIAutomationElement> strip;
    if (!LeaveRestOfBudget(automation, deadline) ||
        FAILED(root->FindFirst(uia::kTreeScopeDescendants, isTab.Get(), &strip)) || !strip) {
        return nullptr;
    }
    ComPtr<uia::IUIAutomationElementArray> items;
    if (!LeaveRestOfBudget(automation, deadline) ||
        FAILED(strip->FindAllBuildCache(uia::kTreeScopeChildren, isTabItem.Get(), cache.Get(), &items))) {
        return nullptr;
    }
    return items;
}

bool ListTabs(HWND frame, ULONGLONG deadline, std::vector<TabItem>& tabs) {
    tabs.clear();
    ComPtr<uia::IUIAutomation2> automation = Automation();
    if (!automation) return false;
    ComPtr<uia::IUIAutomationElementArray> items = ReadStrip(automation.Get(), frame, deadline);
    if (!items) return false;
    TabItemsFromCache(items.Get(), tabs);
    return true;
}

// Select where the item offers it, as a click on the tab would; Invoke
// where it offers only that. The strip is read again for it, so the index
// is the one listTabs gave only while no tab came or went in between.
bool SelectTabAt(HWND frame, ULONGLONG deadline, std::size_t index) {
    ComPtr<uia::IUIAutomation2> automation = Automation();
    if (!automation) return false;
    ComPtr<uia::IUIAutomationElementArray> items = ReadStrip(automation.Get(), frame, deadline);
    if (!items) return false;
    ComPtr<uia::IUIAutomationElement> item;
    if (FAILED(items->GetElement(static_cast<int>(index), &item)) || !item) return false;
    ComPtr<uia::IUIAutomationSelectionItemPattern> selection;
    if (!LeaveRestOfBudget(automation.Get(), deadline)) return false;
    if (SUCCEEDED(item->GetCurrentPatternAs(uia::kSelectionItemPattern, uia::kIID_SelectionItemPattern,
                                            reinterpret_cast<void**>(selection.GetAddressOf()))) &&
        selection) {
        return LeaveRestOfBudget(automation.Get(), deadline) && SUCCEEDED(selection->Select());
    }
    ComPtr<uia::IUIAutomationInvokePattern> invoke;
    if (!LeaveRestOfBudget(automation.Get(), deadline)) return false;
    if (SUCCEEDED(item->GetCurrentPatternAs(uia::kInvokePattern, uia::kIID_InvokePattern,
                                            reinterpret_cast<void**>(invoke.GetAddressOf()))) &&
        invoke) {
        return LeaveRestOfBudget(automation.Get(), deadline) && SUCCEEDED(invoke->Invoke());
    }
    return false;
}

}  // namespace

void TabItemsFromCache(uia::IUIAutomationElementArray* items, std::vector<TabItem>& tabs) {
    tabs.clear();
    int length = 0;
    if (FAILED(items->get_Length(&length))) return;
    for (int i = 0; i < length; ++i) {
        TabItem tab;
        ComPtr<uia::IUIAutomationElement> item;
        if (SUCCEEDED(items->GetElement(i, &item)) && item) {
            VARIANT value;
            VariantInit(&value);
            if (SUCCEEDED(item->GetCachedPropertyValue(uia::kNameProperty, &value)) && value.vt == VT_BSTR &&
                value.bstrVal) {
                tab.name = value.bstrVal;
            }
            VariantClear(&value);
            if (SUCCEEDED(item->GetCachedPropertyValue(uia::kIsSelectedProperty, &value)) && value.vt == VT_BOOL) {
                tab.selected = value.boolVal != VARIANT_FALSE;
            }
            VariantClear(&value);
        }
        tabs.push_back(std::move(tab));
    }
}

TabStripCalls PlatformTabStripCalls() { return TabStripCalls{ListTabs, SelectTabAt}; }

TabStripCalls& CurrentTabStripCalls() {
    static TabStripCalls calls = PlatformTabStripCalls();
    return calls;
}
