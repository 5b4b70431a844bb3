// The control ids of the plugin's windows, in one place: the windows, their tests and
// the Python tools (which read this file) all take them from here. Every enumerator
// stands on its own line with its explicit decimal value.
#pragma once

namespace nimbo {

// The settings window, in creation order. The ids stay clear of IDOK and IDCANCEL: the
// window has no default or cancel button, so Enter and Escape, which IsDialogMessage
// turns into those ids, do nothing. Controls added later continue the numbering
// after the last id below (120 on), in the order they are created.
enum SettingsControlId : int {
    kTitleLabel = 101,
    kModeLabel = 102,
    kPasswordLabel = 103,
    kMaskLabel = 104,
    kVersionLabel = 105,
    kAuthorLabel = 106,
    kLink = 107,
    kLoginRadio = 108,
    kCookieRadio = 109,
    kLoginEdit = 110,
    kPasswordEdit = 111,
    kMaskEdit = 112,
    kCookieEdit = 113,
    kOkButton = 114,
    kCancelButton = 115,
    kEnabledCheck = 116,
    kShowErrorsCheck = 117,
    kLastResultLabel = 118,
    kMoreButton = 119,
};

// The options window that the settings window's "More..." button opens, in creation
// order. The group below the account list edits the selected account: the ListenBrainz
// rows (212 to 221, 235) or the Last.fm-style ones (223 to 234, 236, 237), one set shown.
enum OptionsControlId : int {
    kPrivateLabel = 201,
    kPrivateEdit = 202,
    kOnPauseCheck = 203,
    kOnStopCheck = 204,
    kIntervalLabel = 205,
    kIntervalEdit = 206,
    kLogLink = 207,
    kOptionsOkButton = 208,
    kOptionsCancelButton = 209,
    kSecureCheck = 210,
    kListenBrainzCheck = 212,
    kTokenLabel = 213,
    kTokenEdit = 214,
    kCheckTokenButton = 215,
    kTokenResultLabel = 216,
    kServerLabel = 217,
    kServerEdit = 218,
    kListenBrainzLastLabel = 219,
    kSendListensCheck = 220,
    kListensWaitingLabel = 221,
    kLastFmCheck = 223,
    kLastFmServerLabel = 224,
    kLastFmServerEdit = 225,
    kLastFmKeyLabel = 226,
    kLastFmKeyEdit = 227,
    kLastFmSecretLabel = 228,
    kLastFmSecretEdit = 229,
    kConnectButton = 230,
    kConnectStatusLabel = 231,
    kSendScrobblesCheck = 232,
    kScrobblesWaitingLabel = 233,
    kLastFmLastLabel = 234,
    kListenBrainzPlainLabel = 235,
    kLastFmPlainLabel = 236,
    kConnectAddressEdit = 237,
    kAccountsLabel = 238,
    kAccountList = 239,
    kAddButton = 240,
    kEditButton = 241,
    kRemoveButton = 242,
    kListenBrainzKindRadio = 243,
    kLastFmKindRadio = 244,
};

// The security-code window, in creation order.
enum SecurityCodeControlId : int {
    kCodePromptLabel = 100,
    kCodePicture = 101,
    kCodeEdit = 102,
    kCodeOkButton = 103,
};

}  // namespace nimbo
