#include "htmlcondense.h"

#include <cstring>
#include <string_view>

// The states below are those of the HTML tokenizer, followed only as far as needed to know where
// markup ends and text begins. Wherever a state is left for another, the comment names the rule.

namespace {

bool isSpace(char c)
{
    // CR is read as LF before tokenizing.
    return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ';
}

bool isAsciiAlpha(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c;
}

// What a byte is to a run of text.
enum ByteKind : unsigned char {
    Solid = 1, // text other than white space
    Blank = 2, // white space
    // The start of markup and of character references, NUL, and, so that a run can never hold
    // anything another tokenizer state gives a meaning to, quotes, "=", "/", "-", "!", brackets
    // and the backtick: these end a run.
    Ends = 4,
};

struct ByteKinds
{
    unsigned char of[256] = {};

    constexpr ByteKinds()
    {
        for (int c = 0; c < 256; ++c)
            of[c] = Solid;
        for (char c : {'\t', '\n', '\f', '\r', ' '})
            of[static_cast<unsigned char>(c)] = Blank;
        for (char c : {'<', '&', '\0', '>', '"', '\'', '=', '/', '-', '!', '[', ']', '`'})
            of[static_cast<unsigned char>(c)] = Ends;
    }
};

constexpr ByteKinds byteKinds;

unsigned char kindOf(char c)
{
    return byteKinds.of[static_cast<unsigned char>(c)];
}

enum class Content {
    Markup,
    RawText, // RCDATA and RAWTEXT: text up to the matching end tag
    Script,  // script data
    Unknown, // the tree builder decides: stop condensing
};

Content contentOf(std::string_view startTag)
{
    for (std::string_view raw : {"title", "textarea", "style", "xmp", "iframe", "noembed", "noframes"})
        if (startTag == raw)
            return Content::RawText;
    if (startTag == "script")
        return Content::Script;
    // Foreign content tokenizes differently (CDATA, no raw-text elements); <select> and
    // <frameset> ignore raw-text start tags; in <template> a start tag may be ignored too;
    // <plaintext> never ends.
    for (std::string_view other : {"svg", "math", "select", "template", "frameset", "plaintext"})
        if (startTag == other)
            return Content::Unknown;
    return Content::Markup;
}

constexpr std::size_t longestName = 16;

struct TagName
{
    char text[longestName] = {};
    std::size_t size = 0;
    bool tooLong = false;

    void add(char c)
    {
        if (size == longestName)
            tooLong = true;
        else
            text[size++] = asciiLower(c);
    }
    std::string_view view() const { return tooLong ? std::string_view("-") : std::string_view(text, size); }
};

class Condenser final
{
public:
    explicit Condenser(QByteArrayView html)
        : s(html.data())
        , n(html.size())
    {
    }

    QByteArray run()
    {
        out.reserve(n);
        qsizetype i = 0;
        while (i < n) {
            const char c = s[i];
            if (c == '<') {
                i = markup(i);
                if (i < 0)
                    break; // stop condensing: the rest is copied
                continue;
            }
            if (kindOf(c) == Ends) {
                ++i;
                continue;
            }
            const qsizetype start = i;
            unsigned char kinds = 0;
            for (unsigned char kind; i < n && (kind = kindOf(s[i])) != Ends; ++i)
                kinds |= kind;
            if ((kinds & Solid) && i - start > 1) {
                out.append(s + copied, start - copied);
                out.append('.');
                copied = i;
            }
        }
        out.append(s + copied, n - copied);
        return out;
    }

private:
    // Reads the markup that starts with the "<" at `i`, in the data state. Returns where the data
    // state resumes, or -1 when condensing must stop.
    qsizetype markup(qsizetype i)
    {
        if (i + 1 >= n)
            return n;
        const char next = s[i + 1];
        if (isAsciiAlpha(next)) { // tag open state: a start tag
            TagName name;
            const qsizetype end = tag(i + 1, &name);
            switch (contentOf(name.view())) {
            case Content::Markup: return end;
            case Content::RawText: return rawText(end, name.view(), false);
            case Content::Script: return rawText(end, name.view(), true);
            case Content::Unknown: return -1;
            }
            return -1;
        }
        if (next == '/') { // end tag open state
            if (i + 2 >= n)
                return n;
            if (isAsciiAlpha(s[i + 2]))
                return tag(i + 2, nullptr);
            if (s[i + 2] == '>')
                return i + 3;
            return bogusComment(i + 2);
        }
        if (next == '!') { // markup declaration open state
            if (startsWith(i + 2, "--"))
                return comment(i + 4);
            if (startsWith(i + 2, "[CDATA["))
                return -1;
            // A DOCTYPE ends at its first ">", even inside a quoted identifier, as a bogus
            // comment does.
            return bogusComment(i + 2);
        }
        if (next == '?')
            return bogusComment(i + 1);
        return i + 1; // "<" as text
    }

    // From the first letter of a tag's name to just after the ">" that ends it.
    qsizetype tag(qsizetype i, TagName *name)
    {
        enum class State {
            Name,
            BeforeAttributeName,
            AttributeName,
            AfterAttributeName,
            BeforeAttributeValue,
            DoubleQuoted,
            SingleQuoted,
            Unquoted,
            AfterQuoted,
            SelfClosing,
        };
        State state = State::Name;
        while (i < n) {
            const char c = s[i++];
            switch (state) {
            case State::Name:
                if (isSpace(c))
                    state = State::BeforeAttributeName;
                else if (c == '/')
                    state = State::SelfClosing;
                else if (c == '>')
                    return i;
                else if (name)
                    name->add(c);
                break;
            case State::BeforeAttributeName:
                if (isSpace(c))
                    break;
                if (c == '/')
                    state = State::SelfClosing;
                else if (c == '>')
                    return i;
                else
                    state = State::AttributeName; // "=" and quotes here begin a name
                break;
            case State::AttributeName:
                if (isSpace(c))
                    state = State::AfterAttributeName;
                else if (c == '/')
                    state = State::SelfClosing;
                else if (c == '=')
                    state = State::BeforeAttributeValue;
                else if (c == '>')
                    return i;
                break;
            case State::AfterAttributeName:
                if (isSpace(c))
                    break;
                if (c == '/')
                    state = State::SelfClosing;
                else if (c == '=')
                    state = State::BeforeAttributeValue;
                else if (c == '>')
                    return i;
                else
                    state = State::AttributeName;
                break;
            case State::BeforeAttributeValue:
                if (isSpace(c))
                    break;
                if (c == '"')
                    state = State::DoubleQuoted;
                else if (c == '\'')
                    state = State::SingleQuoted;
                else if (c == '>')
                    return i;
                else
                    state = State::Unquoted;
                break;
            case State::DoubleQuoted:
                if (c == '"')
                    state = State::AfterQuoted;
                break;
            case State::SingleQuoted:
                if (c == '\'')
                    state = State::AfterQuoted;
                break;
            case State::Unquoted:
                if (isSpace(c))
                    state = State::BeforeAttributeName;
                else if (c == '>')
                    return i;
                break;
            case State::AfterQuoted:
                if (isSpace(c))
                    state = State::BeforeAttributeName;
                else if (c == '/')
                    state = State::SelfClosing;
                else if (c == '>')
                    return i;
                else {
                    state = State::BeforeAttributeName; // reconsumed
                    --i;
                }
                break;
            case State::SelfClosing:
                if (c == '>')
                    return i;
                state = State::BeforeAttributeName; // reconsumed
                --i;
                break;
            }
        }
        return n;
    }

    // From just after "<!--" to just after the comment's end.
    qsizetype comment(qsizetype i)
    {
        enum class State { Start, StartDash, Body, EndDash, End, EndBang };
        State state = State::Start;
        while (i < n) {
            const char c = s[i++];
            switch (state) {
            case State::Start:
                state = c == '-' ? State::StartDash : State::Body;
                if (c == '>')
                    return i;
                break;
            case State::StartDash:
                state = c == '-' ? State::End : State::Body;
                if (c == '>')
                    return i;
                break;
            case State::Body:
                if (c == '-')
                    state = State::EndDash;
                break;
            case State::EndDash:
                state = c == '-' ? State::End : State::Body;
                break;
            case State::End:
                if (c == '>')
                    return i;
                if (c == '!')
                    state = State::EndBang;
                else if (c != '-')
                    state = State::Body;
                break;
            case State::EndBang:
                if (c == '>')
                    return i;
                state = c == '-' ? State::EndDash : State::Body;
                break;
            }
        }
        return n;
    }

    // Up to and including the next ">".
    qsizetype bogusComment(qsizetype i) const
    {
        const void *end = i < n ? std::memchr(s + i, '>', std::size_t(n - i)) : nullptr;
        return end ? static_cast<const char *>(end) - s + 1 : n;
    }

    // From just after the start tag of a raw-text element to just after its end tag: the first
    // "</" followed by the element's name, in any case, and by white space, "/" or ">". In a
    // script, "<!--" would start the escaped states, which are not followed.
    qsizetype rawText(qsizetype i, std::string_view name, bool script)
    {
        while (i < n) {
            const void *found = std::memchr(s + i, '<', std::size_t(n - i));
            if (!found)
                return n;
            const qsizetype open = static_cast<const char *>(found) - s;
            if (script && startsWith(open + 1, "!--"))
                return -1;
            if (open + 1 < n && s[open + 1] == '/' && isEndTagName(open + 2, name)) {
                const qsizetype after = open + 2 + qsizetype(name.size());
                if (after < n && (isSpace(s[after]) || s[after] == '/' || s[after] == '>'))
                    return tag(open + 2, nullptr);
            }
            i = open + 1;
        }
        return n;
    }

    bool isEndTagName(qsizetype i, std::string_view name) const
    {
        if (n - i < qsizetype(name.size()))
            return false;
        for (std::size_t k = 0; k < name.size(); ++k)
            if (asciiLower(s[i + qsizetype(k)]) != name[k])
                return false;
        return true;
    }

    // Whether the text at `i` starts with `prefix`, letters in any case.
    bool startsWith(qsizetype i, std::string_view prefix) const
    {
        if (n - i < qsizetype(prefix.size()))
            return false;
        for (std::size_t k = 0; k < prefix.size(); ++k)
            if (asciiLower(s[i + qsizetype(k)]) != asciiLower(prefix[k]))
                return false;
        return true;
    }

    const char *s = nullptr;
    qsizetype n = 0;
    QByteArray out;
    qsizetype copied = 0; // s up to here is in `out`
};

} // namespace

QByteArray condenseText(QByteArrayView html)
{
    return Condenser(html).run();
}
