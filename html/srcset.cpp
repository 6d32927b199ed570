#include "srcset.h"

#include <algorithm>
#include <charconv>

namespace skarnel {

namespace {

bool isAsciiWhitespace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isNonNegativeInteger(QByteArrayView text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), isDigit);
}

qsizetype firstSignificantDigit(QByteArrayView digits)
{
    const auto found = std::find_if(digits.begin(), digits.end(), [](char c) { return c != '0'; });
    return found == digits.end() ? -1 : found - digits.begin();
}

// Whether `text` is a valid floating-point number, as HTML writes them, whose value is not negative
// and stays finite once rounded to a double: a pixel density a browser takes.
bool isDensity(QByteArrayView text)
{
    qsizetype at = 0;
    const auto skipDigits = [&] {
        const qsizetype start = at;
        while (at < text.size() && isDigit(text[at]))
            ++at;
        return text.sliced(start, at - start);
    };
    const bool negative = text.startsWith('-');
    if (negative)
        ++at;
    const QByteArrayView integer = skipDigits();
    QByteArrayView fraction;
    if (at < text.size() && text[at] == '.') {
        ++at;
        fraction = skipDigits();
        if (fraction.isEmpty())
            return false;
    }
    if (integer.isEmpty() && fraction.isEmpty())
        return false;
    qint64 exponent = 0;
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        ++at;
        const bool exponentNegative = at < text.size() && text[at] == '-';
        if (at < text.size() && (text[at] == '-' || text[at] == '+'))
            ++at;
        const QByteArrayView digits = skipDigits();
        if (digits.isEmpty())
            return false;
        // Held far past the range of a double either way: only the way matters.
        for (const char digit : digits)
            exponent = std::min<qint64>(exponent * 10 + (digit - '0'), 1'000'000);
        if (exponentNegative)
            exponent = -exponent;
    }
    if (at != text.size())
        return false;

    // The power of ten of the first significant digit: only a value of 10^308 and more can be too
    // large for a double, and only such a value is converted to find out.
    qint64 power = 0;
    if (const qsizetype first = firstSignificantDigit(integer); first >= 0)
        power = integer.size() - 1 - first;
    else if (const qsizetype first = firstSignificantDigit(fraction); first >= 0)
        power = -1 - first;
    else
        return true; // zero, whatever its sign
    if (negative)
        return false;
    if (power + exponent < 308)
        return true;
    double value = 0;
    return std::from_chars(text.begin(), text.end(), value).ec == std::errc();
}

// The descriptors of one srcset candidate, checked as they are read: at most one width ("100w"),
// or else one density ("1.5x"), and a height ("50h") only beside a width.
class SrcsetDescriptors
{
public:
    void add(QByteArrayView descriptor)
    {
        const char unit = descriptor.back();
        const QByteArrayView value = descriptor.chopped(1);
        if (unit == 'w' && isNonNegativeInteger(value)) {
            wrong = wrong || width || density || firstSignificantDigit(value) < 0;
            width = true;
        } else if (unit == 'x') {
            wrong = wrong || width || density || height || !isDensity(value);
            density = true;
        } else if (unit == 'h' && isNonNegativeInteger(value)) {
            wrong = wrong || height || density || firstSignificantDigit(value) < 0;
            height = true;
        } else {
            wrong = true;
        }
    }
    bool valid() const { return !wrong && (width || !height); }

private:
    bool width = false;
    bool density = false;
    bool height = false;
    bool wrong = false;
};

// Reads the descriptors of a srcset candidate from `at`, just after its address, into
// `descriptors`, and returns where the next candidate begins: past the comma that ends these
// descriptors outside parentheses, or the end.
qsizetype readSrcsetDescriptors(QByteArrayView srcset, qsizetype at, SrcsetDescriptors &descriptors)
{
    enum class State { InDescriptor, InParentheses, AfterDescriptor };
    State state = State::InDescriptor;
    qsizetype start = -1; // of the descriptor being read
    const auto endDescriptor = [&](qsizetype end) {
        if (start >= 0)
            descriptors.add(srcset.sliced(start, end - start));
        start = -1;
    };
    while (at < srcset.size()) {
        const char c = srcset[at];
        if (state == State::AfterDescriptor) {
            if (!isAsciiWhitespace(c)) {
                state = State::InDescriptor;
                continue;
            }
        } else if (state == State::InParentheses) {
            if (c == ')')
                state = State::InDescriptor;
        } else if (isAsciiWhitespace(c)) {
            endDescriptor(at);
            state = State::AfterDescriptor;
        } else if (c == ',') {
            endDescriptor(at);
            return at + 1;
        } else {
            if (start < 0)
                start = at;
            if (c == '(')
                state = State::InParentheses;
        }
        ++at;
    }
    endDescriptor(at);
    return at;
}

} // namespace

std::optional<QByteArrayView> nextSrcsetCandidate(QByteArrayView srcset, qsizetype &at)
{
    for (;;) {
        while (at < srcset.size() && (isAsciiWhitespace(srcset[at]) || srcset[at] == ','))
            ++at;
        if (at == srcset.size())
            return std::nullopt;
        const qsizetype start = at;
        while (at < srcset.size() && !isAsciiWhitespace(srcset[at]))
            ++at;
        QByteArrayView address = srcset.sliced(start, at - start);
        if (address.endsWith(',')) {
            while (address.endsWith(','))
                address.chop(1);
            return address;
        }
        SrcsetDescriptors descriptors;
        at = readSrcsetDescriptors(srcset, at, descriptors);
        if (descriptors.valid())
            return address;
    }
}

} // namespace skarnel
