// kordel-cli: what differs between the platforms at the terminal and in the process
// environment. console_posix.cpp and console_win32.cpp, picked by the build.
//
// The program's terminal text is UTF-8 on every platform, with LF line ends (the exports that
// go to standard output keep the CR LF of their format). On Windows a console is switched to
// the UTF-8 output code page while the program runs, and the standard streams are written in
// binary mode, so that redirected output is the same bytes as on POSIX.
#pragma once

#include <string>
#include <vector>

namespace kordel::cli {

// Called first: prepares the standard streams and the console (nothing to do on POSIX).
void prepareConsole();

// The command line as UTF-8 texts, the program name first. POSIX: argv as it stands (the
// terminal's UTF-8). Windows: the UTF-16 command line converted, whatever the ANSI code page.
std::vector<std::string> commandLineUtf8(int argc, char** argv);

// Whether standard error is a terminal (a console), so that progress may be redrawn in place.
bool stderrIsTerminal();

// Sets a variable of this process's environment for the code that reads it with getenv (the
// wire trace): `value` is UTF-8, and on Windows getenv then gives it in the ANSI code page, as
// the ANSI file functions take it.
void setEnvironment(const std::string& name, const std::string& value);

#ifdef _WIN32
// UTF-8 to the UTF-16 of the wide Win32 calls (empty for an empty or invalid text).
std::wstring utf8ToWide(const std::string& utf8);
#endif

}  // namespace kordel::cli
