#pragma once

namespace quillet::desktop {

// Command numbers of the main window. Every command travels as one of these
// through MainWindow::dispatchCommand, whatever its source: a button, a menu,
// the tray icon, a hotkey or a second start of the program.
enum Command : int {
    kCmdStart = 1000, // start, or resume when paused
    kCmdPause = 1001,
    kCmdStop = 1002,
    kCmdFolderMenu = 1003,
    kCmdAbout = 1004,
    kCmdSettingsMenu = 1008,
    kCmdScreenPen = 1010,
    kCmdPlay = 1035,
    kCmdLanguageMenu = 1051,
    kCmdSystemAbout = 16, // the About item of the window's own menu
    kCmdExit = 32771,
    kCmdAboutButton = 32772,
    kCmdShowHide = 32774,
    kCmdWholeScreen = 32779,
    kCmdSelectArea = 32780,
    kCmdDetailedSettings = 32781,
    kCmdSelectWindow = 32782,
    kCmdRecordSound = 32783,
    kCmdUseDefaultDevice = 32784,
    kCmdChinese = 32785,
    kCmdEnglish = 32786,
    kCmdOpenFolder = 32787,
    kCmdChangeFolder = 32789,
};

// Tray callback (message 1127) parameters the window reacts to.
constexpr int kTrayRightButtonUp = 517;
constexpr int kTrayLeftDoubleClick = 515;
constexpr int kNoticeUpdate = 4445;        // (4445, 1): the update notice changed
constexpr int kNoticeUpdateRefresh = 1;
constexpr int kNoticeAreaChanged = 7777;   // (7777, 3333): the area selection has a new rectangle
constexpr int kNoticeAreaChangedCode = 3333;

// Icon numbers, drawn by Icons.cpp.
enum IconId : int {
    kIconApp = 128,
    kIconFolder = 129,
    kIconStart = 130,
    kIconPause = 131,
    kIconStop = 132,
    kIconAbout = 133,
    kIconAppBlink = 134,
    kIconSettings = 138,
    kIconPen = 143,
    kIconPlay = 150,
    kIconEnglish = 161,
    kIconChinese = 162,
};

} // namespace quillet::desktop
