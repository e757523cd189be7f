// A process that saves the settings in a loop is killed at random moments:
// every time, the file must hold one complete text, the old or the new one,
// and no temporary file may pile up.

#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "scoped_local_app_data.h"
#include "settings/settings_store.h"
#include "settings_save_texts.h"
#include "test_support.h"

namespace {

std::string Utf8WithBom(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
    return "\xEF\xBB\xBF" + bytes;
}

std::wstring SaveLoopExe() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path = self;
    return path.substr(0, path.find_last_of(L'\\') + 1) + L"settings_save_loop.exe";
}

TEST(SettingsCrashSafety, KilledSavesNeverLeaveACutFile) {
    ScopedLocalAppData appData;
    const std::wstring path = GetSettingsPath();
    const std::string texts[2] = {Utf8WithBom(SaveLoopText(0)), Utf8WithBom(SaveLoopText(1))};
    ASSERT_TRUE(WriteSettingsFile(path, SaveLoopText(0)));
    ASSERT_EQ(ReadBytes(path), texts[0]);

    std::mt19937 random(20261207);
    std::uniform_int_distribution<int> delay(0, 40);
    int killsDuringASave = 0;
    int refusedStarts = 0;
    int changes = 0;
    std::string previous = texts[0];
    for (int kill = 0; kill < 200; ++kill) {
        std::wstring command = L"\"" + SaveLoopExe() + L"\" \"" + path + L"\"";
        STARTUPINFOW startup{sizeof(startup)};
        PROCESS_INFORMATION process{};
        // Wine now and then refuses to start a process right after killing the
        // last one (ERROR_INTERNAL_ERROR, twice in about 6,000 starts here);
        // another try a moment later starts it.
        bool started = false;
        for (int attempt = 0; attempt < 3 && !started; ++attempt) {
            started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                     &process) != FALSE;
            if (!started) {
                ++refusedStarts;
                Sleep(50);
            }
        }
        ASSERT_TRUE(started) << "kill " << kill << ", error " << GetLastError();
        // Let the loop get going, then kill it somewhere inside a save.
        const bool saving = WaitUntil(
            [&] { return ReadBytes(path) != previous || WaitForSingleObject(process.hProcess, 0) != WAIT_TIMEOUT; },
            std::chrono::seconds(10), std::chrono::milliseconds(1));
        Sleep(delay(random));
        TerminateProcess(process.hProcess, 9);
        const bool ended = WaitForSingleObject(process.hProcess, 10000) == WAIT_OBJECT_0;
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        ASSERT_TRUE(saving && ended) << "kill " << kill << ": the save loop "
                                     << (saving ? "still ran 10 s after the kill" : "changed nothing within 10 s");

        const std::string now = ReadBytes(path);
        ASSERT_TRUE(now == texts[0] || now == texts[1]) << "kill " << kill << " left " << now.size() << " bytes";
        changes += now != previous;
        previous = now;
        const std::vector<std::wstring> files = FilesIn(appData.vantlyFolder());
        killsDuringASave += files.size() == 2;
        for (const std::wstring& name : files) {
            ASSERT_TRUE(name == L"window.json" || name == L"window.json.tmp") << "stray file after kill " << kill;
        }
    }
    // A later save clears whatever temporary file the last kill left.
    ASSERT_TRUE(WriteSettingsFile(path, SaveLoopText(0)));
    EXPECT_EQ(FilesIn(appData.vantlyFolder()), std::vector<std::wstring>{L"window.json"});
    std::printf("200 kills: %d left a temporary file behind, %d changed the file; %d starts refused\n",
                killsDuringASave, changes, refusedStarts);
    EXPECT_GT(killsDuringASave, 0) << "no kill landed inside a save; the test proved nothing";
}

}  // namespace
