// Filter expressions: any text either binds and filters or is refused with an
// error; no crash, no unbounded recursion, no undefined behaviour.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "framework/dataset/dataset.h"

using namespace apura;

namespace {

DataPacket Rows() {
  PacketBuilder b({{"CODE", FieldType::String, 10},
                   {"QTY", FieldType::Float, 0},
                   {"DT", FieldType::DateTime, 0},
                   {"N", FieldType::Integer, 0},
                   {"B", FieldType::Boolean, 0}});
  b.Add({Value("10"), Value(5.0), Value(DateTime::FromDate(2026, 12, 8)), Value(int64_t{3}),
         Value(true)});
  b.Add({Value(""), Value(), Value(), Value(), Value()});
  b.Add({Value("D'AVILA"), Value(-1e300), Value(DateTime{0.5}), Value(int64_t{-7}), Value(false)});
  return b.Build();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const DataPacket rows = Rows();
  TClientDataSet t("cdsFuzz");
  t.SetData(rows);
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (bool caseInsensitive : {false, true}) {
    try {
      t.FilterCaseInsensitive = caseInsensitive;
      t.SetFilter(text);
      t.SetFiltered(true);
      for (t.First(); !t.Eof(); t.Next()) (void)t.Fields()[0]->AsString();
      // The same rows one at a time, as a posted record is checked.
      t.SetFiltered(false);
      t.Append();
      t.Fields()[0]->SetAsString("10");
      t.Post();
    } catch (const std::exception&) {
      // Refused expressions are fine; a crash is not.
    }
  }
  return 0;
}
