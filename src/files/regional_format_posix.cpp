// The starting date and time formats on POSIX systems: the locale named by the environment.
#include <langinfo.h>
#include <locale.h>

#include <cstdlib>
#include <string>

#include "files/regional_format.h"
#include "files/text_codec.h"

namespace kordel {

namespace {

const char* const kDefaultShortDate = "dd.MM.yyyy";
const char* const kDefaultLongTime = "H:mm:ss";

// The locale for dates and times: the first of LC_ALL, LC_TIME and LANG that is set and not
// empty, as the C library picks it.
std::string timeLocaleName() {
  for (const char* name : {"LC_ALL", "LC_TIME", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') return value;
  }
  return std::string();
}

// "C", "POSIX" and their code-set variants ("C.UTF-8") carry no regional settings.
bool isPlainLocale(const std::string& name) {
  const std::string base = name.substr(0, name.find_first_of(".@"));
  return base.empty() || base == "C" || base == "POSIX";
}

}  // namespace

RegionalFormats formatsFromEnvironment() {
  RegionalFormats formats{kDefaultShortDate, kDefaultLongTime};
  const std::string name = timeLocaleName();
  if (isPlainLocale(name)) return formats;
  locale_t locale = newlocale(LC_TIME_MASK, name.c_str(), static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) return formats;
  const std::string date = translateStrftimePattern(nl_langinfo_l(D_FMT, locale));
  const std::string time = translateStrftimePattern(nl_langinfo_l(T_FMT, locale));
  // The designators in the locale's own words, in the program's code page.
  const std::string am = utf8ToCp1251(nl_langinfo_l(AM_STR, locale));
  const std::string pm = utf8ToCp1251(nl_langinfo_l(PM_STR, locale));
  freelocale(locale);
  if (!date.empty()) formats.shortDate = date;
  if (!time.empty()) formats.longTime = time;
  if (!am.empty() && !pm.empty()) {
    formats.timeAm = am;
    formats.timePm = pm;
  }
  return formats;
}

}  // namespace kordel
