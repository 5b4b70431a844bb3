// Helpers for Win32 tests that run against the service stand-in (started for them
// by `e2e_support.py with-service`, which passes its port in NIMBO_SERVICE_PORT).
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdlib>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "net/http_client.h"
#include "core/settings.h"
#include "core/state.h"
#include "tests/ci_skip.h"
#include "tests/win32/win32_test_util.h"
#include "ui/control_ids.h"
#include "ui/security_code_dialog.h"

namespace testutil {

inline std::string servicePort() {
    const char* port = std::getenv("NIMBO_SERVICE_PORT");
    return port ? port : "";
}

// A request to the stand-in's control channel, through the plugin's own client (unlike
// the tick's requests it still goes out after a test's quit); empty when it cannot be
// reached.
inline std::string control(const std::string& request) {
    nimbo::HttpReply reply;
    const nimbo::ExchangeLimits notEndedByQuit = {10000, false};
    if (!nimbo::httpExchange("127.0.0.1:" + servicePort() + "/__control/" + request, std::nullopt,
                             nimbo::ProxyParts(), reply, notEndedByQuit))
        return std::string();
    return reply.body;
}

// Winamp's proxy setting, written beside the test program and read the way the
// plugin reads it.
inline void useProxy(const std::string& hostPort) {
    ASSERT_TRUE(writeFile(besideIni(), "[Winamp]\r\nproxy=" + hostPort + "\r\n"));
    nimbo::resetSettingsForTest();
    nimbo::loadSettings();
}

// A loopback port that nothing listens on.
inline std::string closedPort() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int length = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    closesocket(s);
    WSACleanup();
    return std::to_string(ntohs(address.sin_port));
}

// The security-code window once it is up (polled from another thread than its own),
// or null after `ms` or once `stop` is set. `pendingSeen`, when given, tells whether
// securityCodePending was on at any poll.
inline HWND waitForSecurityCodeWindow(DWORD ms, HANDLE stop = nullptr,
                                      bool* pendingSeen = nullptr) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (pendingSeen && nimbo::securityCodePending) *pendingSeen = true;
        HWND dialog = nimbo::securityCodeWindow();
        if (dialog && IsWindowVisible(dialog)) return dialog;
        if (GetTickCount() - start >= ms) return nullptr;
        if (stop ? WaitForSingleObject(stop, 20) == WAIT_OBJECT_0 : (Sleep(20), false))
            return nullptr;
    }
}

// What a user does in that window: types `code` (when given), then "Ok".
inline void answerSecurityCode(HWND dialog, const wchar_t* code) {
    if (code)
        SendMessageW(GetDlgItem(dialog, nimbo::kCodeEdit), WM_SETTEXT, 0,
                     reinterpret_cast<LPARAM>(code));
    PostMessageW(GetDlgItem(dialog, nimbo::kCodeOkButton), BM_CLICK, 0, 0);
}

}  // namespace testutil
