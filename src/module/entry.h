#pragma once
// The exported entries of the screen module, as the host resolves them by
// name after loading libPRQ05001. The module-wide settings are exported too
// (worksheet/launch.h).

#include <string>

#include "framework/value.h"

extern "C" {

// Opens the worksheet with the seven launch values of the host's array:
// purchasing centre, buyer code, buyer name, start and end of the delivery
// period, tally number, repeat-effectuation flag. Each becomes its text form;
// an array that is short or holds a value without a text form is a
// ConversionError naming the element, raised before any setting changes.
void IniProc(const apura::Value& Param);

// The same with the seven texts, in launch-index order.
void CriaPlanApurNegGrid(const std::string& stP_CentCmp, const std::string& stP_CdComprador,
                         const std::string& stP_NmComprador, const std::string& stP_DtInicial,
                         const std::string& stP_DtFinal, const std::string& stP_NrSeq_Rows,
                         const std::string& stP_IdQtFrac);

// Reloads a tally into the open worksheet.
void MontaApur(const std::string& stNrApur);

// The package: what it holds, and its load and unload entries, which the host
// calls once after loading and once before unloading.
struct ApuraPackageInfo {
  const char* name;
  const char* const* units;
  int unitCount;
};
const ApuraPackageInfo* GetPackageInfoTable();
void PackageLoad();
void PackageUnload();
}

namespace apura::module {

using IniProcProc = void (*)(const Value&);
using CriaPlanApurNegGridProc = void (*)(const std::string&, const std::string&, const std::string&,
                                         const std::string&, const std::string&, const std::string&,
                                         const std::string&);
using MontaApurProc = void (*)(const std::string&);
using GetPackageInfoTableProc = const ApuraPackageInfo* (*)();
using PackageProc = void (*)();

}  // namespace apura::module
