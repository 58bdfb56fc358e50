#pragma once
// The small picture of a scene that a container file carries in its thumbnail section, with four
// values that are kept through load and save as they were found.
#include <cstdint>

#include "object/scene_object_base.h"
#include "image/pixel_buffer.h"

namespace KX {

class CThumbnail : public CCorva {
  KX_DECLARE_CLASS(CThumbnail)

 public:
  CPixelBuffer picture;
  int32_t value1 = 1;
  int32_t value2 = 0;
  bool flag2 = false;
  int32_t value3 = 0;

  CThumbnail() = default;
  // Copies the four values only: the name, the chains and the picture start empty.
  CThumbnail(const CThumbnail& other);
  ~CThumbnail() override;

  Status Clone(CRefPtr<CBase>& out) const override;
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
};

}  // namespace KX
