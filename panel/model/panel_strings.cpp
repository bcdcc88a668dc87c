#include "panel/model/panel_strings.h"

#include <algorithm>
#include <fstream>
#include <system_error>

namespace orv::panel {
namespace {

struct Entry {
    StringId id;
    std::string_view english;
    std::string_view chinese;  // empty: the English text in both languages
};

constexpr Entry kTexts[] = {
    {StringId::kAboutMenu, "&About Kalmiro...", ""},
    {StringId::kColumnServerName, "VWServerName", ""},
    {StringId::kColumnAddress, "IP Address", ""},
    {StringId::kColumnPort, "PORT", ""},
    {StringId::kNoServerFound, "There is no IP address option!", "找不到服务端"},
    {StringId::kCaption, "ORV VideoWall ControlCenter", "ORV视频墙控制面板"},
    {StringId::kSelectServer, "Please select an IP address!", "请选中服务器进行连接！"},
    {StringId::kLoginOk, "Login successful!", "登录成功！"},
    {StringId::kLoginFailed, "Login failure!", "登录失败！"},
    {StringId::kSearching, "Searching IP.", "搜索服务端..."},
    {StringId::kQueryFailed, "Get some information error!", "从服务端获取数据错误！"},
    {StringId::kServer, "Server", "服务器"},
    {StringId::kDisconnected, "has been disconnected!", "已经断开连接！"},
    {StringId::kMatrixTooBig,
     "Not support current display matrix(The number of monitors shouldn't exceed 9)!",
     "不支持当前的显示矩阵（显示器个数不能超过9）！"},
    {StringId::kCreateFailed, "Failed to create video wall!", "创建视频墙失败！"},
    {StringId::kSaved, "Save configuration file successfully!!!", "保存配置成功！！！"},
    {StringId::kServiceRestarting,
     "ORV Video Wall Service Manager is restarting, please connect again one minute later.",
     "ORV视频墙服务端正在重启，请一分钟之后再进行连接！"},
    {StringId::kServiceMissing, "ORV Video Wall Service Manager not exist!",
     "ORV视频墙服务端不存在！"},
    {StringId::kCannotConnect, "Can not connect to ORV Video Wall Service Manager!",
     "不能连接到ORV视频墙服务器！"},
    {StringId::kIdZero, "Monitor Id can't be 0!", ""},
    {StringId::kIdTooBig, "Monitor Id can't more than 9999!", ""},
    {StringId::kIdRunning, "This ID corresponding monitor is running!", ""},
    {StringId::kNoPhotoFolder, "Please select photo folder!", ""},
    {StringId::kPhotoAppFailed, "Failed to open ptoto wall app!", ""},
    {StringId::kVideoAppFailed, "Failed to open video app!", ""},
    {StringId::kSetMonitorIdMenu, "Set Monitor ID", "重置显示器ID"},
    {StringId::kSetMonitorIdTitle, "Set Monitor ID", "重置显示器ID"},
    {StringId::kLanguageTitle, "Change language", "语言设置"},
    {StringId::kLanguageLabel, "Languages:", "语言类型："},
    {StringId::kEnglishName, "English", "英语"},
    {StringId::kChineseName, "Chinese", "中文"},
    {StringId::kAboutTitle, "About", "关于"},
    {StringId::kSoftwareVersion, "Software version", "软件版本"},
    {StringId::kFirmwareVersion, "Firmware version", "固件版本"},
    {StringId::kFeedback, "Feedback", "问题反馈"},
    {StringId::kMenuSettings, "Settings", "设置"},
    {StringId::kMenuLanguage, "Language", "语言"},
    {StringId::kMenuAbout, "About", "关于"},
    {StringId::kDialogCaption, "ORV VideoWall ControlCenter", "ORV 视频墙控制面板"},
    {StringId::kGroupSettings, "ORVVW Settings", "视频墙设置"},
    {StringId::kWallListLabel, "ORVVW:", "视频墙列表："},
    {StringId::kSaveConfiguration, "Save configuration", "保存配置"},
    {StringId::kPixelsLabel, "VideoWall Pixels:", "视频墙像素值："},
    {StringId::kMatrixGroup, "Display Monitor Matrix", "显示器矩阵"},
    {StringId::kRowLabel, "Row:", "行："},
    {StringId::kColumnLabel, "Column:", "列："},
    {StringId::kResolutionGroup, "Display Monitor Resolution", "显示器分辨率"},
    {StringId::kWidthLabel, "Width:", "宽："},
    {StringId::kHeightLabel, "Height:", "高："},
    {StringId::kCreate, "Create", "创建"},
    {StringId::kReset, "Reset", "重置"},
    {StringId::kTopologyGroup, "VideoWall Topology", "拓扑图"},
    {StringId::kConnectedMonitors, "Connected Display Monitors", "显示器列表"},
    {StringId::kOpenApp, "Open App", ""},
    {StringId::kCloseApp, "Close App", ""},
    {StringId::kPlayPhotoWall, "Play PtotoWall", ""},
    {StringId::kPlayVideo, "Play Video", ""},
    {StringId::kBezelLabel, "Bezel compensation:", "边框补偿："},
    {StringId::kApply, "Apply", "应用"},
    {StringId::kZoneTemplatesLabel, "Zone templates:", "区域模板："},
    {StringId::kTemplateNone, "None", "无"},
    {StringId::kTemplateName, "Template", "模板"},
};

constexpr std::string_view kEnglishFile{"English\0", 8};
constexpr std::string_view kChineseFile{"Chinese\0", 8};

}  // namespace

std::string_view Text(StringId id, Language language) {
    const auto* it = std::find_if(std::begin(kTexts), std::end(kTexts),
                                  [id](const Entry& e) { return e.id == id; });
    if (it == std::end(kTexts)) return {};
    if (language == Language::kChinese && !it->chinese.empty()) return it->chinese;
    return it->english;
}

std::string DisconnectMessage(Language language, std::string_view address,
                              std::string_view serverName) {
    std::string text(Text(StringId::kServer, language));
    text.append(" ").append(address).append("@").append(serverName).append(" ");
    text.append(Text(StringId::kDisconnected, language));
    return text;
}

Language LanguageFromFileBytes(bytes::ConstBytes content) {
    constexpr std::string_view kWord = "Chinese";
    if (content.size() < kWord.size()) return Language::kEnglish;
    if (!std::equal(kWord.begin(), kWord.end(), content.begin())) return Language::kEnglish;
    if (content.size() > kWord.size() && content[kWord.size()] != 0) return Language::kEnglish;
    return Language::kChinese;
}

std::string_view LanguageFileBytes(Language language) {
    return language == Language::kChinese ? kChineseFile : kEnglishFile;
}

LanguageAtStart ReadLanguageAtStart(const std::filesystem::path& path) {
    LanguageAtStart result;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        result.created = true;
        result.writeFailed = !WriteLanguageFile(path, Language::kEnglish);
        return result;
    }
    std::uint8_t head[kLanguageReadLimit] = {};
    in.read(reinterpret_cast<char*>(head), sizeof head);
    const auto got = static_cast<std::size_t>(in.gcount());
    result.language = LanguageFromFileBytes(bytes::ConstBytes(head, got));
    return result;
}

bool WriteLanguageFile(const std::filesystem::path& path, Language language) {
    std::filesystem::path temp = path;
    temp += ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        const std::string_view content = LanguageFileBytes(language);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        out.flush();
        if (!out) {
            std::error_code ignored;
            std::filesystem::remove(temp, ignored);
            return false;
        }
    }
    std::error_code error;
    std::filesystem::rename(temp, path, error);
    if (error) {
        std::filesystem::remove(temp, error);
        return false;
    }
    return true;
}

Language LanguageFromChoice(std::string_view choice) {
    if (choice == Text(StringId::kEnglishName, Language::kEnglish) ||
        choice == Text(StringId::kEnglishName, Language::kChinese)) {
        return Language::kEnglish;
    }
    return Language::kChinese;
}

}  // namespace orv::panel
