#pragma once
// The settings text: one line of JSON-like text holding the main window's
// rectangle and the watched folders. Written by plain concatenation and read
// back by a few searches over the whole text, not by a JSON parser, so that
// hand-edited or damaged files still give whatever values can be found.
// Pure: no platform headers; the file itself is handled in settings_store.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "state/folder_list.h"
#include "state/window_geometry.h"

// {"x":..,"y":..,"width":..,"height":..,"folders":[..]} with no white space.
std::wstring FormatSettingsText(const WindowGeometry& geometry, const FolderList& folders);

// Appends text with tab, line feed, carriage return, quotation mark and
// backslash escaped; every other code unit goes through unchanged.
void AppendEscapedJsonString(std::wstring& out, std::wstring_view text);

// The runtime's _wtoi, portably: optional white space and sign, then digits
// up to the first other character; 0 without digits; saturates at the
// 32-bit limits.
int32_t ParseLeadingInt(std::wstring_view text);

// Finds "key" anywhere in the text and converts the run of digits and '-'
// after the first ':' that follows it. True, and value written, only when
// such a run exists.
bool ReadIntValue(std::wstring_view text, std::wstring_view key, int32_t& value);

// The decoded strings of the "folders" array in text order, empty ones
// included. True when the array's brackets were found, the closing one
// outside quotation marks. Only the tests and the fuzzer call it: it is the
// scan that the reader and FolderArrayIsUnreadable share, with every entry
// kept, so that the scan's answers can be checked directly.
bool ReadFolderArray(std::wstring_view text, std::vector<std::wstring>& entries);

// True when the text has the "folders" key (the reader's own search) but
// no complete array after it: no ':' and '[' after the key, or no ']'
// outside quotation marks after the '['. A file cut inside the list or
// hand-edited with a bracket missing reads as no folders, yet still holds
// the user's list.
bool FolderArrayIsUnreadable(std::wstring_view text);

// Decodes backslash pairs: \" \/ \\ \b \f \n \r \t; any other pair gives its
// second character; a lone final backslash stays.
std::wstring UnescapeJsonString(std::wstring_view raw);

// The file's bytes as text: a UTF-8 byte-order mark, if any, is skipped and
// the rest decoded as UTF-8 (into UTF-16 where wchar_t has 16 bits). False,
// with text empty, for a NUL byte or any sequence that is not well-formed
// UTF-8: a stray or missing continuation byte, an overlong form, an encoded
// surrogate, a value beyond U+10FFFF, a sequence cut by the end. Such a file
// is damaged or in another encoding, and reading on would give shortened or
// garbled folder names, which the next save would store.
bool DecodeSettingsBytes(std::string_view bytes, std::wstring& text);

// The byte-order mark and the UTF-8 of text, as the file holds them. False
// for a lone surrogate (or, with a 32-bit wchar_t, any value that is no
// Unicode character), which has no UTF-8 form.
bool EncodeSettingsBytes(std::wstring_view text, std::string& bytes);

// Applies what the text holds on top of the caller's defaults: x and y as
// found, width and height only when positive, and the first ten non-empty
// folders in file order (only when the array is complete).
void ApplySettingsText(std::wstring_view text, WindowGeometry& geometry, FolderList& folders);
