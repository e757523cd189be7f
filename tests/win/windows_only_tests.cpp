// What only real Windows can run: a call into a hung apartment cancelled by
// the call deadline, a tab strip read and switched through UI Automation,
// and a changed file selected in a real Explorer window. Wine 8 serves none
// of them (its CoCancelCall and its UI Automation client abort the process
// when called, and its shell window collection lists no window), so under
// Wine each test is skipped before it calls anything.

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <exdisp.h>
#include <oleidl.h>
#include <servprov.h>
#include <shlguid.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <wrl/client.h>

#include <chrono>

#include <string>
#include <thread>
#include <vector>

#include "base/win_raii.h"
#include "explorer/activate.h"
#include "explorer/call_deadline.h"
#include "explorer/folder_identity.h"
#include "explorer/tab_strip.h"
#include "explorer/window_folder_path.h"
#include "test_support.h"

using Microsoft::WRL::ComPtr;
using namespace std::chrono_literals;

namespace {

class WindowsOnly : public testing::Test {
protected:
    void SetUp() override {
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        if (ntdll && GetProcAddress(ntdll, "wine_get_version")) {
            GTEST_SKIP() << "skipped under Wine: it has no call cancellation, no UI Automation client and no "
                            "shell window collection to list";
        }
    }
};

// Runs body on a thread of its own, in a single-threaded apartment that
// answers messages until the object is destroyed: COM delivers calls into
// the apartment, and UI Automation its requests to the thread's windows,
// as messages.
class ApartmentThread {
public:
    template <typename Body>
    explicit ApartmentThread(Body body)
        : thread_([this, body] {
              ComApartment apartment;
              threadId_ = GetCurrentThreadId();
              body();
              SetEvent(ready_.get());
              MSG message;
              while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
          }) {
        WaitForSingleObject(ready_.get(), 10000);
    }
    ~ApartmentThread() {
        PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
        thread_.join();
    }

private:
    UniqueHandle ready_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    DWORD threadId_ = 0;
    std::thread thread_;
};

// A window whose GetWindow blocks its apartment's thread until answered:
// the first call hangs as a call into a hung Explorer window does, later
// ones answer at once. Unanswered, it answers by itself after 10 s, so that
// a call that is not cancelled fails the test instead of hanging it.
class BlockingWindow final : public IOleWindow {
public:
    explicit BlockingWindow(HANDLE answered) : answered_(answered) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        *object = riid == IID_IUnknown || riid == IID_IOleWindow ? this : nullptr;
        if (!*object) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* handle) override {
        WaitForSingleObject(answered_, 10000);
        *handle = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

private:
    LONG references_ = 1;
    HANDLE answered_;
};

TEST_F(WindowsOnly, ACallPastItsDeadlineIsCancelledAndTheNextOneIsAnswered) {
    ComApartment apartment;
    EXPECT_TRUE(CallCancellationWorks());
    UniqueHandle answered(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    IStream* stream = nullptr;
    ApartmentThread server([&] {
        ComPtr<IOleWindow> object;
        object.Attach(new BlockingWindow(answered.get()));
        CoMarshalInterThreadInterfaceInStream(IID_IOleWindow, object.Get(), &stream);
    });
    ComPtr<IOleWindow> window;
    ASSERT_TRUE(SUCCEEDED(CoGetInterfaceAndReleaseStream(stream, IID_PPV_ARGS(&window))));

    CallDeadline deadline;
    HWND handle = nullptr;
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(deadline.Bounded([&] { return window->GetWindow(&handle); }), RPC_E_CALL_CANCELED);
    const ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_LT(elapsed, kCallDeadlineMs + 500) << elapsed << " ms";

    SetEvent(answered.get());
    EXPECT_EQ(deadline.Bounded([&] { return window->GetWindow(&handle); }), S_OK);
}

// Selecting leaves the keyboard focus where it was: UI Automation would
// otherwise set it to the item first.
TEST_F(WindowsOnly, UIAutomationListsAndSelectsTheItemsOfATabControl) {
    const std::vector<std::wstring> names = {L"One", L"Two", L"Three"};
    ComApartment apartment;
    HWND frame = nullptr;
    HWND tabControl = nullptr;
    HWND edit = nullptr;
    ApartmentThread windows([&] {
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_TAB_CLASSES};
        InitCommonControlsEx(&controls);
        frame = CreateWindowExW(0, TestWindowClass(), L"tabs", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 400, 300,
                                nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        tabControl = CreateWindowExW(0, WC_TABCONTROLW, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 10, 10, 360,
                                     240, frame, nullptr, GetModuleHandleW(nullptr), nullptr);
        for (std::size_t i = 0; i < names.size(); ++i) {
            TCITEMW item = {};
            item.mask = TCIF_TEXT;
            item.pszText = const_cast<wchar_t*>(names[i].c_str());
            SendMessageW(tabControl, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
        }
        edit = CreateWindowExW(0, L"EDIT", nullptr, WS_CHILD | WS_VISIBLE, 10, 260, 360, 24, frame, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
        SetFocus(edit);
    });
    ASSERT_TRUE(tabControl);
    const TabStripCalls strip = PlatformTabStripCalls();

    std::vector<TabItem> tabs;
    ASSERT_TRUE(strip.listTabs(frame, GetTickCount64() + 10000, tabs));
    ASSERT_EQ(tabs.size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(tabs[i].name, names[i]);
        EXPECT_EQ(tabs[i].selected, i == 0) << "item " << i;
    }

    EXPECT_TRUE(strip.selectTab(frame, GetTickCount64() + 10000, 2));
    EXPECT_EQ(SendMessageW(tabControl, TCM_GETCURSEL, 0, 0), 2);
    GUITHREADINFO gui = {sizeof(gui)};
    ASSERT_TRUE(GetGUIThreadInfo(GetWindowThreadProcessId(frame, nullptr), &gui));
    EXPECT_EQ(gui.hwndFocus, edit) << "selecting moved the keyboard focus";
}

// The Explorer window the shell lists for folder, or null.
ComPtr<IWebBrowser2> ExplorerWindowOn(const std::wstring& folder) {
    ComPtr<IShellWindows> windows;
    if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&windows)))) return nullptr;
    LONG count = 0;
    windows->get_Count(&count);
    for (LONG i = 0; i < count; ++i) {
        VARIANT index{};
        index.vt = VT_I4;
        index.lVal = i;
        ComPtr<IDispatch> item;
        ComPtr<IWebBrowser2> browser;
        std::wstring path;
        if (windows->Item(index, &item) != S_OK || !item || FAILED(item.As(&browser))) continue;
        if (GetWindowFolderPath(browser.Get(), path) &&
            FolderPathsEqual(NormalizeFolderPath(path), NormalizeFolderPath(folder))) {
            return browser;
        }
    }
    return nullptr;
}

// The names of the items selected in browser's view, as its folder names
// them (the file's name with its extension).
std::vector<std::wstring> SelectedNames(IWebBrowser2* browser) {
    std::vector<std::wstring> names;
    ComPtr<IServiceProvider> services;
    ComPtr<IShellBrowser> shellBrowser;
    ComPtr<IShellView> view;
    ComPtr<IFolderView> folderView;
    ComPtr<IShellFolder> folder;
    ComPtr<IEnumIDList> selection;
    if (FAILED(browser->QueryInterface(IID_PPV_ARGS(&services))) ||
        FAILED(services->QueryService(SID_STopLevelBrowser, IID_PPV_ARGS(&shellBrowser))) ||
        FAILED(shellBrowser->QueryActiveShellView(&view)) || FAILED(view.As(&folderView)) ||
        FAILED(folderView->GetFolder(IID_PPV_ARGS(&folder))) ||
        FAILED(folderView->Items(SVGIO_SELECTION, IID_PPV_ARGS(&selection)))) {
        return names;
    }
    PITEMID_CHILD child = nullptr;
    while (selection->Next(1, &child, nullptr) == S_OK) {
        STRRET name{};
        wchar_t* text = nullptr;
        if (SUCCEEDED(folder->GetDisplayNameOf(child, SHGDN_INFOLDER | SHGDN_FORPARSING, &name)) &&
            SUCCEEDED(StrRetToStrW(&name, child, &text))) {
            names.push_back(text);
            CoTaskMemFree(text);
        }
        CoTaskMemFree(child);
    }
    return names;
}

// The workflow a change in a watched folder ends in: its Explorer window
// open, a file made, and the program's activation (as for a double-click)
// selects the file there after the reload, alone.
TEST_F(WindowsOnly, TheChangedFileIsSelectedInARealExplorerWindow) {
    ComApartment apartment;
    ScratchFolder folder(L"LumivaneSelect");
    folder.MakeFile(L"first.txt");
    ShellExecuteW(nullptr, L"open", folder.Path().c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    ComPtr<IWebBrowser2> browser;
    ASSERT_TRUE(WaitUntil([&] { return (browser = ExplorerWindowOn(folder.Path())) != nullptr; }, 15s))
        << "no Explorer window listed for the folder";

    folder.MakeFile(L"second.txt");
    ActivateOrOpenFolderForUser(folder.Path(), L"second.txt");

    EXPECT_EQ(SelectedNames(browser.Get()), std::vector<std::wstring>{L"second.txt"});
    browser->Quit();
}

}  // namespace
