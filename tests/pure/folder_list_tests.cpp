// The watched-folder list's rules: newest first, A-Z-only duplicate test,
// the cap of ten.

#include <gtest/gtest.h>

#include "state/folder_list.h"

namespace {

FolderList Numbered(int count) {
    FolderList list;
    for (int i = 0; i < count; ++i) list.push_back(L"C:\\F" + std::to_wstring(i));
    return list;
}

TEST(FolderNamesEqual, FoldsOnlyAsciiLetters) {
    EXPECT_TRUE(FolderNamesEqual(L"C:\\Data", L"c:\\dATA"));
    EXPECT_FALSE(FolderNamesEqual(L"C:\\\u00c4", L"C:\\\u00e4"));
    EXPECT_FALSE(FolderNamesEqual(L"C:\\Data", L"C:\\Data\\"));
    EXPECT_FALSE(FolderNamesEqual(L"C:\\Data", L"C:/Data"));
    EXPECT_FALSE(FolderNamesEqual(L"C:\\Data", L"C:\\Data2"));
    // 'Z' is the last letter folded; '@' and '[' just outside A-Z sit 0x20
    // apart from '`' and '{' like letters but are not folded.
    EXPECT_TRUE(FolderNamesEqual(L"Z", L"z"));
    EXPECT_FALSE(FolderNamesEqual(L"@", L"`"));
    EXPECT_FALSE(FolderNamesEqual(L"[", L"{"));
    EXPECT_TRUE(FolderNamesEqual(L"", L""));
}

TEST(InsertFolderAtFront, NewestFirstAtMostTenAndOneEntryPerFolder) {
    FolderList withData = Numbered(10);
    withData[2] = L"C:\\Data";
    FolderList ten = Numbered(10);
    ten.insert(ten.begin(), L"D:\\New");
    ten.pop_back();
    FolderList dataFirst = Numbered(10);
    dataFirst.erase(dataFirst.begin() + 2);
    dataFirst.insert(dataFirst.begin(), L"C:\\data");
    struct Case {
        const char* name;
        FolderList list;
        std::vector<const wchar_t*> added;
        bool changed;  // what the last insert answers
        FolderList expected;
    } cases[] = {
        {"an empty path is ignored", Numbered(3), {L""}, false, Numbered(3)},
        {"a new folder first, the oldest beyond ten dropped", Numbered(10), {L"D:\\New"}, true, ten},
        {"an entry that differs only in case is replaced", withData, {L"C:\\data"}, true, dataFirst},
        {"folders that differ beyond ASCII case are kept", {L"C:\\Data\\", L"C:\\\u00c4"},
         {L"C:\\Data", L"C:\\\u00e4"}, true, {L"C:\\\u00e4", L"C:\\Data", L"C:\\Data\\", L"C:\\\u00c4"}},
        {"adding the first folder again leaves the list", Numbered(4), {L"C:\\F0"}, true, Numbered(4)},
        {"only the first of two loaded duplicates goes", {L"A", L"C:\\Dup", L"B", L"c:\\DUP"}, {L"C:\\dup"}, true,
         {L"C:\\dup", L"A", L"B", L"c:\\DUP"}},
    };
    for (Case& c : cases) {
        bool changed = false;
        for (const wchar_t* path : c.added) changed = InsertFolderAtFront(c.list, path);
        EXPECT_EQ(changed, c.changed) << c.name;
        EXPECT_EQ(c.list, c.expected) << c.name;
    }
}

}  // namespace
