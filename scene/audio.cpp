#include "scene/audio.h"

#include <array>
#include <cstring>
#include <limits>

#include "core/alloc.h"
#include "object/archive.h"

namespace KX {

KX_DEFINE_CLASS(CAudioData, CCorva, 2, 0)
KX_DEFINE_CLASS(CAudioInstance, CSpatial, 2, 1)

namespace {

// Emitter blocks from this version on end with audioValue0.
constexpr int32_t kAudioValue0Version = 201;

constexpr int64_t kAudioDataMemorySize = 24;
constexpr int64_t kAudioInstanceMemorySize = 40;

// Bytes of a wave file before the samples: the RIFF header, the "fmt " chunk, the "data" chunk
// header.
constexpr size_t kWaveHeaderSize = 44;

template <class T>
void Put(std::vector<uint8_t>& bytes, size_t& at, const T& value) {
  std::memcpy(bytes.data() + at, &value, sizeof(T));
  at += sizeof(T);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Sound data

CAudioData::CAudioData(const CAudioData& other)
    : CCorva(other), format(other.format), samples(other.samples) {}

Status CAudioData::Clone(CRefPtr<CBase>& out) const {
  // The header is copied as it is: the samples keep their width, so must the header that says
  // how to read them.
  return CloneByCopy(*this, out);
}

Status CAudioData::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CCorva::AssignTo(target, released));
  auto* sound = KindOf<CAudioData>(target);
  if (!sound) return kErrMalformed;
  if (sound == this) return kOk;
  KX_RETURN_IF_FAILED(TryAssign(sound->samples, samples));
  sound->format = format;
  sound->modified = 1;
  return kOk;
}

Status CAudioData::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CCorva::Persist(ar));
  // The sample byte count is stored in 32 bits.
  if (ar.Saving() && samples.size() > std::numeric_limits<uint32_t>::max())
    return ar.Fail(kErrBadArgument);
  ar.Version(classRecord);
  ar("formatTag", format.formatTag)("channels", format.channels);
  ar("samplesPerSecond", format.samplesPerSecond);
  ar("averageBytesPerSecond", format.averageBytesPerSecond);
  ar("blockAlign", format.blockAlign)("bitsPerSample", format.bitsPerSample);
  uint32_t sampleBytes = SampleBytes();
  ar.Count(sampleBytes);
  if (ar.Loading()) {
    samples.clear();
    ar.Array("samples", samples, static_cast<int64_t>(sampleBytes));
  } else if (ar.Saving()) {
    ar.writer().FieldBytes("samples", samples.data(), samples.size());
  }
  return ar.status();
}

int64_t CAudioData::GetMemorySize() const { return CCorva::GetMemorySize() + kAudioDataMemorySize; }

Status EncodeWave(const CAudioData& sound, std::vector<uint8_t>& bytes) {
  const uint64_t dataSize = sound.samples.size();
  // RIFF chunks are padded to an even size; the pad byte is not part of the data.
  const uint64_t padding = dataSize & 1;
  const uint64_t riffSize = kWaveHeaderSize - 8 + dataSize + padding;
  if (riffSize > std::numeric_limits<uint32_t>::max()) return kErrBadArgument;
  KX_RETURN_IF_FAILED(TryResize(bytes, static_cast<size_t>(riffSize + 8)));
  PcmFormat format = sound.format;
  if (format.formatTag == 0) format.formatTag = kWaveFormatPcm;
  size_t at = 0;
  Put(bytes, at, std::array<char, 4>{'R', 'I', 'F', 'F'});
  Put(bytes, at, static_cast<uint32_t>(riffSize));
  Put(bytes, at, std::array<char, 8>{'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  Put(bytes, at, static_cast<uint32_t>(sizeof(PcmFormat)));
  Put(bytes, at, format);
  Put(bytes, at, std::array<char, 4>{'d', 'a', 't', 'a'});
  Put(bytes, at, static_cast<uint32_t>(dataSize));
  if (dataSize) std::memcpy(bytes.data() + at, sound.samples.data(), dataSize);
  if (padding) bytes.back() = 0;
  return kOk;
}

// ---------------------------------------------------------------------------------------------
// Emitter

Status CAudioInstance::Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const {
  const Status status = CSpatial::Duplicate(out, map);
  if (status != kOk) return status;
  if (audio) {
    auto* copy = static_cast<CAudioInstance*>(out.get());
    CRefPtr<CBase> audioCopy;
    KX_RETURN_IF_FAILED(audio->Duplicate(audioCopy, map));
    copy->audio = KindOf<CAudioData>(audioCopy.get());
    copy->modified = 1;
  }
  return kOk;
}

Status CAudioInstance::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CSpatial::Persist(ar));
  const int32_t version = ar.Version(classRecord);
  ar("audioValue1", audioValue1)("audioValue2", audioValue2)("audioValue3", audioValue3);
  ar("audioValue4", audioValue4)("audioValue5", audioValue5)("audioScale2", audioScale2);
  ar("audioScale3", audioScale3)("audioScale1", audioScale1).Ref("audio", audio);
  if (ar.Loading()) audioValue0 = 0;
  if (version >= kAudioValue0Version) ar("audioValue0", audioValue0);
  return ar.status();
}

int64_t CAudioInstance::GetMemorySize() const {
  return CSpatial::GetMemorySize() + kAudioInstanceMemorySize;
}

bool CAudioInstance::HasAttachments() const { return audio || CSpatial::HasAttachments(); }

void CAudioInstance::VisitReferences(CReferenceVisitor& visit) {
  CSpatial::VisitReferences(visit);
  visit(audio);
}

Status CAudioInstance::Update(float time) {
  KX_RETURN_IF_FAILED(CSpatial::Update(time));
  // Whatever the sound answers, the emitter is up to date.
  if (audio) audio->Update(time).Ignore();
  return kOk;
}

void CAudioInstance::SetAudio(CAudioData* object) {
  audio = object;
  modified = 1;
}

}  // namespace KX
