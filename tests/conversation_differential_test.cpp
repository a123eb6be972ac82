// The traffic model against the plain reference of reference_traffic_model.h:
// long seeded streams of packets, built to reach every rule and bound
// (closings in both roles, role switches, retransmissions, fragments found by
// identification and pending, more than 2,000 conversations, more than 1,000
// hosts and 100 ports, late and far-apart time stamps, header-only switches,
// clears), go into both, and every state is compared at checkpoints, with
// the conversations announced as final: each exactly once, in order.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "model/traffic_model.h"
#include "output/value_format.h"
#include "tests/reference_traffic_model.h"

namespace {

std::string Addr(const CIpAddr& a) { return FormatAddress(a); }

// The first difference between a model record and a reference record, or "".
std::string DiffRecord(const CPacketRecord& m, const RefRecord& r) {
  const CPacketFields& f = r.f;
  std::ostringstream s;
  if (m.ack != f.ack) s << "ack " << m.ack << " != " << f.ack;  // unique per packet
  else if (m.seq != f.seq || m.identification != f.identification || m.direction != f.direction)
    s << "seq/id/direction";
  else if (m.localPort != f.localPort || m.remotePort != f.remotePort) s << "ports";
  else if (m.local != f.local || m.remote != f.remote || m.protocol != f.protocol) s << "endpoints";
  else if (!(m.time == f.time) || m.totalLength != f.totalLength) s << "time/length";
  else if (m.convId != r.convId) s << "convId " << m.convId << " != " << r.convId;
  else if (m.headerOnly != r.headerOnly || m.fragment != f.fragment) s << "flags";
  else if (!std::equal(m.Payload().begin(), m.Payload().end(), r.payload.begin(),
                       r.payload.end()))
    s << "payload";
  return s.str();
}

template <typename ML, typename RL>
std::string DiffRecords(const ML& model, const RL& ref, const char* what) {
  if (model.size() != ref.size()) {
    return std::string(what) + " size " + std::to_string(model.size()) + " != " +
           std::to_string(ref.size());
  }
  for (std::size_t i = 0; i < model.size(); ++i) {
    const std::string d = DiffRecord(*model[i], *ref[i]);
    if (!d.empty()) return std::string(what) + "[" + std::to_string(i) + "]: " + d;
  }
  return {};
}

std::string DiffConversation(const CConversation& m, const RefConversation& r) {
  std::ostringstream s;
  if (m.convId != r.convId) s << "convId " << m.convId << " != " << r.convId;
  else if (m.closed != r.closed) s << "closed";
  else if (m.hostRole != r.hostRole) s << "hostRole";
  else if (m.protocol != r.protocol || m.remote != r.remote || m.local != r.local ||
           m.remotePort != r.remotePort || m.localPort != r.localPort)
    s << "endpoints " << Addr(m.remote) << " vs " << Addr(r.remote);
  else if (m.bytesSent != r.bytesSent || m.bytesReceived != r.bytesReceived ||
           m.packetsSent != r.packetsSent || m.packetsReceived != r.packetsReceived)
    s << "counters";
  else if (m.times != r.times) s << "times";
  if (!s.str().empty()) return s.str();
  std::string d = DiffRecords(m.sent, r.sent, "sent");
  if (d.empty()) d = DiffRecords(m.received, r.received, "received");
  return d;
}

std::string Diff(const CTrafficModel& m, const RefModel& r, const std::vector<RefFinal>& finals) {
  if (finals != r.finals) {
    return "finals " + std::to_string(finals.size()) + " != " + std::to_string(r.finals.size());
  }
  const auto& convs = m.conversations.Conversations();
  if (convs.size() != r.conversations.size()) {
    return "conversations " + std::to_string(convs.size()) + " != " +
           std::to_string(r.conversations.size());
  }
  for (std::size_t i = 0; i < convs.size(); ++i) {
    const std::string d = DiffConversation(*convs[i], r.conversations[i]);
    if (!d.empty()) return "conversation " + std::to_string(i) + ": " + d;
  }
  std::string d = DiffRecords(m.conversations.PendingFragments(), r.pending, "pending");
  if (!d.empty()) return d;
  d = DiffRecords(m.recent, r.recent, "recent");
  if (!d.empty()) return d;
  const auto& hosts = m.hosts.Hosts();
  if (hosts.size() != r.hosts.size()) return "hosts size";
  for (std::size_t i = 0; i < hosts.size(); ++i) {
    const CHostRecord& h = hosts[i];
    const RefHost& g = r.hosts[i];
    if (h.address != g.address || h.bytesSent != g.bytesSent ||
        h.bytesReceived != g.bytesReceived || h.packetsSent != g.packetsSent ||
        h.packetsReceived != g.packetsReceived || !(h.lastTime == g.lastTime) ||
        h.ports.size() != g.ports.size()) {
      return "host " + std::to_string(i) + " " + Addr(h.address);
    }
    for (std::size_t k = 0; k < h.ports.size(); ++k) {
      const CPortRecord& p = h.ports[k];
      const RefPort& q = g.ports[k];
      if (p.port != q.port || p.bytesSent != q.bytesSent || p.bytesReceived != q.bytesReceived ||
          p.packets != q.packets || !(p.lastTime == q.lastTime)) {
        return "host " + Addr(h.address) + " port " + std::to_string(k);
      }
    }
  }
  const auto& s = m.sampler;
  if (s.LastBucket() != r.lastBucket) return "last bucket";
  if (!std::equal(s.Sent().begin(), s.Sent().end(), r.sampleSent.begin(), r.sampleSent.end()) ||
      !std::equal(s.Received().begin(), s.Received().end(), r.sampleReceived.begin(),
                  r.sampleReceived.end())) {
    return "sampler buckets";
  }
  return {};
}

// One flow of the stream: a protocol and two endpoints with a sequence
// number per direction.
struct Flow {
  uint8_t protocol;
  CIpAddr remote, local;
  uint16_t remotePort, localPort;
  uint32_t seq[3];
  EDirection direction;
};

// What the stream exercised, so that a change in the generator that stops
// reaching a rule shows up as a failure rather than as a weaker test.
struct Coverage {
  int closings = 0, trims = 0, fragmentsAttached = 0, hostBound = 0, portBound = 0;
};

class Stream {
 public:
  explicit Stream(uint64_t seed) : rng_(seed) {
    for (std::size_t i = 0; i < bytes_.size(); ++i) bytes_[i] = static_cast<uint8_t>(i * 31 + 7);
    for (int i = 0; i < 48; ++i) flows_.push_back(NewFlow(false));
  }

  // The next `n` packets each open a flow to a host never seen before.
  void ForceBurst(int n) { burst_ = n; }

  // Runs `frames` packets into both models, comparing every `every` frames.
  void Run(CTrafficModel& model, std::vector<RefFinal>& finals, RefModel& ref, int frames,
           int every, Coverage& cov) {
    for (int n = 0; n < frames; ++n) {
      Perturb(model, ref);
      CPacketFields f = Next();
      std::size_t avail = static_cast<std::size_t>(f.totalLength - f.headerLength);
      if (Chance(0.05)) avail = Uniform(0, static_cast<int>(avail));
      const std::span<const uint8_t> payload(bytes_.data() + (n % 977), avail);
      const std::size_t pendingBefore = ref.pending.size();
      const int counterBefore = ref.convIdCounter;
      const std::size_t convsBefore = ref.conversations.size();
      model.Record(f, payload, {headerOnly_, role_});
      ref.Record(f, payload, role_, headerOnly_);
      if (ref.pending.size() < pendingBefore) ++cov.fragmentsAttached;
      if (ref.convIdCounter > counterBefore && ref.conversations.size() < convsBefore) ++cov.trims;
      if (n % every == every - 1 || n == frames - 1) {
        const std::string d = Diff(model, ref, finals);
        ASSERT_EQ(d, "") << "after frame " << n;
        for (const RefConversation& c : ref.conversations) cov.closings += c.closed;
        if (ref.hosts.size() == 1000) ++cov.hostBound;
        for (const RefHost& h : ref.hosts) cov.portBound += h.ports.size() == 100 ? 1 : 0;
      }
    }
  }

 private:
  bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng_) < p; }
  int Uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

  CIpAddr RemoteAddr(int i) {
    // Spread over first octets so that the byte-by-byte order matters.
    static const uint8_t kFirst[] = {9, 10, 172, 192, 198, 203, 255, 1};
    return CIpAddr(kFirst[i % 8], static_cast<uint8_t>(i >> 3), static_cast<uint8_t>(i * 7),
                      static_cast<uint8_t>(i >> 11));
  }

  Flow NewFlow(bool fresh) {
    Flow fl;
    fl.protocol = Chance(0.8) ? 6 : 17;
    // Mostly a small set of hosts; during bursts, hosts never seen before,
    // and host 3 on ever new ports.
    fl.remote = RemoteAddr(fresh ? (Chance(0.1) ? 3 : 64 + nextHost_++) : Uniform(0, 40));
    fl.local = Chance(0.9) ? CIpAddr(192, 0, 2, 10) : CIpAddr(192, 0, 2, 11);
    // A few ports per host, but host 3 sees many, past its 100-port bound.
    fl.remotePort = fl.remote == RemoteAddr(3) ? static_cast<uint16_t>(Uniform(1, 400))
                                               : static_cast<uint16_t>(Uniform(0, 2) * 443 + 80);
    fl.localPort = static_cast<uint16_t>(Chance(0.2) ? Uniform(1, 8) : Uniform(1024, 65535));
    for (uint32_t& s : fl.seq) s = static_cast<uint32_t>(rng_());
    fl.direction = Chance(0.5) ? EDirection::kSent : EDirection::kReceived;
    return fl;
  }

  // Role switches, header-only switches, the three clears and the end of a
  // trace, now and then.
  void Perturb(CTrafficModel& model, RefModel& ref) {
    if (Chance(0.002)) {
      role_ = role_ == EHostRole::kClient ? EHostRole::kServer : EHostRole::kClient;
    }
    if (Chance(0.003)) headerOnly_ = !headerOnly_;
    if (Chance(0.0004)) {
      model.conversations.FinishAll();
      ref.FinishAll();
    }
    if (Chance(0.0004)) {
      model.conversations.Clear();
      ref.ClearConversations();
    }
    if (Chance(0.0001)) {
      model.hosts.Clear();
      ref.ClearHosts();
    }
    if (Chance(0.001)) {
      model.ClearRecent();
      ref.ClearRecent();
    }
    if (burst_ == 0 && Chance(0.0003)) burst_ = Uniform(500, 2600);
  }

  CPacketFields Next() {
    ++serial_;
    // Time: small steps, now and then a gap (sometimes past 30 buckets) or a
    // late packet (sometimes older than the oldest bucket kept).
    if (Chance(0.003)) {
      sec_ += Uniform(5, 240);
    } else {
      usec_ += Uniform(0, 300000);
      sec_ += usec_ / 1000000;
      usec_ %= 1000000;
    }
    CTimeStamp t{sec_, usec_};
    if (Chance(0.01)) t.sec -= Uniform(1, 230);

    Flow* fl;
    if (burst_ > 0) {
      --burst_;
      flows_[0] = NewFlow(true);
      fl = &flows_[0];
    } else {
      if (Chance(0.02)) flows_[Uniform(0, static_cast<int>(flows_.size()) - 1)] = NewFlow(false);
      // Recent flows are busier.
      const int n = static_cast<int>(flows_.size());
      fl = &flows_[Chance(0.6) ? Uniform(0, 4) : Uniform(0, n - 1)];
    }
    if (Chance(0.25)) {
      fl->direction = fl->direction == EDirection::kSent ? EDirection::kReceived : EDirection::kSent;
    }

    CPacketFields f;
    f.protocol = fl->protocol;
    f.direction = fl->direction;
    f.local = fl->local;
    f.remote = fl->remote;
    f.localPort = fl->localPort;
    f.remotePort = fl->remotePort;
    f.ttl = 64;
    f.ack = serial_;
    f.time = t;
    const int payload = Chance(0.5) ? Uniform(1, 200) : Uniform(1000, 1460);
    f.headerLength = f.protocol == 6 ? 40 : 28;
    f.totalLength = f.headerLength + payload;
    if (f.protocol == 6) {
      uint32_t& seq = fl->seq[static_cast<int>(f.direction)];
      if (Chance(0.05)) {
        f.seq = seq - static_cast<uint32_t>(payload);  // a retransmission
      } else if (Chance(0.03)) {
        f.seq = seq - static_cast<uint32_t>(Uniform(1, 1 << 20));  // out of order
      } else {
        f.seq = seq;
        seq += static_cast<uint32_t>(payload);
      }
      f.tcpFlags = 0x18;
    }
    f.identification = static_cast<uint16_t>(Uniform(0, 2) == 0 ? serial_ : Uniform(0, 40));
    if (Chance(0.04)) {
      // A fragment: TCP fragments come without ports. Its identification is
      // often that of a recent or an upcoming packet of some flow.
      f.fragment = true;
      if (f.protocol == 6) {
        f.localPort = 0;
        f.remotePort = 0;
      }
      if (Chance(0.5)) f.identification = static_cast<uint16_t>(Uniform(0, 40));
    }
    return f;
  }

  std::mt19937_64 rng_;
  std::vector<Flow> flows_;
  std::array<uint8_t, 4096> bytes_{};
  int32_t sec_ = 1700000000;
  int32_t usec_ = 0;
  uint32_t serial_ = 0;
  int nextHost_ = 0;
  int burst_ = 0;
  EHostRole role_ = EHostRole::kClient;
  bool headerOnly_ = false;
};

// A model whose final conversations are written down as they come.
struct CRecordedModel {
  CCancelToken cancel;
  CTrafficModel model{cancel};
  std::vector<RefFinal> finals;
  CRecordedModel() {
    model.conversations.SetFinalListener([this](const CConversationSnapshot& s) {
      finals.push_back({s.convId, s.packetsSent, s.packetsReceived});
    });
  }
};

class ConversationDifferential : public ::testing::TestWithParam<uint64_t> {};

TEST_P(ConversationDifferential, ModelMatchesReference) {
  CRecordedModel m;
  RefModel ref;
  Stream stream(GetParam());
  Coverage cov;
  stream.Run(m.model, m.finals, ref, 20000, 500, cov);
  if (HasFatalFailure()) return;
  EXPECT_GT(cov.closings, 0);
  EXPECT_GT(cov.fragmentsAttached, 0);
  // Each conversation became final once.
  std::vector<int> ids;
  for (const RefFinal& f : m.finals) ids.push_back(f.convId);
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end());
}

INSTANTIATE_TEST_SUITE_P(Seeds, ConversationDifferential, ::testing::Values(1u, 2u, 3u),
                         [](const auto& info) { return "Seed" + std::to_string(info.param); });

// One long stream with the bounds forced: enough fresh flows for several
// trims of the conversation list and a full host table.
TEST(ConversationDifferentialBounds, TrimsAndFullHostTable) {
  CRecordedModel m;
  RefModel ref;
  Stream stream(42);
  Coverage cov;
  for (int round = 0; round < 4; ++round) {
    stream.ForceBurst(2600);
    stream.Run(m.model, m.finals, ref, 8000, 1000, cov);
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(cov.trims, 0);
  EXPECT_GT(cov.hostBound, 0);
  EXPECT_GT(cov.portBound, 0);
}

}  // namespace
