#include "app/cli/database_feed.h"

#include "app/cli/cli_common.h"
#include "files/text_codec.h"

namespace kordel::cli {

bool chooseDatabase(const DatabaseOptions& options, const Settings& settings,
                    const std::string& dataFile, store::DatabaseChoice& choice) {
  store::ChoiceSources sources;
  if (options.database) sources.database = utf8ToCp1251(*options.database);
  if (options.site) sources.site = utf8ToCp1251(*options.site);
  sources.startDirectory = settings.startDirectory;
  sources.dataFile = dataFile;
  std::vector<std::string> warnings;
  const store::Status chosen = store::chooseDatabase(sources, choice, warnings);
  for (const std::string& w : warnings) printError(w);
  if (!chosen.ok()) printError(chosen.message());
  return chosen.ok();
}

void DatabaseFeed::start(const store::DatabaseChoice& choice, const std::string& dataFile) {
  if (choice.kind == store::DatabaseChoice::Kind::kOff) return;
  store::InserterOptions options;
  options.site = choice.site;
  options.dataFile = dataFile;
  options.observer = this;
  inserter_ = std::make_unique<store::DatabaseInserter>(store::makeDatabase(choice), options);
}

void DatabaseFeed::attach(RecordSink& sink) {
  if (inserter_) sink.setListener(inserter_.get());
}

void DatabaseFeed::finish(int waitMs) {
  if (!inserter_) return;
  if (!inserter_->catchUp(waitMs)) {
    const store::DatabaseInserter::State state = inserter_->state();
    printError(ru("База данных приняла не все звонки") +
               (state.reason.empty() ? std::string(".") : ": " + state.reason) +
               ru(" Они есть в файле данных и будут занесены в базу при следующем запуске или "
                  "командой kordel-cli db import."));
  }
  inserter_.reset();
}

void DatabaseFeed::databaseFailed(const std::string& reason, int retryMs) {
  printError(reason +
             ru(" Звонки сохраняются в файле данных и будут занесены в базу позже. "
                "Повтор через ") +
             std::to_string((retryMs + 999) / 1000) + ru(" с."));
}

void DatabaseFeed::databaseBack(std::uint64_t behind) {
  printError(ru("База данных снова принимает звонки; занесено из файла данных: ") +
             std::to_string(behind) + ".");
}

}  // namespace kordel::cli
