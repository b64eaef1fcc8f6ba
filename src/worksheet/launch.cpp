#include "worksheet/launch.h"

extern "C" {
apura::worksheet::TfrmPlanApurNegGrid* frmPlanApurNegGrid = nullptr;
bool boStCriado = false;
std::string stCentCmp;
std::string stCdComprador;
std::string stNmComprador;
std::string stDtInicial;
std::string stDtFinal;
std::string stNrSeq_Rows;
std::string stIdQtFrac;
}
