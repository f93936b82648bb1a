#include <unistd.h>

#include <climits>

#include "files/data_file.h"
#include "store/backend.h"

namespace kordel::store {

std::string systemComputerName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return std::string();
  return fromNativePath(name);
}

}  // namespace kordel::store
