#include "analysis/table_file.h"

#include <cerrno>
#include <cstdio>

#include "files/data_file.h"
#include "files/text_codec.h"

namespace kordel::analysis {

namespace {

// Tables are small; anything larger is not a table of ours.
constexpr std::size_t kMaxTableBytes = 64u << 20;

bool isValidUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t extra = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
    } else {
      return false;
    }
    if (i + extra >= s.size()) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
    }
    i += extra + 1;
  }
  return true;
}

char detectSeparator(std::string_view text) {
  std::size_t semicolons = 0, commas = 0, tabs = 0;
  bool quoted = false;
  for (char c : text) {
    if (c == '"') quoted = !quoted;
    if (quoted) continue;
    if (c == '\n' || c == '\r') break;
    if (c == ';') ++semicolons;
    if (c == ',') ++commas;
    if (c == '\t') ++tabs;
  }
  if (commas > semicolons && commas >= tabs) return ',';
  if (tabs > semicolons && tabs > commas) return '\t';
  return ';';
}

std::string trimmed(const std::string& cell) {
  const std::size_t first = cell.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  const std::size_t last = cell.find_last_not_of(" \t");
  return cell.substr(first, last - first + 1);
}

}  // namespace

std::string columnKey(std::string_view name) {
  std::string key;
  for (char c : name) {
    if (c == ' ' || c == '_' || c == '.' || c == ':' || c == '\t') continue;
    auto u = static_cast<unsigned char>(c);
    if (u >= 'A' && u <= 'Z') u = static_cast<unsigned char>(u + 0x20);
    if (u >= 0xC0 && u <= 0xDF) u = static_cast<unsigned char>(u + 0x20);  // А..Я
    if (u == 0xA8) u = 0xB8;                                               // Ё
    key += static_cast<char>(u);
  }
  return key;
}

std::string quoteForMessage(std::string_view text) {
  std::string out = "\"";
  std::size_t n = 0;
  for (char c : text) {
    if (++n > 40) {
      out += "...";
      break;
    }
    out += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
  }
  out += '"';
  return out;
}

Status parseTableFile(std::string_view bytes, TableFile& table) {
  table = TableFile();
  std::string text;
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    table.utf8 = true;
    text = utf8ToCp1251(bytes.substr(3));
  } else if (isValidUtf8(bytes)) {
    table.utf8 = true;
    text = utf8ToCp1251(bytes);
  } else {
    text.assign(bytes);
  }
  table.separator = detectSeparator(text);

  std::vector<std::vector<std::string>> records;
  std::vector<std::string> record;
  std::string cell;
  bool quoted = false;
  bool cellWasQuoted = false;
  auto endCell = [&] {
    record.push_back(cellWasQuoted ? cell : trimmed(cell));
    cell.clear();
    cellWasQuoted = false;
  };
  auto endRecord = [&] {
    endCell();
    records.push_back(std::move(record));
    record.clear();
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"') {
        if (i + 1 < text.size() && text[i + 1] == '"') {
          cell += '"';
          ++i;
        } else {
          quoted = false;
        }
      } else {
        cell += c;
      }
      continue;
    }
    if (c == '"' && trimmed(cell).empty()) {
      quoted = true;
      cellWasQuoted = true;
      cell.clear();
    } else if (c == table.separator) {
      endCell();
    } else if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      endRecord();
    } else {
      cell += c;
    }
  }
  if (quoted) {
    return Status::error(ru("строка ") + std::to_string(records.size() + 1) +
                         ru(": кавычка не закрыта до конца файла"));
  }
  if (!cell.empty() || !record.empty() || cellWasQuoted) endRecord();

  // Records are numbered as a spreadsheet numbers its rows, the header being row 1.
  bool haveHeader = false;
  std::size_t number = 0;
  for (std::size_t r = 0; r < records.size(); ++r) {
    std::vector<std::string>& cells = records[r];
    ++number;
    bool empty = true;
    for (const std::string& c : cells) empty = empty && c.empty();
    if (empty || (!cells.empty() && !cells[0].empty() && cells[0][0] == '#')) continue;
    if (!haveHeader) {
      while (!cells.empty() && cells.back().empty()) cells.pop_back();
      table.header = std::move(cells);
      haveHeader = true;
      continue;
    }
    for (std::size_t k = table.header.size(); k < cells.size(); ++k) {
      if (!cells[k].empty()) {
        return Status::error(ru("строка ") + std::to_string(number) + ru(": ячейка ") +
                             quoteForMessage(cells[k]) + ru(" вне столбцов заголовка"));
      }
    }
    cells.resize(table.header.size());
    table.rows.push_back(TableRow{number, std::move(cells)});
  }
  if (!haveHeader) return Status::error(ru("в файле нет строки заголовка"));
  return Status();
}

Status readTableFile(const std::string& path, TableFile& table) {
  const std::string native = nativePath(path);
  std::FILE* file = std::fopen(native.c_str(), "rb");
  if (file == nullptr) {
    return Status::error(ru("не удалось открыть файл \"") + path + ru("\". errno = ") +
                         std::to_string(errno));
  }
  std::string bytes;
  char buffer[1 << 16];
  bool failed = false;
  for (;;) {
    const std::size_t n = std::fread(buffer, 1, sizeof buffer, file);
    bytes.append(buffer, n);
    if (bytes.size() > kMaxTableBytes) {
      std::fclose(file);
      return Status::error(ru("файл \"") + path + ru("\" слишком велик для таблицы"));
    }
    if (n < sizeof buffer) {
      failed = std::ferror(file) != 0;
      break;
    }
  }
  const int error = errno;
  std::fclose(file);
  if (failed) {
    return Status::error(ru("не удалось прочитать файл \"") + path + ru("\". errno = ") +
                         std::to_string(error));
  }
  return parseTableFile(bytes, table);
}

}  // namespace kordel::analysis
