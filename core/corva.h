#pragma once
// Base of every object that lives in a scene file: three attachment chains (controllers, a second
// controller chain, custom data records) and the generic walks over them.
#include "core/base.h"

namespace KX {

class CControl;
class CCustomData;

class CCorva : public CBase {
  KX_DECLARE_CLASS(CCorva)

 public:
  CRefPtr<CControl> controllers;
  CRefPtr<CControl> controllers2;
  CRefPtr<CCustomData> customData;
  // Pending-evaluation mark of a subtree evaluation; copied, never persisted.
  uint8_t flag = 0;

  CCorva();
  // Copies the name and the mark; the chains start empty.
  CCorva(const CCorva& other);
  ~CCorva() override;

  CBase* FindObject(NameFilter name, const CRuntimeClass* cls, bool kindOf) override;
  void FindObjects(std::vector<CBase*>& list, NameFilter name, const CRuntimeClass* cls,
                   bool kindOf) override;
  Status Clone(CRefPtr<CBase>& out) const override;
  Status Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const override;
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Load(CReader& in) override;
  Status Link(CLinker& in) override;
  Status CollectForSave(CPersistContext& context) override;
  Status Save(CWriter& out) const override;
  int64_t GetMemorySize() const override;
  int64_t GetSaveSize() const override;
  bool HasAttachments() const override;
  void VisitReferences(CReferenceVisitor& visit) override;

  virtual Status Update(float time);
  virtual Status ResolveNames(CBase* root);
  virtual Status RemapReferences(DuplicateMap& map);
  virtual Status AttachController(CControl* controller);

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
