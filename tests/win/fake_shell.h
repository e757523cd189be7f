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
// Every fake object counts its references: after a call under test,
// OutstandingReferences() and OverReleases() are 0 when every reference the
// code obtained was released exactly once, and OutstandingLocations() is 0
// when every location string handed out was freed.
//
//     FakeShell shell;                                  // on an STA thread
//     FakeWindow& w = shell.AddWindow(L"file:///C:/Data", handle);
//     ActivateOrOpenFolder(L"C:\\Data");
//     EXPECT_EQ(w.RefreshCalls(), 1);
//     EXPECT_EQ(shell.OutstandingReferences(), 0);

#include <windows.h>
#include <exdisp.h>

#include <memory>
#include <string>
#include <vector>

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
    // window interface answers the frame's handle, and its top-level shell
    // browser (IServiceProvider, SID_STopLevelBrowser, IShellBrowser)
    // answers tab. Windows added with AddWindow have no shell browser.
    FakeWindow& AddTab(std::wstring location, HWND frame, HWND tab);

    // From now on, creating the collection fails with hr (S_OK: succeeds).
    void FailCreation(HRESULT hr);
    // From now on, get_Count fails with hr (S_OK: succeeds).
    void FailCount(HRESULT hr);

    // Calls of the class object's CreateInstance, failed ones included.
    int Creations() const;
    // Every index passed to Item, over all collections, in call order.
    const std::vector<LONG>& ItemRequests() const;
    // FindWindowSW calls (each answers E_NOTIMPL).
    int FindWindowCalls() const;
    // Item calls whose index variant was not VT_I4.
    int BadIndexVariants() const;

    // References the code under test still holds on fake objects.
    long OutstandingReferences() const;
    // Release calls that found no reference of the code's to release.
    int OverReleases() const;
    // Location strings handed out and not yet freed with SysFreeString.
    int OutstandingLocations() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};

// A tabbed frame modelled on Windows 11's Explorer: a real top-level window
// with one real ShellTabWindowClass child per tab. The frame shows the tab
// that is first among its children in z-order; raising another tab to the
// top shows that one and hides the rest. A stubborn frame refuses every
// change of its tabs' order, so its first tab stays in front.
class TestTabbedFrame {
public:
    TestTabbedFrame(const wchar_t* title, int tabs, int showCommand, bool stubborn = false);
    ~TestTabbedFrame();
    TestTabbedFrame(const TestTabbedFrame&) = delete;
    TestTabbedFrame& operator=(const TestTabbedFrame&) = delete;
    HWND Handle() const { return frame_; }
    HWND Tab(int index) const { return tabs_[index]; }
    // The first tab child in z-order, as Explorer's own frame defines it.
    HWND ActiveTab() const;

private:
    HWND frame_;
    std::vector<HWND> tabs_;
};

// One fake shell window served from a thread of its own, in a
// multithreaded apartment: from any other apartment its IOleWindow is
// reached through a real proxy, and GetWindow does not answer until
// Answer() (or the destructor), the way a hung Explorer window does not.
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
    void Answer();

    struct State;

private:
    std::unique_ptr<State> state_;
};
