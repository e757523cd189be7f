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

TEST(InsertFolderAtFront, IgnoresAnEmptyPath) {
    FolderList list = Numbered(3);
    EXPECT_FALSE(InsertFolderAtFront(list, L""));
    EXPECT_EQ(list, Numbered(3));
}

TEST(InsertFolderAtFront, PutsANewFolderFirstAndDropsTheOldestBeyondTen) {
    FolderList list = Numbered(10);
    EXPECT_TRUE(InsertFolderAtFront(list, L"D:\\New"));
    ASSERT_EQ(list.size(), 10u);
    EXPECT_EQ(list.front(), L"D:\\New");
    EXPECT_EQ(list[1], L"C:\\F0");
    EXPECT_EQ(list.back(), L"C:\\F8");
}

TEST(InsertFolderAtFront, ReplacesAnEntryThatDiffersOnlyInCase) {
    FolderList list = Numbered(10);
    list[2] = L"C:\\Data";
    InsertFolderAtFront(list, L"C:\\data");
    ASSERT_EQ(list.size(), 10u);
    EXPECT_EQ(list[0], L"C:\\data");
    EXPECT_EQ(list[1], L"C:\\F0");
    EXPECT_EQ(list[2], L"C:\\F1");
    EXPECT_EQ(list[9], L"C:\\F9");
}

TEST(InsertFolderAtFront, KeepsFoldersThatDifferBeyondAsciiCase) {
    FolderList list{L"C:\\Data\\", L"C:\\\u00c4"};
    InsertFolderAtFront(list, L"C:\\Data");
    InsertFolderAtFront(list, L"C:\\\u00e4");
    EXPECT_EQ(list, (FolderList{L"C:\\\u00e4", L"C:\\Data", L"C:\\Data\\", L"C:\\\u00c4"}));
}

TEST(InsertFolderAtFront, ReAddingTheFirstFolderLeavesTheList) {
    FolderList list = Numbered(4);
    InsertFolderAtFront(list, L"C:\\F0");
    EXPECT_EQ(list, Numbered(4));
}

TEST(InsertFolderAtFront, RemovesOnlyTheFirstOfTwoLoadedDuplicates) {
    FolderList list{L"A", L"C:\\Dup", L"B", L"c:\\DUP"};
    InsertFolderAtFront(list, L"C:\\dup");
    EXPECT_EQ(list, (FolderList{L"C:\\dup", L"A", L"B", L"c:\\DUP"}));
}

}  // namespace
