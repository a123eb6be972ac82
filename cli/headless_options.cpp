#include "cli/headless_options.h"

#include <charconv>

namespace {

// A whole decimal number within [0, max]; no sign, no blanks, no leftovers.
std::optional<uint32_t> ParseDecimal(std::string_view text, uint32_t max) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  uint32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value > max) return std::nullopt;
  return value;
}

std::optional<uint32_t> ParseWildcard(std::string_view text, uint32_t max) {
  if (text == "*") return 0u;
  return ParseDecimal(text, max);
}

// Splits "a,b,c"; empty pieces are kept so that "1.2.3.4," is refused.
std::vector<std::string_view> SplitCommas(std::string_view text) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    out.push_back(text.substr(start, comma == std::string_view::npos ? comma : comma - start));
    if (comma == std::string_view::npos) return out;
    start = comma + 1;
  }
}

template <typename Octet>
std::optional<CIpAddr> ParseFourOctets(std::string_view text, Octet parseOctet) {
  CIpAddr address{};
  std::size_t start = 0;
  for (int i = 0; i < 4; ++i) {
    const std::size_t dot = text.find('.', start);
    if ((i < 3) != (dot != std::string_view::npos)) return std::nullopt;
    const auto piece = text.substr(start, i < 3 ? dot - start : std::string_view::npos);
    const auto value = parseOctet(piece);
    if (!value) return std::nullopt;
    address[i] = static_cast<uint8_t>(*value);
    start = dot + 1;
  }
  return address;
}

constexpr int kMaxDurationSeconds = 100000000;
constexpr uint32_t kMaxMemoryLimitMib = 1u << 20;

}  // namespace

std::optional<CFilterRule> ParseRuleText(std::string_view text) {
  if (text.starts_with('[')) {
    const std::size_t close = text.find("]:");
    if (close == std::string_view::npos) return std::nullopt;
    const auto port = ParseWildcard(text.substr(close + 2), 65535);
    if (!port) return std::nullopt;
    return CFilterRule::ParseIpv6Prefix(text.substr(1, close - 1), static_cast<uint16_t>(*port));
  }
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const auto address = ParseFourOctets(text.substr(0, colon),
                                       [](std::string_view p) { return ParseWildcard(p, 255); });
  const auto port = ParseWildcard(text.substr(colon + 1), 65535);
  if (!address || !port) return std::nullopt;
  const CIpAddr& a = *address;
  return CFilterRule(a[0], a[1], a[2], a[3], static_cast<uint16_t>(*port));
}

std::optional<CHeadlessOptions> ParseHeadlessOptions(const std::vector<std::string_view>& args,
                                                     std::string& error) {
  CHeadlessOptions o;
  bool include = false, exclude = false, formatGiven = false, logFlags = false;
  bool noTcp = false, noUdp = false;
  auto fail = [&](std::string text) {
    error = std::move(text);
    return std::nullopt;
  };

  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    std::optional<std::string_view> attached;
    if (arg.starts_with("--")) {
      if (const std::size_t eq = arg.find('='); eq != std::string_view::npos) {
        attached = arg.substr(eq + 1);
        arg = arg.substr(0, eq);
      }
    }
    std::string_view value;
    auto takeValue = [&]() -> bool {
      if (attached) {
        value = *attached;
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        return false;
      }
      return !value.empty();
    };
    auto noValue = [&]() { return !attached.has_value(); };
    const std::string name(arg);

    if (arg == "--headless") {
      if (!noValue()) return fail("--headless takes no value");
    } else if (arg == "--help" || arg == "-h") {
      o.help = true;
    } else if (arg == "-i" || arg == "-r") {
      if (!takeValue()) return fail(name + " needs a value");
      if (!o.device.empty() || !o.file.empty()) return fail("give one of -i DEVICE or -r FILE, once");
      (arg == "-i" ? o.device : o.file) = std::string(value);
    } else if (arg == "--local") {
      if (!takeValue()) return fail("--local needs an address list");
      for (std::string_view piece : SplitCommas(value)) {
        const auto address = CIpAddr::FromText(piece);
        if (!address) return fail("--local: not an IP address: \"" + std::string(piece) + "\"");
        o.local.push_back(*address);
      }
    } else if (arg == "--role") {
      if (!takeValue()) return fail("--role needs client or server");
      if (value == "client") {
        o.role = EHostRole::kClient;
      } else if (value == "server") {
        o.role = EHostRole::kServer;
      } else {
        return fail("--role must be client or server");
      }
    } else if (arg == "--no-tcp" && noValue()) {
      noTcp = true;
    } else if (arg == "--no-udp" && noValue()) {
      noUdp = true;
    } else if (arg == "--header-only" && noValue()) {
      o.headerOnly = true;
    } else if (arg == "--filter") {
      if (!takeValue()) return fail("--filter needs a rule");
      const auto rule = ParseRuleText(value);
      if (!rule) {
        return fail("--filter: not a rule of the form a.b.c.d:port or [prefix]:port (\"*\" for "
                    "any): \"" + std::string(value) + "\"");
      }
      o.rules.push_back(*rule);
    } else if (arg == "--include" && noValue()) {
      include = true;
    } else if (arg == "--exclude" && noValue()) {
      exclude = true;
    } else if (arg == "--log-dir") {
      if (!takeValue()) return fail("--log-dir needs a directory");
      o.logDir = std::string(value);
    } else if ((arg == "--stats" || arg == "--data" || arg == "--hex") && noValue()) {
      logFlags = true;
      (arg == "--stats" ? o.stats : arg == "--data" ? o.data : o.hex) = true;
    } else if (arg == "--export") {
      if (!takeValue()) return fail("--export needs a file name");
      o.exportFile = std::string(value);
    } else if (arg == "--format") {
      if (!takeValue()) return fail("--format needs csv, text or hex");
      formatGiven = true;
      if (value == "csv") {
        o.exportFormat = EExportForm::kCsv;
      } else if (value == "text") {
        o.exportFormat = EExportForm::kText;
      } else if (value == "hex") {
        o.exportFormat = EExportForm::kHex;
      } else {
        return fail("--format must be csv, text or hex");
      }
    } else if (arg == "--hosts-export") {
      if (!takeValue()) return fail("--hosts-export needs a file name");
      o.hostsExportFile = std::string(value);
    } else if (arg == "--json") {
      if (!takeValue()) return fail("--json needs a file name");
      o.jsonFile = std::string(value);
    } else if (arg == "--no-resolve" && noValue()) {
      o.resolve = false;
    } else if (arg == "--services") {
      if (!takeValue()) return fail("--services needs a file name");
      o.servicesFile = std::string(value);
    } else if (arg == "--duration") {
      if (!takeValue()) return fail("--duration needs a number of seconds");
      const auto seconds = ParseDecimal(value, kMaxDurationSeconds);
      if (!seconds || *seconds == 0) return fail("--duration must be a whole number of seconds above 0");
      o.durationSeconds = static_cast<int>(*seconds);
    } else if (arg == "--ipfix") {
      if (!takeValue()) return fail("--ipfix needs HOST:PORT");
      std::string why;
      if (!CCollectorAddress::Parse(value, &why)) return fail("--ipfix: " + why);
      o.ipfix = std::string(value);
    } else if (arg == "--write") {
      if (!takeValue()) return fail("--write needs a file name");
      o.writeFile = std::string(value);
    } else if (arg == "--write-all" && noValue()) {
      o.writeAll = true;
    } else if (arg == "--write-limit") {
      if (!takeValue()) return fail("--write-limit needs a number of MiB");
      const auto mib = ParseDecimal(value, 1u << 20);
      if (!mib || *mib == 0) return fail("--write-limit must be a whole number of MiB above 0");
      o.writeLimitMiB = *mib;
    } else if (arg == "--write-files") {
      if (!takeValue()) return fail("--write-files needs a number");
      const auto files = ParseDecimal(value, 1000);
      if (!files || *files == 0) return fail("--write-files must be a whole number from 1 to 1000");
      o.writeFiles = static_cast<unsigned>(*files);
    } else if (arg == "--memory-limit") {
      if (!takeValue()) return fail("--memory-limit needs a number of mebibytes");
      const auto mib = ParseDecimal(value, kMaxMemoryLimitMib);
      if (!mib || *mib == 0) return fail("--memory-limit must be a whole number of mebibytes from 1 to 1048576");
      o.memoryLimitMib = *mib;
    } else if (arg == "--quiet" && noValue()) {
      o.quiet = true;
    } else {
      return fail("unknown option: " + std::string(args[i]));
    }
  }

  if (o.help) return o;
  if (o.device.empty() && o.file.empty()) return fail("give -i DEVICE or -r FILE");
  if (noTcp && noUdp) return fail("--no-tcp and --no-udp together would record nothing");
  o.tcp = !noTcp;
  o.udp = !noUdp;
  if (include && exclude) return fail("--include and --exclude exclude each other");
  o.exclude = exclude;
  if (o.logDir.empty() && logFlags) return fail("--stats, --data and --hex need --log-dir");
  if (!o.logDir.empty() && !o.stats && !o.data) o.stats = o.data = true;
  if (formatGiven && o.exportFile.empty()) return fail("--format needs --export");
  if (o.durationSeconds > 0 && o.device.empty()) return fail("--duration is for live traces (-i)");
  if (!o.writeFile.empty() && o.device.empty()) return fail("--write is for live traces (-i)");
  if ((o.writeAll || o.writeLimitMiB > 0 || o.writeFiles != 5) && o.writeFile.empty())
    return fail("--write-all, --write-limit and --write-files need --write");
  return o;
}

const char* HeadlessUsage() {
  return "Usage: trafalyn --headless (-i DEVICE | -r FILE) [options]\n"
         "\n"
         "  -i DEVICE              live trace on DEVICE until Ctrl-C, SIGTERM or --duration\n"
         "  -r FILE                replay a pcap or pcapng file, as fast as it can be read\n"
         "                         (\"-\" reads standard input; a FIFO works too)\n"
         "  --local A[,B...]       the local host's IPv4 and IPv6 addresses (live: the\n"
         "                         device's addresses; file: per family, the address\n"
         "                         seen most often in the first 10,000 IP frames)\n"
         "  --role client|server   host role (default client)\n"
         "  --no-tcp | --no-udp    record no TCP / no UDP (not both)\n"
         "  --header-only          keep no payload\n"
         "  --filter RULE          a filter rule a.b.c.d:port or [2001:db8::/32]:port,\n"
         "                         \"*\" for any (repeatable)\n"
         "  --include | --exclude  record only what the rules match (default) or drop it\n"
         "  --log-dir DIR          write the trace and statistics logs to DIR, with a\n"
         "                         final pass at the end\n"
         "  --stats --data --hex   which logs (default: --stats --data); --hex writes\n"
         "                         packet data as hex dumps\n"
         "  --export FILE          at the end, export every conversation row\n"
         "  --format csv|text|hex  the export's form (default csv)\n"
         "  --hosts-export FILE    at the end, write the host table as CSV\n"
         "  --json FILE            at the end, write conversations, hosts and services\n"
         "                         as JSON Lines, one object per line\n"
         "  --no-resolve           live: ask no DNS server for host names (the names the\n"
         "                         traffic itself carries are still shown)\n"
         "  --services FILE        at the end, write the latency per service as CSV\n"
         "  --ipfix HOST:PORT      send every finished conversation as an IPFIX flow\n"
         "                         record over UDP ([addr]:port for IPv6)\n"
         "  --write FILE           live only: save the recorded frames to a pcap file\n"
         "  --write-all            save every frame, not only the recorded ones\n"
         "  --write-limit MIB      start a new file at this size, keeping FILE.1 ...\n"
         "  --write-files N        files kept by --write-limit, FILE included (default 5)\n"
         "  --duration SECONDS     live only: stop after this many seconds (the frames\n"
         "                         still buffered are read for one second more)\n"
         "  --memory-limit MIB     payload the packet records may hold, in mebibytes\n"
         "                         (default 512); past it the oldest payloads are\n"
         "                         released, their headers and counters stay\n"
         "  --quiet                no summary on standard output\n"
         "  --help                 this text\n"
         "\n"
         "When replaying, the time stamps of the file are the clock of every log\n"
         "pass. Messages go to standard error.\n"
         "\n"
         "Every output is checked before the work starts; naming one file twice is a\n"
         "usage error. A file damaged part-way is still summarised and exported up to\n"
         "the damage.\n"
         "\n"
         "Exit status (when several apply, the highest):\n"
         "  0    complete; also a live trace stopped by Ctrl-C, SIGTERM or --duration\n"
         "  1    an input could not be opened or read, or data was lost: records not\n"
         "       stored, trace-log lines not written, an output that failed\n"
         "  2    a usage error, or an output path that cannot be written\n"
         "  130  a replay interrupted by Ctrl-C or SIGTERM\n";
}
