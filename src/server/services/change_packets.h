#pragma once
// The worksheet's change packet of delivery rows (cdsDados with its change
// log), applied to a loaded tally: which rows it changes and how, refused whole
// when any row cannot be applied.

#include <map>
#include <vector>

#include "framework/packet.h"
#include "server/model.h"

namespace apura::server {

// Selection, quantity and justification of each changed delivery row, kept in
// `changed` by row (the model itself is shared with its readers). Returns the
// updates to store.
std::vector<ItemUpdate> ApplyChanges(const TallyModel& m, const DataPacket& p,
                                     std::map<size_t, Item>& changed);

}  // namespace apura::server
