#pragma once
// Static class records: every persistent class has one, naming it in files and carrying its
// version. The chain of base records is the one persistence knows, which is not always the C++
// base class.
#include <cstdint>

#include "core/status.h"

namespace KX {

struct CRuntimeClass {
  const char* className;
  const CRuntimeClass* baseClass;
  int32_t major;
  int32_t minor;

  constexpr int32_t Version() const { return major * 100 + minor; }
  // True when `other` is this record or one of its bases.
  bool IsDerivedFrom(const CRuntimeClass* other) const {
    for (const CRuntimeClass* c = this; c; c = c->baseClass)
      if (c == other) return true;
    return false;
  }
};

}  // namespace KX

// Declares the class record and the two slots that only answer it.
#define KX_DECLARE_CLASS(ClassName)                                                      \
 public:                                                                                 \
  static const ::KX::CRuntimeClass classRecord;                                          \
  const ::KX::CRuntimeClass* GetRuntimeClass() const override { return &classRecord; } \
  ::KX::Status GetVersion() const override { return classRecord.Version(); }

#define KX_DEFINE_CLASS(ClassName, BaseName, major, minor) \
  const ::KX::CRuntimeClass ClassName::classRecord{#ClassName, &BaseName::classRecord, major, minor};
