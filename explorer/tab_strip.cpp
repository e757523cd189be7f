// The tab strip through UI Automation (see tab_strip.h).
//
// Every call into Explorer's process goes through a UI Automation client
// whose connection and transaction time-outs are set to about a second, so
// a hung Explorer costs a second, not the activation. The client's objects
// live only for one call of the table: the strip is read afresh each time,
// since tabs come and go while the user works.

#include "explorer/tab_strip.h"

#include <wrl/client.h>

#include "explorer/ui_automation_client.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr DWORD kAutomationTimeoutMs = 1000;

// The automation client with its time-outs in force; null where UI
// Automation is not served (Wine 8 registers no client) or cannot be
// bounded, since an unbounded call into a hung Explorer would hang us too.
ComPtr<uia::IUIAutomation2> BoundedAutomation() {
    ComPtr<uia::IUIAutomation2> automation;
    if (FAILED(CoCreateInstance(uia::kCUIAutomation8, nullptr, CLSCTX_INPROC_SERVER, uia::kIID_IUIAutomation2,
                                reinterpret_cast<void**>(automation.GetAddressOf()))) ||
        !automation) {
        return nullptr;
    }
    if (FAILED(automation->put_ConnectionTimeout(kAutomationTimeoutMs)) ||
        FAILED(automation->put_TransactionTimeout(kAutomationTimeoutMs))) {
        return nullptr;
    }
    return automation;
}

// Every element of control type TabItem below frame, in tree order.
ComPtr<uia::IUIAutomationElementArray> TabItemsOf(HWND frame) {
    ComPtr<uia::IUIAutomation2> automation = BoundedAutomation();
    if (!automation) return nullptr;
    ComPtr<uia::IUIAutomationElement> root;
    if (FAILED(automation->ElementFromHandle(frame, &root)) || !root) return nullptr;
    VARIANT tabItem;
    VariantInit(&tabItem);
    tabItem.vt = VT_I4;
    tabItem.lVal = uia::kTabItemControlType;
    ComPtr<uia::IUIAutomationCondition> isTabItem;
    if (FAILED(automation->CreatePropertyCondition(uia::kControlTypeProperty, tabItem, &isTabItem)) || !isTabItem) {
        return nullptr;
    }
    ComPtr<uia::IUIAutomationElementArray> items;
    if (FAILED(root->FindAll(uia::kTreeScopeDescendants, isTabItem.Get(), &items))) return nullptr;
    return items;
}

bool ListTabs(HWND frame, std::vector<TabItem>& tabs) {
    tabs.clear();
    ComPtr<uia::IUIAutomationElementArray> items = TabItemsOf(frame);
    if (!items) return false;
    int length = 0;
    if (FAILED(items->get_Length(&length))) return false;
    for (int i = 0; i < length; ++i) {
        // An item that cannot be read stays in the list, nameless, so that
        // the indexes still match the strip's.
        TabItem tab;
        ComPtr<uia::IUIAutomationElement> item;
        if (SUCCEEDED(items->GetElement(i, &item)) && item) {
            VARIANT value;
            VariantInit(&value);
            if (SUCCEEDED(item->GetCurrentPropertyValue(uia::kNameProperty, &value)) && value.vt == VT_BSTR &&
                value.bstrVal) {
                tab.name = value.bstrVal;
            }
            VariantClear(&value);
            if (SUCCEEDED(item->GetCurrentPropertyValue(uia::kIsSelectedProperty, &value)) && value.vt == VT_BOOL) {
                tab.selected = value.boolVal != VARIANT_FALSE;
            }
            VariantClear(&value);
        }
        tabs.push_back(std::move(tab));
    }
    return true;
}

// Select where the item offers it, as a click on the tab would; Invoke
// where it offers only that.
bool SelectTab(HWND frame, std::size_t index) {
    ComPtr<uia::IUIAutomationElementArray> items = TabItemsOf(frame);
    if (!items) return false;
    ComPtr<uia::IUIAutomationElement> item;
    if (FAILED(items->GetElement(static_cast<int>(index), &item)) || !item) return false;
    ComPtr<uia::IUIAutomationSelectionItemPattern> selection;
    if (SUCCEEDED(item->GetCurrentPatternAs(uia::kSelectionItemPattern, uia::kIID_SelectionItemPattern,
                                            reinterpret_cast<void**>(selection.GetAddressOf()))) &&
        selection) {
        return SUCCEEDED(selection->Select());
    }
    ComPtr<uia::IUIAutomationInvokePattern> invoke;
    if (SUCCEEDED(item->GetCurrentPatternAs(uia::kInvokePattern, uia::kIID_InvokePattern,
                                            reinterpret_cast<void**>(invoke.GetAddressOf()))) &&
        invoke) {
        return SUCCEEDED(invoke->Invoke());
    }
    return false;
}

}  // namespace

TabStripCalls PlatformTabStripCalls() { return TabStripCalls{ListTabs, SelectTab}; }

TabStripCalls& CurrentTabStripCalls() {
    static TabStripCalls calls = PlatformTabStripCalls();
    return calls;
}
