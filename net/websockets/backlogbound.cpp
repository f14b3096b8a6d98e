#include "net/websockets/backlogbound.h"

namespace Tavrix::Net::WebSockets {

std::vector<std::pair<std::size_t, BacklogBound::EReason>>
BacklogBound::clientsToDrop(const std::vector<qint64>& unsent, qint64 incoming) const
{
    std::vector<std::pair<std::size_t, EReason>> drop;
    std::vector<bool> kept(unsent.size(), true);
    qint64 together = 0;
    for (std::size_t i = 0; i < unsent.size(); ++i) {
        if (unsent[i] > m_perClient) {
            drop.emplace_back(i, EReason::OwnBound);
            kept[i] = false;
        } else {
            together += unsent[i];
        }
    }
    while (together + incoming > m_total) {
        std::size_t furthest = unsent.size();
        for (std::size_t i = 0; i < unsent.size(); ++i) {
            if (kept[i] && (furthest == unsent.size() || unsent[i] > unsent[furthest]))
                furthest = i;
        }
        if (furthest == unsent.size())
            break;
        drop.emplace_back(furthest, EReason::TogetherBound);
        kept[furthest] = false;
        together -= unsent[furthest];
    }
    return drop;
}

} // namespace Tavrix::Net::WebSockets
