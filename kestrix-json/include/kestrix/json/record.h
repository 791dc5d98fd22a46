// Typed decoding on top of Reader, and writing through Writer: records
// described once by a field table, sequences, string-keyed maps, optionals
// and whole documents.
//
// A record is accepted as an object (members by name, any order, unknown
// members skipped, duplicates and missing required members refused) or as an
// array of its fields in declaration order (trailing defaulted fields may be
// left out). The record type's own default member values are the defaults.
//
// A record is written as an object with its members in ascending byte order
// of their names, whatever the order of the table: an empty optional and a
// null nlohmann::json value are left out, a float that is not finite is
// written as null.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <expected>
#include <new>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "kestrix/json/reader.h"
#include "kestrix/json/writer.h"

namespace kestrix::json {

// Optional: a missing object member takes the default, but the array form
// must still give the element.
enum class Need { Required, Defaulted, Optional };

template <class R>
struct Field {
  std::string_view name;
  Need need;
  // Null for a member that is only written (written()).
  bool (*read)(Reader&, R&);
  // Writes the key and the value, or nothing when the value is left out.
  // Null for a member whose type has no write().
  void (*write)(Writer&, std::string_view key, const R&) = nullptr;
  // Whether `write` is set. Kept apart because a sanitizing build will not
  // compare a lambda's function pointer with null in a constant expression.
  bool writable = false;
};

namespace detail {
// The field numbers in ascending byte order of the names.
template <class R, std::size_t N>
constexpr std::array<std::uint8_t, N> byte_order(const std::array<Field<R>, N>& fields) {
  static_assert(N <= 256, "field numbers are kept in bytes");
  std::array<std::uint8_t, N> order{};
  for (std::size_t i = 0; i < N; ++i) order[i] = static_cast<std::uint8_t>(i);
  std::sort(order.begin(), order.end(),
            [&](std::uint8_t a, std::uint8_t b) { return fields[a].name < fields[b].name; });
  return order;
}
}  // namespace detail

template <class R, std::size_t N>
struct RecordType {
  std::string_view name;  // "TopUser": messages say "struct TopUser"
  std::array<Field<R>, N> fields;  // in declaration order, which the array form follows
  std::array<std::uint8_t, N> write_order = detail::byte_order(fields);
};

// The overload set that field() dispatches on. Records add their own
// `bool read(Reader&, MyRecord&)` next to the record type (found by ADL).
inline bool read(Reader& r, double& v) { return r.read_f64(v); }
inline bool read(Reader& r, std::uint32_t& v) { return r.read_u32(v); }
inline bool read(Reader& r, std::int64_t& v) { return r.read_i64(v); }
inline bool read(Reader& r, bool& v) { return r.read_bool(v); }
inline bool read(Reader& r, std::string& v) { return r.read_string(v); }
inline bool read(Reader& r, nlohmann::json& v) { return r.read_value(v); }

template <class T>
bool read(Reader& r, std::optional<T>& v) {
  bool was_null = false;
  if (!r.take_null(was_null)) return false;
  if (was_null) {
    v.reset();
    return true;
  }
  return read(r, v.emplace());
}

// The overload set that field() writes with. Records add their own
// `void write(Writer&, const MyRecord&)` next to their read().
inline void write(Writer& w, double v) { w.f64(v); }
inline void write(Writer& w, std::uint32_t v) { w.u64(v); }
inline void write(Writer& w, std::int64_t v) { w.i64(v); }
inline void write(Writer& w, bool v) { w.boolean(v); }
inline void write(Writer& w, const std::string& v) { w.string(v); }
inline void write(Writer& w, std::string_view v) { w.string(v); }
inline void write(Writer& w, const nlohmann::json& v) { w.value(v); }

template <class T>
concept Writable = requires(Writer& w, const T& v) { write(w, v); };

template <Writable T>
void write(Writer& w, const std::optional<T>& v) {
  if (v) write(w, *v);
  else w.null();
}

template <Writable T>
void write(Writer& w, const std::vector<T>& v) {
  w.begin_array();
  for (const T& element : v) write(w, element);
  w.end_array();
}

// Members with these values are not written at all.
template <class T>
constexpr bool left_out(const T&) {
  return false;
}
template <class T>
constexpr bool left_out(const std::optional<T>& v) {
  return !v;
}
inline bool left_out(const nlohmann::json& v) { return v.is_null(); }

// Calls element(reader) for every element of a JSON array.
template <class F>
bool read_seq(Reader& r, F&& element) {
  if (r.open(Reader::Accept::Array, "a sequence") == Reader::Container::None) return false;
  Reader::Step step;
  while ((step = r.next_element()) == Reader::Step::More)
    if (!element(r)) return false;
  return step == Reader::Step::End && r.close_array();
}

// Makes room in `v`, about to take another element of a long array whose
// elements so far took `used` bytes of text, with `remaining` bytes after.
//
// Long arrays of records (a snapshot's rows) would otherwise grow by
// doubling, moving every element and touching fresh memory each time. Once
// the first few are in, the average size of an element in the text tells
// how many the rest holds: room for a quarter more than that is reserved,
// which costs address space but no memory until it is used. Rows early in a
// file may be larger than the rest, so a vector that fills anyway is sized
// again the same way. The guess never exceeds what the rest of the text
// could hold as whole elements, but growth is an eighth at least, which
// keeps the cost linear for any shape.
template <class T>
void make_room(std::vector<T>& v, std::size_t used, std::size_t remaining) {
  if (v.size() < 16 || v.size() < v.capacity()) return;
  const std::size_t per_element = used / v.size() + 1;
  const std::size_t expected = remaining / per_element;
  const std::size_t bound = remaining / sizeof(T) + 1;
  v.reserve(v.size() + std::max(v.size() / 8, std::min(expected + expected / 4 + 16, bound)));
}

// Reads a JSON array into `v`, one element(reader, element) per element.
template <class T, class F>
bool read_vector(Reader& r, std::vector<T>& v, F&& element) {
  v.clear();
  const std::size_t start = r.offset();
  return read_seq(r, [&](Reader& rr) {
    make_room(v, rr.offset() - start, rr.remaining());
    return element(rr, v.emplace_back());
  });
}

template <class T>
bool read(Reader& r, std::vector<T>& v) {
  return read_vector(r, v, [](Reader& rr, T& element) { return read(rr, element); });
}

// Calls entry(reader, key) for every member of a JSON object, with the
// reader placed at the member's value.
template <class F>
bool read_map(Reader& r, F&& entry) {
  if (r.open(Reader::Accept::Object, "a map") == Reader::Container::None) return false;
  std::string_view key;
  Reader::Step step;
  while ((step = r.next_key(key)) == Reader::Step::More) {
    std::string owned(key);
    if (!r.colon() || !entry(r, owned)) return false;
  }
  return step == Reader::Step::End && r.close_object();
}

// A later member with the same key replaces the earlier one.
template <class T>
bool read(Reader& r, std::unordered_map<std::string, T>& m) {
  m.clear();
  return read_map(r, [&m](Reader& rr, const std::string& key) {
    T value{};
    if (!read(rr, value)) return false;
    m.insert_or_assign(key, std::move(value));
    return true;
  });
}

namespace detail {
template <class M>
struct MemberOf;
template <class R, class T>
struct MemberOf<T R::*> {
  using Record = R;
  using Type = T;
};
// The record a getter (a captureless lambda or a function) takes.
template <class F>
struct GetterOf : GetterOf<decltype(&F::operator())> {};
template <class L, class V, class R>
struct GetterOf<V (L::*)(const R&) const> {
  using Record = R;
};
template <class V, class R>
struct GetterOf<V (*)(const R&)> {
  using Record = R;
};
template <class T>
void put(Writer& w, std::string_view key, const T& value) {
  if (left_out(value)) return;
  w.plain_key(key);
  write(w, value);
}
// Record-level errors: recorded after the container has been closed as far
// as it goes, which is where a serde-style decoder reports them.
// Field names are short: a plain loop beats a call to memcmp.
inline bool same(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) return false;
  return true;
}
// The names of the unknown members met so far in one object. A hostile
// helper may send tens of thousands of them, so each new name costs a
// logarithmic number of comparisons, never one per earlier name; the
// reader counts them for the tests of that cost.
class KeySet {
 public:
  explicit KeySet(Reader& r) : keys_(Less{&r}) {}
  // False when the key was there already.
  bool insert(std::string_view key) {
    auto [at, fresh] = keys_.emplace(key);
    (void)at;
    return fresh;
  }

 private:
  struct Less {
    Reader* reader;
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const {
      reader->count_key_comparison();
      return a < b;
    }
  };
  std::set<std::string, Less> keys_;
};
bool invalid_length(Reader& r, std::size_t given, std::string_view name, std::size_t count);
bool duplicate_field(Reader& r, std::string_view key);
bool missing_field(Reader& r, std::string_view key);
}  // namespace detail

// field<&TopUser::id>("id", Need::Required)
template <auto Member>
constexpr Field<typename detail::MemberOf<decltype(Member)>::Record> field(std::string_view name,
                                                                           Need need) {
  using R = typename detail::MemberOf<decltype(Member)>::Record;
  using T = typename detail::MemberOf<decltype(Member)>::Type;
  Field<R> f{name, need, [](Reader& r, R& rec) { return read(r, rec.*Member); }};
  if constexpr (Writable<T>) {
    f.write = [](Writer& w, std::string_view key, const R& rec) { detail::put(w, key, rec.*Member); };
    f.writable = true;
  }
  return f;
}

// A member that is only written, its value computed from the record:
// written<[](const Doc& d) { return d.a + d.b; }>("sum"). Tables holding
// one are for writing only.
template <auto Get>
constexpr Field<typename detail::GetterOf<decltype(Get)>::Record> written(std::string_view name) {
  using R = typename detail::GetterOf<decltype(Get)>::Record;
  return Field<R>{name, Need::Defaulted, nullptr,
                  [](Writer& w, std::string_view key, const R& rec) { detail::put(w, key, Get(rec)); },
                  true};
}

// True when every field of the table can be written and no name needs an
// escape (names are written as they are); tables that are written assert
// it where they are defined.
template <class R, std::size_t N>
constexpr bool writes_all(const RecordType<R, N>& type) {
  for (const Field<R>& f : type.fields) {
    if (!f.writable) return false;
    for (char c : f.name)
      if (static_cast<unsigned char>(c) < 0x20 || c == '"' || c == '\\') return false;
  }
  return true;
}

template <class R, std::size_t N>
void write_record(Writer& w, const RecordType<R, N>& type, const R& rec) {
  w.begin_object();
  for (std::uint8_t i : type.write_order)
    if (type.fields[i].write) type.fields[i].write(w, type.fields[i].name, rec);
  w.end_object();
}

template <class R, std::size_t N>
bool read_record(Reader& r, const RecordType<R, N>& type, R& out) {
  const Reader::Container kind = r.open(Reader::Accept::Both, "struct ", type.name);
  if (kind == Reader::Container::None) return false;

  if (kind == Reader::Container::Array) {
    std::size_t given = 0;
    Reader::Step step = Reader::Step::More;
    for (std::size_t i = 0; i < N; ++i) {
      // Once the array has ended, the remaining fields take their defaults.
      if (step == Reader::Step::More) step = r.next_element();
      if (step == Reader::Step::Failed) return false;
      if (step == Reader::Step::End) {
        if (type.fields[i].need != Need::Defaulted)
          return detail::invalid_length(r, given, type.name, N);
        continue;
      }
      if (!type.fields[i].read(r, out)) return false;
      ++given;
    }
    return r.close_array();
  }

  std::array<bool, N> seen{};
  detail::KeySet unknown_seen(r);  // stays empty for well-known input
  std::string_view key;
  std::size_t next = 0;
  Reader::Step step;
  while ((step = r.next_key(key)) == Reader::Step::More) {
    // Members usually come in declaration order: try the next field first.
    std::size_t i = next;
    if (i >= N || !detail::same(type.fields[i].name, key))
      for (i = 0; i < N && !detail::same(type.fields[i].name, key);) ++i;
    next = i + 1;
    if (i < N) {
      if (seen[i]) return detail::duplicate_field(r, key);
      seen[i] = true;
      if (!r.colon() || !type.fields[i].read(r, out)) return false;
    } else {
      if (!unknown_seen.insert(key)) return detail::duplicate_field(r, key);
      if (!r.colon() || !r.skip_value()) return false;
    }
  }
  if (step == Reader::Step::Failed) return false;
  for (std::size_t i = 0; i < N; ++i)
    if (!seen[i] && type.fields[i].need == Need::Required)
      return detail::missing_field(r, type.fields[i].name);
  return r.close_object();
}

// Reads a whole document with `read_top`, then requires the end of input.
// The error is the reader's message with its position.
// Running out of memory is not a fault of the text: it gives the message
// OUT_OF_MEMORY, which carries no position.
template <class T, class F>
std::expected<T, std::string> decode(std::string_view text, F&& read_top) {
  try {
    Reader r(text);
    T out{};
    if (!read_top(r, out) || !r.finish()) return std::unexpected(r.message());
    return out;
  } catch (const std::bad_alloc&) {
    return std::unexpected(std::string(OUT_OF_MEMORY));
  } catch (const std::length_error&) {
    return std::unexpected(std::string(OUT_OF_MEMORY));
  }
}

template <class T>
std::expected<T, std::string> decode(std::string_view text) {
  return decode<T>(text, [](Reader& r, T& out) { return read(r, out); });
}

}  // namespace kestrix::json
