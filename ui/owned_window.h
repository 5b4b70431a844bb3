// A top-level window that owns its state: it takes the state over at WM_NCCREATE
// (kept in GWLP_USERDATA) and frees it at WM_NCDESTROY, after its controls are gone.
// The state type has a member `HWND window`.
#pragma once

#include <windows.h>

#include <memory>
#include <utility>

#include "core/state.h"
#include "ui/control_table.h"
#include "ui/window_util.h"

namespace nimbo {

// Posted to a hidden window so that it is destroyed after the handler that hid it.
const UINT kRetireMessage = WM_APP + 1;

// At WA_INACTIVE: keeps the window's focused control in `saved`. True when deactivated.
inline bool rememberFocus(HWND window, WPARAM activate, HWND& saved) {
    if (LOWORD(activate) != WA_INACTIVE) return false;
    HWND focus = GetFocus();
    if (focus && IsChild(window, focus)) saved = focus;
    return true;
}

// What CreateWindowExW hands to WM_NCCREATE.
struct Adoption {
    void* state;
    bool adopted;
};

template <class State>
State* ownedState(HWND window) {
    return reinterpret_cast<State*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

// A table window: its fonts (State has `Font fonts[kLookCount]`), the window through
// createOwnedWindow and its table's controls (see createControls for `texts` and
// `made`). The state, or null when the window or a control could not be made.
template <class State>
State* createTableWindow(std::unique_ptr<State> state, const TableWindow& look, WNDPROC proc,
                         HWND owner, const wchar_t* const* texts = nullptr, HWND* made = nullptr);

// Destroys a retired window (freeing its state) and its class; the class stays while
// another window uses it, which is fine.
inline void retireWindow(HWND window, const wchar_t* className) {
    HINSTANCE instance = moduleInstance();
    DestroyWindow(window);
    UnregisterClassW(className, instance);
}

// The window procedure of class `className`. It moves the focus on WM_NEXTDLGCTL and
// retires the window on kRetireMessage; `handle` answers every other message while the
// state lives (nothing it throws reaches the host's loop); `destroyed` runs at
// WM_NCDESTROY before the state is freed.
template <class State, const wchar_t* className,
          LRESULT (*handle)(State&, HWND, UINT, WPARAM, LPARAM), void (*destroyed)(State&)>
LRESULT CALLBACK ownedWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const OurCodeRunning running;
    if (message == WM_NCCREATE) {
        auto* params =
            static_cast<Adoption*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        static_cast<State*>(params->state)->window = window;
        params->adopted = true;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(params->state));
    }
    State* state = ownedState<State>(window);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        if (state) destroyed(*state);
        delete state;
        return DefWindowProcW(window, message, wParam, lParam);
    }
    if (!state) return DefWindowProcW(window, message, wParam, lParam);
    try {
        switch (message) {
            case WM_NEXTDLGCTL:
                moveFocus(window, wParam, lParam);
                return 0;
            case kRetireMessage:
                retireWindow(window, className);
                return 0;
        }
        return handle(*state, window, message, wParam, lParam);
    } catch (...) {
        return 0;
    }
}

// Registers `className` with `proc` (an ownedWindowProc for State) on the face colour,
// creates a window of it with a thin border and a caption but no system menu, so no
// close box and no sizing frame, and hands it `state`: the window frees it, even when
// creation fails after WM_NCCREATE. The state, or null when no window was made.
template <class State>
State* createOwnedWindow(std::unique_ptr<State> state, const wchar_t* className, WNDPROC proc,
                         const wchar_t* caption, int width, int height, HWND owner) {
    if (!registerWindowClass(className, proc, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1)))
        return nullptr;
    Adoption params = {state.get(), false};
    HWND window = CreateWindowExW(0, className, caption, WS_BORDER, CW_USEDEFAULT, CW_USEDEFAULT,
                                  width, height, owner, nullptr, moduleInstance(), &params);
    if (params.adopted) state.release();
    return window ? ownedState<State>(window) : nullptr;
}

template <class State>
State* createTableWindow(std::unique_ptr<State> state, const TableWindow& look, WNDPROC proc,
                         HWND owner, const wchar_t* const* texts, HWND* made) {
    makeLookFonts(state->fonts, look.fontFace, look.fontHeight);
    State* built = createOwnedWindow(std::move(state), look.className, proc, look.caption,
                                     look.width, look.height, owner);
    if (!built) return nullptr;
    if (!createControls(built->window, look.rows, look.count, built->fonts, texts, made)) {
        DestroyWindow(built->window);
        return nullptr;
    }
    return built;
}

}  // namespace nimbo
