#pragma once
// What the names in one wake-up's change records say: whether they are
// only noise (files nobody wants to be shown, which must wake nobody), and
// which item of the watched folder the wake-up is about. Pure text work on
// paths relative to the watched folder, as the file system reports them.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class NameChange { Added, Removed, Modified, RenamedFrom, RenamedTo };

struct ChangedName {
    NameChange change;
    std::wstring path;  // relative to the watched folder, backslashes
};

// Office's owner files (~$...) and temporary copies (~....tmp), the
// shell's Thumbs.db and desktop.ini, .DS_Store, and partial downloads
// (.crdownload, .part, .download): judged by the last part of path, A-Z
// without regard to case.
bool IsNoiseName(std::wstring_view path);

// path relative to folder when it is folder or lies below it (both
// compared in their normal forms); nothing otherwise.
std::optional<std::wstring> PathBelow(std::wstring_view folder, std::wstring_view path);

// One wake-up as the watcher acts on it.
struct WakeUpJudgement {
    // Every record names noise: no activation, no flash, no balloon.
    bool quiet = false;
    // The watched folder's item to select; empty for none.
    std::wstring item;
};

// records: the wake-up's names; none for a wake-up that carries no names
// (an overflow, a folder watched without names), which is never quiet.
// A rename counts by its new name. ownFolder: where the program keeps its
// own files, relative to the watched folder ("" when the watched folder is
// itself inside it); every change there is noise. The item is the watched
// folder's child on the path of the last record that is not noise and
// names something that still exists as far as the records tell (no later
// record of the wake-up deletes it, or a folder above it, or renames it
// away); deletions and old names choose nothing. It is as the file system
// reported it: a short (8.3) name stays short here.
WakeUpJudgement JudgeWakeUp(const std::vector<ChangedName>& records, const std::optional<std::wstring>& ownFolder);
