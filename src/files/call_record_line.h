// Files and formats: the call-record line and the title lines of the data file.
//
// One CallRecord becomes one fixed-column Windows-1251 line (76 bytes for a three-digit
// hardware number and fields within their widths); the report builder and the call analysis read
// it back by column. The columns are described once, in call_record_layout.h.
#pragma once

#include <string>

#include "link/call_record.h"
#include "link/coding.h"

namespace kordel {

// The call-record line; no side effects.
std::string formatCallRecordLine(const CallRecord& record);

// "       Данные на  dd-mm-yyyy hh:mm:ss " (38 bytes) from the PBX clock.
std::string headerLine(const PbxClock& pbxTime);
// "       Начало         Продолжит   Абонент      СЛ     Номер" (59 bytes).
const std::string& columnTitleLine();

}  // namespace kordel
