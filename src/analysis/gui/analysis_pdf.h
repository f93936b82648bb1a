// Analysis window: the printable report, a PDF file of A4 pages (QPdfWriter): the title, the
// period, the summary, the tables and the charts of one result.
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "analysis/analyzer.h"
#include "analysis/tables.h"

namespace kordel::analysis::gui {

struct PdfReport {
  QString title;                           // "Анализ звонков за март 2024"
  QString period;                          // "Период: с 01.03.2024 по 31.03.2024"
  QStringList header;                      // lines under the period: the filters
  QStringList summary;                     // "title: value" lines, set in two columns
  std::vector<const ResultTable*> tables;  // not owned
  const AnalysisResult* result = nullptr;  // for the charts; nullptr: none
};

// Writes the report to `path`, replacing the file. False, with the reason in `error`, when the
// file cannot be written.
bool writePdfReport(const QString& path, const PdfReport& report, QString& error);

}  // namespace kordel::analysis::gui
