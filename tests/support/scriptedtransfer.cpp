#include "scriptedtransfer.h"

#include <QCoreApplication>
#include <QTimer>

using namespace skarnel;

namespace {

class ScriptedFetch final : public PageLoad
{
public:
    ScriptedFetch(std::shared_ptr<ScriptedTransfer::State> state, ScriptedTransfer &transfer)
        : state(std::move(state))
        , transfer(transfer)
    {
        ++transfer.liveFetches;
    }
    ~ScriptedFetch() override
    {
        --transfer.liveFetches;
        if (!state->finished)
            ++transfer.aborted;
    }

    bool isDone() const override
    {
        if (!std::exchange(state->waited, true) && transfer.onWait)
            transfer.onWait(state->address);
        return state->finished;
    }
    bool failed() const override
    {
        if (state->finished && !std::exchange(state->consumed, true))
            transfer.consumed.append(state->address);
        return state->failed;
    }
    QString text() const override { return state->finished ? state->text : QString(); }
    int httpStatus() const override { return state->finished ? state->status : 0; }
    QString statusText() const override { return state->finished ? state->statusText : QString(); }
    QList<FoundLink> foundLinks() const override { return {}; }
    LoadOutcome outcome() const override
    {
        if (!state->finished)
            return LoadOutcome::Running;
        return state->failed ? LoadOutcome::Failed : LoadOutcome::Complete;
    }
    QString failureReason() const override
    {
        return state->finished && state->failed ? state->failure : QString();
    }

private:
    std::shared_ptr<ScriptedTransfer::State> state;
    ScriptedTransfer &transfer;
};

} // namespace

void ScriptedTransfer::setPage(const QString &address, const QString &text)
{
    pages.insert(address, {200, QStringLiteral("OK"), text});
}

void ScriptedTransfer::setAnswer(const QString &address, int status, const QString &statusText,
                                 const QString &text)
{
    pages.insert(address, {status, statusText, text});
}

void ScriptedTransfer::setFailure(const QString &address, const QString &reason)
{
    pages.remove(address);
    failures.insert(address, reason);
}

void ScriptedTransfer::holdPage(const QString &address)
{
    heldAddresses.append(address);
}

void ScriptedTransfer::release(const QString &address)
{
    heldAddresses.removeAll(address);
    for (const std::weak_ptr<State> &weak : held.take(address)) {
        if (const auto state = weak.lock())
            state->finished = true;
    }
    QTimer::singleShot(0, QCoreApplication::instance(), [] {});
}

std::unique_ptr<PageLoad> ScriptedTransfer::load(const QString &address, const LoadRequest &)
{
    requested.append(address);

    auto state = std::make_shared<State>();
    state->address = address;
    state->failed = !pages.contains(address);
    const Answer answer = pages.value(address);
    state->text = answer.text;
    state->status = state->failed ? 0 : answer.status;
    state->statusText = answer.statusText;
    state->failure = failures.value(address, QStringLiteral("host not found"));
    if (heldAddresses.contains(address)) {
        held[address].push_back(state);
    } else {
        QTimer::singleShot(0, QCoreApplication::instance(), [weak = std::weak_ptr<State>(state)] {
            if (const auto s = weak.lock())
                s->finished = true;
        });
    }
    return std::make_unique<ScriptedFetch>(std::move(state), *this);
}
