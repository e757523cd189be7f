// The normal form in which folder paths are compared to shell windows.

#include <gtest/gtest.h>

#include "explorer/folder_identity.h"

namespace {

TEST(NormalizeFolderPath, NormalForms) {
    struct Case {
        const wchar_t* path;
        const wchar_t* normal;
    } cases[] = {
        {L"", L""},
        {L"/", L""},
        {L"\\", L""},
        {L"//\\", L""},
        {L"C:\\", L"c:"},
        {L"C:", L"c:"},
        {L"C:/Users/Me/", L"c:\\users\\me"},
        {L"c:\\users\\me\\", L"c:\\users\\me"},
        {L"C:\\Data\\\\\\", L"c:\\data"},
        {L"C:\\\\Data", L"c:\\\\data"},
        {L"C:\\\u00c4rger", L"c:\\\u00c4rger"},
        {L"C:\\Data.", L"c:\\data."},
        {L"\\\\Server\\Share\\", L"\\\\server\\share"},
        {L"C:\\a\\..\\B", L"c:\\a\\..\\b"},
        {L"C:\\[Z]{@}", L"c:\\[z]{@}"},
        {L"C:\\\U0001F600", L"c:\\\U0001F600"},
    };
    for (const Case& c : cases) {
        const std::wstring normal = NormalizeFolderPath(c.path);
        EXPECT_EQ(normal, c.normal) << c.path;
        EXPECT_EQ(NormalizeFolderPath(normal), normal) << "not idempotent: " << c.path;
    }
}

TEST(FolderPathsEqual, ComparesNormalFormsExactly) {
    auto same = [](const wchar_t* a, const wchar_t* b) {
        return FolderPathsEqual(NormalizeFolderPath(a), NormalizeFolderPath(b));
    };
    EXPECT_TRUE(same(L"C:\\", L"C:"));
    EXPECT_TRUE(same(L"C:/Users/Me/", L"c:\\users\\me\\"));
    EXPECT_TRUE(same(L"C:\\Users\\Me", L"C:/Users/Me"));
    EXPECT_FALSE(same(L"C:\\\\Data", L"C:\\Data"));
    EXPECT_FALSE(same(L"C:\\\u00c4", L"C:\\\u00e4"));
    EXPECT_FALSE(same(L"C:\\Data", L"C:\\Data2"));
    EXPECT_TRUE(FolderPathsEqual(L"", L""));
}

TEST(IsFileLocation, NeedsTheExactLowerCasePrefix) {
    EXPECT_TRUE(IsFileLocation(L"file://"));
    EXPECT_TRUE(IsFileLocation(L"file:///C:/Data"));
    EXPECT_FALSE(IsFileLocation(L"FILE:///C:/Data"));
    EXPECT_FALSE(IsFileLocation(L"File:///C:/Data"));
    EXPECT_FALSE(IsFileLocation(L"https://example.org/"));
    EXPECT_FALSE(IsFileLocation(L"file:/"));
    EXPECT_FALSE(IsFileLocation(L""));
}

}  // namespace
