#include "watch/change_names.h"

#include <algorithm>
#include <array>

#include "explorer/folder_identity.h"
#include "state/folder_list.h"

namespace {

std::wstring FoldedCase(std::wstring_view text) {
    std::wstring folded(text);
    for (wchar_t& c : folded) c = FoldAsciiLetter(c);
    return folded;
}

std::wstring_view LastPart(std::wstring_view path) {
    const std::size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring_view::npos ? path : path.substr(separator + 1);
}

bool IsNoise(const ChangedName& record, const std::optional<std::wstring>& ownFolder) {
    if (IsNoiseName(record.path)) return true;
    if (!ownFolder) return false;
    return ownFolder->empty() || PathBelow(*ownFolder, record.path).has_value();
}

}  // namespace

bool IsNoiseName(std::wstring_view path) {
    const std::wstring name = FoldedCase(LastPart(path));
    if (name.starts_with(L"~$")) return true;
    if (name.starts_with(L"~") && name.ends_with(L".tmp")) return true;
    constexpr std::array<std::wstring_view, 3> kNames = {L"thumbs.db", L"desktop.ini", L".ds_store"};
    for (std::wstring_view noise : kNames) {
        if (name == noise) return true;
    }
    constexpr std::array<std::wstring_view, 3> kEndings = {L".crdownload", L".part", L".download"};
    for (std::wstring_view ending : kEndings) {
        if (name.ends_with(ending)) return true;
    }
    return false;
}

std::optional<std::wstring> PathBelow(std::wstring_view folder, std::wstring_view path) {
    const std::wstring top = NormalizeFolderPath(folder);
    const std::wstring normal = NormalizeFolderPath(path);
    if (normal == top) return std::wstring();
    if (top.empty() || normal.size() <= top.size() || normal.compare(0, top.size(), top) != 0 ||
        normal[top.size()] != L'\\') {
        return std::nullopt;
    }
    // The rest as given, not folded: it names something on disk.
    return WithBackslashes(path).substr(top.size() + 1);
}

WakeUpJudgement JudgeWakeUp(const std::vector<ChangedName>& records, const std::optional<std::wstring>& ownFolder) {
    WakeUpJudgement judgement;
    bool anyJudged = false;
    bool allNoise = true;
    for (const ChangedName& record : records) {
        if (record.change == NameChange::RenamedFrom) continue;
        anyJudged = true;
        allNoise = allNoise && IsNoise(record, ownFolder);
    }
    judgement.quiet = anyJudged && allNoise;
    if (judgement.quiet) return judgement;
    // Walked from the end: what a later record took away is known first.
    std::vector<std::wstring_view> takenAway;
    for (auto record = records.rbegin(); record != records.rend(); ++record) {
        if (record->change == NameChange::Removed || record->change == NameChange::RenamedFrom) {
            takenAway.push_back(record->path);
            continue;
        }
        if (IsNoise(*record, ownFolder)) continue;
        const bool gone = std::any_of(takenAway.begin(), takenAway.end(), [&record](std::wstring_view away) {
            return PathBelow(away, record->path).has_value();
        });
        if (gone) continue;
        const std::size_t separator = record->path.find_first_of(L"\\/");
        judgement.item = record->path.substr(0, separator);
        if (!judgement.item.empty()) break;
    }
    return judgement;
}
