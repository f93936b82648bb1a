// The alarm command on Windows: CreateProcessW of cmd.exe /d /s /c "command", not waited for.
// The command and the variables go in UTF-16, so that the alarm text arrives whole whatever the
// ANSI code page.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <cwchar>

#include "app/cli/alarm_process.h"
#include "app/cli/console.h"

namespace kordel::cli {

namespace {

// The name of "NAME=value"; the hidden per-drive variables ("=C:=C:\...") keep their first '='.
std::wstring variableName(const std::wstring& entry) {
  return entry.substr(0, entry.find(L'=', 1));
}

bool lessByName(const std::wstring& a, const std::wstring& b) {
  const std::wstring na = variableName(a), nb = variableName(b);
  return CompareStringOrdinal(na.c_str(), static_cast<int>(na.size()), nb.c_str(),
                              static_cast<int>(nb.size()), TRUE) == CSTR_LESS_THAN;
}

// The interpreter: %ComSpec%, else cmd.exe in the system folder.
std::wstring commandInterpreter() {
  wchar_t path[MAX_PATH];
  DWORD n = GetEnvironmentVariableW(L"ComSpec", path, MAX_PATH);
  if (n > 0 && n < MAX_PATH) return std::wstring(path, n);
  n = GetSystemDirectoryW(path, MAX_PATH);
  if (n > 0 && n < MAX_PATH) return std::wstring(path, n) + L"\\cmd.exe";
  return L"cmd.exe";
}

}  // namespace

bool startAlarmCommand(const std::string& command,
                       const std::vector<std::pair<std::string, std::string>>& variables) {
  std::vector<std::wstring> env;
  if (wchar_t* block = GetEnvironmentStringsW()) {
    for (const wchar_t* e = block; *e != L'\0'; e += std::wcslen(e) + 1) {
      const std::wstring entry(e);
      const std::wstring name = variableName(entry);
      static const std::wstring kPrefix = L"KORDEL_ALARM_";
      const bool ours =
          name.size() >= kPrefix.size() &&
          CompareStringOrdinal(name.c_str(), static_cast<int>(kPrefix.size()), kPrefix.c_str(),
                               static_cast<int>(kPrefix.size()), TRUE) == CSTR_EQUAL;
      if (!ours) env.push_back(entry);
    }
    FreeEnvironmentStringsW(block);
  }
  for (const auto& [name, value] : variables)
    env.push_back(utf8ToWide(name) + L"=" + utf8ToWide(value));
  // The system expects the block sorted by name, without regard to case.
  std::stable_sort(env.begin(), env.end(), lessByName);
  std::wstring block;
  for (const std::wstring& e : env) block += e + L'\0';
  block += L'\0';

  const std::wstring interpreter = commandInterpreter();
  // /d: no AutoRun commands; /s /c "...": cmd takes off the outer quotes and runs the rest as
  // it stands.
  std::wstring line = L"\"" + interpreter + L"\" /d /s /c \"" + utf8ToWide(command) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  // Handles inherited, as on POSIX: the command writes to this program's standard output and
  // error (the files of the program are opened not to be inherited).
  if (!CreateProcessW(interpreter.c_str(), line.data(), nullptr, nullptr, TRUE,
                      CREATE_UNICODE_ENVIRONMENT, block.data(), nullptr, &startup, &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

void reapAlarmCommands(bool) {}

}  // namespace kordel::cli
