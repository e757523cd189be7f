// Finding and activating the shell window that shows a folder, or opening
// the folder: the real code under Wine, with the shell's window collection
// served by FakeShell (Wine's own never lists a window), real top-level
// windows for the handles, real folders, and Wine's own file browser for
// the open requests. Class objects are registered per apartment: the code
// under test runs on the apartment that the FakeShell registered in.

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <list>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/win_raii.h"
#include "explorer/activate.h"
#include "explorer/call_deadline.h"
#include "explorer/folder_identity.h"
#include "explorer/foreground.h"
#include "explorer/tab_strip.h"
#include "explorer/window_folder_path.h"
#include "fake_desktop.h"
#include "fake_shell.h"
#include "test_support.h"

using namespace std::chrono_literals;

namespace {

// A window as the fake shell lists it: its location and the step that fails.
struct ListedWindow {
    const wchar_t* location;
    WindowFault fault;
};

testing::Message Describe(const ListedWindow& listed) {
    return testing::Message() << "location " << listed.location << ", fault " << static_cast<int>(listed.fault);
}

void ExpectBalanced(const FakeShell& shell) {
    EXPECT_EQ(shell.OutstandingReferences(), 0) << "references left unreleased";
    EXPECT_EQ(shell.OverReleases(), 0) << "references released twice";
    EXPECT_EQ(shell.OutstandingMemory(), 0) << "location strings or item IDs not freed";
    EXPECT_EQ(shell.BadIndexVariants(), 0) << "index variant not VT_I4";
}

std::vector<HWND> TopLevelWindows(const std::function<bool(HWND)>& keep) {
    struct Search {
        const std::function<bool(HWND)>* keep;
        std::vector<HWND> found;
    } search{&keep, {}};
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            auto* s = reinterpret_cast<Search*>(context);
            if ((*s->keep)(window)) s->found.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<HWND> VisibleWindows() {
    return TopLevelWindows([](HWND window) { return IsWindowVisible(window) != FALSE; });
}

// Wine's file browser shows an opened folder in a window of this class,
// titled with the folder's last name. Without a title: every such window.
std::vector<HWND> FileBrowserWindows(const std::wstring& title = {}) {
    return TopLevelWindows([&](HWND window) {
        wchar_t className[64] = {};
        wchar_t text[MAX_PATH] = {};
        GetClassNameW(window, className, 64);
        GetWindowTextW(window, text, MAX_PATH);
        return std::wstring(className) == L"ExplorerWClass" && (title.empty() || text == title);
    });
}

// Closes, however the test ends (a failed assertion included), every file
// browser window that appeared during it, titled yet or not: a browser left
// open outlives the test process. WM_CLOSE, since only a real close removes
// the window from the shell's registry.
class FileBrowsersClosedAtEnd {
public:
    FileBrowsersClosedAtEnd() : before_(FileBrowserWindows()) {}
    ~FileBrowsersClosedAtEnd() {
        const auto opened = [this] {
            std::vector<HWND> found;
            for (HWND window : FileBrowserWindows()) {
                if (std::find(before_.begin(), before_.end(), window) == before_.end()) found.push_back(window);
            }
            return found;
        };
        for (HWND window : opened()) PostMessageW(window, WM_CLOSE, 0, 0);
        WaitUntil([&] { return opened().empty(); }, 5s);
    }
    FileBrowsersClosedAtEnd(const FileBrowsersClosedAtEnd&) = delete;
    FileBrowsersClosedAtEnd& operator=(const FileBrowsersClosedAtEnd&) = delete;

private:
    std::vector<HWND> before_;
};

// Waits for the file browser that one open request starts, checks that it
// is the only one for the folder, and closes it.
void ExpectOneFileBrowserAndClose(const std::wstring& title) {
    ASSERT_TRUE(WaitUntil([&] { return !FileBrowserWindows(title).empty(); }, 10s))
        << "no file browser window for the folder";
    // A second request would show a second window about as fast.
    Sleep(700);
    const std::vector<HWND> windows = FileBrowserWindows(title);
    EXPECT_EQ(windows.size(), 1u) << "more than one open request";
    for (HWND window : windows) PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return FileBrowserWindows(title).empty(); }, 5s));
}

// ---------------------------------------------------------------------------
// The fake's own counters: without these, the balance checks below could
// pass for a fake that counted nothing.

TEST(FakeShellCounters, SeeLeakedAndOverReleasedReferencesAndStrings) {
    ComApartment apartment;
    FakeShell shell;
    FakeWindow& window = shell.AddWindow(L"file:///C:/Data");
    IWebBrowser2* browser = window.Browser();

    BSTR location = nullptr;
    ASSERT_EQ(browser->get_LocationURL(&location), S_OK);
    EXPECT_EQ(shell.OutstandingMemory(), 1);
    SysFreeString(location);
    EXPECT_EQ(shell.OutstandingMemory(), 0);

    browser->AddRef();
    EXPECT_EQ(shell.OutstandingReferences(), 1);
    browser->Release();
    EXPECT_EQ(shell.OutstandingReferences(), 0);
    browser->Release();
    EXPECT_EQ(shell.OverReleases(), 1);
}

// ---------------------------------------------------------------------------
// GetWindowFolderPath

TEST(GetWindowFolderPath, NullBrowserGivesNoPath) {
    std::wstring path;
    EXPECT_FALSE(GetWindowFolderPath(nullptr, path));
    EXPECT_TRUE(path.empty());
}

// A file location converts to the whole local path; any other location,
// or one that cannot be read, leaves the path alone.
TEST(GetWindowFolderPath, OnlyFileLocationsGiveAWholeLocalPath) {
    const struct {
        ListedWindow listed;
        const wchar_t* path;  // null: no folder
    } cases[] = {
        {{L"file:///C:/Users/Me/My%20Docs", WindowFault::None}, L"C:\\Users\\Me\\My Docs"},
        {{L"file:///C:/Data", WindowFault::None}, L"C:\\Data"},
        {{L"file:///c:/a", WindowFault::None}, L"c:\\a"},
        {{L"file://server/share/x", WindowFault::None}, L"\\\\server\\share\\x"},
        {{L"file:///C:/Data", WindowFault::LocationFails}, nullptr},
        {{L"file:///C:/Data", WindowFault::NullLocation}, nullptr},
        {{L"", WindowFault::None}, nullptr},
        {{L"file:/", WindowFault::None}, nullptr},
        {{L"FILE:///C:/Data", WindowFault::None}, nullptr},
        {{L"File:///C:/Data", WindowFault::None}, nullptr},
        {{L"https://example.com/C:/Data", WindowFault::None}, nullptr},
        {{L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}", WindowFault::None}, nullptr},
    };
    ComApartment apartment;
    for (const auto& c : cases) {
        SCOPED_TRACE(Describe(c.listed));
        FakeShell shell;
        FakeWindow& window = shell.AddWindow(c.listed.location, nullptr, c.listed.fault);
        std::wstring path = L"untouched";
        EXPECT_EQ(GetWindowFolderPath(window.Browser(), path), c.path != nullptr);
        EXPECT_EQ(path, c.path ? c.path : L"untouched");
        EXPECT_EQ(window.LocationCalls(), 1);
        ExpectBalanced(shell);
    }
}

// The bare prefix passes the prefix test and goes to the conversion. Wine
// turns it into \\ (an empty server name); whatever the platform makes
// of it, it is only separators and so can never match a folder.
TEST(GetWindowFolderPath, BarePrefixNeverNamesAFolder) {
    ComApartment apartment;
    FakeShell shell;
    FakeWindow& window = shell.AddWindow(L"file://");
    std::wstring path;
    const bool converted = GetWindowFolderPath(window.Browser(), path);
    EXPECT_EQ(converted, !path.empty());
    EXPECT_TRUE(NormalizeFolderPath(path).empty()) << path;
    ExpectBalanced(shell);
}

// ---------------------------------------------------------------------------
// ActivateExistingWindow and ActivateOrOpenFolder with the fake collection

// One minimised window listed at the location, and the user's request for
// the stored path. A match is reloaded and restored once, with no second
// search; none of the paths that do not match exists, so nothing is opened
// either.
TEST(ActivateOrOpenFolder, MatchesDespiteCaseSlashesAndTrailingSeparatorsOnly) {
    const struct {
        const wchar_t* stored;
        const wchar_t* location;
        bool matches;
    } cases[] = {
        {L"C:\\Users\\Me\\Projects", L"file:///c:/users/me/projects", true},
        {L"c:/users/me/projects/", L"file:///C:/Users/Me/Projects", true},
        {L"C:\\Users\\Me\\Projects\\\\", L"file:///C:/Users/Me/Projects/", true},
        {L"C:\\", L"file:///C:/", true},
        {L"C:\\My Docs", L"file:///C:/My%20Docs", true},
        {L"\\\\Server\\Share\\Docs", L"file://server/share/docs", true},
        {L"C:\\LumivaneMissing\\Data", L"file:///C:/LumivaneMissing/Data2", false},
        {L"C:\\LumivaneMissing\\Data2", L"file:///C:/LumivaneMissing/Data", false},
        {L"C:\\\\LumivaneMissing\\Data", L"file:///C:/LumivaneMissing/Data", false},
        {L"C:\\LumivaneMissing\\\u00c4", L"file:///C:/LumivaneMissing/\u00e4", false},
    };
    ComApartment apartment;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "stored " << c.stored << ", location " << c.location);
        TestWindow shown(L"listed", SW_SHOWMINIMIZED);
        FakeShell shell;
        FakeWindow& window = shell.AddWindow(c.location, shown.Handle());
        ActivateOrOpenFolderForUser(c.stored);
        EXPECT_EQ(window.LocationCalls(), 1);
        EXPECT_EQ(window.RefreshCalls(), c.matches ? 1 : 0);
        EXPECT_EQ(window.GetWindowCalls(), c.matches ? 1 : 0);
        EXPECT_EQ(IsIconic(shown.Handle()) != FALSE, !c.matches);
        EXPECT_EQ(shell.Creations(), 1) << "searched again after a match";
        ExpectBalanced(shell);
    }
}

TEST(ActivateExistingWindow, OnlyTheFirstMatchingWindowIsActivated) {
    ComApartment apartment;
    TestWindow first(L"first", SW_SHOWMINIMIZED);
    TestWindow second(L"second", SW_SHOWMINIMIZED);
    FakeShell shell;
    FakeWindow& unrelated = shell.AddWindow(L"file:///C:/Other");
    FakeWindow& firstMatch = shell.AddWindow(L"file:///C:/Data", first.Handle());
    FakeWindow& secondMatch = shell.AddWindow(L"file:///C:/Data/", second.Handle());

    EXPECT_TRUE(ActivateExistingWindow(L"c:\\data"));

    EXPECT_EQ(unrelated.RefreshCalls(), 0);
    EXPECT_EQ(firstMatch.RefreshCalls(), 1);
    EXPECT_FALSE(IsIconic(first.Handle()));
    EXPECT_EQ(secondMatch.LocationCalls(), 0);
    EXPECT_EQ(secondMatch.RefreshCalls(), 0);
    EXPECT_TRUE(IsIconic(second.Handle()));
    EXPECT_EQ(shell.ItemRequests(), (std::vector<LONG>{0, 1}));
    EXPECT_TRUE(shell.FindWindowPaths().empty()) << "the shell asked where the collection can be walked";
    ExpectBalanced(shell);
}

// Two minimised windows listed for the same folder, the first as listed
// (its location and failing step), the second whole. A window that fails
// at one step is skipped and the search goes on. One without its handle
// cannot be told hung, nor told apart from the one the user types in: it
// is not reloaded either.
TEST(ActivateExistingWindow, AWindowThatFailsAtOneStepIsSkipped) {
    const struct {
        const wchar_t* location;
        WindowFault fault;
        const wchar_t* wholeLocation = L"file:///C:/Data";
    } cases[] = {
        {L"file:///C:/Data", WindowFault::ItemFails},
        {L"file:///C:/Data", WindowFault::ItemNull},
        {L"file:///C:/Data", WindowFault::NoBrowser},
        {L"file:///C:/Data", WindowFault::NullBrowser},
        {L"file:///C:/Data", WindowFault::LocationFails},
        {L"file:///C:/Data", WindowFault::NullLocation},
        {L"FILE:///C:/Data", WindowFault::None},
        {L"https://example.com/", WindowFault::None},
        {L"file://", WindowFault::None},
        {L"", WindowFault::None},
        {L"file:///C:/Data", WindowFault::NoOleWindow, L"file:///c:/data"},
        {L"file:///C:/Data", WindowFault::NullOleWindow, L"file:///c:/data"},
        {L"file:///C:/Data", WindowFault::GetWindowFails, L"file:///c:/data"},
        {L"file:///C:/Data", WindowFault::NullHandle, L"file:///c:/data"},
    };
    ComApartment apartment;
    for (const auto& c : cases) {
        SCOPED_TRACE(Describe({c.location, c.fault}));
        TestWindow first(L"first", SW_SHOWMINIMIZED);
        TestWindow second(L"second", SW_SHOWMINIMIZED);
        FakeShell shell;
        FakeWindow& faulty = shell.AddWindow(c.location, first.Handle(), c.fault);
        FakeWindow& whole = shell.AddWindow(c.wholeLocation, second.Handle());

        EXPECT_TRUE(ActivateExistingWindow(L"c:\\data"));
        EXPECT_EQ(faulty.RefreshCalls(), 0);
        EXPECT_TRUE(IsIconic(first.Handle()));
        EXPECT_EQ(whole.RefreshCalls(), 1);
        EXPECT_FALSE(IsIconic(second.Handle()));
        EXPECT_EQ(shell.ItemRequests(), (std::vector<LONG>{0, 1}));
        ExpectBalanced(shell);
    }
}

TEST(ActivateExistingWindow, LoneMatchWithoutHandleIsNeitherReloadedNorFound) {
    ComApartment apartment;
    TestWindow shown(L"lone", SW_SHOWMINIMIZED);
    FakeShell shell;
    FakeWindow& window = shell.AddWindow(L"file:///C:/Data", shown.Handle(), WindowFault::NullHandle);
    EXPECT_FALSE(ActivateExistingWindow(L"c:\\data"));
    EXPECT_EQ(window.RefreshCalls(), 0);
    EXPECT_TRUE(IsIconic(shown.Handle()));
    ExpectBalanced(shell);
}

TEST(ActivateExistingWindow, CollectionFailureEndsTheSearchAndCountFailureAsksTheShell) {
    ComApartment apartment;
    // A folder that exists, so that the shell can make an ID list of it.
    ScratchFolder folder(L"LumivaneUncounted");
    struct Case {
        bool creationFails;
        std::wstring path;
        std::vector<std::wstring> askedFor;  // the folders of the ID lists the shell was given
    } cases[] = {
        {true, folder.Path(), {}},
        {false, folder.Path(), {folder.Path()}},
        // The normal form of a drive root is "c:", which alone would name
        // the current folder of drive C.
        {false, L"C:\\", {L"C:\\"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.creationFails ? "creation fails, " : "count fails, ") << c.path);
        FakeShell shell;
        FakeWindow& window = shell.AddWindow(L"file:///" + c.path);
        c.creationFails ? shell.FailCreation(E_FAIL) : shell.FailCount(E_FAIL);
        EXPECT_FALSE(ActivateExistingWindow(NormalizeFolderPath(c.path)));
        EXPECT_EQ(shell.Creations(), 1);
        EXPECT_TRUE(shell.ItemRequests().empty());
        EXPECT_EQ(window.LocationCalls(), 0);
        // Only a collection that cannot be counted is asked to find the window.
        EXPECT_EQ(shell.FindWindowPaths(), c.askedFor);
        ExpectBalanced(shell);
    }
}

// A minimised window comes back at its size; a maximised one stays
// maximised (SW_RESTORE would give it its normal size).
TEST(ActivateOrOpenFolder, RestoresAMinimisedWindowAndForegroundsEveryShowState) {
    const int showStates[] = {SW_SHOWMINIMIZED, SW_SHOWMAXIMIZED, SW_SHOWNORMAL};
    ComApartment apartment;
    for (int showState : showStates) {
        SCOPED_TRACE(testing::Message() << "shown with " << showState);
        TestWindow shown(L"target", showState);
        TestWindow elsewhere(L"elsewhere", SW_SHOWNORMAL);
        SetForegroundWindow(elsewhere.Handle());
        ASSERT_EQ(GetForegroundWindow(), elsewhere.Handle());
        FakeShell shell;
        shell.AddWindow(L"file:///C:/Data", shown.Handle());

        ActivateOrOpenFolderForUser(L"C:\\Data");

        EXPECT_TRUE(IsWindowVisible(shown.Handle()));
        EXPECT_FALSE(IsIconic(shown.Handle()));
        EXPECT_EQ(IsZoomed(shown.Handle()) != FALSE, showState == SW_SHOWMAXIMIZED);
        EXPECT_EQ(GetForegroundWindow(), shown.Handle());
        ExpectBalanced(shell);
    }
}

TEST(ActivateOrOpenFolder, EmptyOrSeparatorOnlyPathDoesNothing) {
    const wchar_t* paths[] = {L"", L"\\", L"/", L"//\\"};
    ComApartment apartment;
    for (const wchar_t* path : paths) {
        SCOPED_TRACE(testing::Message() << "path '" << path << "'");
        FakeShell shell;
        shell.AddWindow(L"file:///C:/");
        ActivateOrOpenFolderForUser(path);
        ActivateOrOpenFolder(path, nullptr);
        EXPECT_EQ(shell.Creations(), 0);
        ExpectBalanced(shell);
    }
}

// A hand-edited settings file could name a program, a document or a URL;
// "open" would launch it. Only existing folders are opened.
TEST(ActivateOrOpenFolder, WhatIsNotAnExistingFolderIsNeverOpened) {
    ComApartment apartment;
    ScratchFolder folder(L"LumivaneNotFolders");
    std::vector<std::wstring> paths = {
        folder.MakeFile(L"notes.txt"),
        folder.Path() + L"\\missing\\nowhere",
        L"C:\\windows\\system32\\notepad.exe",
        L"https://example.invalid/",
    };
    const std::vector<HWND> before = VisibleWindows();
    for (const std::wstring& path : paths) {
        SCOPED_TRACE(testing::Message() << "path " << path);
        FakeShell shell;
        shell.AddWindow(L"file:///C:/Other");
        ActivateOrOpenFolderForUser(path);
        EXPECT_EQ(shell.Creations(), 1) << "polled after an open request";
        ExpectBalanced(shell);
    }
    // An open request would have shown a file browser, an editor or
    // something else by now.
    Sleep(1500);
    std::vector<HWND> appeared;
    for (HWND window : VisibleWindows()) {
        if (std::find(before.begin(), before.end(), window) == before.end()) appeared.push_back(window);
    }
    EXPECT_TRUE(appeared.empty()) << appeared.size() << " new windows";
    for (HWND window : appeared) PostMessageW(window, WM_CLOSE, 0, 0);
}

TEST(ActivateOrOpenFolder, NoCollectionMeansOneOpenRequestAndTenSearches) {
    ComApartment apartment;
    for (bool creationFails : {true, false}) {
        SCOPED_TRACE(creationFails ? "creation fails" : "count fails");
        ScratchFolder folder(creationFails ? L"LumivaneNoCollection" : L"LumivaneNoCount");
        FakeShell shell;
        shell.AddWindow(folder.Url());
        creationFails ? shell.FailCreation(E_FAIL) : shell.FailCount(E_FAIL);

        ActivateOrOpenFolderForUser(folder.Path());

        EXPECT_EQ(shell.Creations(), 11);
        ExpectBalanced(shell);
        ExpectOneFileBrowserAndClose(folder.Name());
    }
}

TEST(ActivateOrOpenFolder, PollingStopsAtTheFirstSearchThatFindsTheNewWindow) {
    ComApartment apartment;
    ScratchFolder folder(L"LumivaneListedLater");
    TestWindow shown(L"opened", SW_SHOWMINIMIZED);
    FakeShell shell;
    // Listed from the fourth creation: the first search and two polls miss
    // it, the third poll finds it.
    FakeWindow& window = shell.AddWindow(folder.Url(), shown.Handle(), WindowFault::None, 4);

    const ULONGLONG start = GetTickCount64();
    ActivateOrOpenFolderForUser(folder.Path());
    const ULONGLONG elapsed = GetTickCount64() - start;

    EXPECT_EQ(shell.Creations(), 4);
    EXPECT_EQ(window.RefreshCalls(), 1);
    EXPECT_FALSE(IsIconic(shown.Handle()));
    ExpectBalanced(shell);
    ExpectOneFileBrowserAndClose(folder.Name());
    std::printf("found on the third poll after %llu ms\n", elapsed);
}

// A worker left behind by a stop sets nothing in motion once its stop event
// is set: no open request, no further search. An event that can no longer
// be waited on counts as set.
TEST(ActivateOrOpenFolder, StopEventEndsItBeforeTheOpenRequestAndBeforeEachPoll) {
    ComApartment apartment;
    struct Case {
        const char* name;
        DWORD stopAfterMs;  // INFINITE: set before the call
        bool unwaitable = false;  // the activation is given a handle no wait accepts
    } cases[] = {{"set before the call", INFINITE}, {"set during the polls", 350}, {"unwaitable", INFINITE, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder(L"LumivaneStopped");
        FakeShell shell;
        shell.AddWindow(L"file:///C:/Other");
        UniqueHandle stop(CreateEventW(nullptr, TRUE, c.stopAfterMs == INFINITE, nullptr));
        UniqueHandle timer(CreateWaitableTimerW(nullptr, TRUE, nullptr));
        // A thread of the pool sets the event at the timer's due time, as
        // StopWatching does from the main thread while the worker polls.
        HANDLE wait = nullptr;
        if (c.stopAfterMs != INFINITE) {
            LARGE_INTEGER due{};
            due.QuadPart = -static_cast<LONGLONG>(c.stopAfterMs) * 10000;
            SetWaitableTimer(timer.get(), &due, 0, nullptr, nullptr, FALSE);
            RegisterWaitForSingleObject(&wait, timer.get(), [](void* event, BOOLEAN) { SetEvent(event); },
                                        stop.get(), INFINITE, WT_EXECUTEONLYONCE);
        }

        // The user is away: only the stop holds the open request back.
        FakeDesktopInUse away({.grants = Grants::AtOnce});
        const ULONGLONG start = GetTickCount64();
        ActivateOrOpenFolder(folder.Path(), c.unwaitable ? reinterpret_cast<HANDLE>(0x9abc) : stop.get());
        const ULONGLONG elapsed = GetTickCount64() - start;
        if (wait) UnregisterWaitEx(wait, INVALID_HANDLE_VALUE);

        if (c.stopAfterMs == INFINITE) {
            EXPECT_EQ(shell.Creations(), 1) << "searched again after the stop";
            EXPECT_TRUE(shell.ItemRequests().empty()) << "a window examined after the stop";
            EXPECT_TRUE(desktop.calls.empty()) << "opened after the stop";
        } else {
            // Without the stop: the first search and ten polls, over a second.
            EXPECT_GE(shell.Creations(), 2);
            EXPECT_LT(shell.Creations(), 8) << "went on polling after the stop";
            EXPECT_LT(elapsed, 800u);
            EXPECT_EQ(desktop.calls, std::vector<std::string>{"open"});
        }
        ExpectBalanced(shell);
    }
}

// ---------------------------------------------------------------------------
// Wine's own collection, no fake: it is created but never lists a window,
// so every activation ends in an open request and ten searches.

TEST(ActivateOrOpenFolderUnderWine, OpensTheFolderAndLaterBringsTheSameWindowBack) {
    ComApartment apartment;
    ScratchFolder folder(L"LumivaneRealShell");
    ASSERT_TRUE(FileBrowserWindows(folder.Name()).empty());
    FileBrowsersClosedAtEnd closer;

    // How soon a poll finds the new window depends on how fast Wine's file
    // browser starts: the benchmarks measure that, this test only prints it.
    const ULONGLONG start = GetTickCount64();
    ActivateOrOpenFolderForUser(folder.Path());
    const ULONGLONG opened = GetTickCount64() - start;
    // Wine's file browser takes its title a little after it registers.
    ASSERT_TRUE(WaitUntil([&] { return FileBrowserWindows(folder.Name()).size() == 1; }, 3s));
    HWND browser = FileBrowserWindows(folder.Name())[0];
    // A window is activated by its own thread, after the request has
    // returned: SetForegroundWindow on another thread's window hands that
    // thread the foreground and asks it, by a message, to activate the
    // window; and the browser shows and activates a new window only after
    // taking its title. Until then the foreground thread has no active
    // window, and GetForegroundWindow answers null.
    const auto comesToFront = [&] {
        return WaitUntil([&] { return GetForegroundWindow() == browser; }, 3s, 10ms);
    };
    EXPECT_TRUE(comesToFront()) << "foreground " << GetForegroundWindow();

    // Minimised behind another window, the same window comes back in front.
    ShowWindow(browser, SW_MINIMIZE);
    TestWindow elsewhere(L"elsewhere", SW_SHOWNORMAL);
    SetForegroundWindow(elsewhere.Handle());
    ASSERT_TRUE(WaitUntil([&] { return IsIconic(browser) != FALSE; }, 3s));
    // On a busy machine the browser may take its title before the shell
    // lists it; once listed, a search finds it.
    const ULONGLONG again = GetTickCount64();
    EXPECT_TRUE(WaitUntil([&] { return ActivateExistingWindow(NormalizeFolderPath(folder.Path())); }, 8s));
    const ULONGLONG found = GetTickCount64() - again;
    EXPECT_TRUE(WaitUntil([&] { return !IsIconic(browser); }, 3s)) << "still minimised";
    EXPECT_TRUE(comesToFront()) << "foreground " << GetForegroundWindow();
    std::printf("open request until found %llu ms, search of the open window %llu ms\n", opened, found);
    ExpectOneFileBrowserAndClose(folder.Name());
}

// ---------------------------------------------------------------------------
// What the user is doing, and the foreground routine, against a desktop
// that refuses the foreground the way Windows does: to a process that did
// not receive the last input event. Its clock moves only when a case moves
// it, a while after the last case's.

// Each row has the user away but for the one thing it names, so that only
// that check stands between it and taking the foreground.
TEST(FocusRuleForChange, TakesTheFocusOnlyFromAUserWhoIsAway) {
    struct Case { const char* name; FakeDesktop situation; FocusRule rule; };
    const Case cases[] = {
        {"no input for 11 s", {.userInputAt = -11000}, FocusRule::Take},
        {"input 9 s ago", {.userInputAt = -9000}, FocusRule::LeaveFocus},
        {"an injected tick a little ahead of the clock", {.userInputAt = 5}, FocusRule::LeaveFocus},
        {"a menu open", {.guiFlags = GUI_INMENUMODE}, FocusRule::LeaveFocus},
        {"a window being moved or sized", {.guiFlags = GUI_INMOVESIZE}, FocusRule::LeaveFocus},
        {"a drag: the mouse captured", {.capture = kOthers}, FocusRule::LeaveFocus},
        {"full screen", {.notifications = QUNS_BUSY}, FocusRule::ShowNothing},
        {"presentation", {.notifications = QUNS_PRESENTATION_MODE}, FocusRule::ShowNothing},
        {"quiet time", {.notifications = QUNS_QUIET_TIME}, FocusRule::ShowNothing},
        {"input desktop elsewhere: locked", {.inputElsewhere = true}, FocusRule::ShowNothing},
        {"the last input unknown", {.lastInputFails = true}, FocusRule::LeaveFocus},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDesktopInUse inUse(c.situation);
        EXPECT_EQ(FocusRuleForChange(), c.rule);
        EXPECT_TRUE(desktop.calls.empty()) << "reading the state did something";
    }
}

// How long a watcher holding a change back waits before it looks again.
TEST(HeldChangeWaitMs, ReachesTheMomentTheUserCountsAsAway) {
    struct Case { const char* name; FakeDesktop situation; DWORD waitMs; };
    const Case cases[] = {
        {"input 9 s ago", {.userInputAt = -9000}, 1000},
        {"input 9.9 s ago: no sooner than the minimum", {.userInputAt = -9900}, kHeldChangeMinimumWaitMs},
        {"an injected tick a little ahead of the clock", {.userInputAt = 5}, 10005},
        {"away, but a menu open", {.guiFlags = GUI_INMENUMODE}, kHeldChangeRecheckMs},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDesktopInUse inUse(c.situation);
        EXPECT_EQ(HeldChangeWaitMs(), c.waitMs);
    }
}

// The real desktop check: a thread moved to a desktop of its own is not
// where the input goes, as in a locked session.
TEST(FocusRuleForChange, RealDesktopCheckTellsAnotherDesktop) {
    EXPECT_FALSE(PlatformDesktopCalls().inputDesktopIsElsewhere()) << "Wine's own session read as locked";
    BOOL elsewhere = FALSE;
    std::thread([&] {
        HDESK other = CreateDesktopW(L"LumivaneOther", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
        ASSERT_NE(other, nullptr);
        ASSERT_TRUE(SetThreadDesktop(other));
        elsewhere = PlatformDesktopCalls().inputDesktopIsElsewhere();
        CloseDesktop(other);
    }).join();
    EXPECT_TRUE(elsewhere);
}

TEST(BringWindowForward, TakesTheFocusOnlyUnderItsRuleAndNeverPressesAKey) {
    using Calls = std::vector<std::string>;
    // Then: a second call 200 ms later; one after the user was back and
    // away again; or the rule 200 ms later, with a key of the user's at
    // keyAt (0: none).
    enum class Then { Done, AgainAt200, AgainAwayAgain, RuleLeaves };
    struct Case {
        const char* name; FocusRule rule; FakeDesktop situation; Calls calls; bool inFront;
        Then then = {}; LONG keyAt = 0; bool forChange = false;  // the rule read as for a change, and looked at again
    };
    const Calls refused = {"restore", "set", "input", "set", "flash"};
    auto twice = [](Calls a, const Calls& b) { return a.insert(a.end(), b.begin(), b.end()), a; };
    const FocusRule take = FocusRule::Take, leave = FocusRule::LeaveFocus, nothing = FocusRule::ShowNothing;
    const Case cases[] = {
        {"take: granted at once", take, {.grants = Grants::AtOnce, .minimised = kTarget}, {"restore", "set"}, true},
        {"take: a visible window, normal or maximised, is not restored", take, {.grants = Grants::AtOnce}, {"set"},
         true},
        {"take: granted after our input", take, {.minimised = kTarget}, {"restore", "set", "input", "set"}, true},
        {"take: never granted", take, {.grants = Grants::Never, .minimised = kTarget}, refused, false},
        {"take again, our input's tick 100 ms late", take,
         {.grants = Grants::Never, .minimised = kTarget, .ownInputLateMs = 100},
         twice(refused, {"restore", "set", "flash"}), false, Then::AgainAt200},
        {"take again, the user back and away again between", take, {.grants = Grants::Never, .minimised = kTarget},
         twice(refused, refused), false, Then::AgainAwayAgain},
        {"take for a change, the user back after the rule was read", take, {.grants = Grants::AtOnce, .userBackAtRead = 3},
         {"flash"}, false, Then::Done, 0, true},
        {"take for the user who is present: our input leaves them present", take, {.userInputAt = -1000},
         {"set", "input", "set"}, true, Then::RuleLeaves},
        {"take: a key of the user's 100 ms after our input is theirs", take, {}, {"set", "input", "set"}, true,
         Then::RuleLeaves, 100},
        {"take: stopped", take, {.stopped = true}, {}, false},
        {"take: stopped while asking", take, {.grants = Grants::Never, .minimised = kTarget, .stopAtRequest = 1},
         {"restore", "set"}, false},
        {"take: stopped while asking again", take, {.grants = Grants::Never, .minimised = kTarget, .stopAtRequest = 2},
         {"restore", "set", "input", "set"}, false},
        {"leave focus: a visible window", leave, {.grants = Grants::AtOnce}, {"flash"}, false},
        {"leave focus: a minimised window is not shown", leave, {.grants = Grants::AtOnce, .minimised = kTarget},
         {"flash"}, false},
        {"leave focus: the user's own window", leave, {.grants = Grants::AtOnce, .foreground = kTarget}, {}, true},
        {"leave focus: stopped", leave, {.minimised = kTarget, .stopped = true}, {}, false},
        {"show nothing: a minimised window, not even a flash", nothing,
         {.grants = Grants::AtOnce, .minimised = kTarget}, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDesktopInUse inUse(c.situation);
        HANDLE stopEvent = desktop.stopEvent;
        FocusState focus = c.forChange ? FocusForChange() : FocusState{c.rule};
        bool inFront = BringWindowForward(kTarget, focus, stopEvent);
        if (c.then != Then::Done) {
            desktop.now += c.then == Then::AgainAwayAgain ? 12000 : 200;
            if (c.then == Then::AgainAwayAgain) desktop.userInputAt = desktop.now - 11000;
            if (c.keyAt != 0) desktop.userInputAt = c.keyAt;
            // Our input alone is the last: a user who was away still is.
            if (c.then == Then::AgainAt200) {
                EXPECT_EQ(FocusRuleForChange(), FocusRule::Take);
            }
            if (c.then == Then::RuleLeaves) {
                EXPECT_EQ(FocusRuleForChange(), FocusRule::LeaveFocus);
            } else {
                FocusState again{c.rule};
                inFront = BringWindowForward(kTarget, again, stopEvent);
            }
        }
        EXPECT_EQ(inFront, c.inFront);
        EXPECT_EQ(desktop.calls, c.calls);
        EXPECT_EQ(desktop.badInputs, 0) << "an input other than an empty mouse move";
    }
}

// The search and the open request under each rule, with the folder's
// window the user's own (or the owner of the user's dialog), another
// window, a background tab or no window, and whether the change is held
// back to be shown later.
TEST(ActivateOrOpenFolder, NothingTakesTheFocusFromAUserAtWork) {
    using Calls = std::vector<std::string>;
    enum class Shows { Window, MaximisedWindow, UsersWindow, DialogOfWindow, TabInUsersFrame, TabInOtherFrame, Nothing };
    enum class Asked { ByAChange, ByTheUser, ByAChangeStoppedWhileLooking };
    enum class Held { No, Yes, Quietly };
    struct Case { const char* name; FakeDesktop situation; Shows shows; Asked asked; Calls calls; int reloads; int selects; Held held; };
    const FakeDesktop typing{.grants = Grants::AtOnce, .userInputAt = -100};
    const FakeDesktop presenting{.grants = Grants::AtOnce, .notifications = QUNS_PRESENTATION_MODE};
    const FakeDesktop away{.grants = Grants::AtOnce};
    const FakeDesktop back{.grants = Grants::AtOnce, .userBackAtRead = 3};  // after the rule's two reads
    const auto change = Asked::ByAChange;
    const Case cases[] = {
        {"typing, the user's window", typing, Shows::UsersWindow, change, {}, 0, 0, Held::No},
        {"typing, a dialog of the folder's window", typing, Shows::DialogOfWindow, change, {}, 0, 0, Held::No},
        {"typing, another window", typing, Shows::Window, change, {"flash"}, 1, 0, Held::Yes},
        {"typing, a tab in the user's frame", typing, Shows::TabInUsersFrame, change, {}, 0, 0, Held::Yes},
        {"typing, a tab in another frame", typing, Shows::TabInOtherFrame, change, {"flash"}, 0, 0, Held::Yes},
        {"typing, no window", typing, Shows::Nothing, change, {}, 0, 0, Held::Yes},
        {"presenting, another window", presenting, Shows::Window, change, {}, 1, 0, Held::Quietly},
        {"presenting, no window", presenting, Shows::Nothing, change, {}, 0, 0, Held::Quietly},
        {"away, the window in front", away, Shows::UsersWindow, change, {"restore", "set"}, 1, 0, Held::No},
        {"away, a maximised window", away, Shows::MaximisedWindow, change, {"set"}, 1, 0, Held::No},
        {"away, the user back before the restore", back, Shows::Window, change, {"flash"}, 1, 0, Held::Yes},
        {"away, no window", away, Shows::Nothing, change, {"open"}, 0, 0, Held::No},
        {"away, the user back before the open request", back, Shows::Nothing, change, {}, 0, 0, Held::Yes},
        {"away, a stop before the reload", away, Shows::Window, Asked::ByAChangeStoppedWhileLooking, {}, 0, 0, Held::No},
        {"away, a stop before the tab switch", away, Shows::TabInOtherFrame, Asked::ByAChangeStoppedWhileLooking, {}, 0,
         0, Held::No},
        {"a double-click while typing", typing, Shows::Window, Asked::ByTheUser, {"restore", "set"}, 1, 0, Held::No},
    };
    ComApartment apartment;
    ScratchFolder folder(L"LumivaneAtWork");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeTabStrip strip;
        TestWindow window(L"window", SW_SHOWMINIMIZED);
        TestTabbedFrame frame(L"frame", {L"Other", folder.Name()}, SW_SHOWMINIMIZED);
        // A dialog the folder's window owns (and destroys with itself), which the user is in.
        HWND dialog = CreateWindowExW(0, TestWindowClass(), L"dialog", WS_POPUP, 0, 0, 50, 50, window.Handle(), nullptr,
                                      GetModuleHandleW(nullptr), nullptr);
        FakeShell shell;
        UniqueHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        // The stop comes while the window is asked where it is, as from the
        // main thread while the worker searches.
        if (c.asked == Asked::ByAChangeStoppedWhileLooking) shell.SetEventOnLocation(stop.get());
        FakeWindow* shown = nullptr;
        if (c.shows <= Shows::DialogOfWindow) shown = &shell.AddWindow(folder.Url(), window.Handle());
        if (c.shows == Shows::TabInUsersFrame || c.shows == Shows::TabInOtherFrame) {
            shown = &shell.AddTab(folder.Url(), frame.Handle(), frame.Tab(1), folder.Name());
        }
        FakeDesktop situation = c.situation;
        situation.foreground = c.shows == Shows::UsersWindow       ? window.Handle()
                               : c.shows == Shows::DialogOfWindow  ? dialog
                               : c.shows == Shows::TabInUsersFrame ? frame.Handle()
                                                                   : kOthers;
        situation.minimised = c.shows == Shows::TabInOtherFrame   ? frame.Handle()
                              : c.shows == Shows::MaximisedWindow ? nullptr
                                                                  : window.Handle();
        FakeDesktopInUse inUse(situation);

        ActivationResult result;
        if (c.asked == Asked::ByTheUser) ActivateOrOpenFolderForUser(folder.Path());
        else result = ActivateOrOpenFolder(folder.Path(), stop.get());

        EXPECT_EQ(desktop.calls, c.calls);
        if (shown) {
            EXPECT_EQ(shown->RefreshCalls(), c.reloads);
        }
        EXPECT_EQ(strip.SelectCalls(), c.selects);
        EXPECT_EQ(result.heldBack, c.held != Held::No);
        EXPECT_EQ(result.quietly, c.held == Held::Quietly);
        const bool heldWithWindow = c.held != Held::No && c.shows == Shows::Window;
        EXPECT_EQ(result.window, heldWithWindow ? window.Handle() : nullptr) << "the window the change is held for";
        ExpectBalanced(shell);
    }
}

// The search brings what it finds forward through the same routine.
// A hung window, and one not shown yet (a new window that shows, and takes
// the foreground, only a moment after the shell lists it), count as none.
TEST(BringWindowForward, ServesTheSearchAndAHungOrHiddenMatchIsSkipped) {
    ComApartment apartment;
    TestWindow first(L"first", SW_SHOWNORMAL);
    for (const char* state : {"answering", "hung", "hidden"}) {
        SCOPED_TRACE(state);
        const bool usable = state == std::string("answering");
        ShowWindow(first.Handle(), state == std::string("hidden") ? SW_HIDE : SW_SHOWNORMAL);
        FakeShell shell;
        FakeWindow& listed = shell.AddWindow(L"file:///C:/Data", first.Handle());
        FakeDesktopInUse inUse({.grants = Grants::AtOnce, .hung = state == std::string("hung") ? first.Handle() : nullptr});
        EXPECT_EQ(ActivateExistingWindow(L"c:\\data"), usable);
        EXPECT_EQ(desktop.activating, usable ? first.Handle() : nullptr);
        EXPECT_EQ(listed.RefreshCalls(), usable ? 1 : 0) << "an unusable window is asked nothing more";
        ExpectBalanced(shell);
    }
}

// ---------------------------------------------------------------------------
// Tabs: every tab listed on its own, all sharing their frame's handle.

TEST(ActivateExistingWindowWithTabs, ActiveTabWinsOverAnEarlierBackgroundTab) {
    ComApartment apartment;
    FakeTabStrip strip;
    TestTabbedFrame behind(L"behind", {L"Other", L"Data"}, SW_SHOWMINIMIZED);  // tab 0 selected
    TestTabbedFrame front(L"front", {L"Data", L"Other"}, SW_SHOWMINIMIZED);
    FakeShell shell;
    shell.AddTab(L"file:///C:/Other", behind.Handle(), behind.Tab(0), L"Other");
    FakeWindow& background = shell.AddTab(L"file:///C:/Data", behind.Handle(), behind.Tab(1), L"Data");
    FakeWindow& active = shell.AddTab(L"file:///C:/Data", front.Handle(), front.Tab(0), L"Data");

    EXPECT_TRUE(ActivateExistingWindow(L"c:\\data"));

    EXPECT_EQ(active.RefreshCalls(), 1);
    EXPECT_EQ(background.RefreshCalls(), 0);
    EXPECT_EQ(strip.SelectCalls(), 0) << "a tab was selected for nothing";
    EXPECT_FALSE(IsIconic(front.Handle()));
    EXPECT_TRUE(IsIconic(behind.Handle()));
    EXPECT_EQ(behind.ShownTab(), behind.Tab(0));
    EXPECT_EQ(GetForegroundWindow(), front.Handle());
    ExpectBalanced(shell);
}

// Of background tabs showing the folder, the first listed in a frame that
// answers is selected and brought forward; a hung frame is never a match.
TEST(ActivateExistingWindowWithTabs, FirstBackgroundTabInAnAnsweringFrameIsTaken) {
    ComApartment apartment;
    for (bool firstHung : {false, true}) {
        SCOPED_TRACE(firstHung ? "first frame hung" : "both frames answer");
        FakeTabStrip strip;
        TestTabbedFrame first(L"first", {L"Other", L"Data"}, SW_SHOWMINIMIZED);
        TestTabbedFrame second(L"second", {L"Other", L"Data"}, SW_SHOWMINIMIZED);
        FakeShell shell;
        shell.AddTab(L"file:///C:/Data", first.Handle(), first.Tab(1), L"Data");
        shell.AddTab(L"file:///C:/Data", second.Handle(), second.Tab(1), L"Data");
        FakeDesktopInUse inUse({.grants = Grants::AtOnce, .hung = firstHung ? first.Handle() : nullptr});

        EXPECT_TRUE(ActivateExistingWindow(L"c:\\data"));

        EXPECT_EQ(first.SelectedTab(), firstHung ? 0 : 1);
        EXPECT_EQ(second.SelectedTab(), firstHung ? 1 : 0);
        EXPECT_EQ(desktop.activating, firstHung ? second.Handle() : first.Handle());
        ExpectBalanced(shell);
    }
}

// The wanted folder is only in tab 3 of a frame that shows tab 0; tab 1 has
// the same caption but shows another folder. The tab counts as switched
// only when the frame shows its window and the strip marks it selected;
// otherwise the tab selected before is selected again. Reading, selecting
// and confirming share one budget of about a second.
TEST(ActivateExistingWindowWithTabs, BackgroundTabIsSelectedThroughTheStripAndReloadedOnlyWhenShown) {
    struct Case {
        const char* name;
        StripSelect strip;
        DWORD answerMs;
        const wchar_t* captions[2];  // of tabs 1 and 3 in the strip
        int selectCalls;
        int selected;   // the strip's selection at the end
        int shown;      // the tab the frame shows at the end
        bool reloaded;
        bool wantedFirstHidden = false;  // its window first in z-order, not shown (a frame mid-switch)
    } cases[] = {
        {"strip switches", StripSelect::Switches, 0, {L"Data", L"Data"}, 2, 3, 3, true},
        {"strip ignores select", StripSelect::Ignores, 0, {L"Data", L"Data"}, 3, 0, 0, false},
        {"tab window raised only", StripSelect::RaisesOnly, 0, {L"Data", L"Data"}, 3, 0, 0, false},
        {"item marked only", StripSelect::MarksOnly, 0, {L"Data", L"Data"}, 3, 0, 0, false},
        {"wanted tab captioned otherwise", StripSelect::Switches, 0, {L"Data", L"Data 2"}, 2, 0, 0, false},
        {"no item carries the caption", StripSelect::Switches, 0, {L"Docs", L"Data 2"}, 0, 0, 0, false},
        {"budget spent before the wanted tab", StripSelect::Switches, 450, {L"Data", L"Data"}, 2, 0, 0, false},
        {"strip too slow to switch within the budget", StripSelect::Switches, 600, {L"Data", L"Data"}, 2, 0, 0, false},
        {"wanted tab first but hidden", StripSelect::Switches, 0, {L"Data", L"Data"}, 2, 3, 3, true, true},
    };
    ComApartment apartment;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeTabStrip strip;
        TestTabbedFrame frame(L"frame", {L"Other", c.captions[0], L"Misc", c.captions[1]}, SW_SHOWMINIMIZED, c.strip,
                              c.answerMs);
        FakeShell shell;
        FakeWindow& shown = shell.AddTab(L"file:///C:/Other", frame.Handle(), frame.Tab(0), L"Other");
        shell.AddTab(L"file:///D:/Data", frame.Handle(), frame.Tab(1), L"Data");
        FakeWindow& wanted = shell.AddTab(L"file:///C:/Data", frame.Handle(), frame.Tab(3), L"Data");
        if (c.wantedFirstHidden) SetWindowPos(frame.Tab(3), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);

        EXPECT_TRUE(ActivateExistingWindow(L"c:\\data"));

        EXPECT_EQ(strip.SelectCalls(), c.selectCalls);
        EXPECT_EQ(frame.SelectedTab(), c.selected);
        EXPECT_EQ(frame.ShownTab(), frame.Tab(c.shown));
        EXPECT_EQ(wanted.RefreshCalls(), c.reloaded ? 1 : 0) << "only the tab that is shown is reloaded";
        EXPECT_EQ(shown.RefreshCalls(), 0);
        EXPECT_FALSE(IsIconic(frame.Handle())) << "the frame comes forward either way";
        EXPECT_EQ(GetForegroundWindow(), frame.Handle());
        ExpectBalanced(shell);
    }
}

// An item whose cached properties cannot be read (1), or that the read
// cannot hand out at all (2), keeps its place, so that the index selected
// is the strip's own.
TEST(TabItemsFromCache, AnUnreadableItemKeepsItsPlace) {
    std::vector<TabItem> tabs;
    TabItemsFromCache(FakeTabItems({L"Other", nullptr, L"Misc", L"Data"}, 3, 2).Get(), tabs);
    ASSERT_EQ(tabs.size(), 4u);
    for (int unreadable : {1, 2}) {
        EXPECT_EQ(tabs[unreadable].name, L"") << unreadable;
        EXPECT_FALSE(tabs[unreadable].selected) << unreadable;
    }
    EXPECT_EQ(tabs[3].name, L"Data");
    EXPECT_TRUE(tabs[3].selected);
}

// ---------------------------------------------------------------------------
// The deadline on calls into Explorer. Wine's CoCancelCall aborts the
// process, so a stand-in cancels: as CoCancelCall does, it makes the call
// outstanding on the given thread return RPC_E_CALL_CANCELED (the fake
// window answers so), and it is refused unless the thread allowed it, in
// nested pairs (the activations all run on the test's thread).

struct Cancellation {
    bool works = false;
    UnansweringWindow* window = nullptr;
    FakeWindow* hungView = nullptr;
    std::atomic<int> calls{0};
    std::atomic<DWORD> thread{0};
    std::atomic<int> allowed{0};  // the test thread's nesting
};
Cancellation cancellation;

bool FakeCancellationWorks() { return cancellation.works; }
HRESULT WINAPI FakeEnableCancellation(void*) { return ++cancellation.allowed, S_OK; }
HRESULT WINAPI FakeDisableCancellation(void*) { return --cancellation.allowed, S_OK; }
HRESULT WINAPI FakeCancelCall(DWORD thread, ULONG) {
    if (cancellation.allowed <= 0) return CO_E_CANCEL_DISABLED;
    ++cancellation.calls;
    cancellation.thread = thread;
    if (cancellation.window) cancellation.window->Cancel();
    if (cancellation.hungView) cancellation.hungView->CancelHungCall();
    return S_OK;
}

// The hung window's thread stays hung after the cancel, so releasing its
// proxy would wait for it too: nothing more may be called on it.
TEST(CallDeadline, AHungWindowIsCancelledAndTheSearchGoesOn) {
    struct Case {
        const char* name;
        bool hungWindowFirst;
        bool (*works)();
        int cancels;
        bool withinDeadline;  // found within the deadline and a half
        WindowFault lost = WindowFault::None;  // of an in-process window listed first
    } cases[] = {
        {"hung window, cancellation works", true, FakeCancellationWorks, 1, true},
        {"answering windows only", false, FakeCancellationWorks, 0, true},
        {"a window whose call is cancelled at once", false, FakeCancellationWorks, 0, true, WindowFault::CallCancelled},
        {"a window that answers after the deadline", false, FakeCancellationWorks, 1, true, WindowFault::AnswersLate},
        {"hung window under Wine", true, CallCancellationWorks, 0, false},
    };
    ComApartment apartment;
    // Each hung window's thread lives to the end: the reference abandoned
    // into it stays, and Wine names an apartment by its thread's id, which
    // a new thread could take over.
    std::list<UnansweringWindow> hungWindows;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.works == CallCancellationWorks && CallCancellationWorks()) GTEST_SKIP() << "not under Wine";
        TestWindow first(L"first", SW_SHOWMINIMIZED);
        TestWindow second(L"second", SW_SHOWMINIMIZED);
        UnansweringWindow& hung = hungWindows.emplace_back();
        FakeShell shell;
        if (c.hungWindowFirst) shell.AddWindowAnsweringThrough(L"file:///C:/Data", hung.TakeMarshalled());
        FakeWindow* lost =
            c.lost == WindowFault::None ? nullptr : &shell.AddWindow(L"file:///C:/Data", first.Handle(), c.lost);
        FakeWindow& answering = shell.AddWindow(L"file:///C:/Data", second.Handle());
        cancellation.calls = cancellation.allowed = 0;
        cancellation.works = true;
        cancellation.window = &hung;
        ScopedCalls cancel(CurrentCallCancelCalls(),
                           {c.works, FakeCancelCall, FakeEnableCancellation, FakeDisableCancellation});
        // Where nothing cancels, the hung window answers (E_FAIL) after the
        // deadline and a half.
        UniqueHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        std::thread late([&] {
            WaitForSingleObject(done.get(), kCallDeadlineMs * 3 / 2);
            hung.Answer();
        });

        const ULONGLONG start = GetTickCount64();
        EXPECT_TRUE(ActivateExistingWindow(L"c:\\data"));
        const ULONGLONG elapsed = GetTickCount64() - start;
        SetEvent(done.get());
        late.join();
        // A deadline left armed after its call would fire by now.
        if (c.works == FakeCancellationWorks) Sleep(kCallDeadlineMs + 500);

        EXPECT_EQ(cancellation.calls, c.cancels);
        if (c.cancels) {
            EXPECT_EQ(cancellation.thread, GetCurrentThreadId());
        }
        EXPECT_EQ(elapsed < kCallDeadlineMs * 5 / 4, c.withinDeadline) << elapsed << " ms";
        EXPECT_EQ(answering.RefreshCalls(), 1);
        EXPECT_FALSE(IsIconic(second.Handle()));
        EXPECT_EQ(lost ? lost->CallsAfterHang() : 0, 0) << "the lost window was released or called again";
        EXPECT_EQ(cancellation.allowed, 0) << "call cancellation still allowed after the activation";
        std::printf("%s: found after %llu ms\n", c.name, elapsed);
    }
}

// A deadline belongs to its own call: disarmed when the call returns, it
// cancels nothing the thread does afterwards, and the next call starts a
// full deadline of its own. The last row shows that the timer does fire.
TEST(CallDeadline, OnlyACallThatOutlastsItsOwnDeadlineIsCancelled) {
    struct Case {
        const char* name;
        DWORD pauseMs;  // after a short bounded call, outside any call
        DWORD callMs;   // the next bounded call
        int cancels;
    } cases[] = {
        {"short call, then other work past its deadline", kCallDeadlineMs + 500, 0, 0},
        {"short call, then one past the first's deadline", kCallDeadlineMs / 2, kCallDeadlineMs * 3 / 4, 0},
        {"a call past its own deadline", 0, kCallDeadlineMs + 500, 1},
    };
    ComApartment apartment;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cancellation.calls = 0;
        cancellation.works = true;
        cancellation.window = nullptr;
        ScopedCalls cancel(CurrentCallCancelCalls(),
                           {FakeCancellationWorks, FakeCancelCall, FakeEnableCancellation, FakeDisableCancellation});
        {
            CallDeadline deadline;
            deadline.Bounded([] { return S_OK; });
            Sleep(c.pauseMs);
            deadline.Bounded([&] {
                Sleep(c.callMs);
                return S_OK;
            });
            EXPECT_EQ(cancellation.calls, c.cancels);
        }
    }
}

// ---------------------------------------------------------------------------
// The changed item, selected in the window brought forward, against the
// fake view: a reloaded view lists the item only appearsMs after the reload
// (0: it lists it already). The user is away unless a row says otherwise.

TEST(ActivateOrOpenFolder, SelectsTheChangedItemOnlyWhereAndWhenItMay) {
    enum class Where { Window, UsersWindow, Renaming, NewWindow, Tab, TabNotSwitched, NoShellBrowser };
    enum class View { Refuses, AnswersOk, Hangs };
    struct Case {
        const char* name; FakeDesktop situation; Where where = Where::Window; const wchar_t* item = L"new.txt";
        bool inFolder = true; DWORD appearsMs = 0; DWORD viewFromMs = 0; View view = View::Refuses; bool byUser = false;
        DWORD stopAtMs = 0;  // INFINITE: the stop comes while the window is asked where it is
        int refreshes = 1;
        int minSelects = 1, maxSelects = 1; bool selected = true; DWORD minMs = 0, maxMs = 60000;
    };
    const FakeDesktop away{.grants = Grants::AtOnce};
    const FakeDesktop typing{.grants = Grants::AtOnce, .userInputAt = -100};
    // No selection: not one SelectItem, nothing selected.
    const auto none = [](Case c) { return c.minSelects = c.maxSelects = 0, c.selected = false, c; };
    const Case cases[] = {
        {.name = "away: selected after the reload", .situation = away},
        {.name = "listed 350 ms after the reload", .situation = away, .appearsMs = 350, .minSelects = 2,
         .maxSelects = 7},
        {.name = "never listed: given up after about a second", .situation = away, .appearsMs = INFINITE,
         .minSelects = 6, .maxSelects = 13, .selected = false, .minMs = 900, .maxMs = 1800},
        {.name = "a view that answers S_OK for what it does not list", .situation = away, .appearsMs = 350,
         .view = View::AnswersOk, .minSelects = 2, .maxSelects = 7},
        {.name = "that view, the item never listed", .situation = away, .appearsMs = INFINITE,
         .view = View::AnswersOk, .minSelects = 6, .maxSelects = 13, .selected = false, .minMs = 900, .maxMs = 1800},
        none({.name = "typing: the user's own window", .situation = typing, .where = Where::UsersWindow,
              .refreshes = 0}),
        none({.name = "typing: another window", .situation = typing}),
        none({.name = "the user back before the selection",
              .situation = {.grants = Grants::AtOnce, .userBackAtRead = 4}}),
        none({.name = "a menu open in the window",
              .situation = {.grants = Grants::AtOnce, .windowGuiFlags = GUI_INMENUMODE}}),
        none({.name = "the window being moved",
              .situation = {.grants = Grants::AtOnce, .windowGuiFlags = GUI_INMOVESIZE}}),
        none({.name = "a rename in the window", .situation = away, .where = Where::Renaming}),
        none({.name = "a name with a separator", .situation = away, .item = L"sub\\new.txt"}),
        {.name = "the item no longer in the folder", .situation = away, .inFolder = false, .minSelects = 0,
         .maxSelects = 0, .selected = false, .minMs = 900, .maxMs = 1800},
        none({.name = "a stop while the window is looked at", .situation = away, .stopAtMs = INFINITE,
              .refreshes = 0}),
        {.name = "a stop during the tries", .situation = away, .appearsMs = INFINITE, .stopAtMs = 300,
         .minSelects = 1, .maxSelects = 6, .selected = false, .maxMs = 700},
        {.name = "a double-click while typing", .situation = typing, .byUser = true},
        {.name = "a new window opened for the change", .situation = away, .where = Where::NewWindow},
        {.name = "a new window whose view comes 250 ms after the reload", .situation = away,
         .where = Where::NewWindow, .viewFromMs = 250},
        {.name = "a background tab switched to", .situation = away, .where = Where::Tab},
        none({.name = "a background tab its strip does not switch", .situation = away,
              .where = Where::TabNotSwitched, .refreshes = 0}),
        none({.name = "a window without a shell browser", .situation = away, .where = Where::NoShellBrowser}),
        {.name = "a hung view, given up at the deadline", .situation = away, .view = View::Hangs, .selected = false,
         .maxMs = kCallDeadlineMs * 5 / 4},
    };
    ComApartment apartment;
    ScratchFolder folder(L"LumivaneSelect");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeTabStrip strip;
        TestWindow window(L"window", SW_SHOWNORMAL);
        std::optional<TestTabbedFrame> frame;
        FakeShell shell;
        FakeWindow* shown = nullptr;
        if (c.where == Where::Tab || c.where == Where::TabNotSwitched) {
            frame.emplace(L"frame", std::vector<std::wstring>{L"Other", folder.Name()}, SW_SHOWNORMAL,
                          c.where == Where::Tab ? StripSelect::Switches : StripSelect::Ignores);
            shown = &shell.AddTab(folder.Url(), frame->Handle(), frame->Tab(1), folder.Name());
        } else {
            shown = &shell.AddWindow(folder.Url(), window.Handle(),
                                     c.where == Where::NoShellBrowser ? WindowFault::NoShellBrowser : WindowFault::None,
                                     c.where == Where::NewWindow ? 2 : 1);
        }
        if (!c.inFolder) shown->ListItems({L"old.txt"});
        else if (c.appearsMs == 0) shown->ListItems({L"old.txt", c.item});
        else shown->ListItems({L"old.txt"}, c.item, c.appearsMs, c.view == View::AnswersOk);
        shown->ViewFrom(c.viewFromMs);
        FakeDesktop situation = c.situation;
        if (c.where == Where::UsersWindow) situation.foreground = window.Handle();
        if (c.where == Where::Renaming) {
            situation.windowFocus = CreateWindowExW(0, L"EDIT", nullptr, WS_CHILD | WS_VISIBLE, 0, 0, 80, 20,
                                                    window.Handle(), nullptr, GetModuleHandleW(nullptr), nullptr);
        }
        FakeDesktopInUse inUse(situation);
        ScopedCalls cancel(CurrentCallCancelCalls());
        if (c.view == View::Hangs) {
            shown->HangOnSelect(kCallDeadlineMs * 3);
            cancellation.works = true;
            cancellation.window = nullptr;
            cancellation.hungView = shown;
            CurrentCallCancelCalls() =
                CallCancelCalls{FakeCancellationWorks, FakeCancelCall, FakeEnableCancellation, FakeDisableCancellation};
        }
        UniqueHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (c.stopAtMs == INFINITE) shell.SetEventOnLocation(stop.get());
        std::thread stopper([&] { if (c.stopAtMs && c.stopAtMs != INFINITE) Sleep(c.stopAtMs), SetEvent(stop.get()); });

        const ULONGLONG start = GetTickCount64();
        if (c.byUser) ActivateOrOpenFolderForUser(folder.Path(), c.item);
        else ActivateOrOpenFolder(folder.Path(), stop.get(), c.item);
        const ULONGLONG elapsed = GetTickCount64() - start;
        stopper.join();
        cancellation.hungView = nullptr;

        const std::vector<std::string>& events = shown->Events();
        EXPECT_EQ(std::count(events.begin(), events.end(), "refresh"), c.refreshes);
        const auto selects = std::count(events.begin(), events.end(), "select");
        EXPECT_GE(selects, c.minSelects);
        EXPECT_LE(selects, c.maxSelects);
        if (selects) {
            EXPECT_EQ(events.front(), "refresh") << "selected before the reload";
        }
        EXPECT_EQ(shown->Selection(), std::vector<std::wstring>{c.selected ? c.item : L"old.txt"});
        if (c.selected) {
            EXPECT_EQ(shown->LastSelectFlags(), static_cast<UINT>(SVSI_SELECT | SVSI_DESELECTOTHERS | SVSI_ENSUREVISIBLE |
                                                                   SVSI_FOCUSED | SVSI_NOTAKEFOCUS));
        }
        EXPECT_GE(elapsed, c.minMs);
        EXPECT_LE(elapsed, c.maxMs);
        if (c.view == View::Hangs) {
            EXPECT_EQ(shown->CallsAfterHang(), 0) << "the hung view was called again, or released";
            EXPECT_GT(shell.OutstandingReferences(), 0) << "the hung view's references were not abandoned";
        } else {
            ExpectBalanced(shell);
        }
        std::printf("%s: %llu ms, %d tries\n", c.name, elapsed, static_cast<int>(selects));
    }
}

}  // namespace
