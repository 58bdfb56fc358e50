#pragma once
// The references an object holds, stated once per class. Every generic walk over a graph of
// objects (searching, collection for saving, name binding, remapping after a copy) is driven from
// these statements by one walker (object/walker.h); the loader uses them to check ownership and to
// clear references that would dangle.
//
// A class states its references in VisitReferences, base class first, each in the order its walks
// visit it:
//
//   void CSpatial::VisitReferences(CReferenceVisitor& visit) {
//     CCorva::VisitReferences(visit);
//     visit(attachment, kSearch | kCollect);  // owned; name binding and remapping stop here
//     visit(bounding);                         // owned, followed by every walk
//     visit(parent);                           // plain back-link, followed by none
//   }
//
// A CRefPtr is an owned (counted) reference, a raw pointer a plain one. Owned references are
// followed by every walk unless the statement says otherwise; plain references by none unless it
// names the walks.
#include <cstdint>

#include "core/ref_ptr.h"

namespace KX {

class CBase;

// Which walks follow a reference, and what remapping after a copy does with it.
using Walks = uint16_t;
inline constexpr Walks kSearch = 1u << 0;   // FindObject, FindObjects
inline constexpr Walks kCollect = 1u << 1;  // CollectForSave
inline constexpr Walks kResolve = 1u << 2;  // ResolveNames
inline constexpr Walks kRemap = 1u << 3;    // RemapReferences continues into the target
// RemapReferences points the reference at its target's copy, or clears it when the target was
// not copied.
inline constexpr Walks kRetarget = 1u << 4;
// RemapReferences points the reference at its target's copy; a reference that already names a
// copy stays, and one whose target was not copied fails the walk (malformed).
inline constexpr Walks kRetargetOrFail = 1u << 5;
inline constexpr Walks kFollowAll = kSearch | kCollect | kResolve | kRemap;
inline constexpr Walks kNoWalk = 0;

// One stated reference, as a visitor receives it.
struct CReference {
  CBase* target = nullptr;  // never null: empty references are not visited
  Walks walks = kNoWalk;
  void* slot = nullptr;
  // Empties the slot (and undoes what filling it implied, such as a child's parent link).
  void (*clear)(void* slot) = nullptr;
  // Points the slot at `object`; answers false and leaves the slot alone when the object is not
  // of the slot's class.
  bool (*assign)(void* slot, CBase* object) = nullptr;

  bool Follows(Walks walk) const { return (walks & walk) != 0; }
  void Clear() const { clear(slot); }
  bool Assign(CBase* object) const { return assign(slot, object); }
};

class CReferenceVisitor {
 public:
  virtual ~CReferenceVisitor() = default;
  virtual void Owned(const CReference& ref) = 0;
  virtual void Plain(const CReference&) {}

  // An owned reference.
  template <class T>
  void operator()(CRefPtr<T>& ref, Walks walks = kFollowAll) {
    if (ref) Owned(MakeOwned(ref, walks, &ClearOwned<T>));
  }
  // An owned reference whose clearing must undo more than the slot (see CReference::clear).
  template <class T>
  void operator()(CRefPtr<T>& ref, Walks walks, void (*clear)(void*)) {
    if (ref) Owned(MakeOwned(ref, walks, clear));
  }
  // A plain reference.
  template <class T>
  void operator()(T*& ref, Walks walks = kNoWalk) {
    if (ref) Plain(CReference{Upcast(ref), walks, &ref, &ClearPlain<T>, &AssignPlain<T>});
  }
  // Every entry of a list, in list order.
  template <class List>
  void Each(List& list, Walks walks) {
    for (auto& entry : list) (*this)(entry, walks);
  }
  template <class List>
  void Each(List& list) {
    for (auto& entry : list) (*this)(entry);
  }

 private:
  // T may be incomplete where a class states its references only through a base's header; the
  // conversion needs it complete, which is why these are templates instantiated at the call.
  template <class T>
  static CBase* Upcast(T* object) {
    return object;
  }
  template <class T>
  static CReference MakeOwned(CRefPtr<T>& ref, Walks walks, void (*clear)(void*)) {
    return CReference{Upcast(ref.get()), walks, &ref, clear, &AssignOwned<T>};
  }
  template <class T>
  static void ClearOwned(void* slot) {
    *static_cast<CRefPtr<T>*>(slot) = nullptr;
  }
  template <class T>
  static void ClearPlain(void* slot) {
    *static_cast<T**>(slot) = nullptr;
  }
  template <class T>
  static bool AssignOwned(void* slot, CBase* object);
  template <class T>
  static bool AssignPlain(void* slot, CBase* object);
};

}  // namespace KX
