#pragma once
// Data controllers of standard materials: the keyed material controller, a layer that adds
// weighted sub-controllers, and a clip controller that plays them one after another. Each holds
// the 51 values it animates and writes them into its material when applied.
#include <array>
#include <cstdint>
#include <vector>

#include "control/composite_parts.h"
#include "object/control.h"
#include "control/data_clip.h"
#include "object/fields.h"
#include "core/math/vector.h"
#include "material/material.h"

namespace KX {

// The texture channels whose offset and tiling a material controller animates, in stored order.
inline constexpr std::array<int32_t, 6> kAnimatedChannels{1, 2, 6, 8, 4, 9};

// An offset and a tiling of one texture channel, 16 bytes as stored.
struct UvTransformKey {
  CUvPair offset;
  CUvPair tiling{1.0f, 1.0f};
  friend bool operator==(const UvTransformKey&, const UvTransformKey&) = default;
};
static_assert(sizeof(UvTransformKey) == 16);

inline void DescribeValue(CFieldSink& sink, const char* name, const UvTransformKey& k) {
  CFieldRecord(sink, name)("offset", k.offset)("tiling", k.tiling);
}

// The twelve channel amounts of one key, 48 bytes as stored.
struct ChannelAmounts {
  float amount[CStandardMaterial::kChannels] = {};
  friend bool operator==(const ChannelAmounts&, const ChannelAmounts&) = default;
};
static_assert(sizeof(ChannelAmounts) == 48);

inline void DescribeValue(CFieldSink& sink, const char* name, const ChannelAmounts& k) {
  CFieldRecord(sink, name)("amount", k.amount);
}

// The values a material data controller holds, in the order they are applied. The first 27
// (colours, scalars, amounts) are the ones a layer blends.
struct MaterialValues {
  CVector3<float> ambient, diffuse, specular;
  std::array<float, 5> param{};  // the material's param[0..4]
  float param9 = 0.0f;           // the material's param[9]
  std::array<float, CStandardMaterial::kChannels> channelAmount{};
  std::array<UvTransformKey, kAnimatedChannels.size()> channels{};

  // The values as `material` holds them now.
  static MaterialValues Of(const CStandardMaterial& material);
  // The colours, scalars and amounts of `other`, times `w`, added to these.
  void AddBlended(const MaterialValues& other, float w);
  void ClearBlended();
  friend bool operator==(const MaterialValues&, const MaterialValues&) = default;
};

class CMaterialDataControl : public CDataControl {
  KX_DECLARE_CLASS(CMaterialDataControl)

 public:
  MaterialValues values;
  // Set once `values` were computed: until then there is nothing to write. Transient.
  bool hasValues = false;

  CMaterialDataControl() = default;
  CMaterialDataControl(const CMaterialDataControl&) = default;

  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  // Writes the values into the owner and invalidates it. Only a standard material has the
  // fields: any other owner answers kErrBadArgument and nothing is written. A controller that has
  // not computed values yet (never updated, disabled from the start, before its first clip)
  // answers kNothingDone rather than write placeholders over the material.
  Status ApplyData() override;

 protected:
  // The owner as a standard material, or null.
  CStandardMaterial* Material() const { return KindOf<CStandardMaterial>(owner); }
};

class CMaterialControl : public CMaterialDataControl {
  KX_DECLARE_CLASS(CMaterialControl)

 public:
  // Colours and the first three scalars.
  std::vector<float> times1;
  std::vector<CVector3<float>> ambientKeys, diffuseKeys, specularKeys;
  std::vector<float> param0Keys, param1Keys, param2Keys;
  // param[3], param[4] and param[9].
  std::vector<float> times2;
  std::vector<float> param3Keys, param4Keys, param9Keys;
  // The twelve channel amounts.
  std::vector<float> times3;
  std::vector<ChannelAmounts> amountKeys;
  // Per animated channel: key times and (offset, tiling) keys, taken as they are.
  std::array<std::vector<float>, kAnimatedChannels.size()> channelTimes;
  std::array<std::vector<UvTransformKey>, kAnimatedChannels.size()> channelKeys;

  // Where the last search over each time list ended; transient.
  int32_t cursor1 = 0, cursor2 = 0, cursor3 = 0;
  std::array<int32_t, kAnimatedChannels.size()> channelCursor{};

  CMaterialControl() = default;
  CMaterialControl(const CMaterialControl& other);

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  // The latest key of any list.
  float GetDuration() const override;
  // The values for the mapped time: the material's own where a group has no keys, each
  // channel's key near the time, or offset 0 and tiling 1 for a channel without keys.
  Status Update(float time) override;

 private:
  void ResetCursors();
};

class CMaterialLayerControl : public CCompositeControl<CMaterialDataControl, CMaterialDataControl> {
  KX_DECLARE_CLASS(CMaterialLayerControl)

 public:
  CLayer<CMaterialDataControl> layer;
  // One track per sub-controller: its weight at each of the weight keys.
  std::vector<std::vector<float>> weightTracks;
  std::vector<float> weightTimes;
  int32_t weightCursor = 0;  // transient

  CMaterialLayerControl() = default;
  // Copies the weights; the sub-controllers are links and are not copied.
  CMaterialLayerControl(const CMaterialLayerControl& other)
      : CCompositeControl(other),
        layer(other.layer),
        weightTracks(other.weightTracks),
        weightTimes(other.weightTimes) {}

  CLayer<CMaterialDataControl>& Part() override { return layer; }
  const CLayer<CMaterialDataControl>& Part() const override { return layer; }

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;

  float GetDuration() const override { return layer.LongestDuration(); }
  // Adds the weighted colours, scalars and amounts of every sub-controller; the texture
  // offsets and tilings stay as the material has them.
  Status Update(float time) override;

  // The weight of every sub-controller at scene time `time`.
  std::vector<float> WeightsAt(float time);
};

class CMaterialClipControl
    : public CDataClipControl<CMaterialDataControl, CMaterialDataControl, CMaterialClipControl> {
  KX_DECLARE_CLASS(CMaterialClipControl)

 public:
  CMaterialClipControl() = default;
  CMaterialClipControl(const CMaterialClipControl&) = default;

 protected:
  // The values of the clip played are the values applied.
  void TakeFrom(const CMaterialDataControl& source) override {
    values = source.values;
    hasValues = source.hasValues;
  }
};

}  // namespace KX
