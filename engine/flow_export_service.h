#pragma once
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

#include "flows/collector_address.h"
#include "flows/flow_exporter.h"

class CCaptureSession;

// Hands every conversation that becomes final to a flow collector, for
// every session the engine makes, while an export is set up. The exporter
// queues and sends on its own thread; what runs under the traffic lock is
// one short lock here and the exporter's append.
//
// Start, Stop and Attach belong to the engine's owning thread; Stats to any.
class CFlowExportService {
 public:
  CFlowExportService() = default;
  ~CFlowExportService() { Stop(); }
  CFlowExportService(const CFlowExportService&) = delete;
  CFlowExportService& operator=(const CFlowExportService&) = delete;

  // Sends to `collector` from now on, in place of any earlier collector.
  void Start(const CCollectorAddress& collector);
  // Sends what is queued (within a bound) and ends the export. Idempotent.
  void Stop();
  bool Exporting() const;

  void Attach(CCaptureSession& session);

  // The counters of the running export, or of the last one stopped.
  std::optional<CFlowExportStats> Stats() const;

 private:
  mutable std::mutex mutex_;  // guards the two members; never held while waiting
  std::shared_ptr<CFlowExporter> exporter_;
  std::optional<CFlowExportStats> lastStats_;
  std::atomic<bool> exporting_{false};  // exporter_ is set; read without the lock
};
