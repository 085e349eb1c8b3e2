// SPDX-License-Identifier: MIT
#pragma once

#include "ExportModel.h"
#include "ReceivedData.h"

namespace exporter {

// The values of the group the decoder has just completed (read from its onGroupComplete
// observer), chosen the way its report shows them: the laps that have a lap line, the
// statistics only when one of them was received, and the end-time field. Exporting a capture
// and exporting the report text of that capture therefore give the same rows.
void GroupFromDecoder(const TReceivedData& decoder, GroupRow& out);

} // namespace exporter
