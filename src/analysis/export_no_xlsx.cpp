// XLSX in a build without libxlsxwriter (the Windows command-line build made here): nothing is
// written, and the caller is told so.
#include "analysis/export.h"
#include "files/text_codec.h"

namespace kordel::analysis {

bool xlsxAvailable() { return false; }

Status writeXlsx(const std::vector<ResultTable>&, const std::string& path) {
  return Status::error(ru("Эта сборка не записывает XLSX: файл \"") + path +
                       ru("\" не создан (выберите CSV)."));
}

}  // namespace kordel::analysis
