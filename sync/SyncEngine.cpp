#include "sync/SyncEngine.h"

#include "store/Connection.h"

namespace caldav {

SyncEngine::SyncEngine(const QString &, const Account &) {}
SyncEngine::~SyncEngine() = default;

std::optional<Binding> SyncEngine::binding(store::Connection &) { return std::nullopt; }

void SyncEngine::bind(store::Connection &, const Binding &)
{
    throw DavError(Fault::Http, QStringLiteral("Calendar sync is not available in this build."));
}

void SyncEngine::unbind(store::Connection &) {}

SyncOutcome SyncEngine::run(ConflictChooser *, const std::function<bool(int, int)> &)
{
    throw DavError(Fault::Http, QStringLiteral("Calendar sync is not available in this build."));
}

} // namespace caldav
