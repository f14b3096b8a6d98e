#pragma once

#include <QtGlobal>
#include <cstddef>
#include <utility>
#include <vector>

namespace Tavrix::Net::WebSockets {

// Which clients of a server to drop before its next message goes out, from
// what each still has unsent: every client past its own bound, then, while
// all of them together and the message would pass the server's bound, the
// one furthest behind. A stalled client costs the service memory until it
// is dropped; many of them must not add up without end.
class BacklogBound
{
public:
    enum class EReason { OwnBound, TogetherBound };

    BacklogBound(qint64 perClient, qint64 total)
        : m_perClient(perClient)
        , m_total(total)
    {
    }

    // Indices into `unsent`, in the order to drop them.
    std::vector<std::pair<std::size_t, EReason>> clientsToDrop(const std::vector<qint64>& unsent,
                                                               qint64 incoming) const;

private:
    qint64 m_perClient;
    qint64 m_total;
};

} // namespace Tavrix::Net::WebSockets
