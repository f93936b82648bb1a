#include "analysis/export.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "analysis/calendar.h"
#include "files/data_file.h"
#include "files/file_access.h"
#include "files/text_codec.h"

namespace kordel::analysis {

namespace {

bool looksLikeFormula(const std::string& text) {
  return !text.empty() && (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@');
}

}  // namespace

std::string cellText(const Cell& cell, const MoneyFormat& money) {
  switch (cell.type) {
    case CellType::Text:
      return cell.text;
    case CellType::Integer:
      return std::to_string(cell.number);
    case CellType::Seconds:
      return formatDuration(cell.number);
    case CellType::Money:
      return formatMoney(cell.number, money);
    case CellType::DateTime:
      return formatDateTime(cell.number);
    case CellType::Date:
      return formatDate(cell.number);
  }
  return std::string();
}

namespace {

std::string csvField(const Cell& cell) {
  static const MoneyFormat kCsvMoney{',', ""};
  std::string text = cellText(cell, kCsvMoney);
  if (cell.type == CellType::Text && looksLikeFormula(text)) text.insert(0, "'");
  const bool quote = text.find_first_of(";\"\r\n") != std::string::npos ||
                     (!text.empty() && (text.front() == ' ' || text.back() == ' '));
  if (!quote) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

void jsonString(std::string& out, const std::string& utf8) {
  out += '"';
  for (char c : utf8) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", u);
      out += buffer;
    } else {
      out += c;
    }
  }
  out += '"';
}

void jsonValue(std::string& out, const Column& column, const Cell& cell) {
  if (cell.type == CellType::Text) {
    if (column.type != CellType::Text && cell.text.empty()) {
      out += "null";
    } else {
      jsonString(out, cp1251ToUtf8(cell.text));
    }
    return;
  }
  switch (cell.type) {
    case CellType::Integer:
    case CellType::Seconds:
      out += std::to_string(cell.number);
      break;
    case CellType::Money:
      out += formatMoney(cell.number, MoneyFormat{'.', ""});
      break;
    case CellType::DateTime:
      jsonString(out, formatIsoDateTime(cell.number));
      break;
    case CellType::Date:
      jsonString(out, formatIsoDateTime(cell.number).substr(0, 10));
      break;
    case CellType::Text:
      break;
  }
}

bool rightAligned(CellType type) { return type != CellType::Text; }

}  // namespace

std::string toCsv(const std::vector<ResultTable>& tables) {
  std::string out = "\xEF\xBB\xBF";
  const bool titled = tables.size() > 1;
  for (std::size_t t = 0; t < tables.size(); ++t) {
    const ResultTable& table = tables[t];
    std::string block;
    if (titled) {
      if (t > 0) block += "\r\n";
      block += csvField(Cell::ofText(table.title)) + "\r\n";
    }
    for (std::size_t c = 0; c < table.columns.size(); ++c) {
      if (c > 0) block += ';';
      block += csvField(Cell::ofText(table.columns[c].title));
    }
    block += "\r\n";
    for (const std::vector<Cell>& row : table.rows) {
      for (std::size_t c = 0; c < row.size(); ++c) {
        if (c > 0) block += ';';
        block += csvField(row[c]);
      }
      block += "\r\n";
    }
    out += cp1251ToUtf8(block);
  }
  return out;
}

std::string toJson(const std::vector<ResultTable>& tables) {
  std::string out = "{";
  for (std::size_t t = 0; t < tables.size(); ++t) {
    const ResultTable& table = tables[t];
    out += t > 0 ? ",\n  " : "\n  ";
    jsonString(out, table.key);
    out += ": [";
    for (std::size_t r = 0; r < table.rows.size(); ++r) {
      out += r > 0 ? ",\n    {" : "\n    {";
      for (std::size_t c = 0; c < table.columns.size() && c < table.rows[r].size(); ++c) {
        if (c > 0) out += ", ";
        jsonString(out, table.columns[c].key);
        out += ": ";
        jsonValue(out, table.columns[c], table.rows[r][c]);
      }
      out += "}";
    }
    out += table.rows.empty() ? "]" : "\n  ]";
  }
  out += "\n}\n";
  return out;
}

std::string toText(const std::vector<ResultTable>& tables, const MoneyFormat& money) {
  std::string out;
  for (std::size_t t = 0; t < tables.size(); ++t) {
    const ResultTable& table = tables[t];
    if (t > 0) out += '\n';
    out += table.title + '\n';
    if (table.rows.size() == 1 && table.columns.size() > 4) {
      std::size_t width = 0;
      for (const Column& c : table.columns) width = std::max(width, c.title.size());
      for (std::size_t c = 0; c < table.columns.size(); ++c) {
        const std::string& title = table.columns[c].title;
        out += "  " + title + ':' + std::string(width - title.size() + 1, ' ') +
               cellText(table.rows[0][c], money) + '\n';
      }
      continue;
    }
    std::vector<std::size_t> widths(table.columns.size());
    std::vector<std::vector<std::string>> cells;
    for (std::size_t c = 0; c < table.columns.size(); ++c)
      widths[c] = table.columns[c].title.size();
    for (const std::vector<Cell>& row : table.rows) {
      std::vector<std::string> shown;
      for (std::size_t c = 0; c < row.size(); ++c) {
        shown.push_back(cellText(row[c], money));
        widths[c] = std::max(widths[c], shown.back().size());
      }
      cells.push_back(std::move(shown));
    }
    auto line = [&](const std::vector<std::string>& texts) {
      std::string l;
      for (std::size_t c = 0; c < texts.size(); ++c) {
        const std::size_t pad = widths[c] - texts[c].size();
        l += "  ";
        if (rightAligned(table.columns[c].type)) {
          l += std::string(pad, ' ') + texts[c];
        } else {
          l += texts[c] + (c + 1 < texts.size() ? std::string(pad, ' ') : std::string());
        }
      }
      while (!l.empty() && l.back() == ' ') l.pop_back();
      out += l + '\n';
    };
    std::vector<std::string> titles;
    for (const Column& c : table.columns) titles.push_back(c.title);
    line(titles);
    for (const std::vector<std::string>& row : cells) line(row);
  }
  return out;
}

Status writeBytesToFile(const std::string& bytes, const std::string& path) {
  std::FILE* file = std::fopen(nativePath(path).c_str(), "wb");
  if (file == nullptr) {
    return Status::error(ru("Не удалось создать файл \"") + path + ru("\". errno = ") +
                         std::to_string(errno));
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const int error = errno;
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    return Status::error(ru("Не удалось записать файл \"") + path + ru("\". errno = ") +
                         std::to_string(written ? errno : error));
  }
  return Status();
}

std::vector<std::string> analysedFiles(const std::vector<std::string>& paths,
                                       const LoadResult& load, const std::string& sqlitePath) {
  std::vector<std::string> files = paths;
  for (const InputFile& f : load.files) files.push_back(f.path);
  if (!sqlitePath.empty()) {
    for (const char* suffix : {"", "-wal", "-shm"}) files.push_back(sqlitePath + suffix);
  }
  return files;
}

bool namesOneOf(const std::string& output, const std::vector<std::string>& files) {
  return std::any_of(files.begin(), files.end(),
                     [&](const std::string& f) { return sameFile(output, f); });
}

}  // namespace kordel::analysis
