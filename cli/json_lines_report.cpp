#include "cli/json_lines_report.h"

#include <algorithm>
#include <array>
#include <nlohmann/json.hpp>

#include "output/value_format.h"

namespace {

using Json = nlohmann::ordered_json;

// Seconds with the microseconds as the fraction. A double holds every
// microsecond of this century exactly enough to print it back.
double Seconds(const CTimeStamp& t) { return static_cast<double>(t.sec) + t.usec / 1e6; }

Json OrNull(const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); }

bool BothEndsLocal(const CIpAddr& remote, const std::vector<CIpAddr>& local) {
  static const CIpAddr kV6Loopback =
      CIpAddr::V6(std::array<uint8_t, 16>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1});
  if ((remote.IsV4() && remote[0] == 127) || remote == kV6Loopback) return true;
  return std::find(local.begin(), local.end(), remote) != local.end();
}

// A program's name, "(other user)" or "(gone)"; null while unknown.
Json OwnerText(const CProcessOwner& owner) { return OrNull(owner.Text()); }

Json Conversation(const CConversationRowData& d, const std::vector<CIpAddr>& local) {
  using T = CConversationSnapshot;
  const CConversationSnapshot& c = d.conversation;
  Json j;
  j["type"] = "conversation";
  j["conv_id"] = c.convId;
  j["proto"] = ProtocolName(c.protocol);
  j["local"] = FormatAddress(c.local);
  j["local_port"] = c.localPort;
  j["remote"] = FormatAddress(c.remote);
  j["remote_port"] = c.remotePort;
  j["role"] = c.role == EHostRole::kServer ? "server" : "client";
  j["first"] = Seconds(c.times[T::kFirstTime]);
  j["last"] = Seconds(c.times[T::kLastTime]);
  j["bytes_sent"] = c.bytesSent;
  j["bytes_rcvd"] = c.bytesReceived;
  j["pkts_sent"] = c.packetsSent;
  j["pkts_rcvd"] = c.packetsReceived;
  const int64_t micros =
      (static_cast<int64_t>(c.times[T::kLastTime].sec) - c.times[T::kFirstTime].sec) * 1000000 +
      (c.times[T::kLastTime].usec - c.times[T::kFirstTime].usec);
  j["response_time"] = static_cast<double>(micros) / 1e6;
  j["process"] = OwnerText(c.process);
  j["pid"] = c.process.Pid() != 0 ? Json(c.process.Pid()) : Json(nullptr);
  if (BothEndsLocal(c.remote, local)) j["peer_process"] = OwnerText(c.peerProcess);
  j["remote_name"] = OrNull(d.name);
  return j;
}

Json Host(const CHostSummary& h) {
  Json j;
  j["type"] = "host";
  j["address"] = FormatAddress(h.address);
  j["name"] = OrNull(h.name);
  j["bytes_sent"] = h.bytesSent;
  j["bytes_rcvd"] = h.bytesReceived;
  j["pkts_sent"] = h.packetsSent;
  j["pkts_rcvd"] = h.packetsReceived;
  j["last"] = Seconds(h.lastTime);
  j["ports"] = h.ports;
  j["top_process"] = OrNull(h.topProcess);
  return j;
}

Json Process(const CProcessSummary& p) {
  Json j;
  j["type"] = "process";
  j["process"] = p.name;
  j["pids"] = p.pids;
  j["bytes_sent"] = p.bytesSent;
  j["bytes_rcvd"] = p.bytesReceived;
  j["pkts_sent"] = p.packetsSent;
  j["pkts_rcvd"] = p.packetsReceived;
  return j;
}

void AddTimes(Json& j, const char* prefix, const std::optional<CLatencySummary>& times) {
  const std::string p = prefix;
  j[p + "_p50"] = times ? Json(times->p50) : Json(nullptr);
  j[p + "_p90"] = times ? Json(times->p90) : Json(nullptr);
  j[p + "_p99"] = times ? Json(times->p99) : Json(nullptr);
  j[p + "_max"] = times ? Json(times->max) : Json(nullptr);
}

// The fields and their order are those of the --services CSV header.
Json Service(const CServiceRow& s) {
  const bool client = s.key.role == EHostRole::kClient;
  const Json address = FormatAddress(s.key.address);
  const Json port = s.key.port;
  Json j;
  j["type"] = "service";
  j["role"] = client ? "client" : "server";
  const std::string proto = ProtocolName(s.key.protocol);
  j["proto"] = proto.empty() ? std::to_string(s.key.protocol) : proto;
  j["remote"] = client ? address : Json(nullptr);
  j["remote_port"] = client ? port : Json(nullptr);
  j["local"] = client ? Json(nullptr) : address;
  j["local_port"] = client ? Json(nullptr) : port;
  j["exchanges"] = s.exchanges;
  j["unanswered"] = s.unanswered;
  AddTimes(j, "ttfa", s.firstAnswer);
  AddTimes(j, "exchange", s.exchangeTime);
  j["bytes_sent"] = s.bytesSent;
  j["bytes_rcvd"] = s.bytesReceived;
  return j;
}

void AppendLine(std::string& out, const Json& j) {
  // Names and addresses are ASCII; a stray byte becomes U+FFFD rather than
  // a line jq cannot read.
  out += j.dump(-1, ' ', false, Json::error_handler_t::replace);
  out += '\n';
}

}  // namespace

std::string JsonLines(const std::vector<CConversationRowData>& rows,
                      const std::vector<CHostSummary>& hosts, const std::vector<CIpAddr>& local,
                      const std::vector<CProcessSummary>& processes,
                      const std::vector<CServiceRow>& services) {
  std::string out;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    // A conversation's rows stand together; one record for both.
    if (i > 0 && rows[i].row.convId == rows[i - 1].row.convId) continue;
    AppendLine(out, Conversation(rows[i], local));
  }
  for (const CHostSummary& h : hosts) AppendLine(out, Host(h));
  for (const CProcessSummary& p : processes) AppendLine(out, Process(p));
  for (const CServiceRow& s : services) AppendLine(out, Service(s));
  return out;
}
