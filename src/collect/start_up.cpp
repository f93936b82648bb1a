#include "collect/start_up.h"

#include <cstdio>

#include "files/data_file.h"

namespace kordel {

StartUp startUp(PbxLink& link) {
  StartUp result;
  result.configFailed = link.loadPortConfig() != kConfigOk;
  result.firstRun = link.settings.firstRun;
  if (result.firstRun) std::remove(nativePath(link.settings.outputConfigPath()).c_str());
  return result;
}

bool realTimeSupported(const PbxLink& link) { return link.model.find("QTR") != std::string::npos; }

}  // namespace kordel
