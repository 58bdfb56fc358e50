#pragma once
// Base of every object that lives in a scene file: three attachment chains (controllers, a second
// controller chain, custom data records) and the generic walks over them.
#include "object/base.h"

namespace KX {

class CControl;
class CCustomData;

class CCorva : public CBase {
  KX_DECLARE_CLASS(CCorva)

 public:
  // Pending-evaluation mark of a subtree evaluation; copied, never persisted. First, so that it
  // takes the room after CBase's fields.
  uint8_t flag = 0;
  CRefPtr<CControl> controllers;
  CRefPtr<CControl> controllers2;
  CRefPtr<CCustomData> customData;

  CCorva();
  // Copies the name and the mark; the chains start empty.
  CCorva(const CCorva& other);
  ~CCorva() override;

  Status Clone(CRefPtr<CBase>& out) const override;
  Status Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const override;
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  bool HasAttachments() const override;
  void VisitReferences(CReferenceVisitor& visit) override;

  virtual Status Update(float time);
  // Binds the references of this object and of every object the walk reaches through references
  // stated for name binding; each object looks its own names up in ResolveOwnNames.
  virtual Status ResolveNames(CBase* root);
  // After a graph was copied (the copies are the map's values): points the references of this
  // object and of every object reached through references stated for remapping at their copies,
  // as each statement says; each object then does what its RemapOwnReferences adds.
  virtual Status RemapReferences(DuplicateMap& map);
  virtual Status AttachController(CControl* controller);

  // What a class adds at each object these walks reach: references kept by name are looked up
  // with FindObject on the root; remapping that a statement cannot express. Both answer kOk here.
  virtual Status ResolveOwnNames(CBase* root);
  virtual Status RemapOwnReferences(DuplicateMap& map);

  CControl* GetController() const { return controllers.get(); }
  CControl* GetController2() const { return controllers2.get(); }
  CCustomData* GetCustomData() const { return customData.get(); }
  Status AttachController2(CControl* controller);
  Status AttachCustomData(CCustomData* record);
  Status DetachController(CControl* controller);
  void DetachAllControllers();
  CControl* GetLastController() const;
  CControl* GetLastController2() const;
  CCustomData* GetLastCustomData() const;

 private:
  Status AttachTo(CRefPtr<CControl>& head, CControl* controller);
};

}  // namespace KX
