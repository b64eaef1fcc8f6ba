// The loadable module of the spreadsheet information screen.

#include "framework/value.h"
#include "screens/quotation_screens.h"

extern "C" void IniProc(const apura::Value& Param) {
  if (Param.kind() != apura::Value::Kind::Array)
    throw apura::ConversionError("PRQ01803: os valores de abertura devem ser uma lista");
  apura::screens::AbreInfPlanilha(Param.AsArray());
}
