// The loadable module of the negotiation and simulation screen.

#include "framework/value.h"
#include "screens/quotation_screens.h"

extern "C" void IniProc(const apura::Value& Param) {
  if (Param.kind() != apura::Value::Kind::Array)
    throw apura::ConversionError("PRQ01802: os valores de abertura devem ser uma lista");
  apura::screens::AbreNegociacao(Param.AsArray());
}
