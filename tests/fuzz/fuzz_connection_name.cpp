// Arbitrary bytes as the first payload of a TCP connection through
// CConnectionNameReader: a name found must be one the host-name rule
// accepts unchanged, and Read must agree with the reader it picks.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>

#include "names/connection_name_reader.h"
#include "names/host_name.h"

namespace {

void Check(const std::optional<CConnectionName>& found) {
  if (!found) return;
  const auto same = CHostName::FromText(found->name);
  if (!same || *same != found->name) std::abort();
  if (found->publicName && found->source != EConnectionNameSource::kTlsServerName) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::span<const uint8_t> payload(data, size);
  const auto any = CConnectionNameReader::Read(payload);
  const auto tls = CConnectionNameReader::ReadTlsServerName(payload);
  const auto http = CConnectionNameReader::ReadHttpHost(payload);
  Check(any);
  Check(tls);
  Check(http);
  const auto& picked = size > 0 && data[0] == 22 ? tls : http;
  if (any.has_value() != picked.has_value() || (any && any->name != picked->name)) std::abort();
  return 0;
}
