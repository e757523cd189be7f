// The folder-list commands with a real list box in a test window, the real
// settings file (Local AppData redirected to a folder of the test's own),
// the real watcher over real folders, and the real folder dialogs driven
// from a helper thread. The list rules themselves are tested natively in
// tests/pure/folder_list_tests.cpp.

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <dlgs.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "activation_recorder.h"
#include "app/folder_commands.h"
#include "base/win_raii.h"
#include "scoped_local_app_data.h"
#include "settings/settings_store.h"
#include "settings/settings_text.h"
#include "state/app_state.h"
#include "test_support.h"
#include "watch/change_watcher.h"

using namespace std::chrono_literals;

namespace {

constexpr auto kWake = 5s;

FILETIME LastWriteTime(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

std::vector<std::wstring> ArmedFolders() {
    std::vector<std::wstring> folders;
    for (const WatchEntry& entry : AppState.watchEntries) folders.push_back(entry.folderPath);
    return folders;
}

// The settings file and the watcher as they are, to show that a command
// that should do nothing left both alone.
class Untouched {
public:
    explicit Untouched(const std::wstring& settingsFile)
        : file_(settingsFile), bytes_(ReadBytes(settingsFile)), written_(LastWriteTime(settingsFile)) {
        // Our own reference to the stop event: a restart would signal it
        // before closing it.
        if (AppState.stopEvent) {
            DuplicateHandle(GetCurrentProcess(), AppState.stopEvent, GetCurrentProcess(), &stopEvent_, 0, FALSE,
                            DUPLICATE_SAME_ACCESS);
        }
    }
    ~Untouched() {
        if (stopEvent_) CloseHandle(stopEvent_);
    }
    Untouched(const Untouched&) = delete;
    Untouched& operator=(const Untouched&) = delete;

    bool SettingsUnchanged() const {
        FILETIME now = LastWriteTime(file_);
        return ReadBytes(file_) == bytes_ && CompareFileTime(&now, &written_) == 0;
    }
    bool WatcherLeftAlone() const {
        return stopEvent_ != nullptr && WaitForSingleObject(stopEvent_, 0) == WAIT_TIMEOUT;
    }

private:
    std::wstring file_;
    std::string bytes_;
    FILETIME written_;
    HANDLE stopEvent_ = nullptr;
};

class FolderCommands : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(apartment_.entered());
        recorder::Reset();
        StopWatching();
        AppState.folders.clear();

        ASSERT_NE(window_.Handle(), nullptr);
        AppState.folderListBox = window_.AddFolderList();
        ASSERT_NE(AppState.folderListBox, nullptr);
    }
    void TearDown() override {
        StopWatching();
        AppState.folderListBox = nullptr;
        AppState.folders.clear();
        recorder::Reset();
    }

    std::vector<std::wstring> ListBoxItems() const {
        std::vector<std::wstring> items;
        LRESULT count = SendMessageW(AppState.folderListBox, LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            std::wstring text(static_cast<std::size_t>(SendMessageW(AppState.folderListBox, LB_GETTEXTLEN, i, 0)), L'\0');
            SendMessageW(AppState.folderListBox, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()));
            items.push_back(text);
        }
        return items;
    }
    LRESULT Selection() const { return SendMessageW(AppState.folderListBox, LB_GETCURSEL, 0, 0); }
    void Select(int index) { SendMessageW(AppState.folderListBox, LB_SETCURSEL, static_cast<WPARAM>(index), 0); }

    // The folders the settings file holds, read back by the program's reader.
    FolderList SavedFolders() const {
        std::wstring text;
        EXPECT_EQ(ReadSettingsFile(appData_.settingsFile(), text), SettingsFileRead::Read) << "no settings file";
        WindowGeometry geometry{};
        FolderList folders;
        ApplySettingsText(text, geometry, folders);
        return folders;
    }

    // The list everywhere it shows: the list box, the settings file and the
    // watcher (the folders that exist, in list order), with nothing selected.
    void ExpectListEverywhere(const FolderList& expected) {
        EXPECT_EQ(AppState.folders, expected);
        EXPECT_EQ(ListBoxItems(), expected);
        EXPECT_EQ(Selection(), LB_ERR);
        EXPECT_EQ(SavedFolders(), expected);
        FolderList existing;
        for (const std::wstring& folder : expected) {
            if (FileExists(folder)) existing.push_back(folder);
        }
        EXPECT_EQ(ArmedFolders(), existing);
        EXPECT_EQ(AppState.watcherThread != nullptr, !existing.empty());
    }

    // First, so that everything below is gone before the apartment is left.
    ComApartment apartment_;
    ScopedLocalAppData appData_;
    ScratchFolder root;
    // The dialogs' owner and the list box's parent.
    TestWindow window_{L"folder commands test", SW_HIDE, 100, 100, 500, 300};
};

// Names in the table are folders under the test's scratch folder; those
// starting with "missing" are never created.
struct AddCase {
    const char* name;
    std::vector<std::wstring> before;
    std::wstring added;
    std::vector<std::wstring> after;
};

void PrintTo(const AddCase& add, std::ostream* out) { *out << add.name; }

class AddFolderTest : public FolderCommands, public testing::WithParamInterface<AddCase> {
protected:
    FolderList Paths(const std::vector<std::wstring>& names) {
        FolderList paths;
        for (const std::wstring& name : names) {
            paths.push_back(name.starts_with(L"missing") ? root.Child(name) : root.Make(name));
        }
        return paths;
    }
};

TEST_P(AddFolderTest, ReachesListBoxSettingsAndWatcher) {
    const AddCase& add = GetParam();
    AppState.folders = Paths(add.before);
    RefreshFolderListView();
    if (!AppState.folders.empty()) Select(0);

    AddFolder(window_.Handle(), Paths({add.added}).front());

    ExpectListEverywhere(Paths(add.after));
}

std::vector<std::wstring> Numbered(int from, int to) {
    std::vector<std::wstring> names;
    for (int i = from; i >= to; --i) names.push_back(L"f" + std::to_wstring(i));
    return names;
}

INSTANTIATE_TEST_SUITE_P(
    FolderCommands, AddFolderTest,
    testing::Values(AddCase{"IntoEmptyList", {}, L"a", {L"a"}},
                    AddCase{"NewestFirst", {L"b", L"a"}, L"c", {L"c", L"b", L"a"}},
                    AddCase{"MissingFolderListedButNotWatched", {L"a"}, L"missing", {L"missing", L"a"}},
                    AddCase{"EleventhDropsTheOldest", Numbered(9, 0), L"f10", Numbered(10, 1)},
                    AddCase{"OtherLetterCaseReplacesTheEntry", {L"x", L"y", L"Data", L"z"}, L"DATA",
                            {L"DATA", L"x", L"y", L"z"}},
                    AddCase{"AlreadyFirstIsStillSavedAndWatched", {L"a", L"b"}, L"a", {L"a", L"b"}}),
    [](const testing::TestParamInfo<AddCase>& info) { return std::string(info.param.name); });

TEST_F(FolderCommands, AddedFolderIsWatchedAtOnce) {
    std::wstring folder = root.Make(L"new");
    AddFolder(window_.Handle(), folder);
    ASSERT_TRUE(WriteTextFile(folder + L"\\file.txt", "x"));
    ASSERT_TRUE(recorder::WaitForCalls(1, kWake));
    EXPECT_EQ(recorder::Paths().front(), folder);
}

TEST_F(FolderCommands, EmptyPathChangesNothingAndSavesNothing) {
    AddFolder(window_.Handle(), L"");
    EXPECT_TRUE(AppState.folders.empty());
    EXPECT_TRUE(ListBoxItems().empty());
    EXPECT_FALSE(FileExists(appData_.settingsFile()));
    EXPECT_EQ(AppState.stopEvent, nullptr);

    std::wstring folder = root.Make(L"a");
    AddFolder(window_.Handle(), folder);
    Select(0);
    Untouched before(appData_.settingsFile());
    Sleep(20);  // a rewrite now would carry a later time stamp

    AddFolder(window_.Handle(), L"");

    EXPECT_EQ(AppState.folders, FolderList{folder});
    EXPECT_EQ(Selection(), 0) << "the list box was not refilled";
    EXPECT_TRUE(before.SettingsUnchanged());
    EXPECT_TRUE(before.WatcherLeftAlone());
}

// What the delete command must ignore, set up on a list of two watched folders.
struct IgnoredDeleteCase {
    const char* name;
    void (*arrange)(HWND listBox);
};

void PrintTo(const IgnoredDeleteCase& ignored, std::ostream* out) { *out << ignored.name; }

class IgnoredDeleteTest : public FolderCommands, public testing::WithParamInterface<IgnoredDeleteCase> {};

TEST_P(IgnoredDeleteTest, ChangesNothing) {
    AddFolder(window_.Handle(), root.Make(L"a"));
    AddFolder(window_.Handle(), root.Make(L"b"));
    FolderList folders = AppState.folders;
    Untouched before(appData_.settingsFile());
    HWND listBox = AppState.folderListBox;
    GetParam().arrange(listBox);
    Sleep(20);

    RemoveSelectedFolder(window_.Handle());

    AppState.folderListBox = listBox;
    EXPECT_EQ(AppState.folders, folders);
    EXPECT_TRUE(before.SettingsUnchanged());
    EXPECT_TRUE(before.WatcherLeftAlone());
}

INSTANTIATE_TEST_SUITE_P(
    FolderCommands, IgnoredDeleteTest,
    testing::Values(IgnoredDeleteCase{"NoSelection", [](HWND) {}},
                    IgnoredDeleteCase{"NoListBox",
                                      [](HWND listBox) {
                                          SendMessageW(listBox, LB_SETCURSEL, 0, 0);
                                          AppState.folderListBox = nullptr;
                                      }},
                    IgnoredDeleteCase{"SelectionBeyondTheList",
                                      [](HWND listBox) {
                                          // An item the list does not have.
                                          SendMessageW(listBox, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"stray"));
                                          SendMessageW(listBox, LB_SETCURSEL, 2, 0);
                                      }}),
    [](const testing::TestParamInfo<IgnoredDeleteCase>& info) { return std::string(info.param.name); });

TEST_F(FolderCommands, DeleteRemovesTheSelectedEntry) {
    std::wstring a = root.Make(L"a"), b = root.Make(L"b"), c = root.Make(L"c");
    for (const std::wstring& folder : {a, b, c}) AddFolder(window_.Handle(), folder);
    Select(1);

    RemoveSelectedFolder(window_.Handle());

    ExpectListEverywhere({c, a});
}

TEST_F(FolderCommands, DeletingTheOnlyFolderSavesAnEmptyListAndLeavesTheWatcherIdle) {
    AddFolder(window_.Handle(), root.Make(L"only"));
    ASSERT_NE(AppState.watcherThread, nullptr);
    Select(0);

    RemoveSelectedFolder(window_.Handle());

    ExpectListEverywhere({});
    EXPECT_NE(ReadBytes(appData_.settingsFile()).find("\"folders\":[]"), std::string::npos);
    EXPECT_EQ(AppState.stopEvent, nullptr);
    EXPECT_EQ(AppState.watcherThread, nullptr);
}

// --- The folder dialogs, driven from a helper thread --------------------

// A visible top-level window owned by owner: the modal dialog it opened.
HWND FindOwnedDialog(HWND owner) {
    struct Search {
        HWND owner;
        HWND found;
    } search{owner, nullptr};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            if (GetWindow(window, GW_OWNER) != s->owner || !IsWindowVisible(window)) return TRUE;
            s->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool HasChildWithText(HWND dialog, const std::wstring& text) {
    struct Search {
        const std::wstring* text;
        bool found;
    } search{&text, false};
    EnumChildWindows(
        dialog,
        [](HWND child, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            wchar_t buffer[256] = {};
            GetWindowTextW(child, buffer, 256);
            if (*s->text == buffer) s->found = true;
            return !s->found;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The text of the selected item of the first tree view in dialog.
std::wstring SelectedTreeItem(HWND dialog) {
    HWND tree = nullptr;
    EnumChildWindows(
        dialog,
        [](HWND child, LPARAM param) -> BOOL {
            wchar_t className[64] = {};
            GetClassNameW(child, className, 64);
            if (std::wstring(className) != WC_TREEVIEWW) return TRUE;
            *reinterpret_cast<HWND*>(param) = child;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&tree));
    if (!tree) return {};
    wchar_t text[MAX_PATH] = {};
    TVITEMW item{};
    item.mask = TVIF_TEXT;
    item.hItem = TreeView_GetSelection(tree);
    item.pszText = text;
    item.cchTextMax = MAX_PATH;
    if (!item.hItem || !TreeView_GetItem(tree, &item)) return {};
    return text;
}

void PressButton(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// Runs act on the dialog that PickFolder opens, from another thread while
// the dialog's modal loop runs on this one. If no dialog shows up, closes
// whatever the owner has open so that the test cannot hang.
class DialogDriver {
public:
    template <typename Act>
    DialogDriver(HWND owner, Act act)
        : thread_([this, owner, act] {
              HWND dialog = nullptr;
              if (!WaitUntil([&] { return (dialog = FindOwnedDialog(owner)) != nullptr; }, 10s)) return;
              found_ = true;
              Sleep(200);  // let it finish filling itself
              act(dialog);
              // A dialog that ignored what it was told is cancelled, so that
              // a failing test fails instead of waiting for ever.
              if (!WaitUntil([&] { return !IsWindow(dialog); }, 10s)) PressButton(dialog, IDCANCEL);
          }) {}
    ~DialogDriver() { Join(); }
    DialogDriver(const DialogDriver&) = delete;
    DialogDriver& operator=(const DialogDriver&) = delete;

    bool Join() {
        if (thread_.joinable()) thread_.join();
        return found_;
    }

private:
    std::atomic<bool> found_{false};
    std::thread thread_;
};

// The File Open dialog's name box, which takes a full path; with folder
// picking on, OK then returns that folder instead of browsing into it.
// Wine's dialog has the classic one (edt1), a child of the dialog itself;
// the dialog of Windows nests a combo box (cmb13) a few windows deep, and
// the box is the edit inside it. Null when neither is there.
HWND NameBox(HWND dialog) {
    HWND found = nullptr;
    EnumChildWindows(  // every descendant, not only the children
        dialog,
        [](HWND child, LPARAM param) -> BOOL {
            wchar_t className[16] = {};
            GetClassNameW(child, className, 16);
            if (_wcsicmp(className, L"Edit") != 0) return TRUE;
            if (GetDlgCtrlID(child) != edt1 && GetDlgCtrlID(GetParent(child)) != cmb13) return TRUE;
            *reinterpret_cast<HWND*>(param) = child;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

TEST_F(FolderCommands, FolderChosenInTheFolderDialogIsAdded) {
    std::wstring chosen = root.Make(L"chosen");
    AddFolder(window_.Handle(), root.Make(L"earlier"));
    std::atomic<bool> named{false};
    DialogDriver driver(window_.Handle(), [chosen, &named](HWND dialog) {
        HWND nameBox = NameBox(dialog);
        // Set until it stays: the dialog writes the box itself while it
        // fills its view.
        wchar_t shown[MAX_PATH] = {};
        for (int attempt = 0; nameBox && attempt < 50 && chosen != shown; ++attempt) {
            SetWindowTextW(nameBox, chosen.c_str());
            Sleep(100);
            GetWindowTextW(nameBox, shown, MAX_PATH);
        }
        named = chosen == shown;
        PressButton(dialog, IDOK);
    });

    PickFolder(window_.Handle());

    ASSERT_TRUE(driver.Join()) << "no dialog was shown";
    EXPECT_TRUE(named) << "the dialog's name box was not found or did not keep the path";
    ExpectListEverywhere({chosen, root.Child(L"earlier")});
}

// The older folder browser stands in when the dialog object cannot be
// created, as on a system where the File Open dialog is not registered:
// creating it answers REGDB_E_CLASSNOTREG, as COM documents for a class
// it does not know; every other class is created as usual.
HRESULT WINAPI CreateInstanceWithoutFileOpenDialog(REFCLSID type, LPUNKNOWN outer, DWORD context, REFIID interfaceId,
                                                   LPVOID* object) {
    if (!IsEqualCLSID(type, CLSID_FileOpenDialog)) return CoCreateInstance(type, outer, context, interfaceId, object);
    *object = nullptr;
    return REGDB_E_CLASSNOTREG;
}

// Cancelled, the folder dialog, or the folder browser (which shows the
// title) in its place, changes nothing.
TEST_F(FolderCommands, CancellingTheDialogOrTheBrowserChangesNothing) {
    for (bool browser : {false, true}) {
        SCOPED_TRACE(browser ? "folder browser" : "folder dialog");
        ScopedCalls dialogs(CurrentFolderDialogCalls());
        if (browser) CurrentFolderDialogCalls() = {CreateInstanceWithoutFileOpenDialog};
        std::atomic<bool> titled{false};
        DialogDriver driver(window_.Handle(), [&titled](HWND dialog) {
            titled = HasChildWithText(dialog, L"フォルダーを選択");
            PressButton(dialog, IDCANCEL);
        });

        PickFolder(window_.Handle());

        ASSERT_TRUE(driver.Join()) << "nothing was shown";
        EXPECT_TRUE(titled || !browser);
        EXPECT_TRUE(AppState.folders.empty());
        EXPECT_TRUE(ListBoxItems().empty());
        EXPECT_FALSE(FileExists(appData_.settingsFile()));
        EXPECT_EQ(AppState.stopEvent, nullptr);
    }
}

TEST_F(FolderCommands, FolderChosenInTheBrowserIsAdded) {
    ScopedCalls dialogs(CurrentFolderDialogCalls(), {CreateInstanceWithoutFileOpenDialog});
    std::wstring chosen = root.Make(L"browsed");
    DialogDriver driver(window_.Handle(), [chosen](HWND dialog) {
        // The browser fills its tree after it shows and may move the
        // selection back to its start meanwhile: select until it stays.
        for (int attempt = 0; attempt < 50 && SelectedTreeItem(dialog) != L"browsed"; ++attempt) {
            SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(chosen.c_str()));
            Sleep(100);
        }
        PressButton(dialog, IDOK);
    });

    PickFolder(window_.Handle());

    ASSERT_TRUE(driver.Join()) << "no folder browser was shown";
    ExpectListEverywhere({chosen});
}

}  // namespace
