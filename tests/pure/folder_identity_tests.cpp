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
        {L"C:\\[Z]{@A}", L"c:\\[z]{@a}"},
        {L"C:\\\U0001F600", L"c:\\\U0001F600"},
    };
    for (const Case& c : cases) {
        const std::wstring normal = NormalizeFolderPath(c.path);
        EXPECT_EQ(normal, c.normal) << c.path;
        EXPECT_EQ(NormalizeFolderPath(normal), normal) << "not idempotent: " << c.path;
    }
}

// What a balloon calls a folder.
TEST(FolderDisplayName, LastPartOrTheWholePathForARoot) {
    struct Case {
        const wchar_t* path;
        const wchar_t* name;
    } cases[] = {
        {L"D:\\スキャン", L"スキャン"},
        {L"D:/Work/Scans//", L"Scans"},
        {L"\\\\server\\share", L"share"},
        {L"\\\\?\\C:\\Data", L"Data"},
        {L"C:\\", L"C:\\"},
        {L"C:", L"C:"},
        {L"\\\\?\\C:\\", L"\\\\?\\C:\\"},
        {L"\\", L"\\"},
    };
    for (const Case& c : cases) EXPECT_EQ(FolderDisplayName(c.path), c.name) << c.path;
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

// start, then "\segment" pieces of x up to exactly length characters (the
// last piece cut), separated with sep.
std::wstring Padded(std::wstring_view start, std::size_t length, wchar_t sep = L'\\') {
    std::wstring path(start);
    while (path.size() < length) path += path.size() % 40 == 0 ? sep : L'x';
    path.resize(length);
    return path;
}

TEST(ExtendedLengthPath, LongAbsolutePathsGetTheExtendedFormOthersStayAsGiven) {
    const std::size_t kLong = kClassicPathLimit;
    const std::wstring driveLong = Padded(L"C:\\Data", kLong);
    const std::wstring shareLong = Padded(L"\\\\Server\\Share", kLong);
    struct Case {
        const char* what;
        std::wstring path;
        std::wstring kernel;
    } cases[] = {
        {"empty", L"", L""},
        {"short drive path, slashes kept", L"C:/Data/x", L"C:/Data/x"},
        {"one short of the limit", Padded(L"C:\\Data", kLong - 1), Padded(L"C:\\Data", kLong - 1)},
        {"drive path at the limit", driveLong, L"\\\\?\\" + driveLong},
        {"lower-case drive letter", Padded(L"d:\\Data", kLong + 40), L"\\\\?\\" + Padded(L"d:\\Data", kLong + 40)},
        {"drive path with slashes", Padded(L"C:/Data", kLong, L'/'), L"\\\\?\\" + Padded(L"C:\\Data", kLong)},
        {"share", shareLong, L"\\\\?\\UNC\\" + shareLong.substr(2)},
        {"share with slashes", Padded(L"//Server/Share", kLong, L'/'), L"\\\\?\\UNC\\" + shareLong.substr(2)},
        {"already extended", Padded(L"\\\\?\\C:\\Data", kLong + 10), Padded(L"\\\\?\\C:\\Data", kLong + 10)},
        {"extended share", Padded(L"\\\\?\\UNC\\S\\T", kLong), Padded(L"\\\\?\\UNC\\S\\T", kLong)},
        {"device namespace", Padded(L"\\\\.\\C:\\Data", kLong), Padded(L"\\\\.\\C:\\Data", kLong)},
        {"relative", Padded(L"Data\\Sub", kLong, L'/'), Padded(L"Data\\Sub", kLong, L'/')},
        {"rooted, no drive", Padded(L"\\Data", kLong), Padded(L"\\Data", kLong)},
        {"relative to a drive's current folder", Padded(L"C:Data", kLong), Padded(L"C:Data", kLong)},
        {"not a drive letter", Padded(L"1:\\Data", kLong), Padded(L"1:\\Data", kLong)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ExtendedLengthPath(c.path), c.kernel) << c.what;
        EXPECT_EQ(ExtendedLengthPath(c.kernel), c.kernel) << "not idempotent: " << c.what;
    }
}

TEST(DriveRootOfAndIsSharePath, TellDrivesFromShares) {
    struct Case {
        const wchar_t* path;
        const wchar_t* root;
        bool share;
    } cases[] = {
        {L"C:\\Data", L"C:\\", false},
        {L"d:/Data", L"d:\\", false},
        {L"E:\\", L"E:\\", false},
        {L"\\\\?\\F:\\Data", L"F:\\", false},
        {L"C:Data", L"", false},  // relative to the drive's current folder
        {L"C:", L"", false},
        {L"Data\\Sub", L"", false},
        {L"\\Data", L"", false},
        {L"1:\\Data", L"", false},
        {L"\\\\Server\\Share\\In", L"", true},
        {L"//Server/Share", L"", true},
        {L"\\\\?\\UNC\\Server\\Share", L"", true},
        {L"\\\\?\\unc\\Server\\Share", L"", true},
        {L"\\\\.\\C:\\Data", L"", false},
        {L"\\\\?\\Volume{x}\\Data", L"", false},
        {L"", L"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DriveRootOf(c.path), c.root) << testing::PrintToString(std::wstring(c.path));
        EXPECT_EQ(IsSharePath(c.path), c.share) << testing::PrintToString(std::wstring(c.path));
    }
}

}  // namespace
