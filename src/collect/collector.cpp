#include "collect/collector.h"

#include <algorithm>
#include <cctype>

#include "files/record_sink.h"
#include "files/text_codec.h"

namespace kordel {

namespace {

constexpr int kWaitStepMs = 50;

bool stopped(const PbxLink& link) { return link.stopRequested || !link.continuousMode; }

}  // namespace

std::string faultText(const PbxLink& link) {
  const std::string detail = std::to_string(link.faultDetail);
  switch (link.lastFault) {
    case LinkFault::kNone:
      return std::string();
    case LinkFault::kNoHandshake: {
      // Over a raw TCP stream the server cannot be told from the PBX behind it.
      const std::string target = resolveDevicePath(link.settings.portName);
      const bool rawStream =  // socket://, not rfc2217://
          isNetworkPortName(target) && std::tolower(static_cast<unsigned char>(target[0])) == 's';
      if (rawStream) {
        return ru("АТС не отвечает. Сервер порта ") + quoteForMessage(target) +
               ru(" принимает соединение, но ответа от АТС через него нет.");
      }
      return ru("АТС не отвечает.");
    }
    case LinkFault::kPortError: {
      const std::string net = link.port ? networkFaultText(link.port->lastFailure) : std::string();
      return ru("Ошибка при работе с СОМ-портом.") + (net.empty() ? net : " " + net);
    }
    case LinkFault::kNoIdentification:
      return ru("АТС не прислала ответ на запрос идентификации.");
    case LinkFault::kEmptyIdentification:
      return ru("АТС прислала пустой ответ на запрос идентификации.");
    case LinkFault::kUnsupportedModel:
      return ru("АТС сообщила код модели ") + detail + ru(", который программа не поддерживает.");
    case LinkFault::kSilentAfterIdentify:
      return ru("АТС перестала отвечать после идентификации.");
    case LinkFault::kStatusChecksum:
      return ru("Ответ АТС о состоянии буфера (блок ") + detail +
             ru(") искажен: контрольная сумма не сошлась ни разу.");
    case LinkFault::kDamagedReplies:
      return ru("Ответы АТС на запросы записей искажены (неверная длина или контрольная сумма).");
    case LinkFault::kStoppedSending:
      return ru("АТС перестала передавать ответ на середине.");
    case LinkFault::kRecordRepeated:
      return ru("АТС снова и снова отдает уже принятую запись вместо следующей.");
    case LinkFault::kTooManyRecords:
      return ru("АТС отдала больше записей, чем могло быть в ее буфере (") + detail +
             ru("); считывание прервано.");
  }
  return std::string();
}

std::string portErrorText(const ECommError& e) {
  const std::string text = ru("Ошибка при работе с СОМ-портом (код ") + std::to_string(e.code) +
                           ", errno " + std::to_string(e.lastError) + ").";
  const std::string net = networkFaultText(e);
  return net.empty() ? text : text + " " + net;
}

std::string networkFaultText(const ECommError& e) {
  if (e.net == NetFault::kNone) return std::string();
  const std::string name = e.where ? *e.where : std::string();
  const std::string port = quoteForMessage(name);
  switch (e.net) {
    case NetFault::kNone:
      break;
    case NetFault::kBadName:
      return ru("Имя сетевого порта ") + port +
             ru(" неверно: нужно socket://УЗЕЛ:ПОРТ или rfc2217://УЗЕЛ:ПОРТ.");
    case NetFault::kNameNotFound: {
      // The host part of "scheme://HOST:PORT" (the name parsed at open).
      std::string host = name.substr(std::min(name.size(), name.find("://") + 3));
      host = host.substr(0, host.rfind(':'));
      if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
      }
      return ru("Имя ") + quoteForMessage(host) + ru(" не найдено (порт ") + port + ").";
    }
    case NetFault::kRefused:
      return ru("Сервер порта ") + port +
             ru(" отказал в соединении: сервер не запущен или порт указан неверно.");
    case NetFault::kNoAnswer:
      return ru("Сервер порта ") + port + ru(" не отвечает.");
    case NetFault::kNoPortControl:
      return ru("Сервер порта ") + port +
             ru(" не поддерживает управление СОМ-портом (RFC 2217); для простого потока байтов "
                "укажите socket://.");
    case NetFault::kLineRefused:
      return ru("Сервер порта ") + port +
             ru(" не установил параметры линии 19200 бод 8N2 (он сообщил значение ") +
             std::to_string(e.lastError) + ").";
    case NetFault::kClosed:
      return ru("Сервер порта ") + port + ru(" закрыл соединение.");
    case NetFault::kNetworkError:
      return ru("Сетевая ошибка порта ") + port + " (errno " + std::to_string(e.lastError) + ").";
  }
  return std::string();
}

std::string openFailedText(const PbxLink& link) {
  std::string text =
      ru("Ошибка при открытии СОМ-порта.") + " (" + quoteForMessage(link.settings.portName) + ")";
  const std::string net = link.port ? networkFaultText(link.port->lastFailure) : std::string();
  return net.empty() ? text : text + " " + net;
}

void Collector::report(const std::vector<AlarmEvent>& events) {
  for (const AlarmEvent& e : events) observer_.alarm(e);
}

void Collector::checkIdentity() {
  if (options_.alarms == nullptr) return;
  report(options_.alarms->identified(link_.recordsInBuffer.load(), link_.bufferCapacity,
                                     link_.clock, computerClock(), tickCount()));
}

CollectorResult Collector::run() {
  int retryMs = options_.firstRetryMs;
  checkIdentity();
  std::uint64_t identifiedAt = tickCount();
  for (;;) {
    CollectorResult pass;
    const int savedBefore = sink_.recordsSaved();
    try {
      pass.result = link_.readRecords();
    } catch (const ECommError& e) {
      // The port failed after the first handshake (unplugged, hung up).
      pass.result = kReadPortError;
      pass.portError = true;
      pass.error = e;
      link_.lastFault = LinkFault::kPortError;
    }
    // The PBX fell silent part-way through the last unit: readRecords says kOk, but the buffer
    // was not emptied, and a read that stopped short is no success.
    if (pass.result == kOk && link_.lastFault == LinkFault::kNoHandshake) pass.result = kReadFailed;
    observer_.passEnded(pass.result, sink_.recordsSaved() - savedBefore);

    bool failed = pass.result == kReadFailed || pass.result == kReadPortError;
    const bool saveFailed = sink_.saveFailed();
    if (saveFailed && options_.retryFailedSave && link_.continuousMode) {
      // The service keeps trying a data file that cannot be written (a full disk may clear);
      // the record is still in the PBX.
      sink_.clearFailure();
      link_.stopRequested = false;
      failed = true;
    }
    if (options_.alarms != nullptr) {
      if (saveFailed) {
        report(options_.alarms->dataFileFailed(link_.settings.dataFileName));
      } else if (!failed) {
        report(options_.alarms->answered(tickCount()));
        report(options_.alarms->dataFileWritten());
      } else {
        report(options_.alarms->notAnswered(tickCount()));
      }
    }
    if (link_.stopRequested || !link_.continuousMode) return pass;
    if (!failed && options_.statusEveryMs > 0 &&
        tickCount() - identifiedAt >= static_cast<std::uint64_t>(options_.statusEveryMs)) {
      identifiedAt = tickCount();
      try {
        failed = link_.queryStatus() < 0;
      } catch (const ECommError& e) {
        failed = true;
        pass.portError = true;
        pass.error = e;
      }
      if (!failed) {
        observer_.identified();
        checkIdentity();
      }
    }
    if (!failed && !saveFailed) {
      retryMs = options_.firstRetryMs;
      lastSaveRetryMs_ = 0;
      continue;
    }

    if (saveFailed) {
      // The PBX answers; the data file does not take the line (a full disk, a lost mount). The
      // record stays in the PBX; the same pass is tried again after the wait, saying so only
      // when the wait grows.
      const std::string why = ru("Не удалось записать строку в файл данных ") +
                              quoteForMessage(link_.settings.dataFileName) + ".";
      if (retryMs != lastSaveRetryMs_) observer_.passFailed(why, retryMs);
      lastSaveRetryMs_ = retryMs;
      if (!waitBeforeRetry(retryMs)) return pass;
      retryMs = std::min(retryMs * 2, options_.maxRetryMs);
      continue;
    }
    lastSaveRetryMs_ = 0;

    std::string why = pass.portError ? portErrorText(pass.error) : faultText(link_);
    observer_.passFailed(why, retryMs);
    for (;;) {
      if (!waitBeforeRetry(retryMs)) return pass;
      retryMs = std::min(retryMs * 2, options_.maxRetryMs);
      if (reconnect(why)) {
        identifiedAt = tickCount();
        observer_.recovered();
        checkIdentity();
        break;
      }
      if (options_.alarms != nullptr) report(options_.alarms->notAnswered(tickCount()));
      observer_.retryFailed(why, retryMs);
    }
  }
}

bool Collector::waitBeforeRetry(int ms) {
  for (int waited = 0; waited < ms; waited += kWaitStepMs) {
    if (stopped(link_)) return false;
    pauseMs(std::min(kWaitStepMs, ms - waited));
  }
  return !stopped(link_);
}

bool Collector::reconnect(std::string& why) {
  // The device may have gone and come back under the same name (a USB adapter plugged in
  // again): it is always opened anew.
  try {
    link_.port->close();
  } catch (const ECommError&) {
    // A port that cannot even be closed is opened anew all the same.
  }
  if (link_.openPort(link_.settings.portName) != kOk) {
    why = openFailedText(link_);
    return false;
  }
  try {
    if (link_.queryStatus() < 0) {
      why = faultText(link_);
      return false;
    }
  } catch (const ECommError& e) {
    why = portErrorText(e);
    return false;
  }
  return true;
}

}  // namespace kordel
