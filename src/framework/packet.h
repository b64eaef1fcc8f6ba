#pragma once
// Data packets: the complete content of a table as one value, laid out by column so
// that a table loads one and the transport encodes one with bulk copies, never a
// step per cell. A packet is immutable once built and shared on copy.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "framework/value.h"

namespace apura {

enum class FieldType : uint8_t { String, Float, DateTime, Integer, Boolean };
const char* FieldTypeName(FieldType t);

struct FieldDef {
  std::string name;
  FieldType type = FieldType::String;
  int size = 0;  // characters, for text; 0 elsewhere
  bool fixedChar = false;
  friend bool operator==(const FieldDef&, const FieldDef&) = default;
};

// Where a row stands in the change log.
enum class RowStatus : uint8_t { Unmodified = 0, Modified = 1, Inserted = 2, Deleted = 3 };

// One column. Text columns keep each distinct text once (dictionary: bytes plus
// offsets, entry i spanning [offsets[i], offsets[i+1])) and one code per row,
// -1 for null. Other columns keep one double per row (integers, booleans and
// date-times as their numeric value) and a null bitmap, bit set = null, empty
// when the column has no null.
struct ColumnData {
  std::string dictBytes;
  std::vector<uint32_t> dictOffsets{0};
  std::vector<int32_t> codes;
  std::vector<double> numbers;
  std::vector<uint64_t> nullBits;

  size_t DictSize() const { return dictOffsets.size() - 1; }
  std::string_view DictEntry(int32_t code) const {
    return std::string_view(dictBytes).substr(dictOffsets[code],
                                              dictOffsets[code + 1] - dictOffsets[code]);
  }
  bool NumberIsNull(size_t row) const {
    return !nullBits.empty() && (nullBits[row >> 6] >> (row & 63)) & 1;
  }
};

class DataPacket {
 public:
  DataPacket() = default;

  const std::vector<FieldDef>& fields() const { return body().fields; }
  size_t RowCount() const { return body().rowCount; }
  const ColumnData& column(size_t i) const { return body().columns[i]; }
  int FieldIndex(std::string_view name) const;  // -1 when absent (case-insensitive)

  // Change log carried with the rows (a packet read from a table that has
  // unapplied changes, or a change packet): one status per row, and for
  // Modified rows the row's original values in `originals`, row i of the
  // originals belonging to row originalOf[i] of this packet. Empty when
  // the packet has no change log.
  const std::vector<RowStatus>& status() const { return body().status; }
  const DataPacket* originals() const { return body().originals.get(); }
  const std::vector<uint32_t>& originalOf() const { return body().originalOf; }

  // Cell access for code that reads a packet row by row (the server, tests).
  bool IsNull(size_t col, size_t row) const;
  std::string_view Text(size_t col, size_t row) const;  // "" when null
  double Number(size_t col, size_t row) const;          // 0 when null
  Value Cell(size_t col, size_t row) const;             // typed as the field

  bool empty() const { return !body_; }
  // How many packets share this one's body (copies are cheap and share it);
  // 0 for an empty packet.
  long Holders() const { return body_.use_count(); }

  struct Body {
    std::vector<FieldDef> fields;
    size_t rowCount = 0;
    std::vector<ColumnData> columns;
    std::vector<RowStatus> status;
    std::shared_ptr<const DataPacket> originals;
    std::vector<uint32_t> originalOf;
  };
  // Takes over a body built elsewhere (the table facility, the transport); checks
  // that every column has rowCount entries and every code is in its dictionary,
  // and throws std::invalid_argument saying what is wrong otherwise.
  static DataPacket FromBody(Body body);
  const Body& body() const;
  // The body for a new owner: moved out when this packet is its only holder
  // (a half-million-row packet is not copied on its way into a table), copied
  // otherwise. The packet is left empty.
  Body ReleaseBody() &&;

 private:
  std::shared_ptr<const Body> body_;
};

// What a packet's columns take in memory (dictionaries, codes, numbers, null
// bitmaps); its change log aside.
size_t ColumnBytes(const DataPacket& packet);

// Builds a packet row by row; for the server, tests and small tables.
class PacketBuilder {
 public:
  explicit PacketBuilder(std::vector<FieldDef> fields);
  PacketBuilder& Add(std::vector<Value> row);  // one value per field, null allowed
  PacketBuilder& Status(RowStatus s);          // status of the last row added
  DataPacket Build();

 private:
  DataPacket::Body body_;
  std::vector<std::unordered_map<std::string, int32_t>> dictIndex_;
  void AppendText(size_t col, std::string_view text);
};

}  // namespace apura
