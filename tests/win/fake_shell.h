#pragma once
// A stand-in for the shell's collection of open windows, for tests and
// benchmarks of the real activation code.
//
// Under Wine the shell's collection never lists a window, so a FakeShell
// registers a class object for CLSID_ShellWindows on the calling thread:
// from then on, until it is destroyed, CoCreateInstance(CLSID_ShellWindows)
// made on that thread returns a fresh fake collection. The registration
// belongs to the thread's apartment, so the code under test must run on the
// same single-threaded apartment that constructed the FakeShell.
//
// Each fake window implements IWebBrowser2 (its location and Refresh) and
// IOleWindow (its handle); a WindowFault makes one step of one window fail.
// Its top-level shell browser (IServiceProvider, SID_STopLevelBrowser,
// IShellBrowser) answers its active view: an IShellView and IFolderView
// whose folder (IShellFolder) parses the names of the view's items into
// child IDs, with a selection of its own.
// Every fake object counts its references: after a call under test,
// OutstandingReferences() and OverReleases() are 0 when every reference the
// code obtained was released exactly once, and OutstandingMemory() is 0
// when every location string and item ID handed out was freed.
//
//     FakeShell shell;                                  // on an STA thread
//     FakeWindow& w = shell.AddWindow(L"file:///C:/Data", handle);
//     ActivateOrOpenFolder(L"C:\\Data");
//     EXPECT_EQ(w.RefreshCalls(), 1);
//     EXPECT_EQ(shell.OutstandingReferences(), 0);

#include <windows.h>
#include <exdisp.h>
#include <wrl/client.h>

#include <memory>
#include <string>
#include <vector>

#include "explorer/tab_strip.h"
#include "explorer/ui_automation_client.h"
#include "test_support.h"

// Which step fails for one window. Item and the two queries can fail with
// an error or "succeed" with a null reference; the real code must treat
// both alike.
enum class WindowFault {
    None,
    ItemFails,       // IShellWindows::Item returns E_FAIL
    ItemNull,        // Item returns S_OK and no object
    NoBrowser,       // QueryInterface(IWebBrowser2) returns E_NOINTERFACE
    NullBrowser,     // ... returns S_OK and no interface
    LocationFails,   // get_LocationURL returns E_FAIL
    NullLocation,    // get_LocationURL returns S_OK and a null string
    NoOleWindow,     // QueryInterface(IOleWindow) returns E_NOINTERFACE
    NullOleWindow,   // ... returns S_OK and no interface
    GetWindowFails,  // IOleWindow::GetWindow returns E_FAIL
    NullHandle,      // GetWindow returns S_OK and a null handle
    CallCancelled,   // GetWindow returns RPC_E_CALL_CANCELED at once, as a cancelled call does
    AnswersLate,     // GetWindow answers S_OK and the handle, but only after the call deadline
    NoShellBrowser,  // QueryInterface(IServiceProvider) returns E_NOINTERFACE
};

// One listed window, owned by its FakeShell.
class FakeWindow {
public:
    virtual ~FakeWindow() = default;
    // The window's browser interface, borrowed: for calling
    // GetWindowFolderPath directly. Ignores the Item and query faults.
    virtual IWebBrowser2* Browser() = 0;
    virtual int LocationCalls() const = 0;   // get_LocationURL
    virtual int RefreshCalls() const = 0;    // Refresh
    virtual int GetWindowCalls() const = 0;  // IOleWindow::GetWindow

    // The view's items: listed, shown from the start (the first of them
    // selected, as the user left it); appearing, shown
    // from appearsMs after the window's first Refresh on (INFINITE: never),
    // as a reloaded Explorer view lists a new file a moment later. All are
    // in the folder, which parses their names. SelectItem fails for an item
    // the view does not show, or with okForUnlisted answers S_OK for it and
    // selects nothing, as Wine's view does.
    virtual void ListItems(std::vector<std::wstring> listed, std::wstring appearing = {}, DWORD appearsMs = INFINITE,
                           bool okForUnlisted = false) = 0;
    // The next SelectItem does not answer, as a hung window's: it returns
    // RPC_E_CALL_CANCELED once CancelHungCall is called, or E_FAIL after
    // answerMs.
    virtual void HangOnSelect(DWORD answerMs) = 0;
    // The browser has no active view until ms after the window's first
    // Refresh (QueryActiveShellView fails), as a window still being made.
    virtual void ViewFrom(DWORD ms) = 0;
    virtual void CancelHungCall() = 0;
    // The view's selection, by name.
    virtual std::vector<std::wstring> Selection() const = 0;
    // "refresh" for each Refresh, "select" for each IShellView::SelectItem,
    // in call order.
    virtual const std::vector<std::string>& Events() const = 0;
    virtual UINT LastSelectFlags() const = 0;
    // Calls that came after a hung SelectItem, or a cancelled or late
    // GetWindow, returned: to the view, its folder or its enumerator (AddRef
    // and Release included), and Release on the window or its shell browser.
    virtual int CallsAfterHang() const = 0;
};

class FakeShell {
public:
    // Registers the class object; the thread must have entered an STA.
    FakeShell();
    // Revokes the registration and destroys every fake object.
    ~FakeShell();
    FakeShell(const FakeShell&) = delete;
    FakeShell& operator=(const FakeShell&) = delete;

    // Appends a window. location is what get_LocationURL returns; handle
    // what GetWindow returns. The window is listed by collections created
    // from the listedFrom-th creation on (1: from the first), which lets a
    // window appear only after an open request.
    FakeWindow& AddWindow(std::wstring location, HWND handle = nullptr,
                          WindowFault fault = WindowFault::None, int listedFrom = 1);
    // Appends one tab of a tabbed frame, the way Windows 11 lists them: its
    // window interface answers the frame's handle, its top-level shell
    // browser answers tab, and get_LocationName answers name, the tab's
    // caption. The shell browser of a window added with AddWindow answers
    // the window's own handle, as Explorer's without tabs does.
    FakeWindow& AddTab(std::wstring location, HWND frame, HWND tab, std::wstring name);
    // Appends a window whose window interface is the IOleWindow marshalled
    // in stream (taken), so that GetWindow is a real call into another
    // apartment: for an UnansweringWindow.
    FakeWindow& AddWindowAnsweringThrough(std::wstring location, IStream* stream);

    // From now on, creating the collection fails with hr (S_OK: succeeds).
    void FailCreation(HRESULT hr);
    // From now on, get_Count fails with hr (S_OK: succeeds).
    void FailCount(HRESULT hr);
    // From now on, every get_LocationURL sets event first (null: none).
    void SetEventOnLocation(HANDLE event);

    // Calls of the class object's CreateInstance, failed ones included.
    int Creations() const;
    // Every index passed to Item, over all collections, in call order.
    const std::vector<LONG>& ItemRequests() const;
    // The folder of the ID list given to each FindWindowSW call (each
    // answers E_NOTIMPL); empty for an argument that names no folder.
    const std::vector<std::wstring>& FindWindowPaths() const;
    // Item calls whose index variant was not VT_I4.
    int BadIndexVariants() const;

    // References the code under test still holds on fake objects.
    long OutstandingReferences() const;
    // Release calls that found no reference of the code's to release.
    int OverReleases() const;
    // Location strings and item IDs handed out and not yet freed.
    int OutstandingMemory() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};

// How a frame's tab strip answers a select request.
enum class StripSelect {
    Switches,    // as Explorer's: the frame switches to the tab
    Ignores,     // nothing changes
    RaisesOnly,  // the tab's window comes first and shows; the strip keeps its selection
    MarksOnly,   // the strip marks the item selected; the frame keeps showing its tab
};

// A tabbed frame modelled on Windows 11's Explorer: a real top-level window
// with one real ShellTabWindowClass child per tab, and a tab strip whose
// selection is the frame's own state. Only the strip changes it (through
// FakeTabStrip, in place of UI Automation): when it selects a tab, the
// frame puts that tab's window first among its tab children and shows it,
// and hides the others, as Explorer does. Moving a tab window in z-order
// selects nothing. Tab 0 starts selected. The strip answers each request
// after answerMs (a busy Explorer); a request whose deadline comes first
// fails at its deadline, unanswered, as with UI Automation's time-outs.
class TestTabbedFrame {
public:
    TestTabbedFrame(const wchar_t* title, std::vector<std::wstring> tabNames, int showCommand,
                    StripSelect strip = StripSelect::Switches, DWORD answerMs = 0);
    ~TestTabbedFrame();
    TestTabbedFrame(const TestTabbedFrame&) = delete;
    TestTabbedFrame& operator=(const TestTabbedFrame&) = delete;
    HWND Handle() const { return frame_; }
    HWND Tab(int index) const { return tabs_[index]; }
    // The tab the strip shows selected.
    int SelectedTab() const { return selected_; }
    // The tab the frame shows: its first tab child in z-order, if visible.
    HWND ShownTab() const;

    struct Strip;

private:
    void Show(int index);

    HWND frame_;
    std::vector<HWND> tabs_;
    std::vector<std::wstring> names_;
    StripSelect strip_;
    DWORD answerMs_;
    int selected_ = 0;
};

// For one scope, the tab strip calls of the activation reach the strips of
// the TestTabbedFrames alive instead of UI Automation (which Wine 8 does not
// serve).
class FakeTabStrip {
public:
    FakeTabStrip();
    // Select requests made, obeyed or not.
    int SelectCalls() const;

private:
    ScopedCalls<TabStripCalls> calls_;
};

// One read of a strip as UI Automation hands it out: tab items with their
// name and selected state cached. A null name is an item whose cached
// properties cannot be read (it left the tree meanwhile); the item at
// unavailable is one the array fails to hand out (GetElement fails).
Microsoft::WRL::ComPtr<uia::IUIAutomationElementArray> FakeTabItems(std::vector<const wchar_t*> names,
                                                                     int selected, int unavailable = -1);

// One fake shell window served from a thread of its own, in a
// single-threaded apartment: from any other apartment its IOleWindow is
// reached through a real proxy, and GetWindow does not answer until
// Answer() (or the destructor, or 30 s), the way a hung Explorer window
// does not.
// After Cancel() the thread stays hung for a few seconds more, as a hung
// window's does: a call into it meanwhile, a Release included, waits.
class UnansweringWindow {
public:
    UnansweringWindow();
    ~UnansweringWindow();
    UnansweringWindow(const UnansweringWindow&) = delete;
    UnansweringWindow& operator=(const UnansweringWindow&) = delete;
    // The IOleWindow marshalled into a stream, for one
    // CoGetInterfaceAndReleaseStream in the calling apartment. Once only.
    IStream* TakeMarshalled();
    // True once a GetWindow call has reached the object.
    bool WaitUntilCalled(DWORD timeoutMs);
    // GetWindow returns E_FAIL.
    void Answer();
    // GetWindow returns RPC_E_CALL_CANCELED, as a call cancelled with
    // CoCancelCall does.
    void Cancel();

    struct State;

private:
    std::unique_ptr<State> state_;
};
