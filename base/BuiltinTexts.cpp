#include "base/BuiltinTexts.h"

#include <cstring>

namespace quillet {
namespace {

struct Entry {
    const char* key;
    const char* text; // nullptr: no built-in text
};

// "\r\n" in these texts is a real line break.
const Entry kMessages[] = {
    {"Repeate", "已经有一个Quillet5在运行!\r\n是否将其显示到最前面？"},
    {"Repeate2", "重复运行提示"},
    {"Removed", "已经去除配置信息!"},
    {"Code0", nullptr}, {"Code1", nullptr}, {"Code2", nullptr}, {"Code3", nullptr}, {"Code4", nullptr},
    {"FPS_1", "2帧/秒"}, {"FPS_2", "5帧/秒"}, {"FPS_3", "10帧/秒"}, {"FPS_4", "15帧/秒"},
    {"FULLSIZE", "全屏:"}, {"MAXSIZE", "最大支持:"},
    {"DEFAULTA", "   默认录音设备"}, {"WAVEOUT", "   电脑内播放音"},
    {"Width1", "宽度设置超过屏幕大小"}, {"Width2", "区域太小，请设置宽或高大于64"},
    {"Typ1", "MP4 - 通用播放格式"}, {"Typ2", "FLV - 网页播放常用"}, {"Typ3", "AVI - Quillet专用"},
    {"Typ4", "WMV - windows播放器"}, {"Typ5", "SWF - Flash动画格式"}, {"Typ6", "图片- 自动连续截图"},
    {"ginfo0", nullptr}, {"ginfo1", nullptr}, {"ginfo2", nullptr}, {"ginfo3", nullptr}, {"ginfo4", nullptr},
    {"ginfo5", nullptr},
    {"ToolTip1", "修改录制文件名和路径"}, {"ToolTip2", "播放文件"}, {"ToolTip3", "开始录制"},
    {"ToolTip4", "暂停录制"}, {"ToolTip5", "停止录制"}, {"ToolTip6", "屏幕画笔"}, {"ToolTip7", "关于"},
    {"ToolTip8", "设置参数"},
    {"iconTxt", "Quillet"},
    {"audio1", "默认录音设备"}, {"audio2", "电脑内声音"}, {"audio3", "录音: "}, {"stop1", "停止录制后才能设置"},
    {"hotkey1", "不能设置相同的快捷键到不同的功能上!"}, {"hotkey2", "提示：快捷键修改后，需要重启软件才生效!"},
    {"ErrFilePath", "目标路径创建文件失败！不可用于录制!"},
    {"RecEnd", "文件录制完成,是否立即播放:\r\n"}, {"recEnd2", "录屏停止"},
    {"recDiskFull", "磁盘已满, 录制已提前结束. 此前录下的内容已保存, 可以正常播放:\r\n"},
    {"recDiskKept", "\r\n已保存: %d 秒"}, {"recDiskImages", "\r\n已保存: %d 张图片"},
    {"recRepairAsk", "输出文件夹中有 %d 个录制文件未能正常结束 (录制时程序被中止). 现在修复, 使其可以播放吗?\r\n"},
    {"recRepairDone", "已修复, 可以播放:"}, {"recRepairFail", "未能修复:"},
    {"FpsErr", "注:帧率较慢(%d%%),请降低屏幕分辨率以获得更流畅的录制效果\r\n\r\n"},
    {"openErr", "未能打开如下文件:\r\n"},
    {"recFile", "\r\n录制文件: "}, {"recAudio", "\r\n录制声音: "}, {"recYes", nullptr}, {"recNo", nullptr},
    {"FPS", "\r\n屏幕帧率: %d 帧/秒"},
    {"start1", "\r\n\r\n录制开始后软件将缩小到右下角图标。\r\n( 要停止录制请从右下角菜单停止或按F10键停止)"},
    {"start2", "\r\n\r\n关闭桌面透明效果可以让录制更流畅。\r\n是: 关闭透明效果后录制\r\n否: 直接录制"},
    {"start", "开始录制"},
    {"startErr", "启动录制失败!"},
    {"audioErr", "所选的语音编码不能正常打开,请另外选择"},
    {"audioErr2", "录音失败!,录屏将继续"},
    {"fileErr", "创建文件失败!\r\n请检查该录制的文件是否被其他软件打开，或文件夹是否有权限写文件."},
    {"h264Err", "启动H264编码失败!"},
    {"wmvErr", "创建文件失败!\r\n录制WMV文件需要本机已安装微软的windows media format "},
    {"ErrAvi", "视频驱动版本太旧"}, {"ErrAvi2", "创建文件失败:"},
    {"area1", "区域太小"},
    {"typeErr", "暂不支持录制这种格式, 请选择 MP4, FLV, AVI, SWF, WMV 或图片 (jpg/png)."},
    {"update2", "更新到版本:"},
    {"badSetting", "配置文件 Data.ini 中的设置 %s=%s 无法使用, 已改用 %s。"},
    {"badFolder", "录制文件夹 \"%s\" 无法使用 (%s), 改为录制到 %s"},
    {"errPath", "不是本系统的完整文件夹路径"},
    {"errNoFolder", "文件夹不存在: %s"},
    {"errDenied", "没有权限写入文件夹 %s (%s)"},
    {"errCreate", "无法创建 %s (%s)"},
    {"xNoDisplay", "无法打开 X 显示 %s (%s)。"},
    {"xNoAnswer", "X 显示 %s 没有响应 (%s 秒内无应答)。"},
    {"xLost", "与 X 显示 %s 的连接已断开 (%s)。\r\n录制已结束, 文件保留了此前录制的内容。"},
    {"xStuck", "X 显示 %s 已停止响应。\r\n录制已结束, 文件保留了此前录制的内容。"},
    {"devLost", "录音已停止: %s 已不可用 (%s)。\r\n屏幕录制继续, 文件保持实际时长。"},
    {"devMoved", "录音设备 %s 已被移除, 现在从 %s 录音。"},
    {"imgNone", "没有保存任何图片: 录制期间屏幕变化不够。"},
    {"imgSaved", "已保存 %s 张图片, 从 %s 到 %s"},
    {"recCancel", "录制已取消, 没有保留文件。"},
    // Desktop program: controls that later versions bring, and the range check
    // of the settings window's rectangle edits.
    {"later1", "此功能将在以后的版本中提供"},
    {"range1", "请输入 0 到 2000 之间的整数。"},
};

} // namespace

const char* builtinMessage(const char* key)
{
    for (const Entry& e : kMessages)
        if (std::strcmp(e.key, key) == 0)
            return e.text;
    return nullptr;
}

const char* const* messageKeys(int* count)
{
    static const char* keys[sizeof kMessages / sizeof kMessages[0]];
    static const bool filled = [] {
        for (size_t i = 0; i < sizeof kMessages / sizeof kMessages[0]; ++i)
            keys[i] = kMessages[i].key;
        return true;
    }();
    (void)filled;
    *count = static_cast<int>(sizeof kMessages / sizeof kMessages[0]);
    return keys;
}

} // namespace quillet
