// Winamp's main window: the one window the plugin asks, and the bounded way to ask it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace nimbo {

// How long one query may wait for Winamp. A host that takes longer is hung or busy:
// the caller gives up and asks again a tick later.
constexpr UINT kWinampQueryMs = 1000;

// The host's window as the plugin record holds it before init (`hwndParent`). Taken
// only when it is a window of this process. A new start for askWinampWithBlock.
void setWinampWindow(HWND hostWindow);

// The window the host gave, while it stands; else the "Winamp v1.x" window of this
// process; null when there is none. Never a window of another process: it could hang
// the plugin, and its addresses mean nothing here.
HWND winampWindow();

// Sends Winamp one WM_USER query, bounded by kWinampQueryMs; false when it ran out or
// the window is gone.
bool askWinamp(HWND window, WPARAM wParam, LPARAM query, LRESULT& answer, bool wide = false);

// How many blocks of ours queries that ran out may leave with Winamp (see below).
constexpr int kMaxBlocksLeft = 3;

enum class BlockQuery { answered, ranOut, notSent };

// askWinamp for a query whose wParam is the address of `block`, memory of ours that
// Winamp reads and writes into. A send that runs out is still delivered, later: after
// `ranOut` the block is Winamp's for good, never to be freed or reused. After
// kMaxBlocksLeft of those, such queries are `notSent` until the next setWinampWindow
// (init), which the activity log says once.
BlockQuery askWinampWithBlock(HWND window, void* block, LPARAM query, LRESULT& answer);

// Copies at most `bytes` bytes from an address Winamp handed out. The plugin lives in
// Winamp's process, so this is its own memory, read page by page through the memory
// manager: a bad address gives 0 instead of a fault in Winamp, and a text that ends
// near unreadable memory keeps the pages before it. Returns the bytes copied.
size_t readWinampMemory(uintptr_t address, void* buffer, size_t bytes);

}  // namespace nimbo
