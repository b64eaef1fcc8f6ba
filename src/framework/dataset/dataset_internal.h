#pragma once
// Helpers the table facility's own files share; not part of its interface.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "framework/dataset/dataset.h"

#include "framework/names.h"
#include "framework/packet.h"

namespace apura {

inline size_t Utf8Length(std::string_view s) {
  size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

inline bool IsNumeric(FieldType t) {
  return t != FieldType::String;
}

// "F1;F2" into its field names, blanks around each trimmed, empty parts dropped.
std::vector<std::string> SplitFields(std::string_view list);

// Restores a mutable member when a scope ends, also through exceptions.
template <typename T>
class Restore {
 public:
  Restore(T& ref, T value) : ref_(ref), old_(ref) { ref_ = value; }
  ~Restore() { ref_ = old_; }
  Restore(const Restore&) = delete;
  Restore& operator=(const Restore&) = delete;

 private:
  T& ref_;
  T old_;
};

// The rows of a table grouped by the codes of some text fields, the code of ""
// taken as null's. A key is the codes packed into one number when the fields'
// dictionaries allow, else the codes as bytes. Group g's rows, in storage
// order, are rows[start[g]] up to rows[start[g + 1]].
struct TClientDataSet::KeyGroups {
  std::string fieldsText;
  std::vector<int> fields;
  bool valid = false;
  std::vector<int32_t> emptyCode;  // per field, the code of "" (-1 when none)
  std::vector<size_t> dictSize;    // per field, when grouped
  std::vector<uint64_t> radix;     // per field; empty when keys are bytes
  std::unordered_map<uint64_t, uint32_t> packed;
  std::unordered_map<std::string, uint32_t> bytes;
  std::vector<uint32_t> start;
  std::vector<uint32_t> rows;
};

}  // namespace apura
