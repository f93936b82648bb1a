// PBX link, below the network port: the Telnet stream of a COM-port-control server
// ("rfc2217://HOST:PORT"), taken apart and put together. No I/O: the network port feeds it the
// bytes it received and sends what it gives back.
//
// Data bytes travel as they are, except 0xFF (IAC), which goes doubled both ways. The client
// offers COM-PORT-OPTION (44), BINARY (0) both ways and SUPPRESS-GO-AHEAD (3) both ways and
// refuses every other option; a server's answer is acknowledged once, never echoed back, so
// the negotiation cannot loop. COM-PORT-OPTION subnegotiations carry the line settings, the
// modem lines and the purge, and the server answers each with the command plus 100 and the
// value it now holds; those answers are kept for the network port to check.
//
// May use: the standard library only.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace kordel::telnet {

inline constexpr std::uint8_t kIac = 0xFF;
inline constexpr std::uint8_t kDont = 0xFE;
inline constexpr std::uint8_t kDo = 0xFD;
inline constexpr std::uint8_t kWont = 0xFC;
inline constexpr std::uint8_t kWill = 0xFB;
inline constexpr std::uint8_t kSb = 0xFA;
inline constexpr std::uint8_t kSe = 0xF0;

inline constexpr std::uint8_t kBinary = 0;
inline constexpr std::uint8_t kSuppressGoAhead = 3;
inline constexpr std::uint8_t kComPortOption = 44;

// COM-PORT-OPTION commands, client to server (the server answers with the command + 100).
inline constexpr std::uint8_t kSetBaudRate = 1;  // four bytes, big-endian
inline constexpr std::uint8_t kSetDataSize = 2;
inline constexpr std::uint8_t kSetParity = 3;    // 1 none, 2 odd, 3 even, 4 mark, 5 space
inline constexpr std::uint8_t kSetStopSize = 4;  // 1 one, 2 two, 3 one and a half
inline constexpr std::uint8_t kSetControl = 5;
inline constexpr std::uint8_t kPurgeData = 12;
inline constexpr std::uint8_t kServerReply = 100;

// SET-CONTROL values and PURGE-DATA values this program sends.
inline constexpr std::uint8_t kControlNoFlowControl = 1;
inline constexpr std::uint8_t kControlDtrOn = 8;
inline constexpr std::uint8_t kControlRtsOff = 12;
inline constexpr std::uint8_t kPurgeReceiveBuffer = 1;

// Appends data byte `b` as it travels (0xFF doubled).
void appendData(std::vector<std::uint8_t>& out, std::uint8_t b);
// Appends IAC SB COM-PORT-OPTION `command` value IAC SE; the value is big-endian in `width`
// bytes (1 or 4), each 0xFF doubled.
void appendComPortCommand(std::vector<std::uint8_t>& out, std::uint8_t command, std::uint32_t value,
                          int width);

// What the server said of the COM port control so far.
enum class Agreement { kPending, kAgreed, kRefused };

class TelnetStream {
 public:
  // Appends the client's offers: WILL COM-PORT-OPTION, WILL and DO BINARY, WILL and DO
  // SUPPRESS-GO-AHEAD. Call once, before the first receive.
  void start(std::vector<std::uint8_t>& out);

  // Takes bytes received from the server: data bytes go to `data`, answers to the server's
  // negotiation to `reply` (to be sent). Commands may be split across calls anywhere.
  void receive(const std::uint8_t* bytes, std::size_t count, std::vector<std::uint8_t>& data,
               std::vector<std::uint8_t>& reply);

  Agreement comPort() const { return comPort_; }
  // The value the server last reported for a client command (kSetBaudRate ... kPurgeData),
  // or nothing since forget(command).
  std::optional<std::uint32_t> reported(std::uint8_t command) const;
  void forget(std::uint8_t command);

 private:
  enum class State { kData, kIac, kOption, kSub, kSubIac };
  void option(std::uint8_t verb, std::uint8_t opt, std::vector<std::uint8_t>& reply);
  void subnegotiation();

  State state_ = State::kData;
  std::uint8_t verb_ = 0;
  std::vector<std::uint8_t> sub_;  // the subnegotiation being received, after IAC SB
  // Per option: on at our side (WILL agreed) / at the server's (DO agreed), and whether the
  // client has asked and waits for the answer.
  std::array<bool, 256> localOn_{};
  std::array<bool, 256> remoteOn_{};
  std::array<bool, 256> localAsked_{};
  std::array<bool, 256> remoteAsked_{};
  Agreement comPort_ = Agreement::kPending;
  std::array<std::optional<std::uint32_t>, 16> reported_{};
};

}  // namespace kordel::telnet
