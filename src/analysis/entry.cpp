#include "analysis/entry.h"

#include "analysis/form.h"
#include "framework/forms.h"
#include "framework/host.h"

using apura::ConversionError;
using apura::Value;

extern "C" {

void IniProc(const Value& Param) {
  if (Param.kind() != Value::Kind::Array)
    throw ConversionError(std::string("PRQ05100: os parâmetros devem ser uma lista, não ") +
                          apura::KindName(Param.kind()));
  const apura::ValueArray& values = Param.AsArray();
  const char* names[] = {"centro de compras", "apuração"};
  std::string st[2];
  for (size_t i = 0; i < 2; ++i) {
    if (i >= values.size())
      throw ConversionError(std::string("PRQ05100: falta o parâmetro ") + std::to_string(i) + " (" +
                            names[i] + ")");
    st[i] = values[i].ToText();
    if (st[i].empty())
      throw ConversionError(std::string("PRQ05100: o parâmetro ") + std::to_string(i) + " (" +
                            names[i] + ") está vazio");
  }
  if (!frmAnaliseAF) apura::CreateForm(frmAnaliseAF);
  frmAnaliseAF->Carrega(st[0], st[1]);
  frmAnaliseAF->Show();
  frmAnaliseAF->BringToFront();
}
}
