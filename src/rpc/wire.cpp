#include "rpc/wire.h"

#include <bit>
#include <cstring>
#include <stdexcept>
#include <string>

namespace apura::rpc {

static_assert(std::endian::native == std::endian::little,
              "packet buffers are copied as little-endian memory");

namespace {

template <typename T>
void PutRaw(const std::vector<T>& v, std::string* out) {
  out->assign(reinterpret_cast<const char*>(v.data()), v.size() * sizeof(T));
}

// Copies a wire buffer into its vector and frees the buffer, so that a large
// answer is not held twice while it is decoded.
template <typename T>
std::vector<T> GetRaw(std::string* buffer, const char* what) {
  const std::string& bytes = *buffer;
  if (bytes.size() % sizeof(T) != 0) {
    throw std::invalid_argument(std::string("packet buffer ") + what + " has " +
                                std::to_string(bytes.size()) + " bytes, not a multiple of " +
                                std::to_string(sizeof(T)));
  }
  std::vector<T> v(bytes.size() / sizeof(T));
  if (!v.empty()) std::memcpy(v.data(), bytes.data(), bytes.size());
  std::string().swap(*buffer);
  return v;
}

bool IsTextType(FieldType t) {
  return t == FieldType::String;
}

}  // namespace

void EncodePacket(const DataPacket& p, wire::Packet* out) {
  if (p.empty()) return;
  const DataPacket::Body& b = p.body();
  out->mutable_fields()->Reserve(static_cast<int>(b.fields.size()));
  for (const FieldDef& f : b.fields) {
    wire::FieldDef* wf = out->add_fields();
    wf->set_name(f.name);
    wf->set_type(static_cast<uint32_t>(f.type));
    wf->set_size(f.size);
    wf->set_fixed_char(f.fixedChar);
  }
  out->set_row_count(b.rowCount);
  out->mutable_columns()->Reserve(static_cast<int>(b.columns.size()));
  for (size_t i = 0; i < b.columns.size(); ++i) {
    const ColumnData& c = b.columns[i];
    wire::Column* wc = out->add_columns();
    if (IsTextType(b.fields[i].type)) {
      wc->set_dict_bytes(c.dictBytes);
      PutRaw(c.dictOffsets, wc->mutable_dict_offsets());
      PutRaw(c.codes, wc->mutable_codes());
    } else {
      PutRaw(c.numbers, wc->mutable_numbers());
      PutRaw(c.nullBits, wc->mutable_null_bits());
    }
  }
  if (!b.status.empty()) {
    out->mutable_status()->assign(reinterpret_cast<const char*>(b.status.data()), b.status.size());
  }
  if (b.originals && !b.originals->empty()) {
    EncodePacket(*b.originals, out->mutable_originals());
    PutRaw(b.originalOf, out->mutable_original_of());
  }
}

DataPacket DecodePacket(wire::Packet* in) {
  DataPacket::Body b;
  b.fields.reserve(in->fields_size());
  for (const wire::FieldDef& wf : in->fields()) {
    if (wf.type() > static_cast<uint32_t>(FieldType::Boolean)) {
      throw std::invalid_argument("packet field \"" + wf.name() + "\" has unknown type " +
                                  std::to_string(wf.type()));
    }
    b.fields.push_back(
        FieldDef{wf.name(), static_cast<FieldType>(wf.type()), wf.size(), wf.fixed_char()});
  }
  if (in->columns_size() != static_cast<int>(b.fields.size())) {
    throw std::invalid_argument("packet has " + std::to_string(b.fields.size()) + " fields but " +
                                std::to_string(in->columns_size()) + " columns");
  }
  b.rowCount = in->row_count();
  if (b.fields.empty() && b.rowCount != 0) {
    throw std::invalid_argument("packet declares " + std::to_string(b.rowCount) +
                                " rows but has no fields");
  }
  b.columns.resize(b.fields.size());
  for (size_t i = 0; i < b.fields.size(); ++i) {
    wire::Column* wc = in->mutable_columns(static_cast<int>(i));
    ColumnData& c = b.columns[i];
    const std::string& name = b.fields[i].name;
    if (IsTextType(b.fields[i].type)) {
      c.dictOffsets = GetRaw<uint32_t>(wc->mutable_dict_offsets(), "dictionary offsets");
      if (c.dictOffsets.empty()) c.dictOffsets.push_back(0);
      c.dictBytes.swap(*wc->mutable_dict_bytes());
      if (c.dictOffsets.front() != 0 || c.dictOffsets.back() != c.dictBytes.size()) {
        throw std::invalid_argument("packet column \"" + name +
                                    "\" has dictionary offsets that do not span its bytes");
      }
      for (size_t k = 1; k < c.dictOffsets.size(); ++k) {
        if (c.dictOffsets[k] < c.dictOffsets[k - 1]) {
          throw std::invalid_argument("packet column \"" + name +
                                      "\" has decreasing dictionary offsets");
        }
      }
      c.codes = GetRaw<int32_t>(wc->mutable_codes(), "codes");
    } else {
      c.numbers = GetRaw<double>(wc->mutable_numbers(), "numbers");
      c.nullBits = GetRaw<uint64_t>(wc->mutable_null_bits(), "null bitmap");
      if (!c.nullBits.empty() && c.nullBits.size() != (b.rowCount + 63) / 64) {
        throw std::invalid_argument("packet column \"" + name + "\" has a null bitmap of " +
                                    std::to_string(c.nullBits.size()) + " words for " +
                                    std::to_string(b.rowCount) + " rows");
      }
    }
  }
  const std::string& status = in->status();
  if (!status.empty()) {
    if (status.size() != b.rowCount) {
      throw std::invalid_argument("packet change log has " + std::to_string(status.size()) +
                                  " statuses for " + std::to_string(b.rowCount) + " rows");
    }
    b.status.resize(status.size());
    for (size_t r = 0; r < status.size(); ++r) {
      auto s = static_cast<uint8_t>(status[r]);
      if (s > static_cast<uint8_t>(RowStatus::Deleted)) {
        throw std::invalid_argument("packet change log has unknown row status " +
                                    std::to_string(s));
      }
      b.status[r] = static_cast<RowStatus>(s);
    }
  }
  if (in->has_originals()) {
    b.originals = std::make_shared<const DataPacket>(DecodePacket(in->mutable_originals()));
    b.originalOf = GetRaw<uint32_t>(in->mutable_original_of(), "original rows");
    if (b.originalOf.size() != b.originals->RowCount()) {
      throw std::invalid_argument("packet originals have " +
                                  std::to_string(b.originals->RowCount()) + " rows but " +
                                  std::to_string(b.originalOf.size()) + " row references");
    }
    for (uint32_t r : b.originalOf) {
      if (r >= b.rowCount) {
        throw std::invalid_argument("packet original refers to row " + std::to_string(r) + " of " +
                                    std::to_string(b.rowCount));
      }
    }
  }
  return DataPacket::FromBody(std::move(b));
}

void EncodeValue(const Value& v, wire::Value* out) {
  switch (v.kind()) {
    case Value::Kind::Null:
      break;
    case Value::Kind::Boolean:
      out->set_boolean(v.AsBoolean());
      break;
    case Value::Kind::Integer:
      out->set_integer(v.AsInteger());
      break;
    case Value::Kind::Float:
      out->set_float_(v.AsFloat());
      break;
    case Value::Kind::Text:
      out->set_text(v.ToText());
      break;
    case Value::Kind::Date:
      out->set_date(v.AsDate().days);
      break;
    case Value::Kind::Packet:
      EncodePacket(v.AsPacket(), out->mutable_packet());
      break;
    case Value::Kind::Array: {
      wire::ValueArray* a = out->mutable_array();
      const ValueArray& items = v.AsArray();
      a->mutable_items()->Reserve(static_cast<int>(items.size()));
      for (const Value& item : items) EncodeValue(item, a->add_items());
      break;
    }
  }
}

Value DecodeValue(wire::Value* in) {
  switch (in->kind_case()) {
    case wire::Value::KIND_NOT_SET:
      return Value();
    case wire::Value::kBoolean:
      return Value(in->boolean());
    case wire::Value::kInteger:
      return Value(static_cast<int64_t>(in->integer()));
    case wire::Value::kFloat:
      return Value(in->float_());
    case wire::Value::kText:
      return Value(std::move(*in->mutable_text()));
    case wire::Value::kDate:
      return Value(DateTime{in->date()});
    case wire::Value::kPacket:
      return Value(DecodePacket(in->mutable_packet()));
    case wire::Value::kArray: {
      ValueArray items;
      items.reserve(in->array().items_size());
      for (wire::Value& item : *in->mutable_array()->mutable_items()) {
        items.push_back(DecodeValue(&item));
      }
      return Value(std::move(items));
    }
  }
  throw std::invalid_argument("value of unknown kind on the wire");
}

}  // namespace apura::rpc
