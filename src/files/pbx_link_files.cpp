// The PbxLink operations that belong to the files: configuration and data file.
#include "files/call_record_line.h"
#include "files/data_file.h"
#include "files/settings.h"
#include "link/pbx_link.h"

namespace kordel {
namespace {

int appendResult(int result) {
  switch (result) {
    case kAppendOk:
      return kOk;
    case kAppendFailed:
      return kAppendNotWritten;
    default:
      return kAppendException;
  }
}

}  // namespace

int PbxLink::loadOutputConfig() { return kordel::loadOutputConfig(settings); }
int PbxLink::loadPortConfig() { return kordel::loadPortConfig(settings); }

int PbxLink::savePortConfig(const std::string& portName, bool titleEnabled) {
  return kordel::savePortConfig(settings, portName, titleEnabled);
}

int PbxLink::saveOutputConfig(const std::string& dataFileName,
                              const std::string& realTimeLogName) {
  return kordel::saveOutputConfig(settings, dataFileName, realTimeLogName);
}

void PbxLink::buildTitleLines(const PbxClock& pbxTime) {
  headerLine = kordel::headerLine(pbxTime);
  columnTitleLine = kordel::columnTitleLine();
}

int PbxLink::appendTitleLines() {
  return appendResult(appendLines(settings.dataFileName, {headerLine, columnTitleLine}));
}

int PbxLink::appendDataLine(const std::string& line) {
  return appendResult(appendLines(settings.dataFileName, {line}));
}

}  // namespace kordel
