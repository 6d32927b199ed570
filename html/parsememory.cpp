#include "parsememory.h"

#include <sys/mman.h>

#include <condition_variable>
#include <csetjmp>
#include <cstddef>
#include <functional>
#include <memory_resource>
#include <mutex>
#include <new>
#include <unordered_map>

namespace skarnel {

namespace {

// The memory that the parses under way hold together, whatever thread each runs on: one budget,
// so that pages read side by side take no more than one page could. A parse draws from it in
// quanta, so that the threads seldom meet on the counter, and a page of ordinary size takes one.
class ParseMemory final
{
public:
    // Gumbo takes some 150 bytes for each element: a page that is little else but elements, 16 MiB
    // of "<p>", would take it over a gigabyte. A page of 200,000 links takes 140 MiB.
    static constexpr std::size_t budget = std::size_t(192) << 20;
    static constexpr std::size_t quantum = std::size_t(1) << 20;

    bool draw(std::size_t bytes)
    {
        std::size_t used = inUse.load(std::memory_order_relaxed);
        do {
            if (bytes > budget - used)
                return false;
        } while (!inUse.compare_exchange_weak(used, used + bytes, std::memory_order_relaxed));
        return true;
    }
    void giveBack(std::size_t bytes) { inUse.fetch_sub(bytes, std::memory_order_relaxed); }

    // A parse holds a turn for as long as its tree lives. A shared turn runs beside others; a turn
    // of its own, taken by a parse that the others left short of memory, begins once they have
    // ended and holds the next ones back meanwhile, so that a page's links never depend on which
    // pages are read with it. Waiting ends early, without the turn, once `stop` says so.
    bool enter(bool alone, const std::function<bool()> &stop)
    {
        std::unique_lock lock(mutex);
        if (alone)
            ++waitingAlone;
        const auto free = [&] {
            return !runningAlone && (alone ? runningShared == 0 : waitingAlone == 0);
        };
        while (!free() && !stop())
            changed.wait_for(lock, std::chrono::milliseconds(20));
        if (alone)
            --waitingAlone;
        const bool entered = free();
        if (entered)
            ++(alone ? runningAlone : runningShared);
        lock.unlock();
        changed.notify_all();
        return entered;
    }
    void leave(bool alone)
    {
        {
            const std::lock_guard lock(mutex);
            --(alone ? runningAlone : runningShared);
        }
        changed.notify_all();
    }

private:
    std::atomic<std::size_t> inUse = 0;
    std::mutex mutex;
    std::condition_variable changed;
    int runningShared = 0;
    int runningAlone = 0;
    int waitingAlone = 0;
};

// Never destroyed: a parse still running on a pool thread as the process exits goes on using it.
ParseMemory &parseMemory()
{
    static auto *memory = new ParseMemory;
    return *memory;
}

// Blocks of a mebibyte and more are mapped from the system and unmapped when let go. Parses on
// different threads allocate from different malloc arenas, which keep what they are given back:
// a parse would leave its arena holding the memory that a parse on the next thread then takes
// again, and the process twice the budget. Throws std::bad_alloc when the system has no memory.
void *allocateBlock(std::size_t size)
{
    if (size < ParseMemory::quantum)
        return ::operator new(size);
    void *block = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED)
        throw std::bad_alloc();
    return block;
}

void freeBlock(void *block, std::size_t size)
{
    if (size < ParseMemory::quantum)
        ::operator delete(block);
    else
        ::munmap(block, size);
}

class BlockResource final : public std::pmr::memory_resource
{
    void *do_allocate(std::size_t size, std::size_t) override { return allocateBlock(size); }
    void do_deallocate(void *block, std::size_t size, std::size_t) override
    {
        freeBlock(block, size);
    }
    bool do_is_equal(const std::pmr::memory_resource &other) const noexcept override
    {
        return this == &other;
    }
};

bool mustStop(QDeadlineTimer deadline, const std::atomic<bool> *abandoned)
{
    return deadline.hasExpired() || (abandoned && abandoned->load(std::memory_order_relaxed));
}

} // namespace

// A parse's turn at parseMemory(), held from the parse to the end of its tree.
class ParsedHtml::Turn final
{
public:
    Turn(bool alone, const std::function<bool()> &stop)
        : alone(alone)
        , entered(parseMemory().enter(alone, stop))
    {
    }
    Turn(const Turn &) = delete;
    Turn &operator=(const Turn &) = delete;
    ~Turn()
    {
        if (entered)
            parseMemory().leave(alone);
    }

    const bool alone;
    const bool entered;
};

// Gumbo allocates from an arena that is released as a whole with the tree. A tree is never freed
// node by node (gumbo_destroy_output recurses once per level and overflows the stack on a deeply
// nested page), and a parse that must stop can be left at any allocation. Gumbo frees little
// before the end but the buffers it outgrows; those are the large blocks, which are returned as
// soon as it frees them. Small blocks carry no header: gumbo makes millions of them for a large
// page, and a free that is not of a large block is simply ignored.
//
// A parse has one way out when it must stop, whatever the reason: stop() jumps back to where it
// began, past gumbo's frames, which are C and have nothing to undo. Nothing is thrown through them.
struct ParsedHtml::GumboRun final
{
    static constexpr unsigned allocationsPerCheck = 256;
    static constexpr std::size_t largeBlock = 4096;
    static constexpr std::size_t alignment = alignof(std::max_align_t);

    GumboRun(std::size_t inputSize, QDeadlineTimer deadline, const std::atomic<bool> *abandoned)
        : smallBlocks(inputSize + largeBlock, &blocks)
        , deadline(deadline)
        , abandoned(abandoned)
    {
    }
    GumboRun(const GumboRun &) = delete;
    GumboRun &operator=(const GumboRun &) = delete;
    ~GumboRun()
    {
        for (const auto &[block, size] : largeBlocks)
            freeBlock(block, size);
        parseMemory().giveBack(drawn);
    }

    // The tree of `html`, or null when the parse stopped.
    const GumboOutput *parse(QByteArrayView html)
    {
        GumboOptions options = kGumboDefaultOptions;
        options.allocator = allocate;
        options.deallocator = release;
        options.userdata = this;
        options.max_errors = 0;
        if (setjmp(stopped) != 0)
            return nullptr;
        return gumbo_parse_with_options(&options, html.data(), size_t(html.size()));
    }

    // Leaves the parse for parse() to return null. Called from allocate() alone: the frames it
    // leaves are gumbo's, which are C, and allocate()'s, which holds nothing to destroy.
    [[noreturn]] void stop() { std::longjmp(stopped, 1); }

    // Counts `size` more bytes against the shared budget; false when it cannot hold them.
    bool account(std::size_t size)
    {
        held += size;
        if (held <= drawn)
            return true;
        const std::size_t more = (held - drawn + ParseMemory::quantum - 1) / ParseMemory::quantum
                                 * ParseMemory::quantum;
        if (!parseMemory().draw(more)) {
            crowdedOut = held <= ParseMemory::budget;
            return false;
        }
        drawn += more;
        return true;
    }

    // A block of `size` bytes, or null when the system has none.
    void *block(std::size_t size) noexcept
    {
        try {
            if (size < largeBlock)
                return smallBlocks.allocate(size, alignment);
            void *large = allocateBlock(size);
            try {
                largeBlocks.emplace(large, size);
            } catch (const std::bad_alloc &) {
                freeBlock(large, size);
                throw;
            }
            return large;
        } catch (const std::bad_alloc &) {
            return nullptr;
        }
    }

    static void *allocate(void *userdata, size_t size) noexcept
    {
        auto *run = static_cast<GumboRun *>(userdata);
        if (--run->allocationsBeforeCheck == 0) {
            run->allocationsBeforeCheck = allocationsPerCheck;
            if (mustStop(run->deadline, run->abandoned))
                run->stop();
        }
        if (!run->account(size))
            run->stop();
        void *block = run->block(size);
        if (!block)
            run->stop();
        return block;
    }

    static void release(void *userdata, void *pointer) noexcept
    {
        auto *run = static_cast<GumboRun *>(userdata);
        const auto large = run->largeBlocks.find(pointer);
        if (large == run->largeBlocks.end())
            return;
        run->held -= large->second;
        freeBlock(pointer, large->second);
        run->largeBlocks.erase(large);
        // What is freed goes back to the other parses once it comes to a few quanta.
        if (run->drawn - run->held >= 4 * ParseMemory::quantum) {
            const std::size_t spare =
                    (run->drawn - run->held) / ParseMemory::quantum * ParseMemory::quantum;
            parseMemory().giveBack(spare);
            run->drawn -= spare;
        }
    }

    BlockResource blocks;
    std::pmr::monotonic_buffer_resource smallBlocks;
    std::unordered_map<void *, std::size_t> largeBlocks; // each with its size
    // What gumbo holds: every small block it was given and the large blocks it has not freed.
    std::size_t held = 0;
    // What this run has drawn from parseMemory(), in quanta: never less than `held`.
    std::size_t drawn = 0;
    // Set when the run stopped for want of memory that the other parses held.
    bool crowdedOut = false;
    QDeadlineTimer deadline;
    const std::atomic<bool> *abandoned = nullptr;
    unsigned allocationsBeforeCheck = allocationsPerCheck;
    std::jmp_buf stopped;
};

ParsedHtml::ParsedHtml(QByteArrayView html, QDeadlineTimer deadline,
                       const std::atomic<bool> *abandoned)
{
    const auto stop = [&] { return mustStop(deadline, abandoned); };
    // A parse that the others left short of memory is given up and made again alone.
    for (const bool alone : {false, true}) {
        run.reset();
        turn.reset();
        turn = std::make_unique<Turn>(alone, stop);
        if (!turn->entered)
            return;
        run = std::make_unique<GumboRun>(std::size_t(html.size()), deadline, abandoned);
        if (const GumboOutput *output = run->parse(html)) {
            root = output->document;
            return;
        }
        if (!run->crowdedOut)
            return;
    }
}

ParsedHtml::~ParsedHtml() = default;

} // namespace skarnel
