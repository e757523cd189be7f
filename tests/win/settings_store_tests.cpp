// The settings file on a real Windows API (under Wine): its place, the exact
// bytes the writer leaves on disk, reading them back, and saves that cannot
// complete.

#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>
#include <shlobj.h>

#include <atomic>
#include <functional>
#include <random>
#include <string>
#include <thread>

#include "scoped_local_app_data.h"
#include "settings/settings_store.h"
#include "state/app_state.h"
#include "test_support.h"

namespace {

const std::string kBom = "\xEF\xBB\xBF";

class SettingsStore : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(window_.Handle(), nullptr);
        AppState.folders.clear();
        AppState.folderListBox = nullptr;
    }
    void TearDown() override {
        AppState.folders.clear();
        AppState.folderListBox = nullptr;
    }

    ScopedLocalAppData appData_;
    // Its placement is what the settings file stores.
    TestWindow window_{L"settings test", SW_HIDE, 880, 410, 420, 350};
};

TEST_F(SettingsStore, PathIsVantlyWindowJsonUnderLocalAppDataAndTheFolderIsCreated) {
    EXPECT_FALSE(FileExists(appData_.vantlyFolder()));
    EXPECT_EQ(GetSettingsPath(), appData_.settingsFile());
    EXPECT_TRUE(GetFileAttributesW(appData_.vantlyFolder().c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(FileExists(appData_.vantlyFolder()));
}

// Without a folder of the test's, the place is the shell's Local AppData
// (which the program never overrides).
TEST_F(SettingsStore, PathWithoutAFolderGivenIsUnderTheShellsLocalAppData) {
    wchar_t shellFolder[MAX_PATH] = {};
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, shellFolder), S_OK);
    SetLocalAppDataFolder({});
    const std::wstring path = GetSettingsPath();
    SetLocalAppDataFolder(appData_.folder());
    EXPECT_EQ(path, std::wstring(shellFolder) + L"\\Vantly\\window.json");
}

// What a save leaves: a BOM, one line of UTF-8 with the window's restored
// rectangle whatever its state, and no file beside window.json, over a
// temporary file a killed save left as over an earlier save.
TEST_F(SettingsStore, SaveLeavesOneBomAndOneLineOfUtf8Alone) {
    const std::string noFolders = kBom + "{\"x\":880,\"y\":410,\"width\":420,\"height\":350,\"folders\":[]}";
    auto shown = [&](int show) {
        return [this, show] { ShowWindow(window_.Handle(), SW_SHOWNORMAL); ShowWindow(window_.Handle(), show); };
    };
    const struct { const char* what; std::function<void()> before; FolderList folders; std::string bytes; } cases[] = {
        {"a temporary file left by a killed save",
         [&] { GetSettingsPath(); WriteTextFile(appData_.settingsFile() + L".tmp", "{\"x\":1,\"fold"); }, {}, noFolders},
        {"names beyond ASCII and to be escaped", [] {},
         {L"C:\\\u65e5\u672c\\\u30d5\u30a9\u30eb\u30c0\u30fc", L"C:\\emoji\U0001F600", L"D:\\a]b \"q\"\t"},
         kBom + "{\"x\":880,\"y\":410,\"width\":420,\"height\":350,\"folders\":["
                "\"C:\\\\\xE6\x97\xA5\xE6\x9C\xAC\\\\\xE3\x83\x95\xE3\x82\xA9\xE3\x83\xAB\xE3\x83\x80\xE3\x83\xBC\","
                "\"C:\\\\emoji\xF0\x9F\x98\x80\","
                "\"D:\\\\a]b \\\"q\\\"\\t\"]}"},
        {"a save over an earlier one", [&] { SaveSettings(window_.Handle()); }, {L"C:\\A"},
         kBom + "{\"x\":880,\"y\":410,\"width\":420,\"height\":350,\"folders\":[\"C:\\\\A\"]}"},
        {"maximised", shown(SW_SHOWMAXIMIZED), {}, noFolders},
        {"minimised", shown(SW_SHOWMINIMIZED), {}, noFolders},
        {"hidden", shown(SW_HIDE), {}, noFolders},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.before();
        AppState.folders = c.folders;
        SaveSettings(window_.Handle());
        EXPECT_EQ(ReadBytes(appData_.settingsFile()), c.bytes);
        EXPECT_EQ(FilesIn(appData_.vantlyFolder()), std::vector<std::wstring>{L"window.json"});
    }
}

TEST_F(SettingsStore, LoadReadsBackWhatSaveWrote) {
    AppState.folders = {L"C:\\\u65e5\u672c", L"C:\\emoji\U0001F600", L"E:\\[x],y", L"F:\\back\\"};
    const FolderList saved = AppState.folders;
    SaveSettings(window_.Handle());
    AppState.geometry = {1, 2, 3, 4};
    AppState.folders = {L"stale"};
    LoadSettings();
    EXPECT_EQ(AppState.geometry.x, 880);
    EXPECT_EQ(AppState.geometry.y, 410);
    EXPECT_EQ(AppState.geometry.width, 420);
    EXPECT_EQ(AppState.geometry.height, 350);
    EXPECT_EQ(AppState.folders, saved);
}

TEST_F(SettingsStore, NoFileGivesTheBottomRightDefaultAndNoFolders) {
    AppState.folders = {L"stale"};
    LoadSettings();
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    const WindowGeometry& g = AppState.geometry;
    EXPECT_GT(g.width, 400);
    EXPECT_GT(g.height, 300);
    EXPECT_EQ(g.x + g.width, screenWidth);
    EXPECT_EQ(g.y + g.height, screenHeight);
    EXPECT_TRUE(AppState.folders.empty());
    EXPECT_FALSE(FileExists(appData_.settingsFile())) << "loading never writes";
}

// Only a file that is not there may be taken as "nothing stored yet"; one
// that is there but cannot be opened or read now must not be replaced by
// defaults.
TEST_F(SettingsStore, ReadTellsAMissingFileFromOneThatCannotBeOpened) {
    const std::wstring file = GetSettingsPath();
    std::wstring text = L"stale";
    EXPECT_EQ(ReadSettingsFile(file, text), SettingsFileRead::Missing);
    EXPECT_EQ(ReadSettingsFile(appData_.vantlyFolder() + L"\\gone\\window.json", text), SettingsFileRead::Missing);

    WriteTextFile(file, kBom + "{\"x\":1}");
    EXPECT_EQ(ReadSettingsFile(file, text), SettingsFileRead::Read);
    EXPECT_EQ(text, L"{\"x\":1}");
    HANDLE held = CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ReadSettingsFile(file, text), SettingsFileRead::Unreadable) << "held without sharing";
    CloseHandle(held);

    const std::wstring folderInItsPlace = appData_.vantlyFolder() + L"\\folder.json";
    ASSERT_TRUE(CreateDirectoryW(folderInItsPlace.c_str(), nullptr));
    EXPECT_EQ(ReadSettingsFile(folderInItsPlace, text), SettingsFileRead::Unreadable);
    RemoveDirectoryW(folderInItsPlace.c_str());

    // A read that fails after the open (a pipe whose writer disconnects after
    // part of a list): the part must not pass for the whole file.
    const std::wstring pipeName = L"\\\\.\\pipe\\lumivane-" + std::to_wstring(GetCurrentProcessId());
    HANDLE pipe = CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE, 1, 4096, 4096, 0, nullptr);
    std::atomic<bool> written{false};
    std::thread writer([pipe, &written, part = kBom + "{\"folders\":[\"C:\\\\A\"]"] {
        DWORD size = 0;
        ConnectNamedPipe(pipe, nullptr);
        WriteFile(pipe, part.data(), static_cast<DWORD>(part.size()), &size, nullptr);
        FlushFileBuffers(pipe);  // until the reader has it all
        DisconnectNamedPipe(pipe);
        written = true;
    });
    EXPECT_EQ(ReadSettingsFile(pipeName, text), SettingsFileRead::Unreadable) << "read error";
    if (!WaitUntil([&] { return written.load(); }, std::chrono::seconds(10))) {
        ADD_FAILURE() << "the reader never read the pipe";
        CloseHandle(CreateFileW(pipeName.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    }
    writer.join();
    CloseHandle(pipe);
}

// A backup tool holds the file without sharing while the program starts,
// or the file is damaged. Held for a moment, the list loads. Held through
// the whole load, cut inside the list, or not UTF-8 text, the program runs
// on the defaults, and no save from the (moved) window replaces the file
// until the user changes the list. That change first moves the file aside,
// over an older one; it is not saved while the file cannot be moved (held
// again), and saved at once when the file has gone.
TEST_F(SettingsStore, AnUnreadFileIsKeptUntilTheListChangesAndThenMovedAside) {
    const std::string saved = kBom + "{\"x\":880,\"y\":410,\"width\":420,\"height\":350,\"folders\":[\"C:\\\\Stored\"]}";
    const std::string cut = saved.substr(0, saved.size() - 5);
    // The reader once dropped what followed a NUL within 255 characters,
    // and loaded the long name shortened.
    const std::string withNul = kBom + "{\"folders\":[\"C:\\\\St" + '\0' + "ored" + std::string(300, 'x') + "\"]}";
    enum AtTheChange { Free, Held, Removed };
    const struct { const char* what; std::string content; DWORD holdMs; AtTheChange atTheChange; } cases[] = {
        {"held for a moment", saved, 300, Free},           {"held through the load", saved, INFINITE, Free},
        {"cut inside the array", cut, 0, Free},            {"a NUL in a name", withNul, 0, Free},
        {"held again at the change", cut + "x", 0, Held}, {"removed before the change", cut, 0, Removed},
    };
    const std::wstring file = GetSettingsPath();
    auto hold = [&] { return CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr); };
    SetWindowPos(window_.Handle(), nullptr, 500, 300, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    std::string aside;  // what window.json.unreadable should hold
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(WriteTextFile(file, c.content));
        HANDLE held = c.holdMs ? hold() : nullptr;
        std::thread holder([&] {
            if (c.holdMs != 300) return;
            Sleep(300);
            CloseHandle(held);
        });
        LoadSettings();
        holder.join();
        if (c.holdMs == INFINITE) CloseHandle(held);
        const bool kept = c.holdMs != 300;
        EXPECT_EQ(AppState.folders, kept ? FolderList{} : FolderList{L"C:\\Stored"});
        SaveSettings(window_.Handle());
        EXPECT_EQ(ReadBytes(file) == c.content, kept);

        AppState.folders = {L"C:\\Added"};
        if (c.atTheChange == Held) {
            held = hold();
            SaveChangedFolderList(window_.Handle());
            CloseHandle(held);
            EXPECT_EQ(ReadBytes(file), c.content) << "replaced while it could not be moved aside";
        }
        if (c.atTheChange == Removed) DeleteFileW(file.c_str());
        SaveChangedFolderList(window_.Handle());
        EXPECT_EQ(ReadBytes(file), kBom + "{\"x\":500,\"y\":300,\"width\":420,\"height\":350,\"folders\":[\"C:\\\\Added\"]}");
        if (kept && c.atTheChange != Removed) aside = c.content;
        EXPECT_EQ(ReadBytes(file + L".unreadable"), aside);
    }
}

// WriteFile on a disk that fills up half-way through the text.
BOOL WINAPI WriteOnAFullDisk(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    WriteFile(file, data, size / 2, written, overlapped);
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

// Each failed save leaves the old file as it was, and no temporary file.
TEST_F(SettingsStore, ASaveThatFailsLeavesTheOldFile) {
    const std::wstring file = GetSettingsPath();
    const std::wstring temp = file + L".tmp";
    HANDLE held = nullptr;
    const struct { const char* what; std::function<void()> make, undo; std::wstring folder; } cases[] = {
        {"held without sharing",
         [&] { held = CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr); },
         [&] { CloseHandle(held); }, L"C:\\New"},
        {"a folder in the temporary file's place", [&] { CreateDirectoryW(temp.c_str(), nullptr); },
         [&] { RemoveDirectoryW(temp.c_str()); }, L"C:\\New"},
        {"the disk full", [] { SetSettingsFileWrite(WriteOnAFullDisk); }, [] { SetSettingsFileWrite(WriteFile); },
         L"C:\\New"},
        {"a lone surrogate in a name", [] {}, [] {}, L"C:\\Ne" + std::wstring(1, wchar_t(0xD800)) + L"w"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        AppState.folders = {L"C:\\Old"};
        SaveSettings(window_.Handle());
        const std::string before = ReadBytes(file);
        c.make();
        AppState.folders = {c.folder};
        SaveSettings(window_.Handle());
        c.undo();
        EXPECT_EQ(ReadBytes(file), before);
        EXPECT_EQ(FilesIn(appData_.vantlyFolder()), std::vector<std::wstring>{L"window.json"});
    }
}

TEST_F(SettingsStore, FileEditedByHandWithCrLfAndSpacesLoads) {
    GetSettingsPath();
    WriteTextFile(appData_.settingsFile(),
               kBom + "{\r\n  \"folders\" : [ \"C:\\\\A\" ,\r\n \"\xE6\x97\xA5\" ],\r\n  \"x\" : -7, \"y\": 5,\r\n"
                      "  \"width\": 640, \"height\": 480\r\n}\r\n");
    LoadSettings();
    EXPECT_EQ(AppState.geometry.x, -7);
    EXPECT_EQ(AppState.geometry.y, 5);
    EXPECT_EQ(AppState.geometry.width, 640);
    EXPECT_EQ(AppState.geometry.height, 480);
    EXPECT_EQ(AppState.folders, (FolderList{L"C:\\A", L"\u65e5"}));
}

// Whatever the file holds, loading finishes with usable values and bounded
// memory.
TEST_F(SettingsStore, AnyContentLoadsWithoutCrashHangOrRunawayMemory) {
    std::mt19937 random(1234);
    std::string junk(64 * 1024, '\0');
    for (char& c : junk) c = static_cast<char>(random());
    std::string manyEntries = "{\"x\":5,\"folders\":[";
    while (manyEntries.size() < 10 * 1024 * 1024) manyEntries += "\"\",\"C:\\\\x\",";
    manyEntries += "\"\"]}";
    std::string utf16 = "\xFF\xFE";
    for (char c : std::string("{\"x\":5,\"folders\":[\"C:\\\\A\"]}")) utf16 += std::string{c, '\0'};
    const std::string contents[] = {
        junk,
        utf16,
        manyEntries,
        kBom + "{\"x\":5,\"folders\":[\"C:\\\\unterminated",
        std::string(10 * 1024 * 1024, '['),
        "",
    };
    for (const std::string& content : contents) {
        GetSettingsPath();
        WriteTextFile(appData_.settingsFile(), content);
        PROCESS_MEMORY_COUNTERS before{sizeof(before)};
        GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof(before));
        LoadSettings();
        PROCESS_MEMORY_COUNTERS after{sizeof(after)};
        GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof(after));
        EXPECT_LE(AppState.folders.size(), MAX_WATCHED_FOLDERS);
        for (const std::wstring& folder : AppState.folders) EXPECT_FALSE(folder.empty());
        EXPECT_GT(AppState.geometry.width, 0);
        EXPECT_GT(AppState.geometry.height, 0);
        // The text itself may take twice the file's size as UTF-16 while it
        // grows; anything far beyond that would be per-entry waste.
        EXPECT_LT(after.PeakPagefileUsage - before.PagefileUsage, 128u * 1024 * 1024)
            << "content of " << content.size() << " bytes";
    }
}

TEST_F(SettingsStore, ManyEntriesGiveTheFirstTenNonEmpty) {
    std::string text = "{\"folders\":[\"\"";
    for (int i = 0; i < 5000; ++i) text += ",\"C:\\\\F" + std::to_string(i) + "\"";
    text += "]}";
    GetSettingsPath();
    WriteTextFile(appData_.settingsFile(), text);
    LoadSettings();
    ASSERT_EQ(AppState.folders.size(), 10u);
    EXPECT_EQ(AppState.folders.front(), L"C:\\F0");
    EXPECT_EQ(AppState.folders.back(), L"C:\\F9");
}

}  // namespace
