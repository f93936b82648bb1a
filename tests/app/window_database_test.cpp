// The main window's reads fill the calls database beside the data file; a database that fails
// is a line below the status bars, never a box, and the read goes on.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>

#include "app/gui/main_form.h"
#include "app/gui/read_ats_thread.h"
#include "app/gui/widgets.h"
#include "gui_test_support.h"

namespace kordel::test {
namespace {

// The rows of a query on the SQLite file, columns joined by '|'; empty when it cannot be read.
std::vector<std::string> rows(const std::string& file, const char* sql) {
  std::vector<std::string> out;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK) {
      while (sqlite3_step(stmt) == SQLITE_ROW) {
        std::string row;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
          const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
          row += (i > 0 ? "|" : "") + std::string(text != nullptr ? text : "NULL");
        }
        out.push_back(row);
      }
    }
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
  return out;
}

class WindowDatabaseTest : public ::testing::Test {
 protected:
  void TearDown() override {
    form.reset();
    pbx.reset();
  }
  void read(int records) {
    form.reset();
    pbx.reset();  // its end unsets KORDEL_COM1: before the next one sets it
    pbx = std::make_unique<SimulatedPbx>(scenarioWith(records));
    writePortConfig(dir, 1, true);
    writeOutputConfig(dir, dataFile(), "", "");
    form = std::make_unique<TMainForm>(QString::fromStdString(dir.str()));
    form->show();
    form->LoadFromATSMenuItemClick();
    ASSERT_TRUE(waitUntil([this] { return form->reader() && form->reader()->isFinished(); }));
  }
  std::string dataFile() const { return dir.file("calls.txt"); }
  std::string database() const { return dir.file("kordel.sqlite"); }

  TempDir dir;
  TestDialogs dialogs;
  std::unique_ptr<SimulatedPbx> pbx;
  std::unique_ptr<TMainForm> form;
};

TEST_F(WindowDatabaseTest, AReadFillsTheSqliteFileBesideTheDataFile) {
  ::unsetenv("KORDEL_DB");
  read(4);
  const char* query =
      "SELECT convert_line, pbx_model, unit FROM (SELECT CAST(line AS TEXT)"
      " AS convert_line, pbx_model, unit FROM calls ORDER BY id)";
  ASSERT_TRUE(waitUntil([&] { return rows(database(), query).size() == 4; }));
  const QStringList lines = fileLines(dataFile());
  ASSERT_EQ(lines.size(), 6);  // two title lines, four calls
  const std::vector<std::string> stored = rows(database(), query);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(stored[i], lines[i + 2].toStdString() + "|QTR160|0");
  }
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_FALSE(form->LinkStatusBar->isVisible());
}

TEST_F(WindowDatabaseTest, ADatabaseThatFailsIsALineBelowTheStatusBarsAndOffMeansNone) {
  const std::string blocked = pathUnderRegularFile(dir, "calls.sqlite");
  writeBytes(dir.path() / "KordelDb.cfg", "DB=" + blocked + "\r\n");
  read(3);
  EXPECT_EQ(fileLines(dataFile()).size(), 5);  // the read went on
  ASSERT_TRUE(waitUntil([this] { return form->LinkStatusBar->isVisible(); }));
  EXPECT_TRUE(form->LinkStatusBar->panelText(0).contains(q("SQLite")))
      << form->LinkStatusBar->panelText(0).toStdString();
  EXPECT_TRUE(form->LinkStatusBar->panelText(0).contains(q("сохраняются в файле данных")));
  EXPECT_TRUE(dialogs.messages.empty());

  writeBytes(dir.path() / "KordelDb.cfg", "DB=off\r\n");
  read(2);
  EXPECT_EQ(fileLines(dataFile()).size(), 9);
  EXPECT_FALSE(std::filesystem::exists(database()));
  EXPECT_TRUE(dialogs.messages.empty());
}

}  // namespace
}  // namespace kordel::test
