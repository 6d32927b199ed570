#include "scripteddocuments.h"

#include <QCoreApplication>
#include <QTimer>

using namespace skarnel;

namespace {

class ScriptedDocument final : public PageLoad
{
public:
    explicit ScriptedDocument(std::shared_ptr<ScriptedDocumentService::State> state)
        : state(std::move(state))
    {
    }

    bool isDone() const override
    {
        if (!std::exchange(state->waited, true) && state->service->onWait)
            state->service->onWait(state->address);
        return state->complete;
    }
    QString text() const override { return {}; }
    int httpStatus() const override { return state->complete ? 200 : 0; }
    QList<FoundLink> foundLinks() const override
    {
        if (!std::exchange(state->consumed, true))
            state->service->consumed.append(state->address);
        QList<FoundLink> found;
        for (const QString &address : state->links)
            found.append({address, AddressKind::Page});
        return found;
    }

private:
    std::shared_ptr<ScriptedDocumentService::State> state;
};

void wakeEventLoop()
{
    QTimer::singleShot(0, QCoreApplication::instance(), [] {});
}

} // namespace

void ScriptedDocumentService::setPage(const QString &address, const QStringList &links)
{
    pages.insert(address, links);
}

void ScriptedDocumentService::holdPage(const QString &address)
{
    heldAddresses.append(address);
}

void ScriptedDocumentService::release(const QString &address)
{
    heldAddresses.removeAll(address);
    for (const std::weak_ptr<State> &weak : held.take(address)) {
        if (const auto state = weak.lock())
            state->complete = true;
    }
    wakeEventLoop();
}

std::unique_ptr<PageLoad> ScriptedDocumentService::load(const QString &address, const LoadRequest &)
{
    requested.append(address);

    auto state = std::make_shared<State>();
    state->address = address;
    state->links = pages.value(address);
    state->service = this;
    state->live = live;
    if (heldAddresses.contains(address)) {
        held[address].push_back(state);
    } else {
        QTimer::singleShot(0, QCoreApplication::instance(), [weak = std::weak_ptr<State>(state)] {
            if (const auto s = weak.lock())
                s->complete = true;
        });
    }
    return std::make_unique<ScriptedDocument>(std::move(state));
}
