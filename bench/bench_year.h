// Benchmarks: a year of monthly data files as a PBX of 600 lines fills them (10 million calls
// by default), with the tariffs and the directory of an office like it. Shared by the analysis
// and the calls database benchmarks, so that both measure the same calls.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "analysis/directory.h"
#include "analysis/tariffs.h"
#include "files/call_record_line.h"
#include "files/text_codec.h"

namespace kordel::bench {

namespace fs = std::filesystem;
using analysis::Directory;
using analysis::TariffPlan;

inline std::string fileName(const fs::path& dir, int month) {
  char name[32];
  std::snprintf(name, sizeof name, "calls-2024-%02d.txt", month);
  return (dir / name).string();
}

// Calls of one month in time order as a PBX delivers them: 600 lines, 48 trunks, two thirds
// outgoing, numbers drawn with a strong skew from a pool, a title pair every 5000 calls. The
// last file ends with a repeated read of 10000 lines of the one before.
inline void generate(const fs::path& dir, long calls, int files) {
  std::mt19937_64 rng(2024);
  auto pick = [&](long lo, long hi) { return std::uniform_int_distribution<long>(lo, hi)(rng); };
  std::vector<std::string> pool;
  for (int i = 0; i < 200000; ++i) {
    std::string n;
    switch (i % 10) {
      case 0:
      case 1:
      case 2:
      case 3:
        n = std::to_string(pick(2, 4));
        break;  // local, 7 digits
      case 4:
      case 5:
        n = "8495";
        break;
      case 6:
      case 7:
        n = "89" + std::to_string(pick(10, 99));
        break;
      case 8:
        n = "8" + std::to_string(pick(300, 899));
        break;
      default:
        n = "810" + std::to_string(pick(1, 99));
        break;
    }
    while (n.size() < (n[0] == '8' ? 11u : 7u)) n += static_cast<char>('0' + pick(0, 9));
    pool.push_back("9" + n);  // dialed through the access code
  }
  std::vector<std::string> previousHead;
  for (int f = 0; f < files; ++f) {
    const long count = calls / files + (f < calls % files ? 1 : 0);
    std::ofstream out(fileName(dir, f + 1), std::ios::binary | std::ios::trunc);
    const int month = f % 12 + 1;
    const long monthSeconds = 28L * 86400;
    std::vector<std::string> head;
    for (long i = 0; i < count; ++i) {
      if (i % 5000 == 0) {
        kordel::PbxClock clock{2024, month, 1, 0, 0, 0};
        out << kordel::headerLine(clock) << "\r\n" << kordel::columnTitleLine() << "\r\n";
      }
      const long t = i * monthSeconds / count;
      kordel::CallRecord r;
      r.year = 2024;
      r.month = month;
      r.day = static_cast<int>(t / 86400) + 1;
      r.hour = static_cast<int>(t / 3600 % 24);
      r.minute = static_cast<int>(t / 60 % 60);
      r.second = static_cast<int>(t % 60);
      const long seconds = std::min<long>(pick(0, 3) == 0 ? pick(0, 30) : pick(5, 900), 86399);
      r.durationHours = static_cast<int>(seconds / 3600);
      r.durationMinutes = static_cast<int>(seconds / 60 % 60);
      r.durationSeconds = static_cast<int>(seconds % 60);
      r.hardwareNumber = static_cast<int>(pick(100, 699));
      r.programmedNumber = std::to_string(r.hardwareNumber + 1900);
      r.trunk = std::to_string(pick(1, 48));
      if (pick(0, 2) != 0) {
        const double u = std::uniform_real_distribution<double>(0, 1)(rng);
        r.dialedNumber = pool[static_cast<std::size_t>(u * u * u * (pool.size() - 1))];
      }
      const std::string line = kordel::formatCallRecordLine(r);
      out << line << "\r\n";
      if (i < 10000) head.push_back(line);
    }
    if (f == files - 1) {
      for (const std::string& line : previousHead) out << line << "\r\n";
    }
    previousHead = std::move(head);
  }
}

// A plan like the example one: local, long distance, mobile and international, per trunk 7 a
// carrier of its own.
inline TariffPlan tariffs() {
  TariffPlan plan;
  const char* csv =
      "Префикс;Направление;Цена за минуту;Плата за соединение;Шаг;Первый шаг;Бесплатно;СЛ;"
      "Код выхода\n"
      "2;Местная;0,50;;60;;3;;9\n3;Местная;0,50;;60;;3;;\n4;Местная;0,50;;60;;3;;\n"
      "8;Междугородняя;3,20;;60;;3;;\n8495;Москва;1,80;;60;;3;;\n"
      "89;Мобильная;1,95;;1;60;3;;\n810;Международная;18,00;0,50;60;;;;\n"
      "8;Междугородняя Б;2,90;;6;30;;7;9\n89;Мобильная Б;1,70;;1;;;7;\n";
  const analysis::Status status = plan.loadBytes(csv);
  if (!status.ok()) {
    std::cerr << kordel::cp1251ToUtf8(status.message()) << '\n';
    std::exit(1);
  }
  return plan;
}

inline Directory directory() {
  std::string csv = "Номер;Имя;Отдел\n";
  const char* departments[] = {"Продажи / Москва", "Продажи / Тверь",  "Бухгалтерия",     "Склад",
                               "Дирекция",         "Сервис / Линия 1", "Сервис / Линия 2"};
  for (int prg = 2000; prg < 2600; ++prg) {
    csv += std::to_string(prg) + ";Сотрудник " + std::to_string(prg) + ";" + departments[prg % 7] +
           "\n";
  }
  Directory d;
  if (!d.loadBytes(csv).ok()) std::exit(1);
  return d;
}

}  // namespace kordel::bench
