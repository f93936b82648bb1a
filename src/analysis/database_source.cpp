#include "analysis/database_source.h"

#include <algorithm>
#include <cstdio>

#include "files/text_codec.h"

namespace kordel::analysis {

std::string databaseTime(WallTime time) {
  const CivilTime c = civilTime(time);
  if (c.year < 1 || c.year > 9999) return std::string();
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", c.year, c.month, c.day, c.hour,
                c.minute, c.second);
  return text;
}

DatabaseSource::DatabaseSource(store::CallDatabase& database, std::vector<std::string> sites,
                               const Filter& filter)
    : db_(database), wantedSites_(std::move(sites)) {
  if (filter.from) query_.from = databaseTime(*filter.from);
  if (filter.to) query_.to = databaseTime(*filter.to);
  query_.minDuration =
      static_cast<std::int32_t>(std::min<std::uint32_t>(filter.minDuration, 86400));
  query_.direction =
      filter.direction == Direction::Incoming   ? store::LineQuery::Direction::kIncoming
      : filter.direction == Direction::Outgoing ? store::LineQuery::Direction::kOutgoing
                                                : store::LineQuery::Direction::kAny;
}

std::string DatabaseSource::name() const { return ru("база данных ") + db_.describe(); }

Status DatabaseSource::forEachLine(const Take& take) {
  if (const store::Status opened = db_.open(); !opened.ok()) return Status::error(opened.message());
  std::vector<std::string> present;
  if (const store::Status listed = db_.sites(present); !listed.ok()) {
    return Status::error(listed.message());
  }
  loadedSites_.clear();
  for (const std::string& site : present) {
    if (wantedSites_.empty() ||
        std::find(wantedSites_.begin(), wantedSites_.end(), site) != wantedSites_.end()) {
      loadedSites_.push_back(site);
    }
  }
  prefixed_ = loadedSites_.size() > 1;
  query_.sites = wantedSites_;
  if (!wantedSites_.empty() && loadedSites_.empty()) return Status();  // none of them has calls

  std::string lastSite, prefix;
  const store::Status walked =
      db_.forEachLine(query_, [&](std::string_view site, std::string_view line) {
        if (!prefixed_) return take(std::string_view(), line);
        if (site != lastSite) {
          lastSite.assign(site);
          prefix = lastSite + "/";
        }
        return take(prefix, line);
      });
  return walked.ok() ? Status() : Status::error(walked.message());
}

}  // namespace kordel::analysis
