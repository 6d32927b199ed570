#pragma once

#include <net/pageload.h>

#include <QHash>
#include <QStringList>

#include <functional>
#include <memory>

using namespace skarnel;

// A loader of pages for the crawl and the search whose pages a test scripts: their links and the
// moment they complete. A page completes through an event posted when it is requested, as a real
// load would; a held page stays loading until the test releases it. Unknown addresses complete with
// no links.
class ScriptedDocumentService final : public PageLoader
{
public:
    void setPage(const QString &address, const QStringList &links);
    // The page's documents stay loading until release(); their links show all the while.
    void holdPage(const QString &address);
    void release(const QString &address);

    std::unique_ptr<PageLoad> load(const QString &address, const LoadRequest &request) override;

    // Runs when a command first waits for a page's load (asks whether it is done).
    std::function<void(const QString &address)> onWait;
    // Every address requested, in order, loads ahead included.
    QStringList requested;
    // The addresses whose links a command read, in order: the pages it worked through.
    QStringList consumed;
    // Documents handed out and not yet destroyed.
    int liveDocuments() const { return int(live.use_count()) - 1; }

    struct State
    {
        QString address;
        QStringList links;
        bool complete = false;
        bool consumed = false;
        bool waited = false;
        ScriptedDocumentService *service = nullptr;
        std::shared_ptr<int> live;
    };

private:
    QHash<QString, QStringList> pages;
    QHash<QString, std::vector<std::weak_ptr<State>>> held;
    QStringList heldAddresses;
    std::shared_ptr<int> live = std::make_shared<int>(0);
};
