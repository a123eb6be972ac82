#include "engine/capture_controller.h"

#include <pcap/pcap.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <span>

#include "engine/capture_privileges.h"
#include "engine/capture_session.h"
#include "engine/notification_sink.h"
#include "engine/packet_decoder.h"
#include "flows/frame_saver.h"
#include "wire/link_layer.h"

namespace {

// Frames are decoded inline on this thread, so it should win against the
// user interface and the refresh worker. Raising priority needs privileges
// the program usually lacks; then it runs at normal priority.
void RaiseThreadPriority() {
  const int tid = static_cast<int>(gettid());
  (void)setpriority(PRIO_PROCESS, static_cast<id_t>(tid), -10);
}

std::string ActivateError(pcap_t* handle, int status) {
  const char* detail = pcap_geterr(handle);
  if (detail != nullptr && detail[0] != '\0') return detail;
  return pcap_statustostr(status);
}

// pcap_open_live's settings with a larger kernel buffer, so bursts survive
// a busy moment of the decoder. Null with `reason` set when it fails.
pcap_t* OpenDevice(const std::string& name, std::string& reason) {
  char errbuf[PCAP_ERRBUF_SIZE] = "";
  pcap_t* handle = pcap_create(name.c_str(), errbuf);
  if (handle == nullptr) {
    reason = errbuf;
    return nullptr;
  }
  pcap_set_snaplen(handle, CCaptureController::kSnapshotLength);
  pcap_set_promisc(handle, 1);
  pcap_set_timeout(handle, CCaptureController::kReadTimeoutMs);
  pcap_set_buffer_size(handle, CCaptureController::kBufferBytes);
  int status = 0;
  {
    // The only moment capture privileges are in effect.
    const CCapturePrivileges privileges;
    status = pcap_activate(handle);
  }
  if (status < 0) {
    reason = ActivateError(handle, status);
    pcap_close(handle);
    return nullptr;
  }
  return handle;
}

std::string Format(const char* format, const std::string& a, const std::string& b) {
  const int n = std::snprintf(nullptr, 0, format, a.c_str(), b.c_str());
  if (n <= 0) return {};
  std::string text(static_cast<std::size_t>(n), '\0');
  std::snprintf(text.data(), text.size() + 1, format, a.c_str(), b.c_str());
  return text;
}

}  // namespace

CCaptureController::CCaptureController(CNotificationSink& sink) : sink_(sink) {}

CCaptureController::~CCaptureController() { Stop(); }

void CCaptureController::SetEndedListener(std::function<void(int)> listener) {
  std::lock_guard<std::mutex> lock(listenerMutex_);
  endedListener_ = std::move(listener);
}

std::string CCaptureController::DeviceName() const {
  std::lock_guard<std::mutex> lock(deviceMutex_);
  return device_.deviceName;
}

void CCaptureController::SetFrameSaving(CFrameSaving saving) { nextSaving_ = std::move(saving); }

std::unique_ptr<CFrameSaver> CCaptureController::OpenFrameSaver(pcap_t* handle) {
  if (saving_.path.empty()) return nullptr;
  CFrameSaver::Options options;
  options.path = saving_.path;
  options.linkType = pcap_datalink(handle);
  options.snapLength = pcap_snapshot(handle);
  options.limitMiB = saving_.limitMiB;
  options.keepFiles = saving_.keepFiles;
  options.onStopped = [this](const std::string& message) { sink_.Post(message); };
  auto saver = std::make_unique<CFrameSaver>(std::move(options));
  std::string error;
  if (!saver->Open(&error)) {
    sink_.Post("Frames are not saved: " + error);
    return nullptr;
  }
  return saver;
}

void CCaptureController::Start(std::shared_ptr<CCaptureSession> session,
                               const CInterfaceRecord& device) {
  Stop();
  session_ = std::move(session);
  {
    std::lock_guard<std::mutex> lock(deviceMutex_);
    device_ = device;
  }
  framesSeen_ = 0;
  framesRecorded_ = 0;
  kernelDrops_ = 0;
  interfaceDrops_ = 0;
  framesSaved_ = 0;
  framesNotSaved_ = 0;
  saving_ = nextSaving_;
  const int traceId = traceId_.load() + 1;
  traceId_.store(traceId);
  running_.store(1);
  capturing_.store(1);
  thread_ = std::thread(&CCaptureController::CaptureThreadProc, this, traceId);
}

void CCaptureController::Stop() {
  if (!thread_.joinable()) return;
  running_.store(0);
  {
    std::lock_guard<std::mutex> lock(handleMutex_);
    if (handle_ != nullptr) pcap_breakloop(handle_);
  }
  thread_.join();
  capturing_.store(0);
}

CCaptureStats CCaptureController::Stats() const {
  CCaptureStats s;
  s.framesSeen = framesSeen_.load();
  s.framesRecorded = framesRecorded_.load();
  s.kernelDrops = kernelDrops_.load();
  s.interfaceDrops = interfaceDrops_.load();
  s.framesSaved = framesSaved_.load();
  s.framesNotSaved = framesNotSaved_.load();
  return s;
}

void CCaptureController::CaptureThreadProc(int traceId) {
  RaiseThreadPriority();
  std::string reason;
  pcap_t* handle = OpenDevice(device_.deviceName, reason);
  if (handle == nullptr) {
    std::fprintf(stderr, "\nUnable to open the adapter. %s: %s\n", device_.deviceName.c_str(),
                 reason.c_str());
    sink_.Post(Format("Unable to open the adapter %s.\n%s", device_.deviceName, reason));
    EndedByItself(traceId);
    return;
  }
  {
    // Stop may have come while the device was opening; it could not break
    // a loop that had not started, so look before entering it.
    std::lock_guard<std::mutex> lock(handleMutex_);
    if (running_.load() == 0) {
      pcap_close(handle);
      return;
    }
    handle_ = handle;
  }
  ReadFrames(handle);
  UpdateKernelStats(handle);
  {
    std::lock_guard<std::mutex> lock(handleMutex_);
    handle_ = nullptr;
  }
  pcap_close(handle);
  if (running_.load() != 0) EndedByItself(traceId);
}

void CCaptureController::ReadFrames(pcap_t* handle) {
  const CInterfaceRecord& device = device_;
  const int linkType = pcap_datalink(handle);
  const bool supported = IsSupportedLinkType(linkType);
  if (!supported) {
    char number[16];
    sink_.Post(Format(
        "The interface %s has the link type %s, which cannot be decoded; no packets will be "
        "recorded.",
        device.deviceName, LinkTypeName(linkType, number)));
  }
  CPacketDecoder decoder(*session_, device);
  const std::unique_ptr<CFrameSaver> saver = OpenFrameSaver(handle);
  const bool saveAll = saving_.allFrames;
  const CCancelToken& cancel = session_->Cancel();
  auto lastStats = std::chrono::steady_clock::now();
  for (;;) {
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    const int status = pcap_next_ex(handle, &header, &data);
    if (status == 1) {
      framesSeen_.fetch_add(1, std::memory_order_relaxed);
      // A frame that arrives after Stop is not recorded.
      if (running_.load(std::memory_order_relaxed) != 0) {
        const bool recorded = supported && RecordFrame(decoder, linkType, *header, data);
        if (saver && (saveAll || recorded)) SaveFrame(*saver, *header, data);
      }
    } else if (status == 0) {
      decoder.Idle();
    } else if (status < 0) {
      // A break comes from Stop; anything else is the device failing (it
      // was unplugged or taken down) and ends the trace by itself.
      if (status != PCAP_ERROR_BREAK && running_.load() != 0) {
        sink_.Post(Format("Capture on %s stopped: %s", device.deviceName, pcap_geterr(handle)));
      }
      break;
    }
    // The time-out path looks at the flags too, so Stop and quitting never
    // wait for traffic.
    if (running_.load() == 0 || cancel.Cancelled()) break;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastStats >= std::chrono::seconds(1)) {
      lastStats = now;
      UpdateKernelStats(handle);
    }
  }
  // The last conversations' programs are a look-up (milliseconds) away;
  // they should be there when the trace's conversations become final.
  if (!cancel.Cancelled()) decoder.Drain(kProcessDrainMs);
}

bool CCaptureController::RecordFrame(CPacketDecoder& decoder, int linkType,
                                     const pcap_pkthdr& header, const u_char* data) {
  const auto ip = IpFromFrame(linkType, std::span<const uint8_t>(data, header.caplen));
  if (!ip) return false;
  const CTimeStamp time{static_cast<int32_t>(header.ts.tv_sec),
                        static_cast<int32_t>(header.ts.tv_usec)};
  if (decoder.Decode(*ip, time) != EDecodeResult::kRecorded) return false;
  framesRecorded_.fetch_add(1, std::memory_order_relaxed);
  return true;
}

void CCaptureController::SaveFrame(CFrameSaver& saver, const pcap_pkthdr& header,
                                   const u_char* data) {
  saver.Save(header, data);
  framesSaved_.store(saver.FramesSaved(), std::memory_order_relaxed);
  framesNotSaved_.store(saver.FramesLost(), std::memory_order_relaxed);
}

void CCaptureController::UpdateKernelStats(pcap_t* handle) {
  pcap_stat stat{};
  if (pcap_stats(handle, &stat) != 0) return;
  kernelDrops_.store(stat.ps_drop);
  interfaceDrops_.store(stat.ps_ifdrop);
}

void CCaptureController::EndedByItself(int traceId) {
  capturing_.store(0);
  std::lock_guard<std::mutex> lock(listenerMutex_);
  if (endedListener_) endedListener_(traceId);
}
