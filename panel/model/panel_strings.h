// The panel's texts in English and Chinese, and the language file that picks
// one of them at start.
//
// Numbered texts keep the string-table ids the dialogs use; the texts of the
// small dialogs that have no id get ids of their own from 1000 up. A text the
// Chinese table does not carry is shown in English in both languages.
//
// The language file "Language.ini" holds raw bytes: the panel writes exactly
// "English" or "Chinese" and one zero byte. Reading looks at the first 16
// bytes only: the file means Chinese when its first seven bytes are
// "Chinese" and the eighth is zero or absent, English otherwise.
//
// Pure functions and constant tables; any thread. The file functions block on
// the file system only.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/bytes.h"

namespace orv::panel {

enum class Language { kChinese = 0, kEnglish = 1 };

enum class StringId : std::int32_t {
    kAboutMenu = 101,  // "&About Kalmiro..."
    kColumnServerName = 102,
    kColumnAddress = 103,
    kColumnPort = 104,
    kNoServerFound = 105,
    kCaption = 106,
    kSelectServer = 107,
    kLoginOk = 108,
    kLoginFailed = 109,
    kSearching = 110,
    kQueryFailed = 111,
    kServer = 112,
    kDisconnected = 113,
    kMatrixTooBig = 114,
    kCreateFailed = 115,
    kSaved = 116,
    kServiceRestarting = 117,
    kServiceMissing = 118,
    kCannotConnect = 119,
    // Texts without a string-table id.
    kIdZero = 1000,
    kIdTooBig,
    kIdRunning,
    kNoPhotoFolder,
    kPhotoAppFailed,
    kVideoAppFailed,
    kSetMonitorIdMenu,
    kSetMonitorIdTitle,
    kLanguageTitle,
    kLanguageLabel,
    kEnglishName,  // the entries of the language combo box
    kChineseName,
    kAboutTitle,
    kSoftwareVersion,
    kFirmwareVersion,
    kFeedback,
    kMenuSettings,
    kMenuLanguage,
    kMenuAbout,
    kDialogCaption,
    kGroupSettings,
    kWallListLabel,
    kSaveConfiguration,
    kPixelsLabel,
    kMatrixGroup,
    kRowLabel,
    kColumnLabel,
    kResolutionGroup,
    kWidthLabel,
    kHeightLabel,
    kCreate,
    kReset,
    kTopologyGroup,
    kConnectedMonitors,
    kOpenApp,
    kCloseApp,
    kPlayPhotoWall,
    kPlayVideo,
    // The bezel and zone-template controls, which the panel shows: texts of
    // our own in Chinese.
    kBezelLabel,
    kApply,
    kZoneTemplatesLabel,
    kTemplateNone,
    kTemplateName,  // followed by the template's number
};

// The text of `id` in `language`; "" for an id without a text.
std::string_view Text(StringId id, Language language);

// The message of a lost connection: "Server 127.0.0.1@ORVVW has been
// disconnected!" in `language`, with the address and server name given.
std::string DisconnectMessage(Language language, std::string_view address,
                              std::string_view serverName);

// --- the language file
inline constexpr std::string_view kLanguageFileName = "Language.ini";
inline constexpr std::size_t kLanguageReadLimit = 16;

// The language the first bytes of a language file select.
Language LanguageFromFileBytes(bytes::ConstBytes content);
// The 8 bytes the panel writes for `language`.
std::string_view LanguageFileBytes(Language language);

struct LanguageAtStart {
    Language language = Language::kEnglish;
    bool created = false;  // the file was missing and was written with "English"
    bool writeFailed = false;
};
// Reads `path`; a missing file is created holding "English". Writes are
// atomic (a temporary file renamed over the path).
LanguageAtStart ReadLanguageAtStart(const std::filesystem::path& path);
// Writes the file for `language` anew. False when it cannot be written.
[[nodiscard]] bool WriteLanguageFile(const std::filesystem::path& path, Language language);

// The language the language dialog reports for the combo text chosen:
// English for "English" or its Chinese name, Chinese for anything else.
Language LanguageFromChoice(std::string_view choice);

}  // namespace orv::panel
