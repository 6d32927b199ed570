#pragma once

#include <net/pageload.h>

#include <QHash>
#include <QStringList>

#include <functional>
#include <memory>

using namespace skarnel;

// A loader of pages for the check whose pages a test scripts: their text, a failure, or a fetch
// that stays in flight until released. A fetch finishes through an event posted when it starts, as
// a real one would. Unknown addresses fail.
class ScriptedTransfer final : public PageLoader
{
public:
    void setPage(const QString &address, const QString &text);
    // The page answers `status` with `text` as its body.
    void setAnswer(const QString &address, int status, const QString &statusText,
                   const QString &text);
    // The fetch of the page fails for `reason`.
    void setFailure(const QString &address, const QString &reason);
    void holdPage(const QString &address);
    void release(const QString &address);

    std::unique_ptr<PageLoad> load(const QString &address, const LoadRequest &request) override;

    // Runs when the check first waits for a fetch (asks whether it has finished).
    std::function<void(const QString &address)> onWait;
    // Every address requested, in order, fetches ahead included.
    QStringList requested;
    // The addresses whose result the check read, in order: the pages it tested.
    QStringList consumed;
    // Fetches handed out and not yet destroyed.
    int liveFetches = 0;
    // Fetches destroyed before they finished.
    int aborted = 0;

    struct State
    {
        QString address;
        QString text;
        bool finished = false;
        bool consumed = false;
        bool waited = false;
        bool failed = false;
        int status = 0;
        QString statusText;
        QString failure;
    };

private:
    struct Answer
    {
        int status = 200;
        QString statusText;
        QString text;
    };
    QHash<QString, Answer> pages;
    QHash<QString, QString> failures;
    QStringList heldAddresses;
    QHash<QString, std::vector<std::weak_ptr<State>>> held;
};
