// Calls database: what each backend file and each platform file of src/store supplies. The
// build picks one file for each: store_sqlite.cpp or store_sqlite_missing.cpp,
// store_postgres.cpp or store_postgres_missing.cpp (a build without the library: the backend
// then says it is not built in, through missing_database.cpp), computer_name_posix.cpp or
// computer_name_win32.cpp.
#pragma once

#include <memory>
#include <string>

#include "store/call_database.h"

namespace kordel::store {

// True when libpq takes the connection string; else `why` says what it found wrong
// (Windows-1251).
bool checkConnectionString(const std::string& conninfo, std::string& why);

// The backend of a build without its library (missing_database.cpp): describe() gives
// `description`, and every call that would use the database fails with `message`.
std::unique_ptr<CallDatabase> makeMissingDatabase(std::string description, std::string message);

// False in a build without SQLite's library.
bool sqliteBuiltIn();

// The computer's name as the system gives it; empty when it has none.
std::string systemComputerName();

}  // namespace kordel::store
