// The change watcher against real folders, real files and the platform's
// real change notifications. Activations are observed through the recording
// stand-in for ActivateOrOpenFolder (activation_recorder.cpp).
//
// Wine reports changes inside subfolders only for subfolders created after
// the watch was armed, so every deep change here happens in folders the test
// creates after StartWatching.

#include <gtest/gtest.h>

#include <windows.h>
#include <dbt.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "activation_recorder.h"
#include "base/win_raii.h"
#include "explorer/call_deadline.h"
#include "explorer/folder_access.h"
#include "fake_desktop.h"
#include "fake_shell.h"
#include "handle_count.h"
#include "scoped_local_app_data.h"
#include "state/app_state.h"
#include "test_support.h"
#include "watch/change_watcher.h"
#include "watch/watch_messages.h"

using namespace std::chrono_literals;

namespace {

constexpr auto kWake = 5s;  // far above the 10-20 ms a notification takes
constexpr DWORD kWakeMilliseconds = 5000;
constexpr auto kQuiet = 400ms;  // no further activation for this long: settled

bool IsIdle() {
    return AppState.stopEvent == nullptr && AppState.watcherThread == nullptr && AppState.watchEntries.empty();
}

long HandleCount() {
    long count = ProcessHandleCountBesidesOwnThread();
    EXPECT_GE(count, 0) << "the handle table cannot be read";
    return count;
}

// A notification is signalled when the platform has a change for it; waiting
// on it from here does not consume the change.
bool BecomesSignalled(HANDLE handle) {
    return WaitForSingleObject(handle, kWakeMilliseconds) == WAIT_OBJECT_0;
}

// What the worker waits on for entry: its read's event, or its notification.
HANDLE SignalOf(std::size_t entry) {
    const WatchEntry& watched = AppState.watchEntries[entry];
    return watched.read ? watched.read->done : static_cast<HANDLE>(watched.changeHandle);
}

bool WorkerEnds() {
    return WaitForSingleObject(AppState.watcherThread, kWakeMilliseconds) == WAIT_OBJECT_0;
}

bool WorkerRunning() { return WaitForSingleObject(AppState.watcherThread, 0) == WAIT_TIMEOUT; }

// Creating a folder is a single event for the platform, so one change gives
// exactly one wake-up.
void ChangeFolder(const std::wstring& folder, const wchar_t* name) {
    CreateDirectoryW((folder + L"\\" + name).c_str(), nullptr);
}

void Watch(std::vector<std::wstring> folders) {
    AppState.folders = std::move(folders);
    StartWatching();
}

// The first worker of a process also sets up what every later one shares
// (its apartment's machinery, the recorder's waits and holds): about ten handles that
// stay for the life of the process. One full round before any test makes
// the handle counts of the tests compare like with like.
void WarmUpOnce() {
    static bool done = false;
    if (done) return;
    done = true;
    ScratchFolder scratch;
    std::wstring folder = scratch.Make(L"warm-up");
    Watch({folder});
    recorder::HoldNextActivationOf(folder);
    ChangeFolder(folder, L"x");
    recorder::WaitUntilHeld(kWake);
    recorder::Release();
    StopWatching();
    AppState.folders.clear();
}

class ChangeWatcher : public testing::Test {
protected:
    void SetUp() override {
        WarmUpOnce();
        recorder::Reset();
        StopWatching();
        AppState.folders.clear();
    }
    void TearDown() override {
        recorder::Release();  // never leave the worker held, or the stop below would wait for ever
        StopWatching();
        AppState.folders.clear();
        recorder::Reset();
    }

    // Holds the worker inside the activation of folder, so that the test can
    // act while the worker is away from its wait.
    void HoldWorkerIn(const std::wstring& folder) {
        recorder::HoldNextActivationOf(folder);
        ChangeFolder(folder, L"held");
        ASSERT_TRUE(recorder::WaitUntilHeld(kWake));
    }

    // Watches folder alone and changes it, so that the worker's activation
    // calls into window, which does not answer; returns once it has.
    void PutWorkerInCallTo(const std::wstring& folder, UnansweringWindow& window) {
        recorder::CallIntoNextActivationOf(folder, window.TakeMarshalled());
        Watch({folder});
        ChangeFolder(folder, L"x");
        ASSERT_TRUE(window.WaitUntilCalled(kWakeMilliseconds)) << "the worker never reached the object";
    }

    // While the worker is held in entry's activation: makes renewing that
    // entry's watch fail, by handing the worker an event in its place (not
    // a directory, so the platform refuses to read its changes). Returns
    // the real handle, which the test closes itself.
    HANDLE SpoilRenewal(std::size_t entry) {
        HANDLE armed = AppState.watchEntries[entry].changeHandle;
        AppState.watchEntries[entry].changeHandle = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        return armed;
    }

    // Watches folders and, while the worker is held in the first one's
    // activation, takes that folder away for good: moved elsewhere, so that
    // arming it again fails, and with a renewal that fails. Then lets the
    // worker go on. armed receives the real notification, which the test
    // closes itself.
    void WatchAndLoseTheFirstFolder(const std::vector<std::wstring>& folders, HANDLE& armed) {
        Watch(folders);
        HoldWorkerIn(folders.front());
        ASSERT_TRUE(MoveFileW(folders.front().c_str(), root.Child(L"moved away").c_str()));
        armed = SpoilRenewal(0);
        recorder::Release();
    }

    ScratchFolder root;
};

TEST_F(ChangeWatcher, FileCreatedInWatchedFolderActivatesItWithThePathAsStored) {
    std::wstring folder = root.Make(L"Alpha");
    std::wstring stored = folder + L"\\";  // stored as given, trailing separator and all
    Watch({stored});
    ASSERT_EQ(AppState.watchEntries.size(), 1u);
    ASSERT_NE(AppState.watcherThread, nullptr);

    ASSERT_TRUE(WriteTextFile(folder + L"\\note.txt", "saved"));

    ASSERT_TRUE(recorder::WaitForCalls(1, kWake));
    RecordedActivation call = recorder::Calls()[0];
    EXPECT_EQ(call.path, stored);
    EXPECT_NE(call.threadId, GetCurrentThreadId());
    EXPECT_TRUE(call.apartment == APTTYPE_STA || call.apartment == APTTYPE_MAINSTA) << call.apartment;
}

// A file system that cannot name its changes: the folder is watched with a
// change notification instead.
BOOL WINAPI RefuseNames(HANDLE, LPVOID, DWORD, BOOL, DWORD, LPDWORD, LPOVERLAPPED, LPOVERLAPPED_COMPLETION_ROUTINE) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
}

// What the names of real changes come to: the item each activation is to
// select (the watched folder's child on the changed path, in its long
// name), and no activation at all for noise. Each change is made while
// watched; every activation it causes must name the item (a file's
// creation and its write may wake the worker once or twice).
TEST_F(ChangeWatcher, ChangesNameTheItemToSelectAndNoiseWakesNobody) {
    using Action = std::function<void(const std::wstring& folder)>;
    auto write = [](const wchar_t* name) {
        return [name](const std::wstring& folder) { ASSERT_TRUE(WriteTextFile(folder + L"\\" + name, "x")); };
    };
    auto settle = [] { ASSERT_TRUE(recorder::WaitForQuiet(kQuiet, kWake)); };
    struct Case {
        const char* name;
        Action prepare;  // before watching
        Action change;
        const wchar_t* item;  // what every activation names; "": none
        bool refuseNames = false;
        bool ownFolder = false;  // the program's own files are kept in Own
    } cases[] = {
        {"created", nullptr, write(L"scan.pdf"), L"scan.pdf"},
        {"rewritten", write(L"kept.txt"), write(L"kept.txt"), L"kept.txt"},
        {"renamed: the new name", write(L"old.txt"),
         [](const std::wstring& f) {
             ASSERT_TRUE(MoveFileW((f + L"\\old.txt").c_str(), (f + L"\\New name.txt").c_str()));
         },
         L"New name.txt"},
        {"deleted: nothing to select", write(L"doomed.txt"),
         [](const std::wstring& f) { ASSERT_TRUE(DeleteFileW((f + L"\\doomed.txt").c_str())); }, L""},
        {"two folders deep: the child", nullptr,
         [&](const std::wstring& f) {
             ASSERT_TRUE(CreateDirectoryW((f + L"\\Sub").c_str(), nullptr));
             settle();
             ASSERT_TRUE(CreateDirectoryW((f + L"\\Sub\\deep").c_str(), nullptr));
             settle();
             write(L"Sub\\deep\\page.txt")(f);
         },
         L"Sub"},
        {"noise alone wakes nobody", nullptr,
         [&](const std::wstring& f) {
             write(L"~$report.docx")(f);
             write(L"Thumbs.db")(f);
             write(L"setup.exe.crdownload")(f);
             settle();
             write(L"real.txt")(f);
         },
         L"real.txt"},
        {"nor do the program's own files", nullptr,
         [&](const std::wstring& f) {
             ASSERT_TRUE(CreateDirectoryW((f + L"\\Own").c_str(), nullptr));
             write(L"Own\\window.json")(f);
             settle();
             write(L"real.txt")(f);
         },
         L"real.txt", false, true},
        {"no names from the file system: watched all the same", nullptr, write(L"scan.pdf"), L"", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder scratch;
        const std::wstring folder = scratch.Make(L"Watched");
        if (c.prepare) c.prepare(folder);
        ScopedCalls access(CurrentFolderAccessCalls());
        if (c.refuseNames) CurrentFolderAccessCalls().readDirectoryChanges = RefuseNames;
        IgnoreChangesIn(c.ownFolder ? folder + L"\\Own" : L"");
        Watch({folder});
        ASSERT_EQ(AppState.watchEntries.size(), 1u);
        EXPECT_EQ(AppState.watchEntries[0].read == nullptr, c.refuseNames);
        recorder::Reset();
        c.change(folder);
        ASSERT_TRUE(recorder::WaitForCalls(1, kWake));
        settle();
        for (const RecordedActivation& call : recorder::Calls()) EXPECT_EQ(call.item, c.item);
        StopWatching();
    }
    IgnoreChangesIn(L"");

    // A short (8.3) name becomes the long one.
    const std::wstring folder = root.Make(L"Names");
    ASSERT_TRUE(WriteTextFile(folder + L"\\A rather long file name.txt", "x"));
    wchar_t shortPath[MAX_PATH] = {};
    ASSERT_NE(GetShortPathNameW((folder + L"\\A rather long file name.txt").c_str(), shortPath, MAX_PATH), 0u);
    const std::wstring shortName = std::wstring(shortPath).substr(std::wstring(shortPath).find_last_of(L'\\') + 1);
    EXPECT_NE(shortName, L"A rather long file name.txt");
    EXPECT_EQ(ChildItemOf(folder, shortName, false), L"A rather long file name.txt");
}

// Thousands of files in one burst overflow the read: the names are lost,
// and the change is shown all the same, with nothing to select.
TEST_F(ChangeWatcher, ABurstThatOverflowsTheNamesIsShownWithoutAnItem) {
    const std::wstring folder = root.Make(L"Burst");
    Watch({folder});
    HoldWorkerIn(folder);
    for (int i = 0; i < 4000; ++i) ASSERT_TRUE(WriteTextFile(folder + L"\\file-" + std::to_wstring(i) + L".txt", ""));
    recorder::Release();
    ASSERT_TRUE(recorder::WaitForCalls(2, kWake));
    ASSERT_TRUE(recorder::WaitForQuiet(kQuiet, kWake));
    const std::vector<RecordedActivation> calls = recorder::Calls();
    EXPECT_EQ(calls.front().item, L"held");
    std::printf("a burst of 4000 files: %zu activations, the first after it naming \"%ls\"\n", calls.size() - 1,
                calls[1].item.c_str());
    EXPECT_EQ(calls[1].item, L"");
}

TEST_F(ChangeWatcher, ChangeDeepInsideActivatesTheWatchedFolder) {
    std::wstring top = root.Make(L"Top");
    Watch({top});

    // One level at a time: each new folder is itself a change, and the
    // platform starts reporting inside it once it has seen it created.
    std::wstring deep = top;
    std::size_t expected = 0;
    for (const wchar_t* level : {L"one", L"two", L"three"}) {
        deep += std::wstring(L"\\") + level;
        ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr));
        ASSERT_TRUE(recorder::WaitForCalls(++expected, kWake)) << "creating " << testing::PrintToString(deep);
        ASSERT_TRUE(BecomesRenewed(SignalOf(0)));
    }
    ASSERT_TRUE(recorder::WaitForQuiet(kQuiet, kWake));
    recorder::Reset();

    ASSERT_TRUE(WriteTextFile(deep + L"\\saved.txt", "three levels down"));

    ASSERT_TRUE(recorder::WaitForCalls(1, kWake));
    ASSERT_TRUE(recorder::WaitForQuiet(kQuiet, kWake));
    for (const std::wstring& path : recorder::Paths()) EXPECT_EQ(path, top);
}

TEST_F(ChangeWatcher, PendingFoldersAreHandledFrontFirst) {
    std::wstring front = root.Make(L"front");
    std::wstring middle = root.Make(L"middle");
    std::wstring back = root.Make(L"back");
    Watch({front, middle, back});
    HoldWorkerIn(back);

    // Changed back to front while the worker is busy; both wait for it.
    ChangeFolder(middle, L"x");
    ChangeFolder(front, L"x");
    ASSERT_TRUE(BecomesSignalled(SignalOf(1)));
    ASSERT_TRUE(BecomesSignalled(SignalOf(0)));
    recorder::Release();

    ASSERT_TRUE(recorder::WaitForCalls(3, kWake));
    ASSERT_TRUE(recorder::WaitForQuiet(kQuiet, kWake));
    EXPECT_EQ(recorder::Paths(), (std::vector<std::wstring>{back, front, middle}));
}

TEST_F(ChangeWatcher, FolderListedTwiceIsArmedTwiceAndActivatedTwice) {
    std::wstring folder = root.Make(L"twice");
    Watch({folder, folder});
    ASSERT_EQ(AppState.watchEntries.size(), 2u);
    EXPECT_NE(AppState.watchEntries[0].changeHandle, AppState.watchEntries[1].changeHandle);

    ChangeFolder(folder, L"x");

    ASSERT_TRUE(recorder::WaitForCalls(2, kWake));
    ASSERT_TRUE(recorder::WaitForQuiet(kQuiet, kWake));
    EXPECT_EQ(recorder::Paths(), (std::vector<std::wstring>{folder, folder}));
}

// Folders named "missing..." are never created; "" is an empty entry.
struct ArmingCase {
    const char* name;
    std::vector<std::wstring> folders;
    std::vector<std::wstring> armed;
};

void PrintTo(const ArmingCase& arming, std::ostream* out) { *out << arming.name; }

class ArmingTest : public ChangeWatcher, public testing::WithParamInterface<ArmingCase> {};

TEST_P(ArmingTest, OnlyFoldersThatCanBeArmedAreWatched) {
    const ArmingCase& param = GetParam();
    std::vector<std::wstring> folders;
    for (const std::wstring& name : param.folders) {
        if (name.empty()) folders.push_back(L"");
        else folders.push_back(name.starts_with(L"missing") ? root.Child(name) : root.Make(name));
    }
    long handlesBefore = HandleCount();

    Watch(folders);

    std::vector<std::wstring> armed;
    for (const WatchEntry& entry : AppState.watchEntries) {
        EXPECT_TRUE(IsValidChangeHandle(entry.changeHandle));
        armed.push_back(entry.folderPath.substr(root.Path().size() + 1));
    }
    EXPECT_EQ(armed, param.armed);
    if (param.armed.empty()) {
        EXPECT_TRUE(IsIdle());
        EXPECT_EQ(SettledCount(HandleCount, handlesBefore), handlesBefore);  // the stop event was closed again
        return;
    }
    ASSERT_NE(AppState.stopEvent, nullptr);
    ASSERT_NE(AppState.watcherThread, nullptr);

    // A missing folder created now stays unwatched until the next start;
    // the armed ones are watched.
    for (const std::wstring& name : param.folders) {
        if (name.starts_with(L"missing")) ChangeFolder(root.Make(name), L"x");
    }
    for (const std::wstring& name : param.armed) ChangeFolder(root.Child(name), L"x");
    ASSERT_TRUE(recorder::WaitForCalls(param.armed.size(), kWake));
    ASSERT_TRUE(recorder::WaitForQuiet(kQuiet, kWake));
    std::vector<std::wstring> activated;
    for (const std::wstring& path : recorder::Paths()) activated.push_back(path.substr(root.Path().size() + 1));
    EXPECT_EQ(activated, param.armed);
}

INSTANTIATE_TEST_SUITE_P(
    Watcher, ArmingTest,
    testing::Values(ArmingCase{"EmptyList", {}, {}},
                    ArmingCase{"MissingFolderSkipped", {L"missingA", L"b", L"missingC"}, {L"b"}},
                    ArmingCase{"EmptyEntrySkipped", {L"", L"b"}, {L"b"}},
                    ArmingCase{"AllMissing", {L"missingA", L"missingB"}, {}}),
    [](const testing::TestParamInfo<ArmingCase>& info) { return std::string(info.param.name); });

// Changes that come while the user works (input 9 s ago on the stand-in
// desktop, whose clock runs) are held back and shown once the user counts
// as away, a second later, oldest first; unless something in between says
// they are seen or no longer wanted. A balloon is asked for once per folder
// in ten seconds. With nothing held, the worker's wait has no time-out: it
// does not even look at the input.
TEST_F(ChangeWatcher, ChangesHeldBackWhileTheUserWorksAreShownOnceTheyAreAway) {
    enum class Between { Nothing, RestartWithoutA, StopAndStart, StopWhileShowingA, UserBringsAForward, UserClicksAsBalloon };
    struct Case {
        const char* name;
        std::vector<int> changes;  // 0: folder A, 1: folder B
        Between between;
        std::vector<int> shown;  // the held changes shown later, in order
        int balloons;
        bool presenting = false;  // not to disturb, all along
    } cases[] = {
        {"shown oldest first", {0, 1}, Between::Nothing, {0, 1}, 2},
        {"a later change of a folder replaces its earlier one", {0, 1, 0}, Between::Nothing, {1, 0}, 2},
        {"a restart hands on the folders that stay", {0, 1}, Between::RestartWithoutA, {1}, 2},
        {"a stop drops them", {0, 1}, Between::StopAndStart, {}, 2},
        {"a stop while the first is shown drops the rest", {0, 1}, Between::StopWhileShowingA, {0}, 2},
        {"the user brings the folder's window forward", {0}, Between::UserBringsAForward, {}, 1},
        {"the user clicks the folder's balloon", {0}, Between::UserClicksAsBalloon, {}, 1},
        {"not to disturb: held, with no balloon", {0}, Between::Nothing, {}, 0, true},
    };
    TestWindow reports(L"reports", SW_SHOWNORMAL);
    TestWindow windowOfA(L"A", SW_SHOWNORMAL);
    const std::wstring folders[] = {root.Make(L"A"), root.Make(L"B")};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        recorder::Reset();
        recorder::AnswerByFocusRule(windowOfA.Handle());
        FakeDesktopInUse inUse({.userInputAt = -9000,
                                .notifications = c.presenting ? QUNS_PRESENTATION_MODE : QUNS_ACCEPTS_NOTIFICATIONS,
                                .clockRuns = true});
        CurrentDesktopCalls().getForegroundWindow = GetForegroundWindow;
        SetForegroundWindow(reports.Handle());
        ReportToWindow(reports.Handle());
        Watch({folders[0], folders[1]});
        std::vector<std::wstring> expected;
        std::map<int, std::wstring> latestItem;  // by folder: what a later showing is to select
        for (std::size_t i = 0; i < c.changes.size(); ++i) {
            latestItem[c.changes[i]] = std::to_wstring(&c - cases) + L"-" + std::to_wstring(i);
            ChangeFolder(folders[c.changes[i]], latestItem[c.changes[i]].c_str());
            ASSERT_TRUE(recorder::WaitForCalls(i + 1, kWake));
            expected.push_back(folders[c.changes[i]]);
        }
        if (c.between == Between::RestartWithoutA) Watch({folders[1]});
        if (c.between == Between::StopAndStart) StopWatching(), Watch({folders[0], folders[1]});
        if (c.between == Between::UserBringsAForward) SetForegroundWindow(windowOfA.Handle());
        if (c.between == Between::StopWhileShowingA) {
            recorder::HoldNextActivationOf(folders[0]);
            ASSERT_TRUE(recorder::WaitUntilHeld(kWake));
            StopWatching();  // leaves the worker behind in the activation
            recorder::Release();
        }
        if (c.between == Between::UserClicksAsBalloon) DropHeldChange(folders[0]);
        for (int folder : c.shown) expected.push_back(folders[folder]);

        ASSERT_TRUE(recorder::WaitForCalls(expected.size(), kWake));
        Sleep(1500);  // past the moment the user counts as away
        EXPECT_EQ(recorder::Paths(), expected);
        for (std::size_t i = 0; i < c.shown.size() && c.changes.size() + i < recorder::Calls().size(); ++i) {
            EXPECT_EQ(recorder::Calls()[c.changes.size() + i].item, latestItem[c.shown[i]]) << "shown " << i;
        }
        if (!c.shown.empty()) {
            const auto held = recorder::Calls()[c.changes.size()].started - recorder::Calls()[0].started;
            EXPECT_GE(held, 700ms) << "shown before the user was away";
        }
        const int reads = desktop.inputReads;
        Sleep(1000);
        if (!c.presenting) {
            EXPECT_EQ(desktop.inputReads, reads) << "the worker looks at the input with nothing held";
        }
        int balloons = 0;
        for (MSG message; PeekMessageW(&message, reports.Handle(), WM_WATCH_CHANGE_HELD, WM_WATCH_CHANGE_HELD, PM_REMOVE);) {
            ++balloons;
        }
        EXPECT_EQ(balloons, c.balloons);
        StopWatching();
    }
    ReportToWindow(nullptr);
}

TEST_F(ChangeWatcher, StopWaitsForRunningActivationAndDropsPendingChanges) {
    std::wstring first = root.Make(L"first");
    std::wstring second = root.Make(L"second");
    Watch({first, second});
    HoldWorkerIn(first);
    ChangeFolder(second, L"pending");
    ASSERT_TRUE(BecomesSignalled(SignalOf(1)));

    std::chrono::steady_clock::time_point released;
    std::thread releaser([&released] {
        std::this_thread::sleep_for(300ms);
        released = std::chrono::steady_clock::now();
        recorder::Release();
    });
    StopWatching();
    std::size_t finishedWhenStopped = recorder::Finished();
    auto stopped = std::chrono::steady_clock::now();
    releaser.join();

    EXPECT_EQ(finishedWhenStopped, 1u);  // the held activation ran to its end first
    EXPECT_GE(stopped, released);
    EXPECT_EQ(recorder::Paths(), std::vector<std::wstring>{first});  // the pending change was never handled
    EXPECT_TRUE(IsIdle());
}

// A hung Explorer window never answers the activation's call into it, and
// where the call cannot be cancelled (Wine; told so here, since Windows
// cancels it) the list must still change, and the program still end,
// within about a second; the worker left in the call ends once the call
// returns, and what it held is released then (Wine keeps a folder deleted
// under a live notification delete-pending until that notification is
// closed).
TEST_F(ChangeWatcher, StopReturnsWithinASecondWhileTheWorkerWaitsForAnUnansweringWindow) {
    std::wstring stuck = root.Make(L"stuck");
    std::wstring other = root.Make(L"other");
    ScopedCalls cancel(CurrentCallCancelCalls());
    CurrentCallCancelCalls().cancellationWorks = [] { return false; };
    UnansweringWindow window;
    ASSERT_NO_FATAL_FAILURE(PutWorkerInCallTo(stuck, window));

    auto start = std::chrono::steady_clock::now();
    StopWatching();
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, 1500ms);
    EXPECT_TRUE(IsIdle());
    EXPECT_EQ(recorder::Finished(), 0u) << "the call answered after all";

    // Watching starts anew while the old worker is still in its call.
    Watch({other});
    ChangeFolder(other, L"y");
    ASSERT_TRUE(recorder::WaitForCalls(2, kWake));
    EXPECT_EQ(recorder::Paths(), (std::vector<std::wstring>{stuck, other}));

    ASSERT_TRUE(RemoveDirectoryW((stuck + L"\\x").c_str()));
    ASSERT_TRUE(RemoveDirectoryW(stuck.c_str()));
    auto gone = [&stuck] {
        StopWatching();  // releases the leftovers of workers that have ended
        const bool missing = GetFileAttributesW(stuck.c_str()) == INVALID_FILE_ATTRIBUTES;
        const DWORD error = GetLastError();
        return missing && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND);
    };
    Sleep(200);
    EXPECT_FALSE(gone()) << "the stuck worker's notification was closed under it";
    window.Answer();
    EXPECT_TRUE(WaitUntil(gone, 5s, 100ms)) << "the old worker's notification was never closed";
    EXPECT_EQ(recorder::Finished(), 2u);
}

// The activation's own waits (its polls after an open request) end when the
// stop event it is given is set: a stop meanwhile ends the worker within
// the stop's wait instead of leaving it behind.
TEST_F(ChangeWatcher, StopEndsTheActivationsWaitAndTheWorkerWithIt) {
    std::wstring folder = root.Make(L"waiting");
    recorder::WaitInNextActivationOf(folder, 3s);
    Watch({folder});
    ChangeFolder(folder, L"x");
    ASSERT_TRUE(recorder::WaitForCalls(1, kWake));
    StopWatching();
    EXPECT_EQ(recorder::Finished(), 1u) << "the worker was left behind in its wait";
    EXPECT_TRUE(IsIdle());
}

// Call cancellation as COM documents it, where it works (Wine's CoCancelCall
// aborts): each thread allows it for itself, in nested pairs; CoCancelCall
// is refused for a thread that has not, and otherwise the call outstanding
// there returns RPC_E_CALL_CANCELED, as the unanswering window then does.
SRWLOCK cancelLock = SRWLOCK_INIT;
std::map<DWORD, int> cancelAllowed;  // thread: nesting
UnansweringWindow* cancelTarget = nullptr;

HRESULT AllowCancel(int by) {
    AcquireSRWLockExclusive(&cancelLock);
    cancelAllowed[GetCurrentThreadId()] += by;
    ReleaseSRWLockExclusive(&cancelLock);
    return S_OK;
}
HRESULT WINAPI EnableCancel(void*) { return AllowCancel(1); }
HRESULT WINAPI DisableCancel(void*) { return AllowCancel(-1); }
HRESULT WINAPI CancelOn(DWORD thread, ULONG) {
    AcquireSRWLockExclusive(&cancelLock);
    const bool allowed = cancelAllowed[thread] > 0;
    ReleaseSRWLockExclusive(&cancelLock);
    if (!allowed) return CO_E_CANCEL_DISABLED;
    cancelTarget->Cancel();
    return S_OK;
}

// Where cancellation works, a stop cancels the call the worker is in, and
// the worker ends within the stop's wait instead of being left behind.
TEST_F(ChangeWatcher, StopCancelsTheWorkersCallWhereCancellationWorks) {
    std::wstring stuck = root.Make(L"stuck");
    UnansweringWindow window;
    cancelTarget = &window;
    cancelAllowed.clear();  // threads of earlier runs are gone, and their permission with them
    ScopedCalls cancel(CurrentCallCancelCalls(), {[] { return true; }, CancelOn, EnableCancel, DisableCancel});
    ASSERT_NO_FATAL_FAILURE(PutWorkerInCallTo(stuck, window));
    StopWatching();
    EXPECT_EQ(recorder::Finished(), 1u) << "the call was not cancelled and the worker was left behind";
    EXPECT_TRUE(IsIdle());
}

// Deleting a folder that is being watched only marks it for deletion while
// the notification holds it open. Windows then fails the notification and the
// worker gives the folder up; Wine reports nothing. Either way the other
// folders stay watched, and the folder goes once the watcher lets it go.
TEST_F(ChangeWatcher, DeletedWatchedFolderLeavesTheOthersWatched) {
    std::wstring doomed = root.Make(L"doomed");
    std::wstring other = root.Make(L"other");
    Watch({doomed, other});

    ASSERT_TRUE(RemoveDirectoryW(doomed.c_str()));
    ASSERT_TRUE(recorder::WaitForQuiet(kQuiet, kWake));
    EXPECT_LE(recorder::Calls().size(), 1u);
    recorder::Reset();
    ChangeFolder(other, L"x");

    ASSERT_TRUE(recorder::WaitForCalls(1, kWake));
    EXPECT_EQ(recorder::Paths(), std::vector<std::wstring>{other});
    EXPECT_TRUE(WorkerRunning());
    StopWatching();
    EXPECT_FALSE(FileExists(doomed));
}

// A folder that went away (moved elsewhere, or its drive gone): re-arming
// fails for real because the path no longer names a folder. Wine still
// renews the old notification of a moved folder, so renewal is handed a
// handle the platform refuses, as Windows does for a vanished drive.
TEST_F(ChangeWatcher, FolderThatCanBeNeitherRenewedNorRearmedIsDroppedAndTheOthersStayWatched) {
    std::wstring doomed = root.Make(L"doomed");
    std::wstring other = root.Make(L"other");
    long handlesBefore = HandleCount();
    HANDLE armed = nullptr;
    ASSERT_NO_FATAL_FAILURE(WatchAndLoseTheFirstFolder({doomed, other}, armed));

    ChangeFolder(other, L"x");

    ASSERT_TRUE(recorder::WaitForCalls(2, kWake));
    ASSERT_TRUE(recorder::WaitForQuiet(kQuiet, kWake));
    // The dropped folder's own notification is still signalled; had it stayed
    // in the wait it would be activated again and again.
    EXPECT_EQ(recorder::Paths(), (std::vector<std::wstring>{doomed, other}));
    ASSERT_EQ(AppState.watchEntries.size(), 2u);
    EXPECT_EQ(AppState.watchEntries[0].changeHandle, nullptr);
    EXPECT_TRUE(WorkerRunning());

    ASSERT_TRUE(BecomesRenewed(SignalOf(1)));
    ChangeFolder(other, L"y");
    ASSERT_TRUE(recorder::WaitForCalls(3, kWake));
    EXPECT_EQ(recorder::Paths().back(), other);

    StopWatching();
    CloseHandle(armed);
    EXPECT_TRUE(IsIdle());
    EXPECT_EQ(SettledCount(HandleCount, handlesBefore), handlesBefore);  // the worker released the handle it gave up
}

// Deletes folder and everything in it for good. Wine keeps a folder that
// Windows code deletes under a live notification pending deletion, and
// still a folder to GetFileAttributesW, until the notification is closed;
// on Windows such a folder no longer opens. Removed from the Unix side, it
// is gone at once here too.
bool DeleteFolderForReal(const std::wstring& folder) {
    const std::wstring unixPath = QuotedUnixPath(folder);
    if (unixPath.empty()) return std::filesystem::remove_all(folder) > 0;
    if (!StartUnixProgram(L"/bin/rm", L"/bin/rm -rf " + unixPath)) return false;
    return WaitUntil([&folder] { return GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES; }, kWake);
}

// A folder gone after its activation is given up, even where its
// notification could still be renewed: on Windows one left pending deletion
// would otherwise signal, and be activated, again and again.
TEST_F(ChangeWatcher, FolderDeletedWhileWatchedCostsOneActivationAndIsReleased) {
    std::wstring doomed = root.Make(L"doomed");
    std::wstring other = root.Make(L"other");
    // Only the handles on the test's folders are counted: what Wine holds
    // for the Unix program it starts comes and goes on its own.
    Watch({doomed, other});
    HoldWorkerIn(doomed);
    ASSERT_TRUE(DeleteFolderForReal(doomed));
    recorder::Release();

    ASSERT_TRUE(recorder::WaitForQuiet(kQuiet, kWake));
    EXPECT_EQ(recorder::Paths(), std::vector<std::wstring>{doomed});
    EXPECT_EQ(AppState.watchEntries[0].changeHandle, nullptr) << "the deleted folder is still watched";
    EXPECT_EQ(HandlesNaming(doomed), 0) << "the deleted folder is still held";
    ChangeFolder(other, L"x");
    ASSERT_TRUE(recorder::WaitForCalls(2, kWake));
    EXPECT_EQ(recorder::Paths().back(), other);
    EXPECT_EQ(HandlesNaming(other), 1);
    StopWatching();
    EXPECT_EQ(HandlesNaming(root.Path()), 0);
}

TEST_F(ChangeWatcher, FolderThatCannotBeRenewedIsArmedAnew) {
    std::wstring folder = root.Make(L"rearmed");
    std::wstring other = root.Make(L"other");
    long handlesBefore = HandleCount();
    Watch({folder, other});
    HoldWorkerIn(folder);
    HANDLE armed = SpoilRenewal(0);
    HANDLE spoiled = AppState.watchEntries[0].changeHandle;
    recorder::Release();
    ChangeFolder(other, L"x");
    ASSERT_TRUE(recorder::WaitForCalls(2, kWake));
    ASSERT_TRUE(recorder::WaitForQuiet(kQuiet, kWake));

    HANDLE fresh = AppState.watchEntries[0].changeHandle;
    EXPECT_TRUE(IsValidChangeHandle(fresh));
    EXPECT_NE(fresh, spoiled);
    EXPECT_NE(fresh, armed);
    CloseHandle(armed);

    ChangeFolder(folder, L"again");
    ASSERT_TRUE(recorder::WaitForCalls(3, kWake));
    ASSERT_TRUE(recorder::WaitForQuiet(kQuiet, kWake));
    EXPECT_EQ(recorder::Paths(), (std::vector<std::wstring>{folder, other, folder}));

    StopWatching();
    EXPECT_EQ(SettledCount(HandleCount, handlesBefore), handlesBefore);
}

TEST_F(ChangeWatcher, WorkerEndsOnItsOwnWhenNoFolderIsLeftAndStopIsHarmlessAfterwards) {
    std::wstring only = root.Make(L"only");
    long handlesBefore = HandleCount();
    HANDLE armed = nullptr;
    ASSERT_NO_FATAL_FAILURE(WatchAndLoseTheFirstFolder({only}, armed));

    ASSERT_TRUE(WorkerEnds());
    // Ended: the handles stay held until the next stop.
    EXPECT_NE(AppState.stopEvent, nullptr);
    ASSERT_EQ(AppState.watchEntries.size(), 1u);
    EXPECT_EQ(AppState.watchEntries[0].changeHandle, nullptr);

    StopWatching();
    EXPECT_TRUE(IsIdle());
    StopWatching();
    EXPECT_TRUE(IsIdle());
    CloseHandle(armed);
    EXPECT_EQ(SettledCount(HandleCount, handlesBefore), handlesBefore);
}

TEST_F(ChangeWatcher, WorkerEndsOnItsOwnWhenTheWaitFails) {
    std::wstring first = root.Make(L"first");
    std::wstring second = root.Make(L"second");
    Watch({first, second});
    HoldWorkerIn(first);
    // Closed behind the worker's back: its next wait names a handle that no
    // longer exists. Cleared so that nothing closes it again.
    CloseHandle(std::exchange(AppState.watchEntries[1].read->done, nullptr));
    recorder::Release();

    ASSERT_TRUE(WorkerEnds());
    EXPECT_NE(AppState.stopEvent, nullptr);
    EXPECT_TRUE(IsValidChangeHandle(AppState.watchEntries[0].changeHandle));
    StopWatching();
    EXPECT_TRUE(IsIdle());
}

// A share that does not answer: its calls wait until the test lets them go,
// as the kernel's wait for the network's time-out does. Every folder counts
// as one on a network drive.
namespace share {
HANDLE answers = nullptr;  // set: the share answers again
std::atomic<bool> silent{true};  // cleared: the "unreachable" folders answer for now
std::atomic<int> driveTypeAsked{0};
std::atomic<int> armedWhileSilent{0};
bool IsUnreachable(LPCWSTR path) {
    return silent && std::wstring_view(path).find(L"unreachable") != std::wstring_view::npos;
}
// Never let go by the test, a call fails it after 20 s instead of hanging.
void WaitForTheAnswer(LPCWSTR path) {
    if (WaitForSingleObject(answers, 20000) == WAIT_TIMEOUT) ADD_FAILURE() << "the share never answered for " << path;
}
HANDLE WINAPI Open(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD how, DWORD flags,
                  HANDLE model) {
    if (IsUnreachable(path)) ++armedWhileSilent, WaitForTheAnswer(path);
    return CreateFileW(path, access, share, security, how, flags, model);
}
DWORD WINAPI Attributes(LPCWSTR path) {
    if (IsUnreachable(path)) WaitForTheAnswer(path);
    return GetFileAttributesW(path);
}
UINT WINAPI RemoteDrive(LPCWSTR) {
    ++driveTypeAsked;
    return DRIVE_REMOTE;
}
}  // namespace share

// Ten such shares are asked side by side: a start, and the restart a
// drive's arrival brings, each cost about a second, not ten. The restart
// asks none of them again while its first call still hangs: threads do not
// pile up.
TEST_F(ChangeWatcher, UnansweringSharesAreLeftOutWithinASecondAndTheirLateHandlesReleased) {
    std::wstring first = root.Make(L"first");
    std::vector<std::wstring> folders{first};
    for (int i = 0; i < 10; ++i) folders.push_back(root.Make(L"unreachable" + std::to_wstring(i)));
    std::wstring last = root.Make(L"last");
    folders.push_back(last);
    UniqueHandle answers(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    share::answers = answers.get();
    long handlesBefore = HandleCount();
    ScopedCalls shares(CurrentFolderAccessCalls(), {share::Open, share::Attributes, share::RemoteDrive});
    share::armedWhileSilent = 0;

    auto start = std::chrono::steady_clock::now();
    Watch(folders);
    auto armed = std::chrono::steady_clock::now() - start;
    const bool exists = IsExistingDirectory(folders[1]);
    auto asked = std::chrono::steady_clock::now() - start - armed;
    TestWindow window(L"drive events", SW_HIDE);
    DEV_BROADCAST_VOLUME volume{sizeof(volume), DBT_DEVTYP_VOLUME};
    const DWORD worker = GetThreadId(AppState.watcherThread);
    start = std::chrono::steady_clock::now();
    OnDeviceChange(window.Handle(), DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&volume));
    auto arrival = std::chrono::steady_clock::now() - start;
    WaitUntil([&] { PumpMessages(); return GetThreadId(AppState.watcherThread) != worker; }, 5s, 10ms);
    auto restarted = std::chrono::steady_clock::now() - start;

    using std::chrono::duration_cast, std::chrono::milliseconds;
    std::printf("ten unreachable shares: start %lld ms, exists %lld ms, arrival %lld ms, its restart %lld ms\n",
                duration_cast<milliseconds>(armed).count(), duration_cast<milliseconds>(asked).count(),
                duration_cast<milliseconds>(arrival).count(), duration_cast<milliseconds>(restarted).count());
    EXPECT_LT(armed, 1500ms);
    EXPECT_LT(asked, 1500ms);
    EXPECT_LT(arrival, 500ms) << "not left to a timer";
    EXPECT_LT(restarted, 2000ms) << "a short delay, then one restart";
    EXPECT_FALSE(exists);
    EXPECT_EQ(share::armedWhileSilent, 10);
    ASSERT_EQ(AppState.watchEntries.size(), 2u);
    EXPECT_EQ(AppState.watchEntries[0].folderPath, first);
    EXPECT_EQ(AppState.watchEntries[1].folderPath, last);
    ChangeFolder(last, L"x");
    ASSERT_TRUE(recorder::WaitForCalls(1, kWake));
    EXPECT_EQ(recorder::Paths(), std::vector<std::wstring>{last});

    // The share answers at last: the notification it hands each abandoned
    // call is closed by that call's thread, and the thread ends.
    SetEvent(answers.get());
    StopWatching();
    EXPECT_EQ(SettledCount(HandleCount, handlesBefore), handlesBefore);
}

// A share that falls silent after it was armed: the check after its
// activation knows from the arming that the folder is on the network, so it
// stops waiting within the limit instead of holding the worker, and asks
// nobody for the drive's type again. No answer is no proof the folder is
// gone: it stays watched.
TEST_F(ChangeWatcher, ShareThatFallsSilentAfterArmingIsKeptWithoutHoldingTheWorker) {
    std::wstring share = root.Make(L"unreachable-later");
    std::wstring other = root.Make(L"other");
    UniqueHandle answers(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    share::answers = answers.get();
    share::silent = false;
    ScopedCalls shares(CurrentFolderAccessCalls(), {share::Open, share::Attributes, share::RemoteDrive});
    Watch({share, other});
    share::silent = true;
    ASSERT_EQ(AppState.watchEntries.size(), 2u);
    share::driveTypeAsked = 0;

    ChangeFolder(share, L"x");
    EXPECT_TRUE(recorder::WaitForCalls(1, kWake));
    ChangeFolder(other, L"x");
    EXPECT_TRUE(recorder::WaitForCalls(2, 3s)) << "the worker is held by the silent share";
    EXPECT_EQ(recorder::Paths().back(), other);
    EXPECT_NE(AppState.watchEntries[0].changeHandle, nullptr) << "a slow answer gave the share up";
    EXPECT_EQ(share::driveTypeAsked, 0);

    SetEvent(answers.get());
}

TEST_F(ChangeWatcher, StopIsHarmlessWhenIdleAndTwiceInARow) {
    StopWatching();
    EXPECT_TRUE(IsIdle());

    Watch({root.Make(L"a")});
    ASSERT_NE(AppState.watcherThread, nullptr);
    StopWatching();
    EXPECT_TRUE(IsIdle());
    StopWatching();
    EXPECT_TRUE(IsIdle());
    EXPECT_EQ(AppState.folders.size(), 1u);  // the list itself is not the watcher's to change
}

TEST_F(ChangeWatcher, StartAndStopLeakNoHandle) {
    Watch({root.Make(L"a"), root.Make(L"b"), root.Make(L"c")});
    StopWatching();

    long before = HandleCount();
    for (int cycle = 0; cycle < 100; ++cycle) {
        StartWatching();
        ASSERT_NE(AppState.watcherThread, nullptr) << "cycle " << cycle;
        ASSERT_EQ(AppState.watchEntries.size(), 3u);
        StopWatching();
    }
    EXPECT_EQ(SettledCount(HandleCount, before), before);
}

// --- Folders with long paths ---------------------------------------------

// The picker returns paths past MAX_PATH; such a folder is armed through the
// extended form, while the worker keeps and reports the path as stored (here
// with slashes, which the extended form must not be given).
TEST_F(ChangeWatcher, FolderPathLongerThanMaxPathIsArmedAndReportedAsStored) {
    std::wstring stored = root.Path();
    std::wstring created = L"\\\\?\\" + root.Path();
    // The scratch folder's own clean-up cannot reach that deep; DeleteTree
    // can, given the \\?\ form of the top level.
    struct RemoveDeepest {
        std::wstring top;
        ~RemoveDeepest() {
            StopWatching();
            DeleteTree(top);
        }
    } removeDeepest{created + L"\\level-0" + std::wstring(40, L'x')};
    for (int level = 0; stored.size() <= MAX_PATH + 40; ++level) {
        const std::wstring name = L"level-" + std::to_wstring(level) + std::wstring(40, L'x');
        stored += L"/" + name;
        created += L"\\" + name;
        ASSERT_TRUE(CreateDirectoryW(created.c_str(), nullptr)) << GetLastError();
    }
    Watch({stored});
    ASSERT_EQ(AppState.watchEntries.size(), 1u) << "the long path was not armed";
    EXPECT_EQ(AppState.watchEntries[0].folderPath, stored);

    ASSERT_TRUE(WriteTextFile(created + L"\\note.txt", "saved"));

    ASSERT_TRUE(recorder::WaitForCalls(1, kWake));
    EXPECT_EQ(recorder::Calls()[0].path, stored);
}

}  // namespace
