#include <gtest/gtest.h>

#include "services/service_csv.h"

TEST(ServiceCsv, HeaderAndRowsOfBothRoles) {
  EXPECT_EQ(ServiceCsvHeader(),
            "\"role\",\"proto\",\"remote\",\"remote_port\",\"local\",\"local_port\","
            "\"exchanges\",\"unanswered\",\"ttfa_p50\",\"ttfa_p90\",\"ttfa_p99\",\"ttfa_max\","
            "\"exchange_p50\",\"exchange_p90\",\"exchange_p99\",\"exchange_max\","
            "\"bytes_sent\",\"bytes_rcvd\"\n");

  CServiceRow client;
  client.key = {EHostRole::kClient, 6, 443, CIpAddr(198, 51, 100, 7)};
  client.exchanges = 12;
  client.unanswered = 1;
  client.bytesSent = 1500;
  client.bytesReceived = 9000000000;
  client.firstAnswer = CLatencySummary{0.001234, 0.25, 1.5, 3600};
  client.exchangeTime = CLatencySummary{0.002, 0.3, 2, 3600};
  EXPECT_EQ(ServiceCsvRow(client),
            "\"client\",\"TCP\",\"198.51.100.7\",\"443\",\"\",\"\",\"12\",\"1\","
            "\"0.001234\",\"0.250000\",\"1.500000\",\"3600.000000\","
            "\"0.002000\",\"0.300000\",\"2.000000\",\"3600.000000\",\"1500\",\"9000000000\"\n");

  CServiceRow server;  // nothing answered: no times
  server.key = {EHostRole::kServer, 17, 53,
                CIpAddr::V6(std::array<uint8_t, 16>{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0,
                                                    0, 0, 0, 0, 1})};
  server.exchanges = server.unanswered = 3;
  server.bytesReceived = 180;
  EXPECT_EQ(ServiceCsvRow(server),
            "\"server\",\"UDP\",\"\",\"\",\"2001:db8::1\",\"53\",\"3\",\"3\","
            "\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"0\",\"180\"\n");
}
