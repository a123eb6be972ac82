#include "flows/ipfix_encoder.h"

#include <fixbuf/public.h>

#include <cstddef>
#include <cstring>
#include <stdexcept>

namespace {

// The records handed to libfixbuf: fields in template order, host byte
// order, laid out without gaps (libfixbuf reads an internal record at the
// plain sum of the element lengths).
struct CRecordHead {
  uint64_t startMs, endMs, octets, packets, reverseOctets, reversePackets, timeToFirstAnswerUs;
  fbVarfield_t processName;
};
struct CRecordV4 {
  CRecordHead head;
  uint32_t source, destination;
  uint16_t sourcePort, destinationPort;
  uint8_t protocol;
};
struct CRecordV6 {
  CRecordHead head;
  uint8_t source[16], destination[16];
  uint16_t sourcePort, destinationPort;
  uint8_t protocol;
};
static_assert(sizeof(CRecordHead) == 7 * 8 + sizeof(fbVarfield_t));
static_assert(offsetof(CRecordV4, protocol) == sizeof(CRecordHead) + 12);
static_assert(offsetof(CRecordV6, protocol) == sizeof(CRecordHead) + 36);

char kTimeToFirstAnswerName[] = "trafalynTimeToFirstAnswer";
char kProcessNameName[] = "trafalynProcessName";

// Our own elements. The time to the first answer is a quantity, not a
// counter: it does not add up across records.
fbInfoElement_t kOwnElements[] = {
    FB_IE_INIT_FULL(kTimeToFirstAnswerName, CIpfixEncoder::kEnterpriseNumber,
                    CIpfixEncoder::kTimeToFirstAnswerId, 8,
                    FB_IE_F_ENDIAN | FB_IE_QUANTITY | FB_UNITS_MICROSECONDS, 0, 0, FB_UINT_64,
                    nullptr),
    FB_IE_INIT_FULL(kProcessNameName, CIpfixEncoder::kEnterpriseNumber,
                    CIpfixEncoder::kProcessNameId, FB_IE_VARLEN, FB_IE_DEFAULT, 0, 0, FB_STRING,
                    nullptr),
    FB_IE_NULL};

#define ELEMENT(name, len) {const_cast<char*>(name), len, 0}
fbInfoElementSpec_t kHeadSpec[] = {
    ELEMENT("flowStartMilliseconds", 8),  ELEMENT("flowEndMilliseconds", 8),
    ELEMENT("octetDeltaCount", 8),        ELEMENT("packetDeltaCount", 8),
    ELEMENT("reverseOctetDeltaCount", 8), ELEMENT("reversePacketDeltaCount", 8),
    {kTimeToFirstAnswerName, 8, 0},    {kProcessNameName, FB_IE_VARLEN, 0},
    FB_IESPEC_NULL};
fbInfoElementSpec_t kV4Spec[] = {
    ELEMENT("sourceIPv4Address", 4),   ELEMENT("destinationIPv4Address", 4),
    ELEMENT("sourceTransportPort", 2), ELEMENT("destinationTransportPort", 2),
    ELEMENT("protocolIdentifier", 1),  FB_IESPEC_NULL};
fbInfoElementSpec_t kV6Spec[] = {
    ELEMENT("sourceIPv6Address", 16),  ELEMENT("destinationIPv6Address", 16),
    ELEMENT("sourceTransportPort", 2), ELEMENT("destinationTransportPort", 2),
    ELEMENT("protocolIdentifier", 1),  FB_IESPEC_NULL};
#undef ELEMENT

// Construction only fails on a libfixbuf that lacks a standard element:
// a broken installation, not a run-time condition.
[[noreturn]] void Broken(GError* err) {
  std::string what = "libfixbuf: ";
  what += err ? err->message : "unknown error";
  if (err) g_error_free(err);
  throw std::runtime_error(what);
}

fbTemplate_t* MakeTemplate(fbInfoModel_t* model, fbInfoElementSpec_t* tail) {
  fbTemplate_t* t = fbTemplateAlloc(model);
  GError* err = nullptr;
  if (!fbTemplateAppendSpecArray(t, kHeadSpec, UINT32_MAX, &err) ||
      !fbTemplateAppendSpecArray(t, tail, UINT32_MAX, &err)) {
    fbTemplateFreeUnused(t);
    Broken(err);
  }
  return t;
}

void AddBoth(fbSession_t* session, uint16_t tid, fbInfoModel_t* model, fbInfoElementSpec_t* tail) {
  GError* err = nullptr;
  if (!fbSessionAddTemplate(session, TRUE, tid, MakeTemplate(model, tail), &err) ||
      !fbSessionAddTemplate(session, FALSE, tid, MakeTemplate(model, tail), &err))
    Broken(err);
}

// A full message and a record libfixbuf refuses look alike to the caller:
// it finishes the message and tries once more, then gives the record up.
void FreeError(GError* err) {
  if (err) g_error_free(err);
}

void FillHead(CRecordHead& h, const CFlowRecord& r) {
  h.startMs = r.startMs;
  h.endMs = r.endMs;
  h.octets = r.octets;
  h.packets = r.packets;
  h.reverseOctets = r.reverseOctets;
  h.reversePackets = r.reversePackets;
  h.timeToFirstAnswerUs = r.timeToFirstAnswerUs;
  h.processName.len = std::min(r.processName.size(), CFlowRecord::kMaxProcessName);
  h.processName.buf = reinterpret_cast<uint8_t*>(const_cast<char*>(r.processName.data()));
}

}  // namespace

CIpfixEncoder::CIpfixEncoder(uint32_t observationDomain, std::size_t maxMessageBytes)
    : out_(maxMessageBytes) {
  model_ = fbInfoModelAlloc();
  fbInfoModelAddElementArray(model_, kOwnElements);
  fbSession_t* session = fbSessionAlloc(model_);
  fbSessionSetDomain(session, observationDomain);
  AddBoth(session, kTemplateIdV4, model_, kV4Spec);
  AddBoth(session, kTemplateIdV6, model_, kV6Spec);
  exporter_ = fbExporterAllocBuffer(out_.data(), static_cast<uint16_t>(out_.size()));
  buf_ = fBufAllocForExport(session, exporter_);
  // Manual mode: a full message is reported to us instead of being emitted
  // into the shared buffer behind our back.
  fBufSetAutomaticMode(buf_, FALSE);
}

CIpfixEncoder::~CIpfixEncoder() {
  fBufFree(buf_);  // frees the session and the exporter too
  fbInfoModelFree(model_);
}

void CIpfixEncoder::SetExportTime(uint32_t seconds) { fBufSetExportTime(buf_, seconds); }

bool CIpfixEncoder::AddTemplates() {
  if (!empty_) return false;
  // libfixbuf keeps templates and records in separate messages: the first
  // call on a fresh message only switches it to templates and reports the
  // end of a message that does not exist yet.
  for (int attempt = 0; attempt < 2; ++attempt) {
    GError* err = nullptr;
    if (fbSessionExportTemplates(fBufGetSession(buf_), &err)) {
      currentTid_ = 0;
      empty_ = false;
      return true;
    }
    FreeError(err);
  }
  return false;
}

bool CIpfixEncoder::SelectTemplate(uint16_t tid) {
  if (tid == currentTid_) return true;
  GError* err = nullptr;
  if (!fBufSetInternalTemplate(buf_, tid, &err) || !fBufSetExportTemplate(buf_, tid, &err)) {
    FreeError(err);
    return false;
  }
  currentTid_ = tid;
  return true;
}

bool CIpfixEncoder::Add(const CFlowRecord& r) {
  // After a template message libfixbuf refuses the first record once, to
  // close a template message that is already gone.
  for (int attempt = 0; attempt < (empty_ ? 2 : 1); ++attempt)
    if (AddOnce(r)) {
      empty_ = false;
      return true;
    }
  return false;
}

bool CIpfixEncoder::AddOnce(const CFlowRecord& r) {
  GError* err = nullptr;
  gboolean ok;
  if (r.source.IsV4()) {
    if (!SelectTemplate(kTemplateIdV4)) return false;
    CRecordV4 rec{};
    FillHead(rec.head, r);
    rec.source = static_cast<uint32_t>(r.source[0]) << 24 | r.source[1] << 16 |
                 r.source[2] << 8 | r.source[3];
    rec.destination = static_cast<uint32_t>(r.destination[0]) << 24 | r.destination[1] << 16 |
                      r.destination[2] << 8 | r.destination[3];
    rec.sourcePort = r.sourcePort;
    rec.destinationPort = r.destinationPort;
    rec.protocol = r.protocol;
    ok = fBufAppend(buf_, reinterpret_cast<uint8_t*>(&rec), sizeof rec, &err);
  } else {
    if (!SelectTemplate(kTemplateIdV6)) return false;
    CRecordV6 rec{};
    FillHead(rec.head, r);
    std::memcpy(rec.source, r.source.Data(), 16);
    std::memcpy(rec.destination, r.destination.Data(), 16);
    rec.sourcePort = r.sourcePort;
    rec.destinationPort = r.destinationPort;
    rec.protocol = r.protocol;
    ok = fBufAppend(buf_, reinterpret_cast<uint8_t*>(&rec), sizeof rec, &err);
  }
  FreeError(err);
  return ok;
}

std::span<const uint8_t> CIpfixEncoder::Finish() {
  if (empty_) return {};
  GError* err = nullptr;
  empty_ = true;
  currentTid_ = 0;
  if (!fBufEmit(buf_, &err)) {
    FreeError(err);
    return {};
  }
  return {out_.data(), fbExporterGetMsgLen(exporter_)};
}
