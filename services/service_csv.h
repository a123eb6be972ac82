#pragma once
#include <string>

#include "services/service_row.h"

// The lines of `--services FILE`. Every field is enclosed in double quotes
// (output/csv_row.h's AppendCsvField); lines end in LF. Pure; any thread,
// no lock (rows are plain values).

// role, proto, remote, remote_port, local, local_port, exchanges,
// unanswered, ttfa_p50, ttfa_p90, ttfa_p99, ttfa_max, exchange_p50,
// exchange_p90, exchange_p99, exchange_max, bytes_sent, bytes_rcvd: the
// JSON output's field names in its order.
std::string ServiceCsvHeader();

// One service. role is "client" or "server"; proto "TCP", "UDP" or the
// protocol number. The address and port fields of the side that does not
// name the service (local for a client, remote for a server) are empty, as
// are times the row does not have; times are seconds with six decimals.
std::string ServiceCsvRow(const CServiceRow& row);
