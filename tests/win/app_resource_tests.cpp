// The resource script as the platform sees it: the test links the same
// lumivane.rc as Lumivane.exe. The About box built from it is tested in
// about_box_tests.cpp.

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/about_box.h"
#include "app/resource.h"
#include "app/version.h"

namespace {

const WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);
const WORD kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

HMODULE Self() {
    return GetModuleHandleW(nullptr);
}

std::vector<BYTE> ResourceBytes(LPCWSTR type, LPCWSTR name) {
    HRSRC info = FindResourceW(Self(), name, type);
    if (!info) return {};
    auto bytes = static_cast<const BYTE*>(LockResource(LoadResource(Self(), info)));
    return std::vector<BYTE>(bytes, bytes + SizeofResource(Self(), info));
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR found) {
    reinterpret_cast<std::vector<WORD>*>(found)->push_back(language);
    return TRUE;
}

std::vector<WORD> Languages(LPCWSTR type, LPCWSTR name) {
    std::vector<WORD> found;
    EnumResourceLanguagesW(Self(), type, name, CollectLanguage, reinterpret_cast<LONG_PTR>(&found));
    return found;
}

TEST(Resources, EachResourceExistsOnceInItsLanguage) {
    struct Case {
        const char* what;
        LPCWSTR type;
        LPCWSTR name;
        WORD language;
    };
    const Case cases[] = {
        // Strings 103 and 109 both live in block 7 (ids 96 to 111).
        {"strings 103 and 109", RT_STRING, MAKEINTRESOURCEW(IDS_APP_TITLE / 16 + 1), kJapanese},
        {"icon group 107", RT_GROUP_ICON, MAKEINTRESOURCEW(IDI_MAIN), kJapanese},
        {"icon group 108", RT_GROUP_ICON, MAKEINTRESOURCEW(IDI_SMALL), kJapanese},
        {"menu 109", RT_MENU, MAKEINTRESOURCEW(IDC_MAIN), kJapanese},
        {"accelerators 109", RT_ACCELERATOR, MAKEINTRESOURCEW(IDC_MAIN), kJapanese},
        {"dialog 103", RT_DIALOG, MAKEINTRESOURCEW(IDD_ABOUTBOX), kJapanese},
        {"PNG 129", L"PNG", MAKEINTRESOURCEW(IDB_ABOUT_PNG), kJapanese},
        {"manifest 1", RT_MANIFEST, MAKEINTRESOURCEW(1), kEnglishUs},
        {"version 1", RT_VERSION, MAKEINTRESOURCEW(VS_VERSION_INFO), kJapanese},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Languages(c.type, c.name), std::vector<WORD>{c.language}) << c.what;
    }
}

TEST(Resources, StringsAreTitleAndClassName) {
    wchar_t text[100];
    ASSERT_GT(LoadStringW(Self(), IDS_APP_TITLE, text, 100), 0);
    EXPECT_STREQ(text, L"Lumivane");
    ASSERT_GT(LoadStringW(Self(), IDC_MAIN, text, 100), 0);
    EXPECT_STREQ(text, L"VANTLY");
}

TEST(Resources, MenuHasFilePauseSignInExitAndHelpAbout) {
    HMENU menu = LoadMenuW(Self(), MAKEINTRESOURCEW(IDC_MAIN));
    ASSERT_NE(menu, nullptr);
    using Items = std::vector<std::pair<std::wstring, UINT>>;  // a separator is "" and 0
    struct Popup {
        const wchar_t* text;
        Items items;
    };
    const Popup expected[] = {
        {L"ファイル(&F)",
         {{L"監視を一時停止(&P)", IDM_PAUSE_WATCHING}, {L"サインイン時に起動(&S)", IDM_START_AT_SIGN_IN}, {L"", 0},
          {L"終了する(&X)", IDM_EXIT}}},
        {L"ヘルプ(&H)", {{L"バージョン情報(&A)...", IDM_ABOUT}}},
    };
    ASSERT_EQ(GetMenuItemCount(menu), 2);
    for (int i = 0; i < 2; ++i) {
        wchar_t text[64] = {};
        GetMenuStringW(menu, i, text, 64, MF_BYPOSITION);
        EXPECT_STREQ(text, expected[i].text);
        HMENU popup = GetSubMenu(menu, i);
        ASSERT_NE(popup, nullptr);
        Items items;
        for (int at = 0; at < GetMenuItemCount(popup); ++at) {
            text[0] = L'\0';
            GetMenuStringW(popup, at, text, 64, MF_BYPOSITION);
            items.push_back({text, GetMenuItemID(popup, at)});
        }
        EXPECT_EQ(items, expected[i].items);
    }
    DestroyMenu(menu);
}

TEST(Resources, AcceleratorsAreAltQuestionMarkAndAltSlashAsCharacters) {
    HACCEL table = LoadAcceleratorsW(Self(), MAKEINTRESOURCEW(IDC_MAIN));
    ASSERT_NE(table, nullptr);
    ACCEL entries[4] = {};
    ASSERT_EQ(CopyAcceleratorTableW(table, entries, 4), 2);
    for (int i = 0; i < 2; ++i) {
        // FALT without FVIRTKEY: the key is a character, not a virtual key.
        EXPECT_EQ(entries[i].fVirt & ~0x80, FALT) << i;
        EXPECT_EQ(entries[i].cmd, IDM_ABOUT) << i;
    }
    EXPECT_EQ(entries[0].key, '?');
    EXPECT_EQ(entries[1].key, '/');
}

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

bool IsPng(const std::vector<BYTE>& data) {
    return data.size() > 33 && std::memcmp(data.data(), "\x89PNG\r\n\x1a\n", 8) == 0;
}

DWORD BigEndian(const BYTE* p) {
    return (DWORD(p[0]) << 24) | (DWORD(p[1]) << 16) | (DWORD(p[2]) << 8) | p[3];
}

TEST(Resources, IconGroupsHoldNineImagesOfTheRightSizesAndDepths) {
    struct Image {
        int size;
        int bits;
    };
    const Image expected[] = {{256, 8}, {48, 8}, {32, 8}, {16, 8}, {256, 32}, {64, 32}, {48, 32}, {32, 32}, {16, 32}};
    for (int group : {IDI_MAIN, IDI_SMALL}) {
        SCOPED_TRACE("group " + std::to_string(group));
        std::vector<BYTE> directory = ResourceBytes(RT_GROUP_ICON, MAKEINTRESOURCEW(group));
        ASSERT_GE(directory.size(), 6u);
        WORD count;
        std::memcpy(&count, directory.data() + 4, 2);
        ASSERT_EQ(count, 9);
        ASSERT_EQ(directory.size(), 6 + 9 * sizeof(GroupIconEntry));
        for (int i = 0; i < 9; ++i) {
            SCOPED_TRACE("image " + std::to_string(i));
            GroupIconEntry entry;
            std::memcpy(&entry, directory.data() + 6 + i * sizeof(entry), sizeof(entry));
            const int size = expected[i].size;
            EXPECT_EQ(entry.width == 0 ? 256 : entry.width, size);
            EXPECT_EQ(entry.height == 0 ? 256 : entry.height, size);
            EXPECT_EQ(entry.bitCount, expected[i].bits);

            std::vector<BYTE> image = ResourceBytes(RT_ICON, MAKEINTRESOURCEW(entry.id));
            ASSERT_EQ(image.size(), entry.bytes);
            if (expected[i].bits == 8) {
                // A palettised DIB: header, 256 colours, indices, 1-bit mask.
                BITMAPINFOHEADER header;
                ASSERT_GE(image.size(), sizeof(header));
                std::memcpy(&header, image.data(), sizeof(header));
                EXPECT_EQ(header.biSize, sizeof(header));
                EXPECT_EQ(header.biBitCount, 8);
                EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
                EXPECT_EQ(header.biWidth, size);
                EXPECT_EQ(header.biHeight, 2 * size);
                size_t colours = header.biClrUsed ? header.biClrUsed : 256;
                size_t maskStride = (size + 31) / 32 * 4;
                EXPECT_EQ(image.size(), sizeof(header) + colours * 4 + size * ((size + 3) / 4 * 4) + size * maskStride);
            } else if (IsPng(image)) {
                EXPECT_EQ(BigEndian(image.data() + 16), static_cast<DWORD>(size));
                EXPECT_EQ(BigEndian(image.data() + 20), static_cast<DWORD>(size));
                EXPECT_EQ(image[24], 8) << "bits per channel";
                EXPECT_EQ(image[25], 6) << "RGBA";
            } else {
                BITMAPINFOHEADER header;
                ASSERT_GE(image.size(), sizeof(header));
                std::memcpy(&header, image.data(), sizeof(header));
                EXPECT_EQ(header.biBitCount, 32);
                EXPECT_EQ(header.biWidth, size);
                EXPECT_EQ(header.biHeight, 2 * size);
            }

            // And the platform turns every image into an icon of its size.
            HICON icon = CreateIconFromResourceEx(image.data(), static_cast<DWORD>(image.size()), TRUE, 0x00030000,
                                                  size, size, LR_DEFAULTCOLOR);
            ASSERT_NE(icon, nullptr);
            ICONINFO info{};
            ASSERT_TRUE(GetIconInfo(icon, &info));
            BITMAP colour{};
            GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof(colour), &colour);
            EXPECT_EQ(colour.bmWidth, size);
            if (info.hbmColor) DeleteObject(info.hbmColor);
            if (info.hbmMask) DeleteObject(info.hbmMask);
            DestroyIcon(icon);
        }
    }
}

// Reads a DLGTEMPLATEEX the way the dialog manager does.
class TemplateReader {
public:
    explicit TemplateReader(const std::vector<BYTE>& bytes) : bytes_(bytes) {}
    template <typename T>
    T Read() {
        T value{};
        if (at_ + sizeof(T) <= bytes_.size()) std::memcpy(&value, bytes_.data() + at_, sizeof(T));
        at_ += sizeof(T);
        return value;
    }
    std::wstring String() {
        std::wstring text;
        while (wchar_t c = Read<wchar_t>()) text += c;
        return text;
    }
    // A string, or 0xFFFF and an ordinal (shown as "#n").
    std::wstring StringOrOrdinal() {
        if (Peek() == 0xFFFF) {
            Read<WORD>();
            return L"#" + std::to_wstring(Read<WORD>());
        }
        return String();
    }
    void AlignToDword() { at_ = (at_ + 3) & ~size_t(3); }
    void Skip(size_t count) { at_ += count; }

private:
    WORD Peek() {
        WORD value = 0;
        if (at_ + 2 <= bytes_.size()) std::memcpy(&value, bytes_.data() + at_, 2);
        return value;
    }
    const std::vector<BYTE>& bytes_;
    size_t at_ = 0;
};

struct DialogItem {
    DWORD style;
    short x, y, cx, cy;
    DWORD id;
    std::wstring windowClass;
    std::wstring text;
};

// A control class as the dialog manager understands it: rc writes the
// predefined classes as ordinals, windres as names for CONTROL statements.
std::wstring ClassName(std::wstring stored) {
    if (stored == L"#128") return L"BUTTON";
    if (stored == L"#130") return L"STATIC";
    for (wchar_t& c : stored) c = towupper(c);
    return stored;
}

TEST(Resources, AboutDialogTemplateIsExact) {
    std::vector<BYTE> bytes = ResourceBytes(RT_DIALOG, MAKEINTRESOURCEW(IDD_ABOUTBOX));
    ASSERT_FALSE(bytes.empty());
    TemplateReader reader(bytes);
    EXPECT_EQ(reader.Read<WORD>(), 1) << "dlgVer";
    EXPECT_EQ(reader.Read<WORD>(), 0xFFFF) << "extended template";
    reader.Read<DWORD>();  // help id
    EXPECT_EQ(reader.Read<DWORD>(), 0u) << "extended style";
    EXPECT_EQ(reader.Read<DWORD>(), 0x80C800C0u) << "style";
    const WORD itemCount = reader.Read<WORD>();
    EXPECT_EQ(reader.Read<short>(), 0);
    EXPECT_EQ(reader.Read<short>(), 0);
    EXPECT_EQ(reader.Read<short>(), 170);
    EXPECT_EQ(reader.Read<short>(), 62);
    EXPECT_EQ(reader.StringOrOrdinal(), L"") << "menu";
    EXPECT_EQ(reader.StringOrOrdinal(), L"") << "class";
    EXPECT_EQ(reader.String(), L"バージョン情報");
    EXPECT_EQ(reader.Read<WORD>(), 9) << "points";
    EXPECT_EQ(reader.Read<WORD>(), 0) << "weight";
    EXPECT_EQ(reader.Read<BYTE>(), 0) << "italic";
    EXPECT_EQ(reader.Read<BYTE>(), 1) << "character set";
    EXPECT_EQ(reader.String(), L"MS UI Gothic");

    std::vector<DialogItem> items;
    for (WORD i = 0; i < itemCount; ++i) {
        reader.AlignToDword();
        DialogItem item{};
        reader.Read<DWORD>();  // help id
        EXPECT_EQ(reader.Read<DWORD>(), 0u) << "item extended style";
        item.style = reader.Read<DWORD>();
        item.x = reader.Read<short>();
        item.y = reader.Read<short>();
        item.cx = reader.Read<short>();
        item.cy = reader.Read<short>();
        item.id = reader.Read<DWORD>();
        item.windowClass = ClassName(reader.StringOrOrdinal());
        item.text = reader.StringOrOrdinal();
        reader.Skip(reader.Read<WORD>());
        items.push_back(item);
    }
    ASSERT_EQ(items.size(), 5u);

    // The picture: a bitmap static in the strip left of the texts.
    const DialogItem& picture = items[0];
    EXPECT_EQ(picture.id, static_cast<DWORD>(IDC_ABOUT_IMAGE));
    EXPECT_EQ(picture.windowClass, L"STATIC");
    EXPECT_EQ(picture.style, static_cast<DWORD>(WS_CHILD | WS_VISIBLE | SS_BITMAP));
    EXPECT_EQ(picture.text, L"");
    EXPECT_GE(picture.x, 0);
    EXPECT_LE(picture.x + picture.cx, 41);
    EXPECT_GT(picture.cx, 0);
    EXPECT_GT(picture.cy, 0);
    EXPECT_LE(picture.y + picture.cy, 62);

    const DWORD none = 0xFFFFFFFF;
    const DialogItem expected[] = {
        {WS_CHILD | WS_VISIBLE | WS_GROUP | SS_NOPREFIX, 42, 14, 114, 8, IDC_ABOUT_VERSION, L"STATIC",
         L"Lumivane バージョン 1.0"},
        {WS_CHILD | WS_VISIBLE | WS_GROUP, 42, 26, 114, 8, none, L"STATIC", L"Quillby"},
        {WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP | BS_DEFPUSHBUTTON, 113, 41, 50, 14, IDOK, L"BUTTON", L"OK"},
        {WS_CHILD | WS_VISIBLE | WS_GROUP, 41, 39, 55, 8, none, L"STATIC", L""},
    };
    for (int i = 0; i < 4; ++i) {
        const DialogItem& item = items[i + 1];
        const DialogItem& want = expected[i];
        SCOPED_TRACE("control " + std::to_string(i + 1));
        EXPECT_EQ(item.style, want.style);
        EXPECT_EQ(item.x, want.x);
        EXPECT_EQ(item.y, want.y);
        EXPECT_EQ(item.cx, want.cx);
        EXPECT_EQ(item.cy, want.cy);
        EXPECT_EQ(item.id, want.id);
        EXPECT_EQ(item.windowClass, want.windowClass);
        if (i < 3) {
            EXPECT_EQ(item.text, want.text);
        } else {
            EXPECT_FALSE(item.text.empty()) << "the notice line has a text";
        }
    }
}

TEST(Resources, AboutImageIsA1024SquareRgbaPng) {
    std::vector<BYTE> png = ResourceBytes(L"PNG", MAKEINTRESOURCEW(IDB_ABOUT_PNG));
    ASSERT_TRUE(IsPng(png));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(png.data()) + 12, 4), "IHDR");
    EXPECT_EQ(BigEndian(png.data() + 16), 1024u);
    EXPECT_EQ(BigEndian(png.data() + 20), 1024u);
    EXPECT_EQ(png[24], 8) << "bits per channel";
    EXPECT_EQ(png[25], 6) << "colour type RGBA";
    EXPECT_LT(png.size(), 2u * 1024 * 1024);
}

TEST(Resources, ManifestAsksForAsInvokerAndNothingElse) {
    std::vector<BYTE> bytes = ResourceBytes(RT_MANIFEST, MAKEINTRESOURCEW(1));
    std::string text(bytes.begin(), bytes.end());
    EXPECT_NE(text.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"), std::string::npos);
    // Every element, in order: no common-controls dependency, no DPI setting.
    std::vector<std::string> elements;
    for (size_t at = text.find('<'); at != std::string::npos; at = text.find('<', at + 1)) {
        char first = text[at + 1];
        if (first == '?' || first == '/' || first == '!') continue;
        size_t end = text.find_first_of(" />", at + 1);
        elements.push_back(text.substr(at + 1, end - at - 1));
    }
    EXPECT_EQ(elements, (std::vector<std::string>{"assembly", "trustInfo", "security", "requestedPrivileges",
                                                  "requestedExecutionLevel"}));
}

// The file's properties as the platform's version API reads them from the
// file on disk: numbers and texts from version.h, the program's name and
// the company of the About box, whose version line agrees.
TEST(Resources, VersionResourceNamesTheProgramItsCompanyAndVersion) {
    wchar_t self[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    DWORD ignored = 0;
    std::vector<BYTE> info(GetFileVersionInfoSizeW(self, &ignored));
    ASSERT_FALSE(info.empty()) << "no version resource";
    ASSERT_TRUE(GetFileVersionInfoW(self, 0, static_cast<DWORD>(info.size()), info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &size));
    ASSERT_GE(size, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    const DWORD high = MAKELONG(LUMIVANE_VERSION_MINOR, LUMIVANE_VERSION_MAJOR);
    const DWORD low = MAKELONG(LUMIVANE_VERSION_BUILD, LUMIVANE_VERSION_PATCH);
    EXPECT_EQ(fixed->dwFileVersionMS, high);
    EXPECT_EQ(fixed->dwFileVersionLS, low);
    EXPECT_EQ(fixed->dwProductVersionMS, high);
    EXPECT_EQ(fixed->dwProductVersionLS, low);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &size));
    ASSERT_EQ(size, 4u);
    EXPECT_EQ(translation[0], kJapanese);
    EXPECT_EQ(translation[1], 1200) << "Unicode";

    // The texts agree with the numbers, so the header cannot drift apart.
    const std::wstring versionText = std::to_wstring(LUMIVANE_VERSION_MAJOR) + L"." +
                                     std::to_wstring(LUMIVANE_VERSION_MINOR) + L"." +
                                     std::to_wstring(LUMIVANE_VERSION_PATCH) + L"." +
                                     std::to_wstring(LUMIVANE_VERSION_BUILD);
    EXPECT_EQ(versionText, L"1.0.0.0");
    const std::pair<const wchar_t*, std::wstring> texts[] = {
        {L"ProductName", L"Lumivane"},
        {L"CompanyName", L"Quillby"},
        {L"FileVersion", versionText},
        {L"ProductVersion", versionText},
        {L"OriginalFilename", L"Lumivane.exe"},
    };
    for (const auto& [key, expected] : texts) {
        wchar_t* value = nullptr;
        const std::wstring query = std::wstring(L"\\StringFileInfo\\041104b0\\") + key;
        ASSERT_TRUE(VerQueryValueW(info.data(), query.c_str(), reinterpret_cast<void**>(&value), &size)) << key;
        EXPECT_EQ(std::wstring(value), expected) << key;
    }

    // And the About box's version line, as the box shows it, names the same version.
    HWND about = CreateDialogParamW(Self(), MAKEINTRESOURCEW(IDD_ABOUTBOX), nullptr, AboutDialogProc, 0);
    wchar_t line[64] = {};
    GetDlgItemTextW(about, IDC_ABOUT_VERSION, line, 64);
    DestroyWindow(about);
    EXPECT_EQ(std::wstring(line), L"Lumivane バージョン " + std::to_wstring(HIWORD(fixed->dwProductVersionMS)) + L"." +
                                      std::to_wstring(LOWORD(fixed->dwProductVersionMS)));
}

}  // namespace
