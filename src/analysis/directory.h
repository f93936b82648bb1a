// Call analysis: the directory of extensions, who sits behind each number.
//
// Each row gives an extension (the hardware or the programmed number, as the analysis is told
// to key calls), the person's name and the department. A department may have one level below
// it, written "Отдел продаж / Москва"; reports then group by the department and by the
// department above it. The file is a CSV table like the tariffs (docs/analysis.md).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "analysis/status.h"

namespace kordel::analysis {

struct TableFile;

struct Person {
  std::string extension;
  std::string name;
  std::string department;  // "Отдел продаж / Москва", "Бухгалтерия", or empty
  std::string topDepartment;  // "Отдел продаж", "Бухгалтерия", or empty
  std::size_t fileRow = 0;
};

class Directory {
 public:
  // Reads a directory file (Windows-1251 path). All or nothing, like the tariffs.
  Status load(const std::string& path);
  Status loadBytes(std::string_view bytes);
  // Replaces the directory by these people, checked as the rows of a file; the departments
  // are written in the one form "Верх / Низ".
  Status setPeople(std::vector<Person> people);

  const Person* find(std::string_view extension) const;
  const std::vector<Person>& people() const { return people_; }
  bool empty() const { return people_.empty(); }

 private:
  Status fromTable(const TableFile& file);

  std::vector<Person> people_;
  std::unordered_map<std::string, std::size_t> byExtension_;
};

// A department in the one form "Верх / Низ" and its top level; false when it has more than
// two levels or an empty one.
bool normalizeDepartment(std::string_view text, std::string& department, std::string& top);

}  // namespace kordel::analysis
