// The tokenizer's loop: text, tag and attribute states, and character references.
#include "web/html_tokenizer.h"

#include <algorithm>
#include <iterator>

#include "web/html_chars.h"

namespace zentaro::web {

using namespace htmlchars;

namespace {

struct NamedReference {
    const char16_t* name;
    const char16_t* text;
};

constexpr NamedReference kNamedReferences[] = {
#include "web/html_entities.inc"
};

constexpr qsizetype kLongestReferenceName = 32;

// The longest named reference that the text starts with; null when none.
const NamedReference* longestReference(QStringView text) {
    for (qsizetype len = std::min(text.size(), kLongestReferenceName); len > 0; --len) {
        const QStringView want = text.left(len);
        const auto* it = std::lower_bound(
            std::begin(kNamedReferences), std::end(kNamedReferences), want,
            [](const NamedReference& r, QStringView w) { return QStringView(r.name).compare(w) < 0; });
        if (it != std::end(kNamedReferences) && QStringView(it->name) == want) return it;
    }
    return nullptr;
}

char32_t numericReferenceValue(char32_t v) {
    static const char16_t c1[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                    0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
    if (v == 0 || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return kReplacement;
    if (v >= 0x80 && v <= 0x9F) return c1[v - 0x80];
    return v;
}

} // namespace

const HtmlAttribute* HtmlTag::attribute(QStringView wanted) const {
    for (const HtmlAttribute& a : attributes)
        if (a.name == wanted) return &a;
    return nullptr;
}

QString normalizeNewlines(const QString& text) {
    if (!text.contains(u'\r')) return text;
    QString out;
    out.reserve(text.size());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c != u'\r') {
            out += c;
            continue;
        }
        out += u'\n';
        if (i + 1 < n && text[i + 1] == u'\n') ++i;
    }
    return out;
}

HtmlTokenizer::HtmlTokenizer(QStringView input, HtmlSink& sink)
    : m_in(input), m_d(reinterpret_cast<const char16_t*>(input.utf16())), m_n(input.size()), m_sink(sink) {}

void HtmlTokenizer::emitText(qsizetype from, qsizetype to) {
    if (m_wantText && to > from) m_sink.text(m_in.mid(from, to - from));
}

void HtmlTokenizer::emitChar(char16_t c) {
    if (m_wantText) m_sink.text(QStringView(&c, 1));
}

void HtmlTokenizer::commitAttribute() {
    if (m_keepAttrs && m_inAttr && !m_dropAttr)
        m_tag.attributes.push_back({std::move(m_attrName), std::move(m_attrValue)});
    m_attrName.resize(0);
    m_attrValue.resize(0);
    m_dropAttr = false;
    m_inAttr = false;
}

void HtmlTokenizer::startAttribute() {
    commitAttribute();
    m_inAttr = true;
}

void HtmlTokenizer::finishAttributeName() {
    if (m_inAttr && m_keepAttrs) m_dropAttr = m_tag.attribute(m_attrName) != nullptr;
}

void HtmlTokenizer::emitTag() {
    commitAttribute();
    m_tag.end_ = m_pos;
    if (!m_tag.end) {
        // Copied into its own buffer: shared, the next tag's name would need a new one.
        m_lastStartTag.resize(0);
        m_lastStartTag.append(m_tag.name);
    }
    m_state = State::Data;
    m_sink.tag(m_tag);
}

void HtmlTokenizer::emitComment() {
    m_sink.comment(m_comment);
}

void HtmlTokenizer::emitDoctype() {
    m_sink.doctype(m_doctype);
}

bool HtmlTokenizer::appropriateEndTag() const {
    return !m_lastStartTag.isEmpty() && m_tag.name == m_lastStartTag;
}

void HtmlTokenizer::appendToAttribute(QStringView s) {
    if (m_keepAttrs) m_attrValue += s;
}

void HtmlTokenizer::characterReference(bool inAttribute) {
    // m_pos is just after the "&".
    auto flush = [&](QStringView s) {
        if (inAttribute)
            appendToAttribute(s);
        else if (m_wantText)
            m_sink.text(s);
    };
    const int c = m_pos < m_n ? m_d[m_pos] : kEof;
    if (isAlnum(c)) {
        qsizetype end = m_pos;
        while (end < m_n && end - m_pos < kLongestReferenceName && isAlnum(m_d[end]))
            ++end;
        if (end < m_n && m_d[end] == u';') ++end;
        const NamedReference* ref = longestReference(m_in.mid(m_pos, end - m_pos));
        if (!ref) {
            flush(u"&");
            return;
        }
        const QStringView name(ref->name);
        const qsizetype after = m_pos + name.size();
        const int next = after < m_n ? m_d[after] : kEof;
        if (inAttribute && !name.endsWith(u';') && (next == '=' || isAlnum(next))) {
            flush(m_in.mid(m_pos - 1, name.size() + 1));
        } else {
            flush(QStringView(ref->text));
        }
        m_pos = after;
        return;
    }
    if (c != '#') {
        flush(u"&");
        return;
    }
    qsizetype p = m_pos + 1;
    const bool hex = p < m_n && (m_d[p] == u'x' || m_d[p] == u'X');
    if (hex) ++p;
    if (p >= m_n || !(hex ? isHex(m_d[p]) : isDigit(m_d[p]))) {
        // No digits: the text stands as written.
        flush(m_in.mid(m_pos - 1, p - m_pos + 1));
        m_pos = p;
        return;
    }
    char32_t v = 0;
    while (p < m_n && (hex ? isHex(m_d[p]) : isDigit(m_d[p]))) {
        const int d = m_d[p];
        const int digit = isDigit(d) ? d - '0' : (lower(d) - 'a' + 10);
        if (v <= 0x10FFFF) v = v * (hex ? 16 : 10) + char32_t(digit);
        ++p;
    }
    if (p < m_n && m_d[p] == u';') ++p;
    m_pos = p;
    const char32_t cp = numericReferenceValue(v);
    const QString text = QString::fromUcs4(&cp, 1);
    flush(text);
}

void HtmlTokenizer::run() {
    const char16_t* d = m_d;
    const qsizetype n = m_n;
    qsizetype tagStart = 0;
    auto newTag = [&](bool end) {
        m_tag.name.resize(0); // keeps its buffer
        m_tag.attributes.clear();
        m_tag.end = end;
        m_tag.selfClosing = false;
        m_tag.start = tagStart;
        m_keepAttrs = true;
        m_attrName.resize(0);
        m_attrValue.resize(0);
        m_dropAttr = false;
        m_inAttr = false;
    };
    auto askAttributes = [&] { m_keepAttrs = m_sink.wantAttributes(m_tag.name, m_tag.end); };
    // The end tag states of RCDATA, RAWTEXT and script data: fallback is the content state to go back to.
    auto endTagName = [&](int c, State fallback) {
        if (isSpace(c) && appropriateEndTag()) {
            askAttributes();
            m_state = State::BeforeAttributeName;
        } else if (c == '/' && appropriateEndTag()) {
            askAttributes();
            m_state = State::SelfClosingStartTag;
        } else if (c == '>' && appropriateEndTag()) {
            emitTag();
        } else if (isAlpha(c)) {
            m_tag.name += lower(c);
            m_temp += QChar(char16_t(c));
        } else {
            if (m_wantText) {
                m_sink.text(u"</");
                m_sink.text(m_temp);
            }
            if (c != kEof) --m_pos;
            m_state = fallback;
        }
    };

    while (true) {
        switch (m_state) {
        case State::Data:
        case State::RcData: {
            // Text with references; RCDATA (title, textarea) ends only at its own end tag and replaces NUL.
            const bool rcData = m_state == State::RcData;
            const qsizetype i = m_wantText ? findStop(d, m_pos, n, u'<', u'&', u'\0')
                                           : findStop(d, m_pos, n, u'<', u'<', u'<');
            emitText(m_pos, i);
            if (i >= n) return;
            m_pos = i + 1;
            if (d[i] == u'<') {
                tagStart = i;
                m_state = rcData ? State::RcDataLessThan : State::TagOpen;
            } else if (d[i] == u'&') {
                characterReference(false);
            } else {
                emitChar(rcData ? kReplacement : u'\0');
            }
            continue;
        }
        case State::RawText:
        case State::ScriptData: {
            const qsizetype i = findStop(d, m_pos, n, u'<', u'\0', u'\0');
            emitText(m_pos, i);
            if (i >= n) return;
            m_pos = i + 1;
            if (d[i] == u'<') {
                tagStart = i;
                m_state = m_state == State::RawText ? State::RawTextLessThan : State::ScriptLessThan;
            } else {
                emitChar(kReplacement);
            }
            continue;
        }
        case State::PlainText: {
            const qsizetype i = findStop(d, m_pos, n, u'\0', u'\0', u'\0');
            emitText(m_pos, i);
            if (i >= n) return;
            m_pos = i + 1;
            emitChar(kReplacement);
            continue;
        }
        default:
            break;
        }

        const int c = m_pos < n ? d[m_pos++] : kEof;
        auto reconsume = [&](State s) {
            if (c != kEof) --m_pos;
            m_state = s;
        };
        switch (m_state) {
        case State::TagOpen:
            if (c == '!') {
                m_state = State::MarkupDeclarationOpen;
            } else if (c == '/') {
                m_state = State::EndTagOpen;
            } else if (isAlpha(c)) {
                newTag(false);
                reconsume(State::TagName);
            } else if (c == '?') {
                m_comment.clear();
                reconsume(State::BogusComment);
            } else {
                emitChar(u'<');
                if (c == kEof) return;
                reconsume(State::Data);
            }
            break;
        case State::EndTagOpen:
            if (isAlpha(c)) {
                newTag(true);
                reconsume(State::TagName);
            } else if (c == '>') {
                m_state = State::Data;
            } else if (c == kEof) {
                if (m_wantText) m_sink.text(u"</");
                return;
            } else {
                m_comment.clear();
                reconsume(State::BogusComment);
            }
            break;
        case State::TagName: {
            if (c == kEof) return;
            if (isSpace(c) || c == '/' || c == '>') {
                if (c == '>') {
                    emitTag();
                } else {
                    askAttributes();
                    m_state = isSpace(c) ? State::BeforeAttributeName : State::SelfClosingStartTag;
                }
                break;
            }
            if (c == 0) {
                m_tag.name += kReplacement;
                break;
            }
            // The rest of an ordinary name at once.
            qsizetype end = m_pos;
            while (end < n) {
                const char16_t e = d[end];
                if (isSpace(e) || e == u'/' || e == u'>' || e == 0) break;
                ++end;
            }
            appendLowered(m_tag.name, m_in.mid(m_pos - 1, end - m_pos + 1));
            m_pos = end;
            break;
        }
        case State::RcDataLessThan:
        case State::RawTextLessThan: {
            const bool rc = m_state == State::RcDataLessThan;
            if (c == '/') {
                m_temp.clear();
                m_state = rc ? State::RcDataEndTagOpen : State::RawTextEndTagOpen;
            } else {
                emitChar(u'<');
                reconsume(rc ? State::RcData : State::RawText);
            }
            break;
        }
        case State::RcDataEndTagOpen:
        case State::RawTextEndTagOpen:
        case State::ScriptEndTagOpen:
        case State::ScriptEscapedEndTagOpen: {
            const State content = m_state == State::RcDataEndTagOpen    ? State::RcData
                                  : m_state == State::RawTextEndTagOpen ? State::RawText
                                  : m_state == State::ScriptEndTagOpen  ? State::ScriptData
                                                                        : State::ScriptEscaped;
            if (isAlpha(c)) {
                newTag(true);
                const State name = content == State::RcData       ? State::RcDataEndTagName
                                   : content == State::RawText    ? State::RawTextEndTagName
                                   : content == State::ScriptData ? State::ScriptEndTagName
                                                                  : State::ScriptEscapedEndTagName;
                reconsume(name);
            } else {
                if (m_wantText) m_sink.text(u"</");
                reconsume(content);
            }
            break;
        }
        case State::RcDataEndTagName:
            endTagName(c, State::RcData);
            break;
        case State::RawTextEndTagName:
            endTagName(c, State::RawText);
            break;
        case State::ScriptEndTagName:
            endTagName(c, State::ScriptData);
            break;
        case State::ScriptEscapedEndTagName:
            endTagName(c, State::ScriptEscaped);
            break;
        case State::ScriptLessThan:
            if (c == '/') {
                m_temp.clear();
                m_state = State::ScriptEndTagOpen;
            } else if (c == '!') {
                m_state = State::ScriptEscapeStart;
                if (m_wantText) m_sink.text(u"<!");
            } else {
                emitChar(u'<');
                reconsume(State::ScriptData);
            }
            break;
        case State::ScriptEscapeStart:
        case State::ScriptEscapeStartDash:
            if (c == '-') {
                m_state = m_state == State::ScriptEscapeStart ? State::ScriptEscapeStartDash
                                                              : State::ScriptEscapedDashDash;
                emitChar(u'-');
            } else {
                reconsume(State::ScriptData);
            }
            break;
        case State::ScriptEscaped: {
            if (c == kEof) return;
            if (c == '-') {
                m_state = State::ScriptEscapedDash;
                emitChar(u'-');
            } else if (c == '<') {
                tagStart = m_pos - 1;
                m_state = State::ScriptEscapedLessThan;
            } else if (c == 0) {
                emitChar(kReplacement);
            } else {
                const qsizetype i = findStop(d, m_pos, n, u'-', u'<', u'\0');
                emitText(m_pos - 1, i);
                m_pos = i;
            }
            break;
        }
        case State::ScriptEscapedDash:
        case State::ScriptEscapedDashDash:
            if (c == kEof) return;
            if (c == '-') {
                m_state = State::ScriptEscapedDashDash;
                emitChar(u'-');
            } else if (c == '<') {
                tagStart = m_pos - 1;
                m_state = State::ScriptEscapedLessThan;
            } else if (c == '>' && m_state == State::ScriptEscapedDashDash) {
                m_state = State::ScriptData;
                emitChar(u'>');
            } else {
                m_state = State::ScriptEscaped;
                emitChar(c == 0 ? kReplacement : char16_t(c));
            }
            break;
        case State::ScriptEscapedLessThan:
            if (c == '/') {
                m_temp.clear();
                m_state = State::ScriptEscapedEndTagOpen;
            } else if (isAlpha(c)) {
                m_temp.clear();
                emitChar(u'<');
                reconsume(State::ScriptDoubleEscapeStart);
            } else {
                emitChar(u'<');
                reconsume(State::ScriptEscaped);
            }
            break;
        case State::ScriptDoubleEscapeStart:
        case State::ScriptDoubleEscapeEnd: {
            const bool start = m_state == State::ScriptDoubleEscapeStart;
            if (isSpace(c) || c == '/' || c == '>') {
                const bool script = m_temp == QLatin1String("script");
                m_state = start ? (script ? State::ScriptDoubleEscaped : State::ScriptEscaped)
                                : (script ? State::ScriptEscaped : State::ScriptDoubleEscaped);
                emitChar(char16_t(c));
            } else if (isAlpha(c)) {
                m_temp += lower(c);
                emitChar(char16_t(c));
            } else {
                reconsume(start ? State::ScriptEscaped : State::ScriptDoubleEscaped);
            }
            break;
        }
        case State::ScriptDoubleEscaped:
        case State::ScriptDoubleEscapedDash:
        case State::ScriptDoubleEscapedDashDash:
            if (c == kEof) return;
            if (c == '-') {
                m_state = m_state == State::ScriptDoubleEscaped ? State::ScriptDoubleEscapedDash
                                                                : State::ScriptDoubleEscapedDashDash;
                emitChar(u'-');
            } else if (c == '<') {
                m_state = State::ScriptDoubleEscapedLessThan;
                emitChar(u'<');
            } else if (c == '>' && m_state == State::ScriptDoubleEscapedDashDash) {
                m_state = State::ScriptData;
                emitChar(u'>');
            } else if (m_state == State::ScriptDoubleEscaped && c != 0) {
                const qsizetype i = findStop(d, m_pos, n, u'-', u'<', u'\0');
                emitText(m_pos - 1, i);
                m_pos = i;
            } else {
                m_state = State::ScriptDoubleEscaped;
                emitChar(c == 0 ? kReplacement : char16_t(c));
            }
            break;
        case State::ScriptDoubleEscapedLessThan:
            if (c == '/') {
                m_temp.clear();
                m_state = State::ScriptDoubleEscapeEnd;
                emitChar(u'/');
            } else {
                reconsume(State::ScriptDoubleEscaped);
            }
            break;
        case State::BeforeAttributeName:
            if (isSpace(c)) break;
            if (c == '/' || c == '>' || c == kEof) {
                reconsume(State::AfterAttributeName);
            } else if (c == '=') {
                startAttribute();
                if (m_keepAttrs) m_attrName += u'=';
                m_state = State::AttributeName;
            } else {
                startAttribute();
                reconsume(State::AttributeName);
            }
            break;
        case State::AttributeName:
            if (isSpace(c) || c == '/' || c == '>' || c == kEof) {
                finishAttributeName();
                reconsume(State::AfterAttributeName);
            } else if (c == '=') {
                finishAttributeName();
                m_state = State::BeforeAttributeValue;
            } else if (c == 0) {
                if (m_keepAttrs) m_attrName += kReplacement;
            } else {
                qsizetype end = m_pos;
                while (end < n) {
                    const char16_t e = d[end];
                    if (isSpace(e) || e == u'/' || e == u'>' || e == u'=' || e == 0) break;
                    ++end;
                }
                if (m_keepAttrs) appendLowered(m_attrName, m_in.mid(m_pos - 1, end - m_pos + 1));
                m_pos = end;
            }
            break;
        case State::AfterAttributeName:
            if (isSpace(c)) break;
            if (c == '/') {
                m_state = State::SelfClosingStartTag;
            } else if (c == '=') {
                m_state = State::BeforeAttributeValue;
            } else if (c == '>') {
                emitTag();
            } else if (c == kEof) {
                return;
            } else {
                startAttribute();
                reconsume(State::AttributeName);
            }
            break;
        case State::BeforeAttributeValue:
            if (isSpace(c)) break;
            if (c == '"') {
                m_state = State::AttributeValueDouble;
            } else if (c == '\'') {
                m_state = State::AttributeValueSingle;
            } else if (c == '>') {
                emitTag();
            } else {
                reconsume(State::AttributeValueUnquoted);
            }
            break;
        case State::AttributeValueDouble:
        case State::AttributeValueSingle: {
            const char16_t quote = m_state == State::AttributeValueDouble ? u'"' : u'\'';
            if (c == kEof) return;
            if (c == quote) {
                m_state = State::AfterAttributeValueQuoted;
            } else if (c == '&') {
                characterReference(true);
            } else if (c == 0) {
                appendToAttribute(QStringView(&kReplacement, 1));
            } else {
                const qsizetype i = findStop(d, m_pos, n, quote, u'&', u'\0');
                appendToAttribute(m_in.mid(m_pos - 1, i - m_pos + 1));
                m_pos = i;
            }
            break;
        }
        case State::AttributeValueUnquoted:
            if (c == kEof) return;
            if (isSpace(c)) {
                m_state = State::BeforeAttributeName;
            } else if (c == '&') {
                characterReference(true);
            } else if (c == '>') {
                emitTag();
            } else {
                const char16_t ch = c == 0 ? kReplacement : char16_t(c);
                appendToAttribute(QStringView(&ch, 1));
            }
            break;
        case State::AfterAttributeValueQuoted:
            if (c == kEof) return;
            if (isSpace(c)) {
                m_state = State::BeforeAttributeName;
            } else if (c == '/') {
                m_state = State::SelfClosingStartTag;
            } else if (c == '>') {
                emitTag();
            } else {
                reconsume(State::BeforeAttributeName);
            }
            break;
        case State::SelfClosingStartTag:
            if (c == kEof) return;
            if (c == '>') {
                m_tag.selfClosing = true;
                emitTag();
            } else {
                reconsume(State::BeforeAttributeName);
            }
            break;
        default:
            if (!markupStep(c)) return;
            break;
        }
    }
}

} // namespace zentaro::web
