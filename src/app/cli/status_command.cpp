#include "app/cli/cli_common.h"
#include "app/cli/commands.h"
#include "files/text_codec.h"

namespace kordel::cli {

int runStatus(const StatusOptions& options) {
  int exitCode = kExitOk;
  auto link = makeLink(options.port, exitCode);
  if (!link) return exitCode;
  if (int result = connect(*link); result != kExitOk) return result;
  printLine(ru("АТС: ") + link->model);
  printLine(ru("ПО вер. ") + link->softwareVersion);
  printLine(ru("Зав. номер : ") + link->serialNumber);
  printLine(ru("Емкость буфера : ") + std::to_string(link->bufferCapacity));
  printLine(ru("В буфере : ") + std::to_string(link->recordsInBuffer.load()));
  printLine(ru("Часы АТС : ") + clockText(link->clock));
  return kExitOk;
}

}  // namespace kordel::cli
