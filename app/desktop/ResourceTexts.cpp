#include "app/desktop/ResourceTexts.h"

#include <cstring>

#include "app/desktop/CommandIds.h"

namespace quillet::desktop {
namespace {

constexpr const char* kCommand = "COMMAND";

const ResourceEntry kEntries[] = {
    // Main window.
    {kMainCaption, 1000, "开始", false},
    {kMainCaption, 1001, "暂停", false},
    {kMainCaption, 1002, "停止", false},
    {kMainCaption, 1003, "文件夹", false},
    {kMainCaption, 1006, "00:00", false},
    {kMainCaption, 1008, "设置", false},
    {kMainCaption, 1010, "屏幕画笔", false},
    {kMainCaption, 1035, "播放", false},
    {kMainCaption, 1051, "语言", false},
    {kMainCaption, 32772, "关于", false},
    // Settings window.
    {kSetupCaption, 1, "确定", false},
    {kSetupCaption, 2, "取消", false},
    {kSetupCaption, 1009, "选择窗口", false},
    {kSetupCaption, 1010, "选择区域", false},
    {kSetupCaption, 1016, "录制声音", false},
    {kSetupCaption, 1027, "全屏", false},
    {kSetupCaption, 1029, "显示提示", false},
    {kSetupCaption, 1030, "不显示托盘图标", false},
    {kSetupCaption, 1032, "声音设置...", false},
    {kSetupCaption, 1033, "快捷键...", false},
    {kSetupCaption, 1037, "开机自动启动", false},
    {kSetupCaption, 1039, "录制时隐藏主窗口", false},
    {kSetupCaption, 1040, "画质:", false},
    {kSetupCaption, 1041, "帧率:", false},
    {kSetupCaption, 1042, "声音来源:", false},
    {kSetupCaption, 1043, "录制区域", false},
    {kSetupCaption, 1044, "左:", false},
    {kSetupCaption, 1045, "上:", false},
    {kSetupCaption, 1046, "宽:", false},
    {kSetupCaption, 1047, "高:", false},
    // About window; "5.--" in 1050 becomes the program's version.
    {kAboutCaption, 1, "确定", false},
    {kAboutCaption, 1050, "Quillet 5.--", false},
    {kAboutCaption, 1051, "屏幕录像软件", false},
    {kAboutCaption, 1052, "更新", false},
    // Menu commands.
    {kCommand, kCmdStart, "开始录制", true},
    {kCommand, kCmdPause, "暂停录制", true},
    {kCommand, kCmdStop, "停止录制", true},
    {kCommand, kCmdScreenPen, "屏幕画笔", true},
    {kCommand, kCmdShowHide, "显示/隐藏(&H)", true},
    {kCommand, kCmdExit, "退出软件(&Q)", true},
    {kCommand, kCmdDetailedSettings, "【详细设置】...", true},
    {kCommand, kCmdWholeScreen, "全屏录制", true},
    {kCommand, kCmdSelectWindow, "选择窗口...", true},
    {kCommand, kCmdSelectArea, "选择区域...", true},
    {kCommand, kCmdRecordSound, "录制声音", true},
    {kCommand, kCmdUseDefaultDevice, "  切到默认录音设备", true},
    {kCommand, kCmdChinese, "中文Chinese", true},
    {kCommand, kCmdEnglish, "英文English", true},
    {kCommand, kCmdOpenFolder, "打开录制文件夹", true},
    {kCommand, kCmdChangeFolder, "更改录制文件夹", true},
};

} // namespace

const char* resourceText(const char* caption, int controlId)
{
    for (const ResourceEntry& e : kEntries)
        if (!e.menu && e.id == controlId && std::strcmp(e.section, caption) == 0)
            return e.text;
    return nullptr;
}

const char* resourceMenuText(int commandId)
{
    for (const ResourceEntry& e : kEntries)
        if (e.menu && e.id == commandId)
            return e.text;
    return nullptr;
}

const ResourceEntry* resourceEntries(int* count)
{
    *count = static_cast<int>(sizeof kEntries / sizeof kEntries[0]);
    return kEntries;
}

} // namespace quillet::desktop
