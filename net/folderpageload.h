#pragma once

#include <net/fetchlimits.h>
#include <net/pageload.h>

#include <folder/builtfolder.h>

#include <memory>
#include <optional>

namespace skarnel {

// The loads of a run that starts from a built folder: an address inside the folder (its file://
// form, or its address under the site) is read from disk, a file:// address outside it is checked
// for existence alone, and every other address goes to `network`. Without a folder every load
// goes to the network.
//
// A file is read and its page parsed on the page readers' threads, as the network's pages are
// (see AsideReading), never on the UI thread, and without any pace: the parse on every core is
// the limit. Each load is done in an event delivered on the thread that created it. The links a
// page holds are resolved against its address under the site, so that "/" is the folder's root
// and ".." cannot climb out of it; those under the site are given in their file:// form.
//
// A file read before as a page under another address (the same device and inode: a symbolic link,
// a folder and its index.html) is a page all the same, but its links are not read again: a
// folder that links to itself cannot make the crawl go on for ever.
class FolderLoader final : public PageLoader
{
public:
    explicit FolderLoader(PageLoader &network, FetchLimits limits = {});
    ~FolderLoader() override;

    // The folder the loads read from now on; none: all go to the network. Setting another folder
    // forgets which files were read as pages.
    void setFolder(std::optional<BuiltFolder> folder);
    const std::optional<BuiltFolder> &folder() const { return current; }

    std::unique_ptr<PageLoad> load(const QString &address, const LoadRequest &request) override;
    void startRun() override;

    struct Shared;

private:
    PageLoader &network;
    FetchLimits limits;
    std::optional<BuiltFolder> current;
    // With the folder, which file was read as a page under which address; shared with the loads,
    // which may outlive the loader.
    std::shared_ptr<Shared> shared;
};

// The file:// form of a served address as lists and reports write it.
QString shownAddress(const BuiltFolder &folder, const QUrl &served);

} // namespace skarnel
