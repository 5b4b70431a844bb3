// The one list of places the plugin publishes to. A new target is a file of its own
// (a class derived from Target) and a row here.
#include "plugin/target.h"

#include <windows.h>

#include <iterator>

#include "common/platform.h"
#include "core/state.h"
#include "common/text.h"
#include "common/utf8.h"
#include "core/listen_lane.h"
#include "plugin/target_lastfm.h"
#include "plugin/target_listenbrainz.h"
#include "plugin/target_site.h"
#include "plugin/target_worker.h"

namespace nimbo {

// The listening services first, each account a target: their exchanges are bounded,
// while the site's login may wait for the user in the security-code window. The first
// accounts lead, in the order of old.
Target* const kTargets[] = {&listenBrainzTarget(0), &lastFmTarget(0),       &listenBrainzTarget(1),
                            &lastFmTarget(1),       &listenBrainzTarget(2), &lastFmTarget(2),
                            &listenBrainzTarget(3), &lastFmTarget(3),       &siteTarget()};
static_assert(std::size(kTargets) <= kMaxTargets, "a target without its worker");

Target* const* publishTargets(size_t& count) {
    count = std::size(kTargets);
    return kTargets;
}

uint32_t RefusalMark::markOf(const std::wstring& text) {
    return queueChecksum(encodeUtf8(text)) | 1;
}

void dropQueueFile(const std::wstring& fileName, ListenLane& lane) {
    const std::wstring path = listenQueuePath(fileName.c_str());
    QueueContents queue, rest;
    if (!path.empty() && loadListens(path, queue) == QueueStatus::done &&
        removeListens(path, queue.listens) == QueueStatus::done &&
        loadListens(path, rest) == QueueStatus::done && rest.listens.empty() && !rest.skipped &&
        !rest.torn)
        DeleteFileW(path.c_str());
    lane.reset();
}

std::wstring Target::tryPrefix() const {
    const int tries = schedule_.failedTries();
    return tries > 0 ? L"try " + decimalText(tries + 1) + L", " : std::wstring();
}

void RequestSpacing::waitTurn(bool endsAtQuit) const {
    const uint64_t now = cycleClockMs();
    if (now >= next_ || next_ - now > kSpacingMs) return;
    const DWORD rest = DWORD(next_ - now);
    if (endsAtQuit)
        WaitForSingleObject(quitEvent(), rest);
    else
        Sleep(rest);
}

ExchangeLimits RequestSpacing::waitTurn(const ExchangeLimits& limits) const {
    const uint64_t asked = cycleClockMs();
    waitTurn(limits.endsAtQuit);
    ExchangeLimits left = limits;
    const uint64_t waited = cycleClockMs() - asked;
    if (!limits.endsAtQuit)
        left.totalMs = waited < left.totalMs ? unsigned(left.totalMs - waited) : 0;
    return left;
}

}  // namespace nimbo
