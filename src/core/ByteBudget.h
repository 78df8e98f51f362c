#pragma once

#include <cstddef>
#include <functional>
#include <utility>

// The bytes the program may hold on behalf of clients, all told: stored messages and the data of
// messages still arriving. Holders take bytes before they hold them and give them back when they
// let go; a request the budget cannot grant in full is refused and takes nothing.
class ByteBudget {
public:
    explicit ByteBudget(std::size_t limit = defaultLimit());

    // A quarter of the machine's memory, at most 4 GiB.
    static std::size_t defaultLimit();

    std::size_t limit() const { return m_limit; }
    // A lower limit than what is in use refuses every request until enough is given back.
    void setLimit(std::size_t limit) { m_limit = limit; }
    std::size_t used() const { return m_used; }
    std::size_t remaining() const { return m_used < m_limit ? m_limit - m_used : 0; }
    // The most ever in use at once.
    std::size_t peak() const { return m_peak; }

    // Takes bytes when they fit; when they do not, the reclaimer may first make room.
    bool tryTake(std::size_t bytes);
    void giveBack(std::size_t bytes);

    // Asked, when a request does not fit, to give back what it can of the bytes wanted (by
    // ending holders that can go); returns whether anything was given back. Not asked again
    // while it runs.
    using Reclaimer = std::function<bool(std::size_t bytes)>;
    void setReclaimer(Reclaimer reclaimer) { m_reclaimer = std::move(reclaimer); }

private:
    friend class ByteCharge;
    // Takes bytes when they fit as things stand: the path of every line of mail data.
    bool takeFree(std::size_t bytes);

    std::size_t m_limit;
    std::size_t m_used = 0;
    std::size_t m_peak = 0;
    Reclaimer m_reclaimer;
    bool m_reclaiming = false;
};

// Bytes one holder has taken from a budget, given back when it is reset or destroyed. Without a
// budget every request is granted.
class ByteCharge {
public:
    ByteCharge() = default;
    ~ByteCharge() { reset(); }
    ByteCharge(const ByteCharge&) = delete;
    ByteCharge& operator=(const ByteCharge&) = delete;

    void setBudget(ByteBudget* budget);
    // Takes what is missing for the charge to cover bytes in all; false (and nothing taken) when
    // the budget cannot grant it.
    bool cover(std::size_t bytes);
    void reset();
    std::size_t bytes() const { return m_bytes; }

private:
    // When the bytes do not fit as things stand: kept off the path of those that do.
    [[gnu::cold, gnu::noinline]] bool coverReclaiming(std::size_t bytes);

    ByteBudget* m_budget = nullptr;
    std::size_t m_bytes = 0;
};

// Parses a size such as "512M", "4G", "65536" or "1.5G" (binary units, K, M, G, T, with or without
// a trailing "B" or "iB"); false when the text is no size.
bool parseByteSize(const char* text, std::size_t& bytes);
