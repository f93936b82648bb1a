// kordel-cli on Windows: UTF-8 on the console and in redirected output, the command line taken
// in UTF-16 (CommandLineToArgvW) and converted to UTF-8.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h:
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>

#include "app/cli/console.h"

namespace kordel::cli {

namespace {

UINT gConsoleOutputCodePage = 0;  // the console's own, put back at exit; 0: not changed

void restoreConsoleCodePage() {
  if (gConsoleOutputCodePage != 0) SetConsoleOutputCP(gConsoleOutputCodePage);
}

std::string toUtf8(const wchar_t* text) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1) return std::string();
  std::string out(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), bytes, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(bytes - 1));
  return out;
}

}  // namespace

std::wstring utf8ToWide(const std::string& utf8) {
  const int chars = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
  if (chars <= 1) return std::wstring();
  std::wstring out(static_cast<std::size_t>(chars), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, out.data(), chars);
  out.resize(static_cast<std::size_t>(chars - 1));
  return out;
}

void prepareConsole() {
  // Text mode would turn every LF into CR LF, and the CR LF of a CSV export into CR CR LF.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  // A console shows the UTF-8 bytes as text only in its UTF-8 code page. The console is shared
  // with the shell that started the program, so its own code page is put back at exit.
  const UINT current = GetConsoleOutputCP();
  if (current != 0 && current != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
    gConsoleOutputCodePage = current;
    std::atexit(restoreConsoleCodePage);
  }
}

std::vector<std::string> commandLineUtf8(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) args.push_back(toUtf8(wide[i]));
  LocalFree(wide);
  return args;
}

bool stderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

void setEnvironment(const std::string& name, const std::string& value) {
  // The C runtime keeps the narrow copy of its environment (getenv) in the ANSI code page.
  _wputenv_s(utf8ToWide(name).c_str(), utf8ToWide(value).c_str());
}

}  // namespace kordel::cli
