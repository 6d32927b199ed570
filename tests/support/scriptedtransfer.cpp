#include "scriptedtransfer.h"

#include <QCoreApplication>
#include <QTimer>

namespace {

class ScriptedFetch final : public PageFetch
{
public:
    ScriptedFetch(std::shared_ptr<ScriptedTransfer::State> state, int &aborted)
        : state(std::move(state))
        , aborted(aborted)
    {
    }
    ~ScriptedFetch() override
    {
        if (!state->finished)
            ++aborted;
    }

    bool isFinished() const override { return state->finished; }
    bool failed() const override { return state->failed; }
    QString text() const override { return state->finished ? state->text : QString(); }

private:
    std::shared_ptr<ScriptedTransfer::State> state;
    int &aborted;
};

} // namespace

void ScriptedTransfer::setPage(const QString &address, const QString &text)
{
    pages.insert(address, text);
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

std::unique_ptr<PageFetch> ScriptedTransfer::openUrl(const QString &address)
{
    requested.append(address);
    if (onRequest)
        onRequest(address);

    auto state = std::make_shared<State>();
    state->failed = !pages.contains(address);
    state->text = pages.value(address);
    if (heldAddresses.contains(address)) {
        held[address].push_back(state);
    } else {
        QTimer::singleShot(0, QCoreApplication::instance(), [weak = std::weak_ptr<State>(state)] {
            if (const auto s = weak.lock())
                s->finished = true;
        });
    }
    return std::make_unique<ScriptedFetch>(std::move(state), aborted);
}
