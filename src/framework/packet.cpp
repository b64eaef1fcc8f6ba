#include "framework/packet.h"
#include "framework/names.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <unordered_map>

namespace apura {

size_t ColumnBytes(const DataPacket& packet) {
  if (packet.empty()) return 0;
  size_t bytes = 0;
  for (size_t c = 0; c < packet.fields().size(); ++c) {
    const ColumnData& d = packet.column(c);
    bytes += d.dictBytes.size() + d.dictOffsets.size() * sizeof(uint32_t) +
             d.codes.size() * sizeof(int32_t) + d.numbers.size() * sizeof(double) +
             d.nullBits.size() * sizeof(uint64_t);
  }
  return bytes;
}

const char* FieldTypeName(FieldType t) {
  switch (t) {
    case FieldType::String:
      return "String";
    case FieldType::Float:
      return "Float";
    case FieldType::DateTime:
      return "DateTime";
    case FieldType::Integer:
      return "Integer";
    case FieldType::Boolean:
      return "Boolean";
  }
  return "?";
}

namespace {

std::string Shown(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

const DataPacket::Body& EmptyBody() {
  static const DataPacket::Body body;
  return body;
}

}  // namespace

const DataPacket::Body& DataPacket::body() const {
  return body_ ? *body_ : EmptyBody();
}

DataPacket::Body DataPacket::ReleaseBody() && {
  std::shared_ptr<const Body> held = std::move(body_);
  if (!held) return EmptyBody();
  // Nobody else can see the body, so it may be taken apart.
  if (held.use_count() == 1) return std::move(const_cast<Body&>(*held));
  return *held;
}

int DataPacket::FieldIndex(std::string_view name) const {
  const auto& f = fields();
  for (size_t i = 0; i < f.size(); ++i)
    if (SameName(f[i].name, name)) return static_cast<int>(i);
  return -1;
}

bool DataPacket::IsNull(size_t col, size_t row) const {
  const ColumnData& c = column(col);
  if (fields()[col].type == FieldType::String) return c.codes[row] < 0;
  return c.NumberIsNull(row);
}

std::string_view DataPacket::Text(size_t col, size_t row) const {
  const ColumnData& c = column(col);
  int32_t code = c.codes[row];
  return code < 0 ? std::string_view() : c.DictEntry(code);
}

double DataPacket::Number(size_t col, size_t row) const {
  const ColumnData& c = column(col);
  return c.NumberIsNull(row) ? 0.0 : c.numbers[row];
}

Value DataPacket::Cell(size_t col, size_t row) const {
  if (IsNull(col, row)) return Value();
  switch (fields()[col].type) {
    case FieldType::String:
      return Value(std::string(Text(col, row)));
    case FieldType::Float:
      return Value(Number(col, row));
    case FieldType::DateTime:
      return Value(DateTime{Number(col, row)});
    case FieldType::Integer:
      return Value(static_cast<int64_t>(Number(col, row)));
    case FieldType::Boolean:
      return Value(Number(col, row) != 0);
  }
  return Value();
}

DataPacket DataPacket::FromBody(Body body) {
  if (body.columns.size() != body.fields.size())
    throw std::invalid_argument("data packet: " + std::to_string(body.fields.size()) +
                                " fields but " + std::to_string(body.columns.size()) + " columns");
  const size_t n = body.rowCount;
  if (body.fields.empty() && n > 0)
    throw std::invalid_argument("data packet: " + std::to_string(n) + " rows but no fields");
  for (size_t i = 0; i < body.fields.size(); ++i) {
    const FieldDef& f = body.fields[i];
    ColumnData& c = body.columns[i];
    auto bad = [&](const std::string& what) {
      throw std::invalid_argument("data packet: column " + f.name + ": " + what);
    };
    if (f.name.empty()) bad("field without a name");
    if (f.type == FieldType::String) {
      if (c.codes.size() != n)
        bad("has " + std::to_string(c.codes.size()) + " rows, expected " + std::to_string(n));
      if (c.dictOffsets.empty() || c.dictOffsets.front() != 0 ||
          c.dictOffsets.back() != c.dictBytes.size())
        bad("dictionary offsets do not span its bytes");
      for (size_t k = 1; k < c.dictOffsets.size(); ++k)
        if (c.dictOffsets[k] < c.dictOffsets[k - 1]) bad("dictionary offsets go backwards");
      // The bounds first, in a loop the compiler can vectorise: packets of
      // half a million rows pass here on every load and every derived copy.
      const auto dictSize = static_cast<int64_t>(c.DictSize());
      int32_t lo = -1, hi = -1;
      for (int32_t code : c.codes) {
        lo = std::min(lo, code);
        hi = std::max(hi, code);
      }
      if (lo < -1 || hi >= dictSize) {
        for (int32_t code : c.codes)
          if (code < -1 || code >= dictSize)
            bad("text code " + std::to_string(code) + " outside its dictionary");
      }
    } else {
      if (c.numbers.size() != n)
        bad("has " + std::to_string(c.numbers.size()) + " rows, expected " + std::to_string(n));
      if (!c.nullBits.empty() && c.nullBits.size() != (n + 63) / 64) bad("null bitmap size");
      // Readers convert these cells to int64 and bool; a value outside what the
      // type holds would be undefined there, or read differently after a reload.
      if (f.type == FieldType::Integer) {
        for (size_t r = 0; r < n; ++r) {
          const double v = c.numbers[r];
          if (!c.NumberIsNull(r) && !(v >= -0x1p63 && v < 0x1p63))
            bad("row " + std::to_string(r + 1) + " holds " + Shown(v) + ", not an integer value");
        }
      } else if (f.type == FieldType::Boolean) {
        for (size_t r = 0; r < n; ++r) {
          const double v = c.numbers[r];
          if (!c.NumberIsNull(r) && v != 0 && v != 1)
            bad("row " + std::to_string(r + 1) + " holds " + Shown(v) +
                ", a boolean must be 0 or 1");
        }
      }
    }
  }
  if (!body.status.empty() && body.status.size() != n)
    throw std::invalid_argument("data packet: change log has " +
                                std::to_string(body.status.size()) + " entries for " +
                                std::to_string(n) + " rows");
  for (RowStatus s : body.status)
    if (static_cast<uint8_t>(s) > static_cast<uint8_t>(RowStatus::Deleted))
      throw std::invalid_argument("data packet: unknown row status");
  if (body.originals) {
    if (body.originals->fields() != body.fields)
      throw std::invalid_argument("data packet: original rows have other fields");
    if (body.originalOf.size() != body.originals->RowCount())
      throw std::invalid_argument("data packet: original rows not matched to rows");
    for (uint32_t r : body.originalOf)
      if (r >= n) throw std::invalid_argument("data packet: original row beyond the rows");
  } else if (!body.originalOf.empty()) {
    throw std::invalid_argument("data packet: original row list without original rows");
  }
  DataPacket p;
  // Made non-const, so that ReleaseBody may move out of it when it holds the
  // only reference.
  p.body_ = std::make_shared<Body>(std::move(body));
  return p;
}

PacketBuilder::PacketBuilder(std::vector<FieldDef> fields) {
  body_.fields = std::move(fields);
  body_.columns.resize(body_.fields.size());
  dictIndex_.resize(body_.fields.size());
}

void PacketBuilder::AppendText(size_t col, std::string_view text) {
  ColumnData& c = body_.columns[col];
  auto& index = dictIndex_[col];
  if (auto it = index.find(std::string(text)); it != index.end()) {
    c.codes.push_back(it->second);
    return;
  }
  auto code = static_cast<int32_t>(c.DictSize());
  c.dictBytes.append(text);
  c.dictOffsets.push_back(static_cast<uint32_t>(c.dictBytes.size()));
  index.emplace(std::string(text), code);
  c.codes.push_back(code);
}

PacketBuilder& PacketBuilder::Add(std::vector<Value> row) {
  if (row.size() != body_.fields.size())
    throw std::invalid_argument("packet row has " + std::to_string(row.size()) + " values for " +
                                std::to_string(body_.fields.size()) + " fields");
  const size_t r = body_.rowCount;
  for (size_t i = 0; i < row.size(); ++i) {
    ColumnData& c = body_.columns[i];
    const Value& v = row[i];
    if (body_.fields[i].type == FieldType::String) {
      if (v.IsNull())
        c.codes.push_back(-1);
      else
        AppendText(i, v.ToText());
      continue;
    }
    if (c.nullBits.size() < (r + 1 + 63) / 64) c.nullBits.resize((r + 1 + 63) / 64, 0);
    if (v.IsNull()) {
      c.numbers.push_back(0);
      c.nullBits[r >> 6] |= uint64_t{1} << (r & 63);
    } else if (v.kind() == Value::Kind::Date) {
      c.numbers.push_back(v.AsDate().days);
    } else if (body_.fields[i].type == FieldType::Boolean) {
      c.numbers.push_back(v.kind() == Value::Kind::Boolean ? (v.AsBoolean() ? 1 : 0)
                                                           : (v.AsFloat() != 0 ? 1 : 0));
    } else {
      c.numbers.push_back(v.AsFloat());
    }
  }
  ++body_.rowCount;
  return *this;
}

PacketBuilder& PacketBuilder::Status(RowStatus s) {
  if (body_.rowCount == 0) throw std::logic_error("packet row status before any row");
  body_.status.resize(body_.rowCount, RowStatus::Unmodified);
  body_.status.back() = s;
  return *this;
}

DataPacket PacketBuilder::Build() {
  if (!body_.status.empty()) body_.status.resize(body_.rowCount, RowStatus::Unmodified);
  for (size_t i = 0; i < body_.fields.size(); ++i) {
    ColumnData& c = body_.columns[i];
    if (body_.fields[i].type == FieldType::String) continue;
    bool anyNull = false;
    for (uint64_t w : c.nullBits) anyNull |= w != 0;
    if (!anyNull)
      c.nullBits.clear();
    else
      c.nullBits.resize((body_.rowCount + 63) / 64, 0);
  }
  return DataPacket::FromBody(std::move(body_));
}

}  // namespace apura
