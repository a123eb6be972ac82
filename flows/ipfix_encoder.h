#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "flows/flow_record.h"

struct fbInfoModel_st;
struct fBuf_st;
struct fbExporter_st;

// Builds IPFIX messages of flow records with libfixbuf: one template for
// IPv4 flows and one for IPv6 flows, each carrying both directions as RFC
// 5103 biflow elements plus this program's own elements. Messages are built
// into a buffer owned by the encoder; sending them is the caller's work.
//
// Not thread-safe; one owner (the exporter's sender thread).
class CIpfixEncoder {
 public:
  // The private enterprise number of this program's own elements. 32473 is
  // the number set aside for documentation (RFC 5612); it stands in until
  // the project registers its own, and collectors skip elements of numbers
  // they do not know.
  static constexpr uint32_t kEnterpriseNumber = 32473;
  // Element ids under kEnterpriseNumber.
  static constexpr uint16_t kTimeToFirstAnswerId = 1;  // unsigned64, microseconds
  static constexpr uint16_t kProcessNameId = 2;        // string
  static constexpr uint16_t kTemplateIdV4 = 256;
  static constexpr uint16_t kTemplateIdV6 = 257;
  // A datagram that crosses any Ethernet path unfragmented over IPv4 or IPv6.
  static constexpr std::size_t kDefaultMaxMessage = 1400;

  explicit CIpfixEncoder(uint32_t observationDomain = 0,
                         std::size_t maxMessageBytes = kDefaultMaxMessage);
  ~CIpfixEncoder();
  CIpfixEncoder(const CIpfixEncoder&) = delete;
  CIpfixEncoder& operator=(const CIpfixEncoder&) = delete;

  // Sets the export time (seconds since 1970) of the messages begun from now on.
  void SetExportTime(uint32_t seconds);

  // Puts both templates into the current message, which must be empty:
  // templates travel in a message of their own. False when it is not empty.
  bool AddTemplates();

  // Appends one record to the current message. False when it does not fit,
  // or the message holds templates: finish the message and add the record
  // again.
  bool Add(const CFlowRecord& record);

  // True when the current message holds neither templates nor records.
  bool Empty() const { return empty_; }

  // Closes the current message and returns its bytes, valid until the next
  // call on the encoder; empty when nothing was added.
  std::span<const uint8_t> Finish();

 private:
  bool SelectTemplate(uint16_t tid);
  bool AddOnce(const CFlowRecord& record);

  fbInfoModel_st* model_ = nullptr;
  fBuf_st* buf_ = nullptr;
  fbExporter_st* exporter_ = nullptr;  // owned by buf_
  std::vector<uint8_t> out_;
  uint16_t currentTid_ = 0;
  bool empty_ = true;
};
