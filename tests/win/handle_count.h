#pragma once
// The number of handles this process holds, for leak checks.
//
// GetProcessHandleCount answers 0 under Wine 8, whatever is open, so the
// count comes from the system's handle table instead (which Wine and Windows
// both provide): the entries whose owner is this process.

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

namespace handle_count_detail {

// The extended table: the short one (class 16) stores process ids and
// handle values in 16 bits, and Windows' process ids go beyond that, so
// another process's handles would be counted as this one's.
constexpr ULONG kSystemExtendedHandleInformation = 64;
constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);

struct HandleEntry {
    PVOID object;
    ULONG_PTR processId;
    ULONG_PTR value;
    ULONG grantedAccess;
    USHORT creatorBackTraceIndex;
    USHORT objectTypeIndex;
    ULONG attributes;
    ULONG reserved;
};

struct HandleTable {
    ULONG_PTR count;
    ULONG_PTR reserved;
    HandleEntry entries[1];
};

using QuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);

}  // namespace handle_count_detail

// The handles process processId holds that keep(handle value) accepts; -1
// when the table cannot be read.
template <typename Keep>
long CountProcessHandles(DWORD processId, Keep keep) {
    using namespace handle_count_detail;
    auto query = reinterpret_cast<QuerySystemInformation>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr) return -1;
    std::vector<unsigned char> buffer(1 << 16);
    for (;;) {
        ULONG needed = 0;
        LONG status =
            query(kSystemExtendedHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == kInfoLengthMismatch) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (status < 0) return -1;
        break;
    }
    const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
    long count = 0;
    for (ULONG_PTR i = 0; i < table->count; ++i) {
        if (table->entries[i].processId == processId && keep(table->entries[i].value)) ++count;
    }
    return count;
}

// The handles process processId holds; -1 when the table cannot be read.
inline long ProcessHandleCount(DWORD processId = GetCurrentProcessId()) {
    return CountProcessHandles(processId, [](ULONG_PTR) { return true; });
}

// This process's handles that name path or something below it (compared
// without regard to case, through GetFinalPathNameByHandleW).
inline long HandlesNaming(const std::wstring& path) {
    const std::wstring prefix = L"\\\\?\\" + path;
    return CountProcessHandles(GetCurrentProcessId(), [&prefix](ULONG_PTR value) {
        wchar_t name[1024] = {};
        const DWORD length = GetFinalPathNameByHandleW(reinterpret_cast<HANDLE>(value), name, 1024, 0);
        if (length == 0 || length >= 1024) return false;
        const int compared = static_cast<int>(std::min<std::size_t>(length, prefix.size()));
        return CompareStringOrdinal(name, compared, prefix.c_str(), static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
    });
}

// This process's handles, less those that refer to the calling thread. Under
// Wine a handle to the thread that armed a notification sometimes appears,
// and stays, when another thread gives up that folder's watch after the
// folder was moved away; the code under test never opens a thread.
inline long ProcessHandleCountBesidesOwnThread() {
    const DWORD self = GetCurrentThreadId();
    return CountProcessHandles(GetCurrentProcessId(), [self](ULONG_PTR value) {
        return GetThreadId(reinterpret_cast<HANDLE>(value)) != self;
    });
}
