#include "tools/player/resources.h"

#include <windows.h>
#include <psapi.h>

#include <vector>

#include "tools/player/automation.h"

namespace player {

namespace {

// Where the system keeps no figure (Wine answers 0 for the private bytes, the handle
// count and the GUI object counts), the stand-in counts for itself.

// Committed private pages, region by region.
SIZE_T committedPrivateBytes() {
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const char* at = nullptr; VirtualQuery(at, &region, sizeof region) == sizeof region;) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
        const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        if (next <= at) break;
        at = next;
    }
    return total;
}

// The system's handle list, this process's entries.
struct HandleEntry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    PVOID object;
    ULONG access;
};
typedef LONG(WINAPI* QuerySystemInformation)(ULONG, PVOID, ULONG, PULONG);
const ULONG kSystemHandleInformation = 16;
const LONG kInfoLengthMismatch = LONG(0xC0000004);

DWORD countOwnHandles() {
    auto query = reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return 0;
    std::vector<char> buffer(64 * 1024);
    LONG status;
    while ((status = query(kSystemHandleInformation, buffer.data(), ULONG(buffer.size()),
                           nullptr)) == kInfoLengthMismatch &&
           buffer.size() < (64u << 20)) {
        buffer.resize(buffer.size() * 2);
    }
    if (status != 0) return 0;
    const ULONG count = *reinterpret_cast<const ULONG*>(buffer.data());
    const auto* entries = reinterpret_cast<const HandleEntry*>(buffer.data() + sizeof(ULONG_PTR));
    const ULONG self = GetCurrentProcessId();
    DWORD own = 0;
    for (ULONG i = 0;
         i < count && sizeof(ULONG_PTR) + (i + 1) * sizeof(HandleEntry) <= buffer.size(); ++i) {
        if (entries[i].ownerPid == self) ++own;
    }
    return own;
}

// The GDI handle table the process environment block points to (one per process
// under Wine): entries of 24 bytes whose type byte is 0 while free.
DWORD countGdiTableEntries() {
#ifdef _WIN64
    return 0;
#else
// GCC takes the fs-relative read of the thread block for an access out of bounds.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
    const BYTE* teb = reinterpret_cast<const BYTE*>(NtCurrentTeb());
#pragma GCC diagnostic pop
    const BYTE* peb = *reinterpret_cast<const BYTE* const*>(teb + 0x30);
    const BYTE* table = *reinterpret_cast<const BYTE* const*>(peb + 0x94);
    if (!table) return 0;
    const size_t kEntrySize = 24, kTypeOffset = 14, kEntries = 0x10000;
    DWORD used = 0;
    for (size_t i = 0; i < kEntries; ++i) {
        if (table[i * kEntrySize + kTypeOffset] != 0) ++used;
    }
    return used;
#endif
}

}  // namespace

std::string describeResources() {
    HANDLE self = GetCurrentProcess();
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof memory;
    SIZE_T privateBytes = 0;
    if (GetProcessMemoryInfo(self, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                             sizeof memory))
        privateBytes = memory.PrivateUsage;
    if (privateBytes == 0) privateBytes = committedPrivateBytes();
    DWORD handles = 0;
    if (!GetProcessHandleCount(self, &handles) || handles == 0) handles = countOwnHandles();
    DWORD gdi = GetGuiResources(self, GR_GDIOBJECTS);
    if (gdi == 0) gdi = countGdiTableEntries();
    const int windows = countOwnWindows();
    DWORD user = GetGuiResources(self, GR_USEROBJECTS);
    if (user == 0) user = DWORD(windows);
    return "resources private " + std::to_string(privateBytes) + " handles " +
           std::to_string(handles) + " gdi " + std::to_string(gdi) + " user " +
           std::to_string(user) + " windows " + std::to_string(windows);
}

}  // namespace player
