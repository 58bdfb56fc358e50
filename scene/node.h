#pragma once
// Nodes: the spatial objects that hold other spatial objects, and so form the scene hierarchy.
// A child is in exactly one node's list and its `parent` names that node.
#include <optional>
#include <vector>

#include "scene/spatial.h"

namespace KX {

// A tag to match, or nullopt to copy regardless of tags.
using TagFilter = std::optional<uint32_t>;

class CNode : public CSpatial {
  KX_DECLARE_CLASS(CNode)

 public:
  // Owned, in order. Entries may be null (a reference a file could not resolve); every walk
  // skips them.
  std::vector<CRefPtr<CSpatial>> children;
  // Stored, copied and loaded; nothing here acts on them.
  bool option1 = true;
  bool option2 = true;
  bool option3 = false;
  // Compared by DuplicateNodes and CloneNodes against the caller's filter.
  uint32_t tag = 0;

  CNode() = default;
  // Copies the spatial part and the settings; the copy has no children.
  CNode(const CNode& other);
  // Lets go of every child, clearing its parent link.
  ~CNode() override;

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const override;
  // Besides the settings, moves every child of this node to the target, whose own children go to
  // `released`. A target inside this node's subtree would end up owning itself: refused with
  // kErrBadArgument before anything changes.
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  bool HasAttachments() const override;
  // The spatial part's references, then the children in list order, each followed by every walk.
  void VisitReferences(CReferenceVisitor& visit) override;
  Status Update(float time) override;
  void CollectSpatials(SpatialQueue& queue) override;
  // Each child's bound first, then this node's bound joins theirs (as they are, untransformed).
  // A node without children keeps its bound.
  Status UpdateBound() override;

  // Copies this node and the nodes below it, leaving out every child that is not a node. With a
  // filter that differs from `tag`, kNothingDone and no copy. A node the map holds already
  // answers its copy.
  virtual Status DuplicateNodes(DuplicateMap& map, CRefPtr<CNode>& out, TagFilter filter) const;
  // The same without a map.
  virtual Status CloneNodes(CRefPtr<CNode>& out, TagFilter filter) const;

  // Null: kNothingDone. A child that belongs to a node already, or that is this node or one of
  // its ancestors: kErrBadArgument, nothing changes. Otherwise appended.
  Status AddChild(CSpatial* child);
  // Null: kNothingDone. A child of another node: kErrBadArgument. Otherwise its parent link is
  // cleared and its first entry erased (kOk), or kNothingDone when the list did not hold it.
  Status RemoveChild(CSpatial* child);

 private:
  Status CopyNodes(DuplicateMap* map, CRefPtr<CNode>& out, TagFilter filter) const;
  // The child ids a load read, queued for the link with one empty entry each; old blocks padded
  // their lists with zero ids, which make no entry.
  Status QueueChildren(CReader& in, const std::vector<int32_t>& ids, bool old);
  // Links each entry to its child and makes this node the child's parent. A child that has a
  // parent already leaves its entry empty and the load refused.
  Status LinkChildren(CLinker& in);
};

// A node of its own class, for billboard groups; it has no data of its own.
class CBillboardNode : public CNode {
  KX_DECLARE_CLASS(CBillboardNode)

 public:
  CBillboardNode() = default;
  CBillboardNode(const CBillboardNode&) = default;

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status Persist(CArchive& ar) override;
};

}  // namespace KX
