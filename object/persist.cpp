#include "object/persist.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "core/block_reads.h"
#include "object/container.h"
#include "object/load_jobs.h"

namespace KX {

int32_t CLoadRecord::StoredVersion(const CRuntimeClass& cls, int32_t streamVersion) const {
  for (const auto& entry : classVersions)
    if (entry.cls == &cls) return entry.version;
  return streamVersion < kFirstNewLayoutVersion ? streamVersion : cls.Version();
}

void CLoadRecord::SetStoredVersion(const CRuntimeClass& cls, int32_t version) {
  if (version == cls.Version() && classVersions.empty()) return;  // the common case
  for (auto& entry : classVersions)
    if (entry.cls == &cls) {
      entry.version = version;
      return;
    }
  classVersions.push_back({&cls, version});
}

// ---------------------------------------------------------------------------------------------

CReader& CReader::ReadBytesThroughStream(void* dest, size_t count) {
  if (ok()) Fail(stream_.Read(dest, count, count, cookie_));
  return *this;
}

namespace {

// Hands the read of a piece of an array to the load's jobs, which fail the load as the Load that
// asked for it would have failed there; a read that cannot be handed over is done now.
Status QueueBlockRead(CLoadJobs& jobs, int fd, uint64_t offset, char* dest, size_t bytes) {
  std::shared_ptr<CBlockRead> read;
  try {
    read = std::make_shared<CBlockRead>(fd, offset, dest, bytes);
  } catch (const std::bad_alloc&) {
    return CBlockRead(fd, offset, dest, bytes).Run();
  }
  if (Succeeded(jobs.Queue([read] { return read->Run(); }))) return kOk;
  return read->Run();
}

}  // namespace

bool CReader::ReadsAside() const {
  return context_ && context_->jobs && !inPlace_ && stream_.CanReadAside();
}

void CReader::ReadBytesAside(void* dest, size_t count) {
  CIoBuffer::LaterRead later;
  if (const Status read = stream_.ReadAside(dest, count, cookie_, later); Failed(read)) {
    Fail(read);
    std::memset(dest, 0, count);
    return;
  }
  char* const rest = static_cast<char*>(dest) + (count - later.bytes);
  size_t done = 0;
  while (done < later.bytes && ok()) {
    const size_t piece = std::min(kAsidePieceBytes, later.bytes - done);
    Fail(QueueBlockRead(*context_->jobs, later.fd, later.offset + done, rest + done, piece));
    done += piece;
  }
  // A piece read here that failed left zeros itself; the pieces after it were never asked for.
  if (done < later.bytes) std::memset(rest + done, 0, later.bytes - done);
}

CReader& CReader::Skip(uint64_t count) {
  if (!ok()) return *this;
  if (count > Remaining()) {
    Fail(kErrStream);
    return *this;
  }
  Fail(stream_.Skip(static_cast<int64_t>(count)));
  return *this;
}

CReader& CReader::Read(bool& value) {
  uint8_t byte = 0;
  ReadBytes(&byte, 1);
  if (ok()) value = byte != 0;
  return *this;
}

bool CReader::CanHold(int64_t count, size_t elementSize) {
  if (!ok()) return false;
  // count * elementSize > Remaining(), without a division; a product that overflows is too large.
  uint64_t bytes = 0;
  if (count < 0 || __builtin_mul_overflow(static_cast<uint64_t>(count), elementSize, &bytes) ||
      bytes > Remaining()) {
    Fail(kErrStream);
    return false;
  }
  return true;
}

CReader& CReader::Read(std::string& text) {
  const int32_t count = Get<int32_t>();
  if (!CanHold(count, 1)) return *this;
  try {
    text.resize(static_cast<size_t>(count));
  } catch (const std::bad_alloc&) {
    Fail(kErrOutOfMemory);
    return *this;
  }
  return ReadBytes(text.data(), text.size());
}

CReader& CReader::Read(std::u16string& text) {
  if (OldLayout()) {
    // Old tools stored names as 8-bit text in the classic C locale, where every byte stands for
    // the UTF-16 unit of the same value.
    std::string narrow;
    Read(narrow);
    if (!ok()) return *this;
    text.assign(narrow.size(), u'\0');
    for (size_t i = 0; i < narrow.size(); ++i) text[i] = static_cast<uint8_t>(narrow[i]);
    return *this;
  }
  const int32_t count = Get<int32_t>();
  if (!CanHold(count, 2)) return *this;
  try {
    text.resize(static_cast<size_t>(count));
  } catch (const std::bad_alloc&) {
    Fail(kErrOutOfMemory);
    return *this;
  }
  return ReadBytes(text.data(), text.size() * 2);
}

int32_t CReader::Version(const CRuntimeClass& cls) {
  if (!ok()) return 0;
  int32_t version = streamVersion_;
  if (!OldLayout()) {
    int32_t major = 0, minor = 0;
    // Both words in one copy where the stream holds them in its window; otherwise one by one,
    // so that a pair cut short fails where it always did.
    if (int32_t pair[2]; ok() && stream_.TryReadInline(pair, sizeof pair)) {
      major = pair[0];
      minor = pair[1];
    } else {
      Read(major).Read(minor);
    }
    if (!ok()) return 0;
    // Computed wide so that hostile pairs cannot overflow.
    const int64_t stored = static_cast<int64_t>(major) * 100 + minor;
    if (stored > cls.Version()) {
      Fail(kErrNewerVersion);
      if (context_)
        context_->diagnostics.message = std::string("class ") + cls.className + " stored as " +
                                        std::to_string(major) + "." + std::to_string(minor) +
                                        ", newer than this program's " +
                                        std::to_string(cls.major) + "." + std::to_string(cls.minor);
      return 0;
    }
    version = static_cast<int32_t>(stored);
  }
  // The old layout stores no versions at all: every level is at the stream version.
  if (record_ && !OldLayout()) {
    try {
      record_->SetStoredVersion(cls, version);
    } catch (const std::bad_alloc&) {
      Fail(kErrOutOfMemory);
    }
  }
  return version;
}

CReader& CReader::Ref(int32_t& id) {
  if (ok() && context_ && context_->referenceOffsets) {
    try {
      context_->referenceOffsets->push_back(Offset());
    } catch (const std::bad_alloc&) {
      Fail(kErrOutOfMemory);
      return *this;
    }
  }
  Read(id);
  if (ok()) QueueId(id);
  return *this;
}

void CReader::QueueId(int32_t id) {
  if (!record_) return;
  try {
    record_->ids.push_back(id);
  } catch (const std::bad_alloc&) {
    Fail(kErrOutOfMemory);
  }
}

void CReader::ReplaceObject(CBase* shared) {
  if (record_ && shared) record_->object = shared;
}

CReader& CReader::Ref() {
  int32_t id = 0;
  return Ref(id);
}

void CReader::RegisterId(int32_t id) {
  if (!context_ || !record_) return;
  try {
    if (!context_->objects.Insert(id, record_)) context_->duplicates.emplace(id, record_);
  } catch (const std::bad_alloc&) {
    Fail(kErrOutOfMemory);
  }
}

// ---------------------------------------------------------------------------------------------

int32_t CLinker::NextId() {
  if (record_.idCursor >= record_.ids.size()) return 0;
  return record_.ids[record_.idCursor++];
}

CBase* CLinker::NextObject() { return context_.ObjectForId(NextId()); }

int32_t CLinker::StoredVersion(const CRuntimeClass& cls) const {
  return record_.StoredVersion(cls, context_.version);
}

int32_t CLinker::StreamVersion() const { return context_.version; }

void CLinker::Refuse(Status status, std::string message) {
  if (Succeeded(context_.linkRefusal)) {
    context_.linkRefusal = Failed(status) ? status : kErrMalformed;
    context_.linkRefusalMessage = std::move(message);
  }
}

void CLinker::WrongClass(CBase* object, const CRuntimeClass& expected) {
  context_.Warn(&record_, std::string("refers to a ") + object->GetRuntimeClass()->className +
                             " where a " + expected.className +
                             " belongs; the reference was dropped");
}

// ---------------------------------------------------------------------------------------------

CWriter& CWriter::StoreBytesThroughStream(const void* source, size_t count) {
  if (ok() && count) {
    Fail(stream_->Write(source, count, cookie_));
    if (ok()) written_ += count;
  }
  return *this;
}

CWriter& CWriter::Store(bool value) {
  const uint8_t byte = value ? 1 : 0;
  return StoreBytes(&byte, 1);
}

CWriter& CWriter::Store(std::string_view text) {
  Store(static_cast<int32_t>(text.size()));
  return StoreBytes(text.data(), text.size());
}

CWriter& CWriter::Store(const std::u16string& text) {
  Store(static_cast<int32_t>(text.size()));
  return StoreBytes(text.data(), text.size() * 2);
}

CWriter& CWriter::FieldBytes(const char* name, const void* source, size_t count) {
  if (fields_)
    fields_->Bytes(name, std::span<const uint8_t>(static_cast<const uint8_t*>(source), count));
  return StoreBytes(source, count);
}

CWriter& CWriter::Version(const CRuntimeClass& cls) {
  if (fields_) fields_->Level(cls);
  // Every level of every record starts with the pair: one store for both.
  const int32_t pair[2] = {cls.major, cls.minor};
  return StoreBytes(pair, sizeof pair);
}

int32_t CWriter::IdOf(const CBase* object) const {
  if (!object || !context_) return 0;
  if (const int32_t* near = context_->SaveIdNear(object)) return *near;
  const int32_t* id = context_->saveIds.Find(object);
  return id ? *id : 0;
}

CWriter& CWriter::Ref(const char* name, const CBase* object) {
  const int32_t id = IdOf(object);
  if (fields_) fields_->Reference(name, id);
  return Store(id);
}

}  // namespace KX
