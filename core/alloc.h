#pragma once
// Allocation that answers out-of-memory instead of throwing. The library never lets bad_alloc
// cross its interface: a container that must grow, or an object that must be made, goes through
// one of these, and the caller answers the status like any other failure.
#include <new>
#include <utility>

#include "core/status.h"

namespace KX {

// Runs `action` (anything that may allocate) and answers kErrOutOfMemory when it could not.
template <class Action>
Status TryAllocate(Action&& action) {
  try {
    std::forward<Action>(action)();
    return kOk;
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
}

template <class Container, class... Size>
Status TryResize(Container& container, Size&&... size) {
  return TryAllocate([&] { container.resize(std::forward<Size>(size)...); });
}

template <class Container, class Value>
Status TryAppend(Container& container, Value&& value) {
  return TryAllocate([&] { container.push_back(std::forward<Value>(value)); });
}

template <class Target, class Source>
Status TryAssign(Target& target, const Source& source) {
  return TryAllocate([&] { target = source; });
}

// Runs `body` (answering a Status) and answers its status, or kErrOutOfMemory when something in
// it could not allocate: for whole passes that allocate in many places.
template <class Body>
Status Guarded(Body&& body) {
  try {
    return std::forward<Body>(body)();
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
}

// A new object in `out` (a CRefPtr or any pointer holder).
template <class T, class Holder, class... Args>
Status TryNew(Holder& out, Args&&... args) {
  return TryAllocate([&] { out = new T(std::forward<Args>(args)...); });
}

}  // namespace KX
