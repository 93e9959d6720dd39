#pragma once

#include "sync/SyncEngine.h"

#include <QString>

#include <functional>
#include <optional>

// How the windows reach the sync core, one calendar named by its connection
// string at a time; tests put a run of their own in its place.
class SyncBackend
{
public:
    virtual ~SyncBackend() = default;
    [[nodiscard]] virtual std::optional<caldav::Binding> binding(const QString &connectionString) = 0;
    virtual void bind(const QString &connectionString, const caldav::Binding &binding) = 0;
    virtual void unbind(const QString &connectionString) = 0;
    // Runs on a worker thread; throws as SyncEngine::run does.
    virtual caldav::SyncOutcome run(const QString &connectionString, const caldav::Account &account,
                                    caldav::ConflictChooser *chooser,
                                    const std::function<bool(int done, int total)> &progress) = 0;
};

// The real one: SyncEngine.
class EngineSyncBackend : public SyncBackend
{
public:
    std::optional<caldav::Binding> binding(const QString &connectionString) override;
    void bind(const QString &connectionString, const caldav::Binding &binding) override;
    void unbind(const QString &connectionString) override;
    caldav::SyncOutcome run(const QString &connectionString, const caldav::Account &account,
                            caldav::ConflictChooser *chooser,
                            const std::function<bool(int done, int total)> &progress) override;
};
