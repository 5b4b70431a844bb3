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
#include "tests/win32/win32_test_util.h"

namespace testutil {

inline std::string servicePort() {
    const char* port = std::getenv("NIMBO_SERVICE_PORT");
    return port ? port : "";
}

// A request to the stand-in's control channel; empty when it cannot be reached.
inline std::string control(const std::string& request) {
    nimbo::HttpReply reply;
    if (!nimbo::httpExchange("127.0.0.1:" + servicePort() + "/__control/" + request,
                             std::nullopt, nimbo::ProxyParts(), reply))
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
    WSAStartup(MAKEWORD(1, 1), &data);
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int length = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    closesocket(s);
    return std::to_string(ntohs(address.sin_port));
}

}  // namespace testutil
