// Fuzz target: loading and parsing a data file, then every report built from it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "report/report_book.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kordel::report::ReportBook book;
  const auto result =
      book.loadBytes(std::string(reinterpret_cast<const char*>(data), size));
  if (!result.ok()) return 0;
  book.sortLines(kordel::report::LineSortKey::Hardware);
  book.sortLines(kordel::report::LineSortKey::Programmed);
  book.sortLines(kordel::report::LineSortKey::Total);
  book.sortTrunks(kordel::report::TrunkSortKey::Trunk);
  book.select("", kordel::report::SelectBy::Programmed, "8");
  for (auto kind : {kordel::report::ReportKind::Calls, kordel::report::ReportKind::Lines,
                    kordel::report::ReportKind::Trunks}) {
    (void)book.reportLines(kind);
  }
  return 0;
}
