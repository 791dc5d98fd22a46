// The user-info-sys answer decoded while it arrives.
#pragma once

#include <cstddef>

#include "answer_feed.h"
#include "kestrix/plugins/pnx.h"

namespace kestrix::plugins {

// take_panel_accounts on the answer `feed` brings: the same table, the same
// messages. The feed is read to its end whatever the decode finds. `asked`,
// the number of uids asked about, sizes the table.
Result<PanelAccountsByUid> decode_arriving_panel_accounts(AnswerFeed& feed, std::size_t asked);

}  // namespace kestrix::plugins
