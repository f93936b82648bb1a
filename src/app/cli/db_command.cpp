// kordel-cli db: the calls database. "import" takes data files in (again and again if need be:
// a call already there is not stored twice), "status" says which database the settings choose
// and how far each data file has been taken in.
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "app/cli/cli_common.h"
#include "app/cli/commands.h"
#include "files/data_file.h"
#include "files/file_access.h"
#include "files/settings.h"
#include "files/text_codec.h"
#include "store/backend.h"
#include "store/data_file_intake.h"

namespace kordel::cli {

namespace {

// An import reads the file in large batches: one transaction per 8 MB (about 100 000 calls).
constexpr std::size_t kImportBatchBytes = std::size_t{8} << 20;
// A mark moved by a collector at the same moment is read again this often before giving up.
constexpr int kConflictTries = 5;

struct OpenDatabase {
  store::DatabaseChoice choice;
  std::unique_ptr<store::CallDatabase> db;
  store::Status opened;
};

std::string fileSize(const std::string& path, bool& present) {
  std::error_code error;
  const auto size = std::filesystem::file_size(nativePath(path), error);
  present = !error;
  return present ? std::to_string(size) : std::string();
}

}  // namespace

int runDbImport(const DbImportOptions& o) {
  Settings settings;  // "KordelDb.cfg" is looked for in the current directory
  std::vector<OpenDatabase> databases;
  int exitCode = kExitOk;
  for (const std::string& name : o.files) {
    const std::string file = utf8ToCp1251(name);
    store::DatabaseChoice choice;
    if (!chooseDatabase(o.database, settings, file, choice)) return kExitUsage;
    if (choice.kind == store::DatabaseChoice::Kind::kOff) {
      printError(ru("База данных выключена (off): звонки заносить некуда."));
      return kExitUsage;
    }
    const OpenedFile probe = openRegularFile(nativePath(file), FileMode::Read);
    if (probe.file == nullptr) {
      printError(ru("Не удалось открыть файл данных ") + quoteForMessage(file) +
                 (probe.notRegular ? ru(": это не обычный файл.") : std::string(".")));
      exitCode = kExitFileFailed;
      continue;
    }
    std::fclose(probe.file);

    OpenDatabase* target = nullptr;
    for (OpenDatabase& d : databases) {
      if (d.choice == choice) target = &d;
    }
    if (target == nullptr) {
      databases.push_back(OpenDatabase{choice, store::makeDatabase(choice), store::Status()});
      target = &databases.back();
      target->opened = target->db->open();
    }
    if (!target->opened.ok()) {
      printError(target->opened.message());
      exitCode = kExitDatabaseFailed;
      continue;
    }
    store::IntakeOptions intakeOptions;
    intakeOptions.site = choice.site;
    intakeOptions.dataFile = file;
    intakeOptions.batchBytes = kImportBatchBytes;
    store::DataFileIntake intake(*target->db, intakeOptions);
    store::IntakeResult r;
    std::uint64_t offered = 0, inserted = 0;
    bool restarted = false;
    for (int tries = 0; tries < kConflictTries; ++tries) {
      r = intake.run();
      offered += r.offered;
      inserted += r.inserted;
      restarted = restarted || r.restarted;
      if (r.status.code() != store::Status::Code::kConflict) break;
    }
    if (!r.status.ok()) {
      printError(r.status.message());
      exitCode = kExitDatabaseFailed;
      continue;
    }
    printLine(quoteForMessage(file) + ru(": прочитано строк звонков ") + std::to_string(offered) +
              ru(", занесено новых звонков ") + std::to_string(inserted) + ru(" (") +
              target->db->describe() + ru(", площадка ") + quoteForMessage(choice.site) + ")." +
              (restarted ? ru(" Файл не совпал с прежней отметкой и взят заново с начала.")
                         : std::string()));
  }
  return exitCode;
}

int runDbStatus(const DbStatusOptions& o) {
  Settings settings;
  loadOutputConfig(settings);
  for (const std::string& warning : settings.warnings) printError(warning);
  const std::string dataFile = o.dataFile ? utf8ToCp1251(*o.dataFile) : settings.dataFileName;
  store::DatabaseChoice choice;
  if (!chooseDatabase(o.database, settings, dataFile, choice)) return kExitUsage;
  if (choice.kind == store::DatabaseChoice::Kind::kOff) {
    printLine(ru("Запись звонков в базу данных выключена (off)."));
    return kExitOk;
  }
  // Only looked at: an SQLite file that is not there is not made.
  std::error_code missing;
  if (choice.kind == store::DatabaseChoice::Kind::kSqlite && store::sqliteBuiltIn() &&
      !std::filesystem::exists(nativePath(choice.target), missing)) {
    printLine(ru("База данных SQLite ") + quoteForMessage(choice.target) +
              ru(" еще не создана: в нее еще ничего не заносилось."));
    return kExitOk;
  }
  const std::unique_ptr<store::CallDatabase> db = store::makeDatabase(choice);
  if (const store::Status opened = db->open(); !opened.ok()) {
    printError(opened.message());
    return kExitDatabaseFailed;
  }
  printLine(ru("База данных: ") + db->describe() + ru(", схема версии ") +
            std::to_string(store::kSchemaVersion) + ru("; площадка этого компьютера: ") +
            quoteForMessage(choice.site) + ".");
  std::vector<store::FileState> states;
  if (const store::Status listed = db->fileStates(states); !listed.ok()) {
    printError(listed.message());
    return kExitDatabaseFailed;
  }
  bool any = false;
  for (const store::FileState& f : states) {
    if (o.database.site && f.site != choice.site) continue;
    any = true;
    bool present = false;
    const std::string size = fileSize(f.path, present);
    std::string how;
    if (!present) {
      how = ru("файла здесь нет");
    } else if (std::to_string(f.offset) == size) {
      how = ru("взят полностью");
    } else if (std::stoull(size) > f.offset) {
      how = ru("осталось взять ") + std::to_string(std::stoull(size) - f.offset) + ru(" байт");
    } else {
      how = ru("файл короче отметки: будет взят заново с начала");
    }
    printLine(ru("площадка ") + quoteForMessage(f.site) + ": " + quoteForMessage(f.path) +
              ru(": взято байт ") + std::to_string(f.offset) +
              (present ? ru(" из ") + size : std::string()) + " (" + how + ru("), звонков ") +
              std::to_string(f.calls) + ru(", обновлено ") + f.updated + ".");
  }
  if (!any) printLine(ru("Файлы данных в эту базу еще не заносились."));
  return kExitOk;
}

}  // namespace kordel::cli
