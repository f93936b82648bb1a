#include "store/database_choice.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "files/text_codec.h"
#include "support/temp_dir.h"

namespace kordel::store {
namespace {

using Kind = DatabaseChoice::Kind;

// Sets an environment variable for the life of the guard.
class Env {
 public:
  Env(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~Env() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(DatabaseChoice, ValuesNameABackendOrNone) {
  struct Case {
    const char* value;
    bool ok;
    Kind kind;
    const char* target;
  };
  const Case cases[] = {
      {"off", true, Kind::kOff, ""},
      {" OFF ", true, Kind::kOff, ""},
      {"calls.db", true, Kind::kSqlite, "calls.db"},
      {"/var/lib/kordel/a=b.sqlite", true, Kind::kSqlite, "/var/lib/kordel/a=b.sqlite"},
      {"sqlite:off", true, Kind::kSqlite, "off"},
      {"sqlite:host=x", true, Kind::kSqlite, "host=x"},
      {"postgresql://kordel@db1/calls", true, Kind::kPostgres, "postgresql://kordel@db1/calls"},
      {"postgres://db1:5433/calls", true, Kind::kPostgres, "postgres://db1:5433/calls"},
      {"host=db1 dbname=calls", true, Kind::kPostgres, "host=db1 dbname=calls"},
      {"hots=db1", false, Kind::kOff, ""},           // a keyword libpq does not know
      {"host='db1", false, Kind::kOff, ""},          // an open quote
      {"postgresql://[::1", false, Kind::kOff, ""},  // a broken URI
      {"sqlite:", false, Kind::kOff, ""},
      {"", false, Kind::kOff, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    DatabaseChoice choice;
    const Status s = parseDatabaseValue(c.value, choice);
    ASSERT_EQ(s.ok(), c.ok) << s.message();
    if (!c.ok) continue;
    EXPECT_EQ(choice.kind, c.kind);
    EXPECT_EQ(choice.target, c.target);
  }
}

class DatabaseChoiceSources : public ::testing::Test {
 protected:
  DatabaseChoiceSources() {
    sources.startDirectory = dir.str();
    sources.dataFile = dir.file("data/calls.txt");
  }
  DatabaseChoice choose() {
    DatabaseChoice choice;
    warnings.clear();
    const Status s = chooseDatabase(sources, choice, warnings);
    EXPECT_TRUE(s.ok()) << cp1251ToUtf8(s.message());
    return choice;
  }
  test::TempDir dir;
  ChoiceSources sources;
  std::vector<std::string> warnings;
  Env noDatabase{kDatabaseVariable, nullptr};
  Env noSite{kSiteVariable, nullptr};
};

TEST_F(DatabaseChoiceSources, TheOptionBeatsTheEnvironmentWhichBeatsTheFile) {
  DatabaseChoice choice = choose();
  EXPECT_EQ(choice.kind, Kind::kSqlite);
  EXPECT_EQ(choice.target, dir.file("data/kordel.sqlite"));
  EXPECT_EQ(choice.site, computerName());
  EXPECT_FALSE(choice.site.empty());

  test::writeBytes(dir.path() / kDatabaseConfigName,
                   "\xEF\xBB\xBF"
                   "DB=host=db1 dbname=calls\r\nSITE=" +
                       ru("Москва") + "\r\n# a comment\r\nPORT=5432\r\n");
  choice = choose();
  EXPECT_EQ(choice.kind, Kind::kPostgres);
  EXPECT_EQ(choice.target, "host=db1 dbname=calls");
  EXPECT_EQ(choice.site, ru("Москва"));
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("PORT=5432"), std::string::npos);

  {
    Env db(kDatabaseVariable, "off");
    Env site(kSiteVariable, "Тверь");  // the environment is UTF-8
    choice = choose();
    EXPECT_EQ(choice.kind, Kind::kOff);
    EXPECT_EQ(choice.site, ru("Тверь"));

    sources.database = "other.sqlite";
    sources.site = "office-2";
    choice = choose();
    EXPECT_EQ(choice.kind, Kind::kSqlite);
    EXPECT_EQ(choice.target, "other.sqlite");
    EXPECT_EQ(choice.site, "office-2");
  }
}

TEST_F(DatabaseChoiceSources, AWrongSettingIsRefusedWithItsReason) {
  DatabaseChoice choice;
  test::writeBytes(dir.path() / kDatabaseConfigName, "DB=hots=db1\r\n");
  Status s = chooseDatabase(sources, choice, warnings);
  EXPECT_EQ(s.code(), Status::Code::kFailed);
  EXPECT_NE(s.message().find("PostgreSQL"), std::string::npos);

  // A FIFO where the settings file should be is refused without waiting for a writer.
  std::filesystem::remove(dir.path() / kDatabaseConfigName);
  ASSERT_EQ(::mkfifo((dir.path() / kDatabaseConfigName).c_str(), 0600), 0);
  s = chooseDatabase(sources, choice, warnings);
  EXPECT_EQ(s.code(), Status::Code::kFailed);
  EXPECT_NE(cp1251ToUtf8(s.message()).find("не является обычным файлом"), std::string::npos);

  // With the database and the site on the command line the file is not needed, nor read.
  sources.database = "off";
  sources.site = "office-2";
  EXPECT_EQ(choose().kind, Kind::kOff);
}

TEST(DatabaseChoice, OneFileUnderTwoNamesHasOneKey) {
  test::TempDir dir;
  test::writeBytes(dir.path() / "calls.txt", "");
  std::filesystem::create_symlink(dir.path() / "calls.txt", dir.path() / "link.txt");
  const std::string key = dataFileKey(dir.file("calls.txt"));
  EXPECT_EQ(dataFileKey(dir.file("link.txt")), key);
  EXPECT_EQ(dataFileKey(dir.str() + "/./sub/../calls.txt"), key);
  EXPECT_EQ(key.front(), '/');
}

}  // namespace
}  // namespace kordel::store
