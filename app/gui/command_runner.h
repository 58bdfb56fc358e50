#pragma once
// Runs the conversion command off the user-interface thread, so that the window keeps painting
// and can show how far a long load or save has come. The command's file dialogs, messages and
// wait cursor stay the front-end's, shown on its thread one at a time while the command waits,
// exactly as if it ran there; the load and the save go through a watched stream that reports its
// progress and can be stopped.
#include <QObject>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "app/command_flow.h"
#include "core/io_buffer.h"

namespace KX::gui {

// What the command is doing, for the progress display, and the user's say over it: hold (while
// the user is asked whether to stop) and stop.
class CWorkControl {
 public:
  enum class Phase { kIdle, kLoading, kChecking, kSaving };
  struct Snapshot {
    Phase phase = Phase::kIdle;
    std::string file;    // in the file system's encoding
    uint64_t done = 0;   // bytes read or written
    uint64_t total = 0;  // 0 while not known
  };

  // The command's side.
  void Enter(Phase phase, std::string file = {});
  void SetTotal(uint64_t total) { total_.store(total, std::memory_order_relaxed); }
  void SetDone(uint64_t done) { done_.store(done, std::memory_order_relaxed); }
  // Between two reads or writes: waits while the work is held; false once it is stopped.
  bool Continue();

  // The user's side.
  Snapshot Current() const;
  void Hold(bool held);
  void Stop();
  bool stopped() const { return stopped_.load(std::memory_order_acquire); }

  // Called by the command's thread before every read and write; tests stand in a slow disk
  // with it. Set before the command starts.
  void SetStreamHook(std::function<void()> hook) { hook_ = std::move(hook); }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  Phase phase_ = Phase::kIdle;
  std::string file_;
  bool held_ = false;
  std::atomic<bool> heldFlag_{false};
  std::atomic<bool> stopped_{false};
  std::atomic<uint64_t> done_{0};
  std::atomic<uint64_t> total_{0};
  std::function<void()> hook_;
};

// Passes everything to `inner` and tells `control` how far it has come; once the work is
// stopped every read, write and skip fails as a stream error.
class CWatchedIo final : public CIoBuffer {
 public:
  CWatchedIo(CIoBuffer& inner, CWorkControl& control) : inner_(inner), control_(control) {}

  bool IsEnd() const override { return inner_.IsEnd(); }
  bool FileExists(const std::string& path) const override { return inner_.FileExists(path); }
  Status GetFolder(std::string& folder) const override { return inner_.GetFolder(folder); }
  Status Reserve(int64_t totalBytes, int64_t largestRecord) override;
  // The progress of a save is measured against the announced size.
  bool WantsTotal() const override { return true; }
  Status Read(void* dest, size_t capacity, size_t count, int32_t cookie) override;
  Status ReadAside(void* dest, size_t count, int32_t cookie, LaterRead& later) override;
  bool CanReadAside() const override { return inner_.CanReadAside(); }
  Status Write(const void* source, size_t count, int32_t cookie) override;
  Status Skip(int64_t offset) override;
  uint64_t Tell() const override { return inner_.Tell(); }
  uint64_t Remaining() const override { return inner_.Remaining(); }

 private:
  Status Done(Status status);

  CIoBuffer& inner_;
  CWorkControl& control_;
};

// LoadFile through a watched stream: the same diagnostics; the total is the file's size.
Status WatchedLoad(CPersistContext& document, const std::string& path, CWorkControl& control);
// SaveFile through a watched stream, with its guarantees: the prop is written beside `path` under
// a temporary name and renamed over it only when complete; failed or stopped (even after the
// last write), the temporary file is removed and a file at `path` is left as it was. `reason`
// receives the system's word on a failure, when it has one.
Status WatchedSave(CPersistContext& document, const std::string& path, CWorkControl& control,
                   std::string* reason);

// Runs OnValidate on a thread of its own for a front-end that lives on the user-interface thread.
class CCommandRunner : public QObject, private IConverterUi {
  Q_OBJECT

 public:
  CCommandRunner(IConverterUi& front, CWorkControl& control);
  ~CCommandRunner() override;

  // Runs the command and answers how it ended. Events are processed meanwhile; the front-end's
  // calls are served among them. What the command threw is thrown again here, after its thread
  // has ended. Once the work is stopped the front-end hears nothing more: the dialogs answer
  // Cancel and the messages are dropped.
  CommandOutcome Run();

  // While held, the front-end's calls wait (so that nothing else opens while the user is being
  // asked whether to stop) and so do the load and the save.
  void Hold(bool held);

 signals:
  void finished();
  // Asks the user-interface thread, from the command's, to serve the call it waits for. A
  // connection made on the user-interface thread carries it: what the command's thread hands
  // over is then only the call under mutex_, never an object of the toolkit's that the other
  // thread reads (which the thread sanitizer, blind to the toolkit's own locks, would report).
  void serveRequested();

 private:
  // IConverterUi, called on the command's thread.
  bool ChooseFile(FileDialog mode, std::string& path) override;
  void ShowMessage(const std::string& text, MessageType type, const std::string& detail) override;
  void BeginWaitCursor() override;
  void EndWaitCursor() override;
  std::string Text(unsigned id) override;
  Status LoadDocument(CPersistContext& document, const std::string& path) override;
  Status SaveDocument(CPersistContext& document, const std::string& path) override;
  bool SaveFailed(const std::string& text, const std::string& detail) override;
  // Kept, with the load's warnings, for the detail of the next message the user sees.
  bool AcceptWarnings(const std::vector<std::string>& warnings) override;

  // Runs `call` on the user-interface thread and waits for it; answers `stopped` instead when
  // the work has been stopped by then.
  template <class R>
  R OnUiThread(R stopped, std::function<R()> call);
  void Serve();

  IConverterUi& front_;
  CWorkControl& control_;
  std::thread thread_;
  std::mutex mutex_;
  std::function<void()> pending_;  // the call the command waits for
  bool held_ = false;
  std::string saveReason_, savePath_;  // of the last save, when it failed: the system's word
  std::vector<std::string> warnings_;  // not told yet
  CommandOutcome outcome_ = CommandOutcome::kCancelled;
  std::exception_ptr error_;
};

}  // namespace KX::gui
