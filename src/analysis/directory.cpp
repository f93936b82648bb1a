#include "analysis/directory.h"

#include "analysis/table_file.h"
#include "files/text_codec.h"

namespace kordel::analysis {

namespace {

std::string trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return std::string();
  return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

std::string rowPrefix(std::size_t row) {
  return row > 0 ? ru("строка ") + std::to_string(row) + ": " : std::string();
}

}  // namespace

bool normalizeDepartment(std::string_view text, std::string& department, std::string& top) {
  const std::string whole = trim(text);
  department.clear();
  top.clear();
  if (whole.empty()) return true;
  const std::size_t slash = whole.find('/');
  if (slash == std::string::npos) {
    department = top = whole;
    return true;
  }
  if (whole.find('/', slash + 1) != std::string::npos) return false;
  const std::string upper = trim(std::string_view(whole).substr(0, slash));
  const std::string lower = trim(std::string_view(whole).substr(slash + 1));
  if (upper.empty() || lower.empty()) return false;
  top = upper;
  department = upper + " / " + lower;
  return true;
}

Status Directory::setPeople(std::vector<Person> people) {
  std::unordered_map<std::string, std::size_t> index;
  for (std::size_t i = 0; i < people.size(); ++i) {
    Person& p = people[i];
    p.extension = trim(p.extension);
    if (p.extension.empty()) return Status::error(rowPrefix(p.fileRow) + ru("нет номера абонента"));
    std::string department, top;
    if (!normalizeDepartment(p.department, department, top)) {
      return Status::error(rowPrefix(p.fileRow) + ru("отдел ") + quoteForMessage(p.department) +
                           ru(" не в виде \"Отдел\" или \"Отдел / Подотдел\""));
    }
    p.department = department;
    p.topDepartment = top;
    const auto [it, added] = index.emplace(p.extension, i);
    if (!added) {
      return Status::error(rowPrefix(p.fileRow) + ru("номер ") + quoteForMessage(p.extension) +
                           ru(" уже есть в строке ") + std::to_string(people[it->second].fileRow));
    }
  }
  people_ = std::move(people);
  byExtension_ = std::move(index);
  return Status();
}

Status Directory::fromTable(const TableFile& file) {
  int extension = -1, name = -1, department = -1;
  for (std::size_t c = 0; c < file.header.size(); ++c) {
    const std::string key = columnKey(file.header[c]);
    int* slot = nullptr;
    if (key == columnKey(ru("Номер")) || key == "extension") slot = &extension;
    if (key == columnKey(ru("Имя")) || key == "name") slot = &name;
    if (key == columnKey(ru("Отдел")) || key == "department") slot = &department;
    if (slot == nullptr) {
      if (file.header[c].empty()) continue;
      return Status::error(ru("неизвестный столбец ") + quoteForMessage(file.header[c]));
    }
    if (*slot >= 0) {
      return Status::error(ru("столбец ") + quoteForMessage(file.header[c]) +
                           ru(" встречается дважды"));
    }
    *slot = static_cast<int>(c);
  }
  if (extension < 0) return Status::error(ru("нет столбца \"Номер\""));
  if (name < 0 && department < 0) return Status::error(ru("нет столбцов \"Имя\" и \"Отдел\""));
  std::vector<Person> people;
  for (const TableRow& row : file.rows) {
    auto cell = [&](int c) {
      return c >= 0 ? row.cells[static_cast<std::size_t>(c)] : std::string();
    };
    people.push_back(Person{cell(extension), cell(name), cell(department), {}, row.number});
  }
  return setPeople(std::move(people));
}

Status Directory::loadBytes(std::string_view bytes) {
  TableFile file;
  Status status = parseTableFile(bytes, file);
  return status.ok() ? fromTable(file) : status;
}

Status Directory::load(const std::string& path) {
  TableFile file;
  Status status = readTableFile(path, file);
  if (status.ok()) status = fromTable(file);
  if (status.ok()) return status;
  return Status::error(ru("Справочник \"") + path + "\": " + status.message());
}

const Person* Directory::find(std::string_view extension) const {
  const auto it = byExtension_.find(std::string(extension));
  return it == byExtension_.end() ? nullptr : &people_[it->second];
}

}  // namespace kordel::analysis
