// The settings text: exact bytes from the writer, the reader's tolerances,
// and writer-then-reader round trips.

#include <gtest/gtest.h>

#include <climits>

#include "settings/settings_text.h"
#include "expect_geometry.h"

namespace {

constexpr WindowGeometry kDefaults{11, 22, 333, 444};

struct Loaded {
    WindowGeometry geometry;
    FolderList folders;
};

Loaded Load(std::wstring_view text) {
    Loaded loaded{kDefaults, {L"stale"}};
    ApplySettingsText(text, loaded.geometry, loaded.folders);
    return loaded;
}

TEST(SettingsWriter, WritesTheDocumentedExamplesExactly) {
    EXPECT_EQ(FormatSettingsText({880, 410, 420, 350}, {L"D:\\Scans", L"C:\\Work\\Inbox"}),
              L"{\"x\":880,\"y\":410,\"width\":420,\"height\":350,\"folders\":[\"D:\\\\Scans\",\"C:\\\\Work\\\\Inbox\"]}");
    EXPECT_EQ(FormatSettingsText({-900, 40, 420, 350}, {}),
              L"{\"x\":-900,\"y\":40,\"width\":420,\"height\":350,\"folders\":[]}");
}

TEST(SettingsWriter, WritesTheWholeInt32RangeAndZero) {
    EXPECT_EQ(FormatSettingsText({INT32_MIN, INT32_MAX, 0, -1}, {}),
              L"{\"x\":-2147483648,\"y\":2147483647,\"width\":0,\"height\":-1,\"folders\":[]}");
}

TEST(SettingsWriter, EscapesExactlyFiveCharacters) {
    std::wstring out;
    AppendEscapedJsonString(out, L"a\tb\nc\rd\"e\\f/g[h]i,j:k\bl\u00e9m\u65e5");
    EXPECT_EQ(out, L"a\\tb\\nc\\rd\\\"e\\\\f/g[h]i,j:k\bl\u00e9m\u65e5");
}

TEST(SettingsReader, ReadsKeysInAnyOrderWithWhiteSpaceAndLineBreaks) {
    auto loaded = Load(L"{ \"folders\" : [ \"C:\\\\A\" ,\n \"D:\\\\B\" ] ,\r\n \"height\" : 300 ,\n"
                       L" \"width\" : 400 , \"y\" : 5 , \"x\" : -7 }");
    ExpectGeometry(loaded.geometry, -7, 5, 400, 300);
    EXPECT_EQ(loaded.folders, (FolderList{L"C:\\A", L"D:\\B"}));
}

TEST(SettingsReader, NumberTolerances) {
    struct Case {
        const wchar_t* text;
        bool found;
        int32_t value;
    } cases[] = {
        {L"{\"x\":12}", true, 12},           {L"{\"x\":-12}", true, -12},
        {L"{\"x\":0012}", true, 12},         {L"{\"x\":12-3}", true, 12},
        {L"{\"x\":5-}", true, 5},            {L"{\"x\":-}", true, 0},
        {L"{\"x\":--5}", true, 0},           {L"{\"x\":12.9}", true, 12},
        {L"{\"x\":1e3}", true, 1},           {L"{\"x\":99999999999}", true, INT32_MAX},
        {L"{\"x\":-99999999999}", true, INT32_MIN}, {L"{\"x\":-2147483648}", true, INT32_MIN},
        {L"{\"x\":2147483647}", true, INT32_MAX},   {L"{\"x\":\"100\"}", false, 0},
        {L"{\"x\":+100}", false, 0},         {L"{\"x\":null}", false, 0},
        {L"{\"x\":}", false, 0},             {L"{\"x\":   ", false, 0},
        {L"{\"x\"", false, 0},               {L"{\"X\":5}", false, 0},
        {L"{\"x\",\"y\":7}", true, 7},       {L"{\"folders\":[\"x\"],\"y\":5}", true, 5},
    };
    for (const Case& c : cases) {
        int32_t value = 77;
        EXPECT_EQ(ReadIntValue(c.text, L"x", value), c.found) << c.text;
        EXPECT_EQ(value, c.found ? c.value : 77) << c.text;
    }
}

TEST(SettingsReader, NonPositiveSizesKeepTheDefaults) {
    ExpectGeometry(Load(L"{\"width\":0,\"height\":-5}").geometry, 11, 22, 333, 444);
    ExpectGeometry(Load(L"{\"x\":0,\"y\":-3,\"width\":1,\"height\":2}").geometry, 0, -3, 1, 2);
}

TEST(SettingsReader, FolderArrayTolerances) {
    struct Case {
        const wchar_t* text;
        FolderList folders;
    } cases[] = {
        {L"\"folders\":[]", {}},
        {L"\"folders\":[ ]", {}},
        {L"\"folders\":[\"\",\"\"]", {}},
        {L"\"folders\":[,\"C:\\\\A\",,\"D:\\\\B\",]", {L"C:\\A", L"D:\\B"}},
        {L"\"folders\":[42,\"C:\\\\A\"]", {L"C:\\A"}},
        {L"\"folders\":[\"C:\\\\A\" \"D:\\\\B\",\"E:\\\\C\"]", {L"C:\\A", L"E:\\C"}},
        {L"\"folders\":[\"C:\\\\a,b\"]", {L"C:\\a,b"}},
        {L"\"folders\":[\" C:\\\\A \"]", {L" C:\\A "}},
        {L"\"folders\":[\"x\\u0041\"]", {L"xu0041"}},
        {L"\"folders\":[\"a\\tb\"]", {L"a\tb"}},
        {L"\"folders\":[\"C:\\\\A\",\"c:\\\\a\"]", {L"C:\\A", L"c:\\a"}},
        {L"\"folders\" junk : junk [\"A\"]", {L"A"}},
        // Cut inside the array: no folders at all, although "A" is complete.
        {L"{\"x\":1,\"folders\":[\"A\",\"B", {}},
        {L"\"folders\":[\"A\"", {}},
        {L"\"folders\"[\"A\"]", {}},
        {L"\"Folders\":[\"A\"]", {}},
        // A quote that never closes hides every ']' after it: no folders.
        {L"\"folders\":[\"abc]", {}},
        {L"\"folders\":[\"ab\\\\]", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Load(c.text).folders, c.folders) << c.text;
    }
}

TEST(SettingsReader, ReadFolderArrayKeepsEmptyEntriesAndReportsTheBrackets) {
    std::vector<std::wstring> entries{L"old"};
    EXPECT_TRUE(ReadFolderArray(L"\"folders\":[\"\",\"A\",\"\"]", entries));
    EXPECT_EQ(entries, (std::vector<std::wstring>{L"", L"A", L""}));
    EXPECT_TRUE(ReadFolderArray(L"\"folders\":[]", entries));
    EXPECT_TRUE(entries.empty());
    entries = {L"old"};
    EXPECT_FALSE(ReadFolderArray(L"\"folders\":[\"A\"", entries));
    EXPECT_TRUE(entries.empty());
}

// A file whose list is there but cannot be read is kept; one without the
// key at all, or with a complete array, may be replaced.
TEST(SettingsReader, TellsAFolderArrayThatCannotBeRead) {
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"{\"x\":1,\"folders\":[\"A\",\"B", true},
        {L"{\"folders\":[\"A\"}", true},
        {L"{\"folders\":\"A\"}", true},
        {L"\"folders\"", true},
        // Bracket lost, or cut inside an entry, with a ']' in a folder name.
        {L"{\"folders\":[\"C:\\\\Photos [2023]\",\"D:\\\\Inbox\"}", true},
        {L"{\"folders\":[\"C:\\\\Photos [2023]\",\"D:\\\\Wo", true},
        {L"{\"folders\":[]}", false},
        {L"{\"folders\":[\"a]b\"]}", false},
        {L"{\"x\":1,\"fold", false},
        {L"\"Folders\":[\"A\"", false},
        {L"", false},
    };
    for (const auto& [text, unreadable] : cases) EXPECT_EQ(FolderArrayIsUnreadable(text), unreadable) << text;
}

TEST(SettingsReader, TakesTheFirstTenNonEmptyEntries) {
    std::wstring text = L"{\"folders\":[\"\"";
    for (int i = 0; i < 12; ++i) text += L",\"F" + std::to_wstring(i) + L"\"";
    text += L"]}";
    FolderList expected;
    for (int i = 0; i < 10; ++i) expected.push_back(L"F" + std::to_wstring(i));
    EXPECT_EQ(Load(text).folders, expected);
}

TEST(SettingsReader, NumbersBeforeACutArrayAreStillRead) {
    auto loaded = Load(L"{\"x\":5,\"y\":6,\"width\":700,\"height\":800,\"folders\":[\"C:\\\\A");
    ExpectGeometry(loaded.geometry, 5, 6, 700, 800);
    EXPECT_TRUE(loaded.folders.empty());
}

TEST(SettingsReader, NothingUsableGivesDefaults) {
    for (const wchar_t* text : {L"", L"{}", L"\xFEFF", L"garbage \"x\" without colon", L"[[[]]]"}) {
        auto loaded = Load(text);
        ExpectGeometry(loaded.geometry, 11, 22, 333, 444);
        EXPECT_TRUE(loaded.folders.empty()) << text;
    }
}

TEST(SettingsUnescape, DecodesPairsOnce) {
    EXPECT_EQ(UnescapeJsonString(L"\\\"\\/\\\\\\b\\f\\n\\r\\t"), L"\"/\\\b\f\n\r\t");
    EXPECT_EQ(UnescapeJsonString(L"\\x\\u0041"), L"xu0041");
    EXPECT_EQ(UnescapeJsonString(L"\\\\n"), L"\\n");  // the second of a pair starts nothing
    EXPECT_EQ(UnescapeJsonString(L"end\\"), L"end\\");
    EXPECT_EQ(UnescapeJsonString(L""), L"");
}

TEST(SettingsRoundTrip, EveryListTheWriterProducesReadsBack) {
    const std::vector<FolderList> lists = {
        {},
        {L"C:\\Work\\Inbox"},
        {L"C:\\a]b", L"D:\\[x]", L"E:\\]]", L"F:\\]\"]"},
        {L"C:\\with,comma", L"C:\\\"quoted\"", L"C:\\tab\there", L"C:\\nl\nand\rcr"},
        {L"C:\\\u65e5\u672c\u8a9e\\\u30d5\u30a9\u30eb\u30c0\u30fc", L"C:\\\u00c4\u00e4", L"C:\\emoji\U0001F600", L"C:\\\uFFFD"},
        {L"C:\\ends\\", L"\\\\server\\share", L"C:/slash/", L"C:\\\\double", L" spaced "},
        {L"A", L"B", L"C", L"D", L"E", L"F", L"G", L"H", L"I", L"J"},
        {L"C:\\\b\f\x01\x1f"},
        {L"\x7F\u0080\u07FF\u0800\uFFFF\U00010000\U0010FFFF"},
    };
    for (const FolderList& folders : lists) {
        const WindowGeometry geometry{-5, 7, 640, 480};
        std::string bytes;
        std::wstring text;
        ASSERT_TRUE(EncodeSettingsBytes(FormatSettingsText(geometry, folders), bytes) && DecodeSettingsBytes(bytes, text));
        auto loaded = Load(text);
        ExpectGeometry(loaded.geometry, -5, 7, 640, 480);
        EXPECT_EQ(loaded.folders, folders) << text;
    }
}

// Well-formed UTF-8, after an optional byte-order mark, and nothing else:
// a NUL, a Shift-JIS or UTF-16 file, or a damaged byte gives no text. A
// sequence cut by the end stays cut, whatever lies beyond the end.
TEST(SettingsBytes, DecodesUtf8AndRefusesEverythingElse) {
    using namespace std::string_view_literals;
    const std::pair<std::string_view, const wchar_t*> cases[] = {
        {"", L""}, {"\xEF\xBB\xBF{\"x\":1}", L"{\"x\":1}"}, {"C:\\\xEF\xBF\xBD", L"C:\\\uFFFD"},
        {"\xC3\xA4\xE6\x97\xA5\xF0\x9F\x98\x80", L"\u00e4\u65e5\U0001F600"},
        {"C:\\A\0B"sv, nullptr}, {"\xC0\x80", nullptr}, {"\xE0\x9F\xBF", nullptr}, {"\xF0\x8F\xBF\xBF", nullptr},
        {"\xED\xA0\x80", nullptr}, {"\xF4\x90\x80\x80", nullptr}, {"\xF8\x88\x80\x80\x80", nullptr}, {"a\x80", nullptr},
        {"\xFF\xFE{\0"sv, nullptr}, {"\xE6\x41\xA5", nullptr}, {std::string_view("\xE6\x97\xA5", 2), nullptr},
        {"C:\\\x83\x74\x83\x48\x83\x8B\x83\x5F", nullptr},  // "フォルダ" in Shift-JIS
    };
    for (const auto& [bytes, text] : cases) {
        std::wstring decoded = L"stale";
        EXPECT_EQ(DecodeSettingsBytes(bytes, decoded), text != nullptr) << testing::PrintToString(std::string(bytes));
        EXPECT_EQ(decoded, text ? text : L"") << testing::PrintToString(std::string(bytes));
    }
}

// A lone surrogate has no UTF-8 form; a pair is one character (see the
// round trip).
TEST(SettingsBytes, EncodingRefusesALoneSurrogate) {
    const wchar_t highLowA[] = {0xD83D, 0xDE00, L'a'};
    // The low surrogate after the first is not part of that text.
    for (std::wstring_view text : {std::wstring_view(highLowA, 1), std::wstring_view(highLowA + 1, 2),
                                   std::wstring_view(L"\xD83D" L"a")}) {
        std::string bytes;
        EXPECT_FALSE(EncodeSettingsBytes(text, bytes)) << testing::PrintToString(std::wstring(text));
    }
}

TEST(ParseLeadingInt, BehavesLikeTheRuntimeConversion) {
    EXPECT_EQ(ParseLeadingInt(L""), 0);
    EXPECT_EQ(ParseLeadingInt(L"  42x"), 42);
    EXPECT_EQ(ParseLeadingInt(L"+7"), 7);
    EXPECT_EQ(ParseLeadingInt(L"-"), 0);
    EXPECT_EQ(ParseLeadingInt(L"2147483648"), INT32_MAX);
    EXPECT_EQ(ParseLeadingInt(L"-2147483649"), INT32_MIN);
    EXPECT_EQ(ParseLeadingInt(std::wstring(100000, L'9')), INT32_MAX);
}

}  // namespace
