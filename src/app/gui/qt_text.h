// Windows: conversions at the boundary between the core's Windows-1251 texts and Qt's QString.
//
// The core keeps every text (model names, call-record lines, file names) as Windows-1251 bytes;
// the windows convert once when a text is shown and once when a chosen name goes back.
#pragma once

#include <QString>
#include <string>

#include "files/text_codec.h"

namespace kordel::gui {

// Windows-1251 bytes of the core to a QString.
inline QString fromCp1251(const std::string& text) {
  return QString::fromStdString(kordel::cp1251ToUtf8(text));
}

// A QString (e.g. a chosen file name) to the core's Windows-1251 bytes.
inline std::string toCp1251(const QString& text) {
  return kordel::utf8ToCp1251(text.toStdString());
}

// The windows' own texts are UTF-8 literals in the source.
inline QString u(const char* utf8) { return QString::fromUtf8(utf8); }

// The captions of the program's message boxes.
inline constexpr const char* kCaptionError = "Ошибка!";
inline constexpr const char* kCaptionAttention = "Внимание!";
inline constexpr const char* kCaptionNotice = "Уведомление";
inline constexpr const char* kCaptionWarning = "Предупреждение";

}  // namespace kordel::gui
