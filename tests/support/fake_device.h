// A fake controller for the unit tests. It decodes each request block the
// request channel sends, answers it from a small emulation of the device,
// and records every request and sleep in order. A test sets up the parts it
// needs, picks the requests that fail and reads back what was sent.
//
// What it emulates:
// - PHY registers: a value per index, with optional scripted reads; the
//   indexes 0x40010..0x40013 are the MCU bridge instead;
// - the MCU behind the bridge: XDATA, SFR and program memory;
// - controller registers;
// - an EEPROM of a chosen size behind E2P_* (writes need the write-enable
//   command word first) and a 512-byte OTP behind OTP_* (reads and writes
//   need the matching OTP_CONFIGURE word; programming only sets bits);
// - canned reply data for any operation, answered instead of the above.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "driver/request_channel.h"

namespace fake {

// One request as the device received it.
struct Request {
  uint32_t signature = 0;
  uint32_t code = 0;
  uint32_t adapter = 0;  // adapter index field of the header
  uint32_t param = 0;
  uint32_t in_len = 0;
  // The bytes sent after the header. Empty for requests sent with the whole
  // block (the reads): what follows their header is left over from before.
  std::vector<uint8_t> data;
  // Memory requests carry the offset in the low and the length in the high
  // half of the parameter.
  uint16_t offset = 0;
  uint16_t length = 0;
};

// The MCU bridge registers in the PHY register space.
constexpr uint32_t kBridgeCtl = 0x40010;
constexpr uint32_t kBridgeAddr = 0x40011;
constexpr uint32_t kBridgeWdat = 0x40012;
constexpr uint32_t kBridgeRdat = 0x40013;

// One access to a bridge register.
struct BridgeOp {
  bool write = false;
  uint32_t index = 0;
  uint16_t value = 0;  // the value written; for reads, the value answered
  bool operator==(const BridgeOp&) const = default;
};

// The bridge access a request makes (reads with value 0).
BridgeOp ToBridgeOp(const Request& r);
void PrintTo(const BridgeOp& op, std::ostream* os);

// Status of injected failures that do not name their own: "Adapter Busy" or
// "Other Error", depending on the operation.
constexpr uint32_t kInjectedStatus = 2;

class Device : public platform::DeviceControl {
 public:
  explicit Device(int eeprom_size = 512);

  // -- PHY registers --
  // Index -> value. Reads of an unlisted index answer 0; writes store the
  // value (16 or 32 bits, as sent).
  std::map<uint32_t, uint32_t> phy;
  // Index -> answers of the next reads, taken one per read before `phy`.
  std::map<uint32_t, std::deque<uint32_t>> phy_reads;
  // Bytes READ_PHY returns: 18 for 16-bit data, 20 for 32-bit data.
  uint32_t phy_returned = 18;
  // Reads of `index` answer `answers` in order, and the last one from then on.
  void PhySequence(uint32_t index, const std::vector<uint32_t>& answers);

  // -- Controller registers --
  std::map<uint32_t, uint32_t> registers;  // unlisted addresses read 0

  // -- EEPROM and OTP --
  // Byte offsets wrap at the EEPROM size, as on a part smaller than asked.
  std::vector<uint8_t> eeprom;  // starts erased (0xFF)
  std::vector<uint8_t> otp;     // 512 bytes, starts blank (0x00)
  // Inverts byte `corrupt_at` of every E2P_READ_BLOCK and OTP_READ_BLOCK
  // reply when not negative.
  int corrupt_at = -1;
  // A read-only part: EEPROM writes succeed but change nothing.
  bool eeprom_read_only = false;

  // -- MCU behind the bridge --
  std::vector<uint8_t> xdata = std::vector<uint8_t>(0x10000, 0);
  std::vector<uint8_t> sfr = std::vector<uint8_t>(0x100, 0);
  // Program memory is kept in XDATA from 0x5000 (16 KB).
  uint8_t bridge_ctl = 0;
  uint16_t bridge_addr = 0;
  int mcu_resets = 0;      // writes of 1 to XDATA 0xFFFF
  uint16_t rdat_high = 0;  // put into the upper byte of every bridge read
  std::set<uint16_t> corrupt_prog;   // program memory addresses read inverted
  std::set<uint16_t> corrupt_xdata;  // XDATA addresses read inverted
  bool BridgeEnabled() const { return (bridge_ctl & 0x80) != 0; }

  // -- Canned replies --
  // Operation code -> reply data written after the header; the request
  // returns 16 + its size bytes.
  std::map<uint32_t, std::vector<uint8_t>> replies;

  // -- Failures --
  // A failed request has no effect and answers no data. The first rule in
  // this order that matches gives the status; every rule sees (and counts)
  // every request.
  // Any rule of the test's own, answered with kInjectedStatus.
  std::function<bool(const Request&)> fail_when;
  std::map<uint32_t, uint32_t> op_status;  // code -> status of each request of it
  // (code, parameter) and (PHY index, 1-based read of it), answered with
  // kInjectedStatus.
  std::set<std::pair<uint32_t, uint32_t>> failing;
  std::set<std::pair<uint32_t, int>> failing_phy_reads;
  // The n-th request of `code` from now on (1-based) answers `status`.
  void FailNth(uint32_t code, int n, uint32_t status);
  // The device-control call itself fails with this system error.
  bool fail_call = false;
  uint32_t call_error = 31;

  // -- What was sent --
  std::vector<Request> requests;
  std::vector<uint32_t> sleeps;
  std::vector<std::string> events;  // "READ_PHY 1", "WRITE_PHY 9", "sleep 500", ...
  std::vector<BridgeOp> bridge_ops;  // every bridge access, failed ones included

  int Count(uint32_t code) const;
  std::vector<uint32_t> Codes() const;
  std::vector<uint32_t> PhyReads() const;  // the PHY indexes read, in order
  std::vector<std::string> Ops() const;    // the requests alone as "OP param"

  bool Control(uint32_t code, uint8_t* block, uint32_t in_len, uint32_t out_len,
               uint32_t& returned, uint32_t& error) override;
  void Sleep(uint32_t ms) override;

 private:
  struct NthFailure {
    uint32_t code;
    int at;  // value of the code's request count that fails
    uint32_t status;
  };

  uint32_t InjectedStatus(const Request& r);
  // `data` is the block after the header: the request's data on the way in,
  // the reply on the way out.
  uint32_t Answer(const Request& r, uint8_t* data, uint32_t& returned);
  uint32_t AnswerPhy(const Request& r, uint8_t* data, uint32_t& returned);
  uint32_t AnswerEeprom(const Request& r, uint8_t* data);
  uint32_t AnswerOtp(const Request& r, uint8_t* data);
  void Corrupt(uint8_t* data) const;
  void BridgeWrite(uint32_t index, uint16_t value);
  uint8_t BridgeRead(uint32_t index);

  std::map<uint32_t, int> request_count_;   // code -> requests so far
  std::map<uint32_t, int> phy_read_count_;  // PHY index -> reads so far
  std::vector<NthFailure> nth_failures_;
  bool e2p_write_enabled_ = false;
  uint32_t otp_mode_ = kOtpClose;
};

// Little-endian bytes of 32-bit words, for canned replies.
std::vector<uint8_t> Words32(const std::vector<uint32_t>& words);

// Short names for the bridge registers and accesses, for the MCU tests.
namespace bridge {
constexpr uint32_t kCtl = kBridgeCtl;
constexpr uint32_t kAddr = kBridgeAddr;
constexpr uint32_t kWdat = kBridgeWdat;
constexpr uint32_t kRdat = kBridgeRdat;
inline BridgeOp W(uint32_t index, uint16_t value) { return {true, index, value}; }
inline BridgeOp R(uint32_t index) { return {false, index, 0}; }
}  // namespace bridge

}  // namespace fake
