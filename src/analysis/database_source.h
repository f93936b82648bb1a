// Call analysis: the calls database as a source of calls, beside data files or instead of them.
//
// The database gives the exact lines of its calls, and the store takes them apart as it does
// the lines of data files, so a period gives the same totals from either. The filters that the
// database can apply by its columns (the sites, the period, the shortest duration, incoming or
// outgoing) are done there, the rest by the Analyzer as always; lines that did not convert are
// always given, to be counted as unreadable. With calls of more than one site, the hardware and
// programmed numbers and the trunks are prefixed "SITE/": extension 201 at two sites is two
// extensions, and a directory or tariff file names them that way ("Москва/201").
//
// The dependency runs one way: kordel_analysis uses kordel_store (this file alone), the store
// knows nothing of the analysis.
#pragma once

#include <string>
#include <vector>

#include "analysis/analyzer.h"
#include "analysis/call_store.h"
#include "store/call_database.h"

namespace kordel::analysis {

class DatabaseSource : public LineSource {
 public:
  // `database` must outlive the source; it is opened by the walk if it is not yet. `sites`
  // (Windows-1251; empty: every site) and the period and direction of `filter` go into the
  // query.
  DatabaseSource(store::CallDatabase& database, std::vector<std::string> sites,
                 const Filter& filter);

  std::string name() const override;
  Status forEachLine(const Take& take) override;

  // After a walk: the sites whose calls it gave, and whether their numbers were prefixed.
  const std::vector<std::string>& sites() const { return loadedSites_; }
  bool prefixed() const { return prefixed_; }

 private:
  store::CallDatabase& db_;
  std::vector<std::string> wantedSites_;
  store::LineQuery query_;
  std::vector<std::string> loadedSites_;
  bool prefixed_ = false;
};

// "YYYY-MM-DD HH:MM:SS" of a time, as the database compares starts; empty for a year outside
// 1..9999 (no bound there).
std::string databaseTime(WallTime time);

}  // namespace kordel::analysis
