#include "engine/flow_export_service.h"

#include "engine/capture_session.h"

void CFlowExportService::Start(const CCollectorAddress& collector) {
  Stop();
  CFlowExporter::Options options;
  options.collector = collector;
  auto exporter = std::make_shared<CFlowExporter>(std::move(options));
  exporter->Start();
  std::lock_guard<std::mutex> lock(mutex_);
  exporter_ = std::move(exporter);
  lastStats_.reset();
  exporting_.store(true);
}

void CFlowExportService::Stop() {
  std::shared_ptr<CFlowExporter> exporter;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    exporter.swap(exporter_);
    exporting_.store(false);
  }
  if (exporter == nullptr) return;
  // Waiting for the sender happens with no lock held; a consumer that still
  // holds the exporter counts its late records as unsent.
  exporter->Stop(CFlowExporter::kDefaultStopBound);
  std::lock_guard<std::mutex> lock(mutex_);
  lastStats_ = exporter->Stats();
}

bool CFlowExportService::Exporting() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return exporter_ != nullptr;
}

void CFlowExportService::Attach(CCaptureSession& session) {
  session.AddFinalConsumer([this](const CConversationSnapshot& s) {
    std::shared_ptr<CFlowExporter> exporter;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      exporter = exporter_;
    }
    if (exporter) exporter->Add(s);
  }, [this] { return exporting_.load(std::memory_order_relaxed); });
}

std::optional<CFlowExportStats> CFlowExportService::Stats() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (exporter_) return exporter_->Stats();
  return lastStats_;
}
