// The settings window's look: caption, size, font, and its control table (ui/control_table.h),
// one row a control in creation order (the order of their ids). Included by the window's code
// only.
#pragma once

#include <windows.h>

#include "common/version.h"
#include "ui/control_ids.h"
#include "ui/control_table.h"
#include "ui/link_label.h"

#define NIMBO_HOME_PAGE "http://nimbo.sourceforge.net"

namespace nimbo {
namespace settings_layout {

// The window: outer size (title bar and border included) and the font every control
// starts from.
const wchar_t kCaption[] = L"Nimbo";
const wchar_t kFontFace[] = L"MS Shell Dlg 2";
const int kFontHeight = 15;
const int kOuterWidth = 378;
// 298 for the original controls, 20 more for the last-result line below them and 32
// for the row of "More..." under that.
const int kOuterHeight = 350;
const COLORREF kGrey = 0x808080;

constexpr int kFirstId = kTitleLabel;
constexpr int kControlCount = kMoreButton - kFirstId + 1;

// In creation order, which is the order of the ids.
// clang-format off
const ControlRow kControls[] = {
    {kTitleLabel,      L"STATIC", L"Authorizing through:",   8,   5, 150, 13, kLabel, 0, kNoTab, Look::Bold,       kTextColour},
    {kModeLabel,       L"STATIC", nullptr,                   8,  48, 353, 13, kLabel, 0, kNoTab, Look::Regular,    kTextColour},
    {kPasswordLabel,   L"STATIC", L"Password:",              8,  88, 353, 13, kLabel, 0, kNoTab, Look::Regular,    kTextColour},
    {kMaskLabel,       L"STATIC", L"Status mask:",           8, 141, 353, 13, kLabel, 0, kNoTab, Look::Bold,       kTextColour},
    {kVersionLabel,    L"STATIC", L"v" NIMBO_VERSION,       220,   5, 353, 14, kLabel, 0, kNoTab, Look::Regular,    kGrey},
    {kAuthorLabel,     L"STATIC", L"Tarnell Project",      230,  17, 353, 14, kLabel, 0, kNoTab, Look::Bold,       kGrey},
    {kLink,            L"STATIC", L"" NIMBO_HOME_PAGE,     195,  30, 353, 14, kLabel, 0, kNoTab, Look::Underlined, kLinkBlue},
    {kLoginRadio,      L"BUTTON", L"Login/Pass",             8,  24,  80, 17, kRadio, 0, 0,      Look::Regular,    kTextColour},
    {kCookieRadio,     L"BUTTON", L"Cookie",               100,  24,  80, 17, kRadio, 0, 1,      Look::Regular,    kTextColour},
    {kLoginEdit,       L"EDIT",   nullptr,                   8,  64, 233, 21, kLineEdit, WS_EX_CLIENTEDGE, 2, Look::Regular, kTextColour},
    {kPasswordEdit,    L"EDIT",   nullptr,                   8, 104, 233, 21, kLineEdit | ES_PASSWORD, WS_EX_CLIENTEDGE, 3, Look::Regular, kTextColour},
    {kMaskEdit,        L"EDIT",   nullptr,                   8, 160, 353, 73, kBoxEdit, WS_EX_CLIENTEDGE, 4, Look::Regular, kTextColour},
    {kCookieEdit,      L"EDIT",   nullptr,                   8,  64, 353, 73, kBoxEdit, WS_EX_CLIENTEDGE, 5, Look::Regular, kTextColour},
    {kOkButton,        L"BUTTON", L"Ok",                   208, 240,  75, 25, kPush,  0, 7,      Look::Regular,    kTextColour},
    {kCancelButton,    L"BUTTON", L"Cancel",               288, 240,  75, 25, kPush,  0, 8,      Look::Regular,    kTextColour},
    {kEnabledCheck,    L"BUTTON", L"Enabled",                8, 240,  97, 17, kCheck, 0, 6,      Look::Regular,    kTextColour},
    {kShowErrorsCheck, L"BUTTON", L"Show errors",          100, 240,  97, 17, kCheck, 0, 9,      Look::Regular,    kTextColour},
    {kLastResultLabel, L"STATIC", nullptr,                   8, 272, 353, 14, kLabel, 0, kNoTab, Look::Regular,    kTextColour},
    {kMoreButton,      L"BUTTON", L"More...",              288, 292,  75, 25, kPush,  0, 10,     Look::Regular,    kTextColour},
};
// clang-format on
static_assert(sizeof kControls / sizeof kControls[0] == kControlCount, "one row per id");

}  // namespace settings_layout
}  // namespace nimbo
