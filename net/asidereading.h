#pragma once

#include <html/htmllinks.h>

#include <memory>

class QObject;
class QThreadPool;

namespace skarnel {

class PageDownload;

// The threads that read pages, as many as there are cores, shared by every reading of the
// program: the network's pages read aside and a built folder's files.
QThreadPool &pageReaders();

// The reading of a downloaded page's links, resources or anchors on a worker thread, so that the
// window goes on while a page is read (a large page takes a second, a hostile one up to the parse
// budget) and the pages loaded ahead are read while the walk works on the current one.
//
// Pages are read on as many threads as there are cores, under the one memory budget of the html
// library. Destroying the reading before it is done has it skipped, or stopped soon. It is done in
// an event delivered on the thread that created it, so a caller may sleep in the event loop until
// the next event and ask again.
class AsideReading final
{
public:
    AsideReading();
    ~AsideReading();
    AsideReading(const AsideReading &) = delete;
    AsideReading &operator=(const AsideReading &) = delete;

    // Reads the body that `download` holds, which has ended, with `options`.
    void start(const PageDownload &download, PageReadOptions options);
    bool isDone() const { return done; }
    // What was read; empty until done, and when the reading did not complete.
    PageReading result() const;

private:
    struct Shared;

    std::shared_ptr<Shared> shared;
    // Receives the event that says the reading is done.
    std::unique_ptr<QObject> receiver;
    bool done = false;
};

} // namespace skarnel
