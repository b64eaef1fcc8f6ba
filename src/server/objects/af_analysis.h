#pragma once
// The server object of the AF analysis screen: the AFs of a tally, their
// items, and the ones kept aside as inconsistent or below a supplier's limit.

#include <memory>

#include "contract/objects.h"
#include "framework/packet.h"
#include "rpc/dispatch.h"
#include "server/services/tally_service.h"

namespace apura::server {

class Sessions;

using contract::kAfAnalysisObject;

// Field lists of the three answers, in column order.
const std::vector<FieldDef>& AutoForneFields();
const std::vector<FieldDef>& ItmAutoForneFields();
const std::vector<FieldDef>& AFInconsFields();

// Every AF of the tally, by number; the tally must belong to the centre.
DataPacket GetAutoForne(TallyService& service, const std::string& centre, const std::string& tally);
// The items of every AF of the tally, by AF and item number.
DataPacket GetItmAutoForne(TallyService& service, const std::string& centre,
                           const std::string& tally);
// The AFs the effectuation kept aside, with the reason.
DataPacket GetAFIncons(TallyService& service, const std::string& centre, const std::string& tally);

// "E" effective, "B" waiting for release, "I" inconsistent; the text shown.
std::string AfStateText(const std::string& status);

// With sessions, the centre a call names must be one the caller works in;
// without (tests of the object alone), nothing is checked.
std::shared_ptr<rpc::IServerObject> MakeAfAnalysisObject(TallyService& service,
                                                         Sessions* sessions = nullptr);

}  // namespace apura::server
