#pragma once
// Named fields: what a class's Save writes, by the library's field names, for listings such as
// `recaster info --json`. A Save names each field as it writes it (see CWriter::Field), so the
// listing and the stored layout come from the same lines and cannot drift apart.
//
// Plain values describe themselves: numbers, booleans, texts, fixed arrays, vectors and maps are
// handled here; a record type stored as a whole provides an overload found by argument-dependent
// lookup, written like its field table:
//
//   inline void DescribeValue(CFieldSink& sink, const char* name, const SpringSetting& s) {
//     CFieldRecord(sink, name)("frequency", s.frequency)("startTime", s.startTime)("mode", s.mode);
//   }
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "core/math/matrix.h"
#include "core/math/quaternion.h"
#include "core/math/vector.h"
#include "object/runtime_class.h"
#include "core/text.h"

namespace KX {

// Receives the fields of one object. Within a record or level, `name` is the field's name; the
// elements of a list come with a null name.
class CFieldSink {
 public:
  virtual ~CFieldSink() = default;
  // A class level starts: the fields that follow belong to `cls`, stored at its version.
  virtual void Level(const CRuntimeClass& cls) = 0;
  virtual void Integer(const char* name, int64_t value) = 0;
  virtual void Unsigned(const char* name, uint64_t value) = 0;
  virtual void Number(const char* name, double value) = 0;
  virtual void Boolean(const char* name, bool value) = 0;
  virtual void Text(const char* name, std::string_view utf8) = 0;
  // The id of a referenced object in the listing; 0 for none.
  virtual void Reference(const char* name, int32_t id) = 0;
  // Opaque bytes: encoded pictures, raw pixels, custom payloads.
  virtual void Bytes(const char* name, std::span<const uint8_t> bytes) = 0;
  // A field the file marks as not stored (an absent optional array).
  virtual void Absent(const char* name) = 0;
  virtual void BeginList(const char* name) = 0;
  virtual void EndList() = 0;
  virtual void BeginRecord(const char* name) = 0;
  virtual void EndRecord() = 0;
};

template <class T>
void Describe(CFieldSink& sink, const char* name, const T& value);

// The double nearest the shortest decimal that reads back as `value`, so that a listing shows
// 0.1 for the float 0.1 rather than the double it widens to.
inline double ShortestWidened(float value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text - 1, value);
  if (result.ec != std::errc()) return value;
  *result.ptr = '\0';
  return std::strtod(text, nullptr);
}

// Opens a record for the lifetime of the object; fields are added with operator().
class CFieldRecord {
 public:
  CFieldRecord(CFieldSink& sink, const char* name) : sink_(sink) { sink_.BeginRecord(name); }
  ~CFieldRecord() { sink_.EndRecord(); }
  CFieldRecord(const CFieldRecord&) = delete;
  CFieldRecord& operator=(const CFieldRecord&) = delete;

  template <class T>
  CFieldRecord& operator()(const char* name, const T& value) {
    Describe(sink_, name, value);
    return *this;
  }

 private:
  CFieldSink& sink_;
};

template <class T>
void DescribeList(CFieldSink& sink, const char* name, std::span<const T> values) {
  sink.BeginList(name);
  for (const T& value : values) Describe(sink, nullptr, value);
  sink.EndList();
}

// Small fixed vectors list their components in stored order.
template <class T>
void DescribeValue(CFieldSink& sink, const char* name, const CVector3<T>& v) {
  const T components[] = {v.x, v.y, v.z};
  DescribeList(sink, name, std::span<const T>(components));
}
template <class T>
void DescribeValue(CFieldSink& sink, const char* name, const CVector4<T>& v) {
  const T components[] = {v.x, v.y, v.z, v.w};
  DescribeList(sink, name, std::span<const T>(components));
}
inline void DescribeValue(CFieldSink& sink, const char* name, const CQuaternion& q) {
  const float components[] = {q.w, q.x, q.y, q.z};
  DescribeList(sink, name, std::span<const float>(components));
}
// Matrices list their rows.
inline void DescribeValue(CFieldSink& sink, const char* name, const CMatrix3& m) {
  Describe(sink, name, m.m);
}
inline void DescribeValue(CFieldSink& sink, const char* name, const CMatrix4& m) {
  Describe(sink, name, m.m);
}

namespace detail {
template <class T>
struct IsVector : std::false_type {};
template <class T, class A>
struct IsVector<std::vector<T, A>> : std::true_type {};
template <class T>
struct IsMap : std::false_type {};
template <class K, class V, class C, class A>
struct IsMap<std::map<K, V, C, A>> : std::true_type {};
}  // namespace detail

template <class T>
void Describe(CFieldSink& sink, const char* name, const T& value) {
  if constexpr (std::is_same_v<T, bool>) {
    sink.Boolean(name, value);
  } else if constexpr (std::is_enum_v<T>) {
    Describe(sink, name, static_cast<std::underlying_type_t<T>>(value));
  } else if constexpr (std::is_same_v<T, float>) {
    sink.Number(name, ShortestWidened(value));
  } else if constexpr (std::is_floating_point_v<T>) {
    sink.Number(name, static_cast<double>(value));
  } else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
    sink.Integer(name, static_cast<int64_t>(value));
  } else if constexpr (std::is_integral_v<T>) {
    sink.Unsigned(name, static_cast<uint64_t>(value));
  } else if constexpr (std::is_same_v<T, std::string>) {
    sink.Text(name, value);
  } else if constexpr (std::is_same_v<T, std::u16string>) {
    sink.Text(name, ToUtf8(value));
  } else if constexpr (std::is_array_v<T>) {
    DescribeList(sink, name, std::span<const std::remove_extent_t<T>>(value));
  } else if constexpr (detail::IsVector<T>::value) {
    DescribeList(sink, name, std::span<const typename T::value_type>(value));
  } else if constexpr (detail::IsMap<T>::value) {
    sink.BeginList(name);
    for (const auto& [key, entry] : value) CFieldRecord(sink, nullptr)("key", key)("value", entry);
    sink.EndList();
  } else {
    DescribeValue(sink, name, value);  // a record type's own description
  }
}

}  // namespace KX
