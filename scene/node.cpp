#include "scene/node.h"

#include <string>

#include "core/alloc.h"
#include "object/archive.h"
#include "object/container.h"
#include "scene/scene_archive.h"

namespace KX {

KX_DEFINE_CLASS(CNode, CSpatial, 2, 1)
KX_DEFINE_CLASS(CBillboardNode, CNode, 2, 0)

namespace {

// Stored versions at which the block changed: 2.0 made the tag meaningful and stopped skipping
// zero child ids, 2.1 added option3.
constexpr int32_t kCurrentBlockVersion = 200;
constexpr int32_t kOption3Version = 201;

// What an estimate of a node's memory adds to the spatial part, besides 4 per child.
constexpr int64_t kNodeMemorySize = 36;

// Clears one entry of a child list for the loader when it breaks up a graph it refused; the child
// is no longer in the list, so it must not name the node as its parent either.
void DropChild(void* slot) {
  auto& child = *static_cast<CRefPtr<CSpatial>*>(slot);
  if (child) child->parent = nullptr;
  child = nullptr;
}

}  // namespace

CNode::CNode(const CNode& other)
    : CSpatial(other),
      option1(other.option1),
      option2(other.option2),
      option3(other.option3),
      tag(other.tag) {}

CNode::~CNode() {
  // Last first, so the list never shifts; a child that outlives the node must not point at it.
  while (!children.empty()) {
    if (CSpatial* child = children.back().get(); child && child->parent == this)
      child->parent = nullptr;
    children.pop_back();
  }
}

Status CNode::Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const {
  const Status status = CSpatial::Duplicate(out, map);
  if (status != kOk) return status;
  auto* copy = static_cast<CNode*>(out.get());
  for (const auto& child : children) {
    if (!child) continue;
    CRefPtr<CBase> childCopy;
    KX_RETURN_IF_FAILED(child->Duplicate(childCopy, map));
    KX_RETURN_IF_FAILED(copy->AddChild(SlotCast<CSpatial>(childCopy.get())));
  }
  return kOk;
}

Status CNode::AssignTo(CBase* target, ReleasedList& released) const {
  // Moving the children under a node of their own subtree would make that node its own ancestor.
  if (const auto* spatial = KindOf<CSpatial>(target))
    for (const CNode* p = spatial->parent; p; p = p->parent)
      if (p == this) return kErrBadArgument;
  KX_RETURN_IF_FAILED(CSpatial::AssignTo(target, released));
  auto* node = KindOf<CNode>(target);
  if (!node) return kErrMalformed;
  node->option1 = option1;
  node->option2 = option2;
  node->tag = tag;
  node->option3 = option3;
  if (node == this) return kOk;

  std::vector<CRefPtr<CSpatial>> moving;
  try {
    moving = children;
    released.reserve(released.size() + node->children.size());
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  // The target's own children leave its list, so their parent links go too: `released` may keep
  // them alive after the target is gone.
  for (auto& old : node->children) {
    if (!old) continue;
    if (old->parent == node) old->parent = nullptr;
    released.emplace_back(old.get());
  }
  node->children = std::move(moving);
  for (const auto& child : node->children)
    if (child) child->parent = node;
  node->modified = 1;
  // The slot is const because copying data leaves the source alone; moving children is the one
  // part of this operation that changes it.
  auto* self = const_cast<CNode*>(this);
  self->children.clear();
  self->modified = 1;
  return kOk;
}

Status CNode::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CSpatial::Persist(ar));
  const int32_t version = ar.Version(classRecord);
  // Old tools wrote something else in the tag's place, and padded child lists with zero ids.
  const bool old = version < kCurrentBlockVersion;
  uint32_t storedTag = tag;
  ar("tag", storedTag)("option1", option1)("option2", option2);
  if (version >= kOption3Version) ar("option3", option3);
  if (ar.Loading()) {
    CReader& in = ar.reader();
    std::vector<int32_t> ids;
    in.ReadCountedArray(ids);
    if (!in.ok()) return in.status();
    if (!old) tag = storedTag;
    return QueueChildren(in, ids, old);
  }
  if (ar.Linking()) return LinkChildren(ar.linker());
  WriteHeldRefList(ar.writer(), "children", children);
  return ar.status();
}

Status CNode::QueueChildren(CReader& in, const std::vector<int32_t>& ids, bool old) {
  try {
    auto& queued = in.record().ids;
    size_t slots = 0;
    for (const int32_t id : ids) {
      if (old && id == 0) continue;
      queued.push_back(id);
      ++slots;
    }
    children.assign(slots, nullptr);
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  return kOk;
}

Status CNode::LinkChildren(CLinker& in) {
  for (auto& slot : children) {
    CSpatial* child = nullptr;
    in.Resolve(child);
    // A child listed by two nodes (or twice by one) would have two parents and be walked twice.
    if (child && child->parent) {
      const Status said = TryAllocate([&] {
        in.Refuse(kErrMalformed, "a " + std::string(GetRuntimeClass()->className) +
                                     " (record at offset " + std::to_string(in.record().offset) +
                                     ") lists a " + child->GetRuntimeClass()->className +
                                     " that another listing holds already");
      });
      // Without memory for the explanation the graph is refused all the same.
      if (Failed(said)) in.Refuse(kErrMalformed, std::string());
      child = nullptr;
    }
    slot = child;
    if (child) child->parent = this;
  }
  return kOk;
}

int64_t CNode::GetMemorySize() const {
  return CSpatial::GetMemorySize() + 4 * static_cast<int64_t>(children.size()) + kNodeMemorySize;
}

bool CNode::HasAttachments() const {
  return !children.empty() || CSpatial::HasAttachments();
}

void CNode::VisitReferences(CReferenceVisitor& visit) {
  CSpatial::VisitReferences(visit);
  for (auto& child : children) visit(child, kFollowAll, &DropChild);
}

Status CNode::Update(float time) {
  KX_RETURN_IF_FAILED(CSpatial::Update(time));
  for (const auto& child : children)
    if (child) KX_RETURN_IF_FAILED(child->Update(time));
  return kOk;
}

void CNode::CollectSpatials(SpatialQueue& queue) {
  queue.push_back(this);
  for (const auto& child : children)
    if (child) child->CollectSpatials(queue);
}

Status CNode::UpdateBound() {
  for (const auto& child : children)
    if (child) KX_RETURN_IF_FAILED(child->UpdateBound());
  bool any = false;
  Bound joined;
  for (const auto& child : children) {
    if (!child) continue;
    if (any) {
      joined.Merge(child->bound);
    } else {
      joined = child->bound;
      any = true;
    }
  }
  if (any) bound = joined;
  return kOk;
}

Status CNode::DuplicateNodes(DuplicateMap& map, CRefPtr<CNode>& out, TagFilter filter) const {
  return CopyNodes(&map, out, filter);
}

Status CNode::CloneNodes(CRefPtr<CNode>& out, TagFilter filter) const {
  return CopyNodes(nullptr, out, filter);
}

Status CNode::CopyNodes(DuplicateMap* map, CRefPtr<CNode>& out, TagFilter filter) const {
  if (filter && *filter != tag) return kNothingDone;
  if (map) {
    if (const auto it = map->find(this); it != map->end()) {
      auto* copy = KindOf<CNode>(it->second.get());
      if (!copy) return kErrMalformed;
      out = copy;
      return kOk;
    }
  }
  CRefPtr<CBase> cloned;
  KX_RETURN_IF_FAILED(Clone(cloned));
  auto* copy = KindOf<CNode>(cloned.get());
  if (!copy) return kErrMalformed;
  if (map) {
    KX_RETURN_IF_FAILED(TryAllocate([&] { map->emplace(this, cloned); }));
  }
  out = copy;
  for (const auto& child : children) {
    const auto* childNode = KindOf<CNode>(child.get());
    if (!childNode) continue;
    CRefPtr<CNode> childCopy;
    KX_RETURN_IF_FAILED(map ? childNode->DuplicateNodes(*map, childCopy, std::nullopt)
                            : childNode->CloneNodes(childCopy, std::nullopt));
    KX_RETURN_IF_FAILED(copy->AddChild(childCopy.get()));
  }
  return kOk;
}

Status CNode::AddChild(CSpatial* child) {
  if (!child) return kNothingDone;
  if (child->parent) return kErrBadArgument;
  // Only a node without a parent can pass the test above and still be above this one: the top
  // of this node's own tree. Adding it would make the tree own itself.
  for (const CSpatial* p = this; p; p = p->parent)
    if (p == child) return kErrBadArgument;
  KX_RETURN_IF_FAILED(TryAppend(children, CRefPtr<CSpatial>(child)));
  modified = 1;
  child->parent = this;
  return kOk;
}

Status CNode::RemoveChild(CSpatial* child) {
  if (!child) return kNothingDone;
  if (child->parent != this) return kErrBadArgument;
  modified = 1;
  child->parent = nullptr;
  for (auto it = children.begin(); it != children.end(); ++it) {
    if (it->get() == child) {
      // Erasing may release the last reference to the child; it is not touched afterwards.
      children.erase(it);
      return kOk;
    }
  }
  return kNothingDone;
}

// ---------------------------------------------------------------------------------------------

Status CBillboardNode::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CNode::Persist(ar));
  ar.Version(classRecord);
  return ar.status();
}

}  // namespace KX
