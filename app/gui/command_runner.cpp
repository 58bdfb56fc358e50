#include "app/gui/command_runner.h"

#include <QEventLoop>
#include <cerrno>
#include <cstring>
#include <future>

#include "core/atomic_file.h"
#include "object/container.h"

namespace KX::gui {

// ---------------------------------------------------------------------------------------------

void CWorkControl::Enter(Phase phase, std::string file) {
  std::lock_guard lock(mutex_);
  phase_ = phase;
  file_ = std::move(file);
  done_.store(0, std::memory_order_relaxed);
  total_.store(0, std::memory_order_relaxed);
}

bool CWorkControl::Continue() {
  if (hook_) hook_();
  if (heldFlag_.load(std::memory_order_acquire)) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !held_ || stopped(); });
  }
  return !stopped();
}

CWorkControl::Snapshot CWorkControl::Current() const {
  std::lock_guard lock(mutex_);
  return {phase_, file_, done_.load(std::memory_order_relaxed),
          total_.load(std::memory_order_relaxed)};
}

void CWorkControl::Hold(bool held) {
  {
    std::lock_guard lock(mutex_);
    held_ = held;
    heldFlag_.store(held, std::memory_order_release);
  }
  changed_.notify_all();
}

void CWorkControl::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopped_.store(true, std::memory_order_release);
  }
  changed_.notify_all();
}

// ---------------------------------------------------------------------------------------------

Status CWatchedIo::Done(Status status) {
  control_.SetDone(inner_.Tell());
  return status;
}

Status CWatchedIo::Reserve(int64_t totalBytes, int64_t largestRecord) {
  if (totalBytes > 0) control_.SetTotal(static_cast<uint64_t>(totalBytes));
  return inner_.Reserve(totalBytes, largestRecord);
}

Status CWatchedIo::Read(void* dest, size_t capacity, size_t count, int32_t cookie) {
  if (!control_.Continue()) return kErrStream;
  return Done(inner_.Read(dest, capacity, count, cookie));
}

Status CWatchedIo::ReadAside(void* dest, size_t count, int32_t cookie, LaterRead& later) {
  later = {};
  if (!control_.Continue()) return kErrStream;
  return Done(inner_.ReadAside(dest, count, cookie, later));
}

Status CWatchedIo::Write(const void* source, size_t count, int32_t cookie) {
  if (!control_.Continue()) return kErrStream;
  return Done(inner_.Write(source, count, cookie));
}

Status CWatchedIo::Skip(int64_t offset) {
  if (!control_.Continue()) return kErrStream;
  return Done(inner_.Skip(offset));
}

Status WatchedLoad(CPersistContext& document, const std::string& path, CWorkControl& control) {
  CFileIo file;
  if (const Status status = file.OpenRead(path); Failed(status)) {
    document.diagnostics = {};
    document.diagnostics.status = status;
    document.diagnostics.message = "cannot open " + path;
    return status;
  }
  control.SetTotal(file.size);
  CWatchedIo watched(file, control);
  const Status status = LoadFromStream(document, watched, 0);
  file.Close().Ignore();  // read-only: everything needed has been read
  document.stream = nullptr;
  return status;
}


Status WatchedSave(CPersistContext& document, const std::string& path, CWorkControl& control,
                   std::string* reason) {
  if (path.empty()) return kErrBadArgument;
  // The user confirmed replacing a file in the save dialog; a folder, link or device is still
  // never replaced.
  CAtomicFile target;
  if (const Status created = target.Create(path, true); Failed(created)) {
    if (reason) *reason = target.reason();
    return created;
  }
  CFileIo file;
  Status status = file.OpenWrite(target.temporaryPath());
  if (Succeeded(status)) {
    CWatchedIo watched(file, control);
    status = SaveToStream(document, watched, 0);
  }
  if (Succeeded(status)) status = file.Flush();
  const Status closed = file.Close();
  if (Succeeded(status)) status = closed;
  document.stream = nullptr;
  // A failed write answers a stream error; the file keeps the system's reason.
  if (status == kErrStream && file.writeError != 0 && reason && !control.stopped())
    *reason = std::strerror(file.writeError);
  // Stopped after the last write, the prop is complete; the user still asked for nothing.
  if (Succeeded(status) && control.stopped()) status = kErrStream;
  if (Succeeded(status)) {
    status = target.Commit();
    if (Failed(status) && reason) *reason = target.reason();
  }
  return status;  // an uncommitted temporary is removed with `target`
}

// ---------------------------------------------------------------------------------------------

CCommandRunner::CCommandRunner(IConverterUi& front, CWorkControl& control)
    : front_(front), control_(control) {
  connect(this, &CCommandRunner::serveRequested, this, &CCommandRunner::Serve,
          Qt::QueuedConnection);
}

CCommandRunner::~CCommandRunner() {
  // Run joins the thread before it returns or throws; this only guards a runner never run.
  if (thread_.joinable()) {
    control_.Stop();
    thread_.join();
  }
}

CommandOutcome CCommandRunner::Run() {
  QEventLoop loop;
  connect(this, &CCommandRunner::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
  thread_ = std::thread([this] {
    try {
      outcome_ = OnValidate(*this);
    } catch (...) {
      error_ = std::current_exception();
    }
    control_.Enter(CWorkControl::Phase::kIdle);
    emit finished();
  });
  loop.exec();
  thread_.join();
  if (error_) std::rethrow_exception(error_);
  return outcome_;
}

void CCommandRunner::Hold(bool held) {
  control_.Hold(held);
  {
    std::lock_guard lock(mutex_);
    held_ = held;
  }
  if (!held) Serve();
}

template <class R>
R CCommandRunner::OnUiThread(R stopped, std::function<R()> call) {
  if (control_.stopped()) return stopped;
  std::promise<R> result;
  std::future<R> answer = result.get_future();
  {
    std::lock_guard lock(mutex_);
    pending_ = [&] {
      try {
        // Stopped while the call waited to be served: the front-end hears nothing more.
        result.set_value(control_.stopped() ? stopped : call());
      } catch (...) {
        result.set_exception(std::current_exception());
      }
    };
  }
  emit serveRequested();
  return answer.get();
}

void CCommandRunner::Serve() {
  std::function<void()> call;
  {
    std::lock_guard lock(mutex_);
    if (held_ || !pending_) return;
    call = std::move(pending_);
    pending_ = nullptr;
  }
  call();
}

bool CCommandRunner::ChooseFile(FileDialog mode, std::string& path) {
  control_.Enter(CWorkControl::Phase::kIdle);
  return OnUiThread<bool>(false, [&] { return front_.ChooseFile(mode, path); });
}

void CCommandRunner::ShowMessage(const std::string& text, MessageType type,
                                 const std::string& detail) {
  control_.Enter(CWorkControl::Phase::kIdle);
  // What the load or the conversion dropped goes with the first message after it: the one
  // that tells whether the scene converts.
  std::string full = detail;
  for (const std::string& warning : warnings_)
    full += (full.empty() ? "" : "\n") + ("warning: " + warning);
  warnings_.clear();
  OnUiThread<bool>(false, [&] {
    front_.ShowMessage(text, type, full);
    return true;
  });
}

bool CCommandRunner::AcceptWarnings(const std::vector<std::string>& warnings) {
  warnings_.insert(warnings_.end(), warnings.begin(), warnings.end());
  return true;
}

bool CCommandRunner::SaveFailed(const std::string& text, const std::string& detail) {
  control_.Enter(CWorkControl::Phase::kIdle);
  // The system's word is the reason; the status a failed write answers only guesses at it.
  const std::string full =
      saveReason_.empty() ? detail : "writing " + savePath_ + " failed: " + saveReason_;
  saveReason_.clear();
  return OnUiThread<bool>(false, [&] { return front_.SaveFailed(text, full); });
}

void CCommandRunner::BeginWaitCursor() {
  OnUiThread<bool>(false, [&] {
    front_.BeginWaitCursor();
    return true;
  });
}

void CCommandRunner::EndWaitCursor() {
  OnUiThread<bool>(false, [&] {
    front_.EndWaitCursor();
    return true;
  });
}

std::string CCommandRunner::Text(unsigned id) {
  return OnUiThread<std::string>({}, [&] { return front_.Text(id); });
}

Status CCommandRunner::LoadDocument(CPersistContext& document, const std::string& path) {
  control_.Enter(CWorkControl::Phase::kLoading, path);
  const Status status = WatchedLoad(document, path, control_);
  control_.Enter(Succeeded(status) ? CWorkControl::Phase::kChecking : CWorkControl::Phase::kIdle,
                 path);
  // A failed load's detail lists its warnings already.
  if (Succeeded(status)) warnings_ = document.diagnostics.WarningLines();
  return status;
}

Status CCommandRunner::SaveDocument(CPersistContext& document, const std::string& path) {
  control_.Enter(CWorkControl::Phase::kSaving, path);
  saveReason_.clear();
  savePath_ = path;
  const Status status = WatchedSave(document, path, control_, &saveReason_);
  control_.Enter(CWorkControl::Phase::kIdle);
  return status;
}

}  // namespace KX::gui
