// Display and edit formats: number pictures, date pictures, edit masks and the
// text-to-number and text-to-date readers, with any picture and any value.
//
// Input: one byte choosing the conversion, eight bytes of a double, then the
// picture (or mask) and, after a NUL, the text to read or mask.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>

#include "framework/format.h"

using namespace apura;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 9) return 0;
  const uint8_t which = data[0];
  double v = 0;
  std::memcpy(&v, data + 1, sizeof v);
  std::string_view rest(reinterpret_cast<const char*>(data + 9), size - 9);
  const size_t nul = rest.find('\0');
  const std::string_view picture = rest.substr(0, nul);
  const std::string_view text = nul == std::string_view::npos ? "" : rest.substr(nul + 1);
  try {
    switch (which % 6) {
      case 0:
        (void)FormatFloat(picture, v);
        break;
      case 1:
        (void)FormatDateTime(picture, DateTime{v});
        break;
      case 2: {
        double out = 0;
        if (TextToFloat(text, out)) (void)FloatToText(out);
        break;
      }
      case 3: {
        DateTime d;
        if (TextToDateTime(text, d)) (void)DateTimeToText(d);
        break;
      }
      case 4:
        (void)StripEditMask(picture, ApplyEditMask(picture, text));
        break;
      default:
        (void)FloatToText(v);
        (void)DateTimeToText(DateTime{v});
    }
  } catch (const std::exception&) {
    // A value a picture cannot show may be refused; never a crash.
  }
  return 0;
}
