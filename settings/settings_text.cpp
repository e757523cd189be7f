#include "settings/settings_text.h"

#include <limits>

namespace {

// The folders key, quotation marks included, as the reader searches for it.
constexpr std::wstring_view kFoldersKey = L"\"folders\"";

// The white space and digits the reader skips and converts. ASCII only, so
// that Windows and Linux agree; the writer produces nothing else.
bool IsSpace(wchar_t c) {
    return c == L' ' || (c >= L'\t' && c <= L'\r');
}

bool IsDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// A Unicode scalar value: no surrogate, nothing beyond U+10FFFF.
bool IsScalarValue(char32_t c) {
    return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
}

void AppendCodePoint(std::wstring& text, char32_t c) {
    if (sizeof(wchar_t) == 2 && c >= 0x10000) {
        text += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
        text += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
        text += static_cast<wchar_t>(c);
    }
}

// Where the folders array ends: the first ']' that is not inside a quoted
// entry, so that a folder named "a]b" reads back whole. None when no ']'
// stands outside quotation marks: a file that lost its closing bracket, or
// was cut inside an entry, must not end the array at a ']' inside a folder
// name ("C:\Photos [2023]"), which would read as a shorter list that the
// next save then stores in place of the whole one.
size_t FindArrayEnd(std::wstring_view text, size_t from) {
    bool inString = false;
    for (size_t i = from; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (inString) {
            if (c == L'\\') {
                ++i;
            } else if (c == L'"') {
                inString = false;
            }
        } else if (c == L'"') {
            inString = true;
        } else if (c == L']') {
            return i;
        }
    }
    return std::wstring_view::npos;
}

// Walks the folders array and hands each decoded entry to onEntry, which
// returns false to stop early. Returns whether the brackets were found.
template <typename OnEntry>
bool ScanFolderArray(std::wstring_view text, OnEntry onEntry) {
    const size_t key = text.find(kFoldersKey);
    if (key == std::wstring_view::npos) return false;
    const size_t colon = text.find(L':', key + kFoldersKey.size());
    if (colon == std::wstring_view::npos) return false;
    const size_t open = text.find(L'[', colon + 1);
    if (open == std::wstring_view::npos) return false;
    const size_t end = FindArrayEnd(text, open + 1);
    if (end == std::wstring_view::npos) return false;

    size_t pos = open + 1;
    while (pos < end) {
        while (pos < end && IsSpace(text[pos])) ++pos;
        if (pos >= end) break;
        if (text[pos] == L'"') {
            std::wstring raw;
            ++pos;
            while (pos < end) {
                const wchar_t c = text[pos];
                if (c == L'"') {
                    ++pos;
                    break;
                }
                raw += c;
                ++pos;
                // An escaped character is copied whatever it is and never
                // ends the entry.
                if (c == L'\\' && pos < end) raw += text[pos++];
            }
            if (!onEntry(UnescapeJsonString(raw))) break;
        }
        // Junk up to the next ',' is skipped. The search runs over the rest
        // of the text; a ',' beyond the array's end ends the array.
        const size_t comma = text.find(L',', pos);
        if (comma == std::wstring_view::npos || comma > end) break;
        pos = comma + 1;
    }
    return true;
}

}  // namespace

void AppendEscapedJsonString(std::wstring& out, std::wstring_view text) {
    for (wchar_t c : text) {
        switch (c) {
        case L'\t': out += L"\\t"; break;
        case L'\n': out += L"\\n"; break;
        case L'\r': out += L"\\r"; break;
        case L'"': out += L"\\\""; break;
        case L'\\': out += L"\\\\"; break;
        default: out += c; break;
        }
    }
}

std::wstring FormatSettingsText(const WindowGeometry& geometry, const FolderList& folders) {
    std::wstring text = L"{\"x\":" + std::to_wstring(geometry.x);
    text += L",\"y\":" + std::to_wstring(geometry.y);
    text += L",\"width\":" + std::to_wstring(geometry.width);
    text += L",\"height\":" + std::to_wstring(geometry.height);
    text += L",\"folders\":[";
    for (size_t i = 0; i < folders.size(); ++i) {
        if (i > 0) text += L',';
        text += L'"';
        AppendEscapedJsonString(text, folders[i]);
        text += L'"';
    }
    text += L"]}";
    return text;
}

int32_t ParseLeadingInt(std::wstring_view text) {
    size_t pos = 0;
    while (pos < text.size() && IsSpace(text[pos])) ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == L'-' || text[pos] == L'+')) {
        negative = text[pos] == L'-';
        ++pos;
    }
    // Accumulate the magnitude up to one past INT32_MAX's, then saturate.
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t magnitude = 0;
    for (; pos < text.size() && IsDigit(text[pos]); ++pos) {
        magnitude = magnitude * 10 + (text[pos] - L'0');
        if (magnitude > kLimit) magnitude = kLimit;
    }
    if (negative) return static_cast<int32_t>(-magnitude);
    return static_cast<int32_t>(magnitude == kLimit ? kLimit - 1 : magnitude);
}

bool ReadIntValue(std::wstring_view text, std::wstring_view key, int32_t& value) {
    std::wstring needle = L"\"";
    needle += key;
    needle += L'"';
    const size_t found = text.find(needle);
    if (found == std::wstring_view::npos) return false;
    const size_t colon = text.find(L':', found + needle.size());
    if (colon == std::wstring_view::npos) return false;
    size_t start = colon + 1;
    while (start < text.size() && IsSpace(text[start])) ++start;
    if (start >= text.size()) return false;
    size_t stop = start;
    while (stop < text.size() && (IsDigit(text[stop]) || text[stop] == L'-')) ++stop;
    if (stop == start) return false;
    value = ParseLeadingInt(text.substr(start, stop - start));
    return true;
}

bool ReadFolderArray(std::wstring_view text, std::vector<std::wstring>& entries) {
    entries.clear();
    return ScanFolderArray(text, [&entries](std::wstring&& entry) {
        entries.push_back(std::move(entry));
        return true;
    });
}

bool FolderArrayIsUnreadable(std::wstring_view text) {
    // The scan stops at the first entry: only the brackets matter here.
    return text.find(kFoldersKey) != std::wstring_view::npos &&
           !ScanFolderArray(text, [](std::wstring&&) { return false; });
}

std::wstring UnescapeJsonString(std::wstring_view raw) {
    std::wstring decoded;
    decoded.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != L'\\' || i + 1 == raw.size()) {
            decoded += raw[i];
            continue;
        }
        const wchar_t c = raw[++i];
        switch (c) {
        case L'b': decoded += L'\b'; break;
        case L'f': decoded += L'\f'; break;
        case L'n': decoded += L'\n'; break;
        case L'r': decoded += L'\r'; break;
        case L't': decoded += L'\t'; break;
        default: decoded += c; break;  // \" \/ \\ and any other character alone
        }
    }
    return decoded;
}

bool DecodeSettingsBytes(std::string_view bytes, std::wstring& text) {
    // The four forms of a UTF-8 sequence: what the lead byte looks like
    // under its mask, the sequence's length, and the smallest value that
    // needs that length (anything less is an overlong form; for one byte,
    // this refuses NUL).
    struct Form {
        unsigned char mask, lead;
        size_t length;
        char32_t smallest;
    };
    static constexpr Form kForms[] = {
        {0x80, 0x00, 1, 1}, {0xE0, 0xC0, 2, 0x80}, {0xF0, 0xE0, 3, 0x800}, {0xF8, 0xF0, 4, 0x10000}};

    text.clear();
    if (bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom) bytes.remove_prefix(kUtf8Bom.size());
    text.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        const unsigned char lead = static_cast<unsigned char>(bytes[i]);
        const Form* form = nullptr;
        for (const Form& f : kForms) {
            if ((lead & f.mask) == f.lead) {
                form = &f;
                break;
            }
        }
        // No form: a continuation byte where a sequence should start, or
        // a byte that UTF-8 never uses.
        bool valid = form && bytes.size() - i >= form->length;
        char32_t c = valid ? lead & ~form->mask : 0;
        for (size_t k = 1; valid && k < form->length; ++k) {
            const unsigned char next = static_cast<unsigned char>(bytes[i + k]);
            valid = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        if (!valid || c < form->smallest || !IsScalarValue(c)) {
            text.clear();
            return false;
        }
        AppendCodePoint(text, c);
        i += form->length;
    }
    return true;
}

bool EncodeSettingsBytes(std::wstring_view text, std::string& bytes) {
    bytes = kUtf8Bom;
    bytes.reserve(kUtf8Bom.size() + text.size() * 3);
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = static_cast<char32_t>(text[i]);
        if (sizeof(wchar_t) == 2 && c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
            const char32_t low = static_cast<char32_t>(text[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (!IsScalarValue(c)) return false;
        if (c < 0x80) {
            bytes += static_cast<char>(c);
        } else if (c < 0x800) {
            bytes += static_cast<char>(0xC0 | (c >> 6));
            bytes += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            bytes += static_cast<char>(0xE0 | (c >> 12));
            bytes += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            bytes += static_cast<char>(0xF0 | (c >> 18));
            bytes += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            bytes += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return true;
}

void ApplySettingsText(std::wstring_view text, WindowGeometry& geometry, FolderList& folders) {
    int32_t value = 0;
    if (ReadIntValue(text, L"x", value)) geometry.x = value;
    if (ReadIntValue(text, L"y", value)) geometry.y = value;
    if (ReadIntValue(text, L"width", value) && value > 0) geometry.width = value;
    if (ReadIntValue(text, L"height", value) && value > 0) geometry.height = value;

    // Entries are collected apart and taken only when the whole array was
    // found: a file cut inside the array gives no folders at all. Scanning
    // stops at the cap, so a huge array costs no memory beyond ten paths.
    FolderList found;
    const bool complete = ScanFolderArray(text, [&found](std::wstring&& entry) {
        if (!entry.empty()) found.push_back(std::move(entry));
        return found.size() < MAX_WATCHED_FOLDERS;
    });
    folders.clear();
    if (complete) folders = std::move(found);
}
