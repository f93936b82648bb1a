#include <windows.h>

#include "store/backend.h"

namespace kordel::store {

std::string systemComputerName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  if (!GetComputerNameA(name, &size)) return std::string();
  return std::string(name, size);  // the ANSI code page of a Russian Windows: Windows-1251
}

}  // namespace kordel::store
