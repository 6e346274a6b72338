// The tokenizer's states of comments, DOCTYPEs and CDATA sections.
#include "web/html_tokenizer.h"

#include "web/html_chars.h"

namespace zentaro::web {

using namespace htmlchars;

bool HtmlTokenizer::markupStep(int c) {
    const char16_t* d = m_d;
    const qsizetype n = m_n;
    auto reconsume = [&](State s) {
        if (c != kEof) --m_pos;
        m_state = s;
    };
    auto newDoctype = [&] { m_doctype = HtmlDoctype(); };
    // '>' or the input's end closes the comment ('>' back to data); true when c closed it.
    auto closesComment = [&] {
        if (c != '>' && c != kEof) return false;
        if (c == '>') m_state = State::Data;
        emitComment();
        return true;
    };
    // '>' or the input's end closes the DOCTYPE ('>' back to data), marked quirky when asked; true when c
    // closed it.
    auto closesDoctype = [&](bool quirks) {
        if (c != '>' && c != kEof) return false;
        if (quirks) m_doctype.forceQuirks = true;
        if (c == '>') m_state = State::Data;
        emitDoctype();
        return true;
    };
    switch (m_state) {
    case State::BogusComment:
        if (closesComment()) {
            return c != kEof;
        } else if (c == 0) {
            m_comment += kReplacement;
        } else {
            const qsizetype i = findStop(d, m_pos, n, u'>', u'\0', u'\0');
            m_comment += m_in.mid(m_pos - 1, i - m_pos + 1);
            m_pos = i;
        }
        break;
    case State::MarkupDeclarationOpen:
        if (c != kEof) --m_pos; // nothing consumed yet
        if (startsWith(d, m_pos, n, "--")) {
            m_pos += 2;
            m_comment.clear();
            m_state = State::CommentStart;
        } else if (startsWithNoCase(d, m_pos, n, "doctype")) {
            m_pos += 7;
            m_state = State::Doctype;
        } else if (startsWith(d, m_pos, n, "[CDATA[")) {
            m_pos += 7;
            if (m_cdata) {
                m_state = State::CdataSection;
            } else {
                m_comment = QStringLiteral("[CDATA[");
                m_state = State::BogusComment;
            }
        } else {
            m_comment.clear();
            m_state = State::BogusComment;
        }
        break;
    case State::CommentStart:
        if (c == '-') {
            m_state = State::CommentStartDash;
        } else if (c == '>') {
            m_state = State::Data;
            emitComment();
        } else {
            reconsume(State::Comment);
        }
        break;
    case State::CommentStartDash:
    case State::CommentEndDash:
        // "<!--->" is an empty comment; elsewhere a lone dash is part of the comment.
        if (c == '-') {
            m_state = State::CommentEnd;
        } else if (c == '>' && m_state == State::CommentStartDash) {
            m_state = State::Data;
            emitComment();
        } else if (c == kEof) {
            emitComment();
            return false;
        } else {
            m_comment += u'-';
            reconsume(State::Comment);
        }
        break;
    case State::Comment:
        if (c == '<') {
            m_comment += u'<';
            m_state = State::CommentLessThan;
        } else if (c == '-') {
            m_state = State::CommentEndDash;
        } else if (c == 0) {
            m_comment += kReplacement;
        } else if (c == kEof) {
            emitComment();
            return false;
        } else {
            const qsizetype i = findStop(d, m_pos, n, u'<', u'-', u'\0');
            m_comment += m_in.mid(m_pos - 1, i - m_pos + 1);
            m_pos = i;
        }
        break;
    case State::CommentLessThan:
        if (c == '!') {
            m_comment += u'!';
            m_state = State::CommentLessThanBang;
        } else if (c == '<') {
            m_comment += u'<';
        } else {
            reconsume(State::Comment);
        }
        break;
    case State::CommentLessThanBang:
    case State::CommentLessThanBangDash: {
        // "<!--" inside a comment: each dash goes one state on; anything else is read as comment text.
        const bool bang = m_state == State::CommentLessThanBang;
        if (c == '-')
            m_state = bang ? State::CommentLessThanBangDash : State::CommentLessThanBangDashDash;
        else
            reconsume(bang ? State::Comment : State::CommentEndDash);
        break;
    }
    case State::CommentLessThanBangDashDash:
        reconsume(State::CommentEnd);
        break;
    case State::CommentEnd:
        if (closesComment()) {
            return c != kEof;
        } else if (c == '!') {
            m_state = State::CommentEndBang;
        } else if (c == '-') {
            m_comment += u'-';
        } else {
            m_comment += QLatin1String("--");
            reconsume(State::Comment);
        }
        break;
    case State::CommentEndBang:
        if (c == '-') {
            m_comment += QLatin1String("--!");
            m_state = State::CommentEndDash;
        } else if (closesComment()) {
            return c != kEof;
        } else {
            m_comment += QLatin1String("--!");
            reconsume(State::Comment);
        }
        break;
    case State::Doctype:
        if (isSpace(c)) {
            m_state = State::BeforeDoctypeName;
        } else if (c == kEof) {
            newDoctype();
            m_doctype.forceQuirks = true;
            emitDoctype();
            return false;
        } else {
            reconsume(State::BeforeDoctypeName);
        }
        break;
    case State::BeforeDoctypeName:
        if (isSpace(c)) break;
        newDoctype();
        if (closesDoctype(true)) return c != kEof;
        m_doctype.hasName = true;
        m_doctype.name += c == 0 ? kReplacement : lower(c);
        m_state = State::DoctypeName;
        break;
    case State::DoctypeName:
        if (isSpace(c)) {
            m_state = State::AfterDoctypeName;
        } else if (closesDoctype(c == kEof)) {
            return c != kEof;
        } else {
            m_doctype.name += c == 0 ? kReplacement : lower(c);
        }
        break;
    case State::AfterDoctypeName:
        if (isSpace(c)) break;
        if (closesDoctype(c == kEof)) return c != kEof;
        if (startsWithNoCase(d, m_pos - 1, n, "public")) {
            m_pos += 5;
            m_state = State::AfterDoctypePublicKeyword;
        } else if (startsWithNoCase(d, m_pos - 1, n, "system")) {
            m_pos += 5;
            m_state = State::AfterDoctypeSystemKeyword;
        } else {
            m_doctype.forceQuirks = true;
            reconsume(State::BogusDoctype);
        }
        break;
    case State::AfterDoctypePublicKeyword:
    case State::AfterDoctypeSystemKeyword:
    case State::BeforeDoctypePublicId:
    case State::BeforeDoctypeSystemId: {
        const bool pub =
            m_state == State::AfterDoctypePublicKeyword || m_state == State::BeforeDoctypePublicId;
        const bool keyword =
            m_state == State::AfterDoctypePublicKeyword || m_state == State::AfterDoctypeSystemKeyword;
        if (isSpace(c)) {
            if (keyword) m_state = pub ? State::BeforeDoctypePublicId : State::BeforeDoctypeSystemId;
        } else if (c == '"' || c == '\'') {
            (pub ? m_doctype.publicId : m_doctype.systemId) = QString(QLatin1String(""));
            m_state = pub ? (c == '"' ? State::DoctypePublicIdDouble : State::DoctypePublicIdSingle)
                          : (c == '"' ? State::DoctypeSystemIdDouble : State::DoctypeSystemIdSingle);
        } else if (closesDoctype(true)) {
            return c != kEof;
        } else {
            m_doctype.forceQuirks = true;
            reconsume(State::BogusDoctype);
        }
        break;
    }
    case State::DoctypePublicIdDouble:
    case State::DoctypePublicIdSingle:
    case State::DoctypeSystemIdDouble:
    case State::DoctypeSystemIdSingle: {
        const bool pub = m_state == State::DoctypePublicIdDouble || m_state == State::DoctypePublicIdSingle;
        const int quote =
            m_state == State::DoctypePublicIdDouble || m_state == State::DoctypeSystemIdDouble ? '"' : '\'';
        QString& id = *(pub ? m_doctype.publicId : m_doctype.systemId);
        if (c == quote) {
            m_state = pub ? State::AfterDoctypePublicId : State::AfterDoctypeSystemId;
        } else if (closesDoctype(true)) {
            return c != kEof;
        } else {
            id += c == 0 ? kReplacement : char16_t(c);
        }
        break;
    }
    case State::AfterDoctypePublicId:
    case State::BetweenDoctypeIds: {
        const bool after = m_state == State::AfterDoctypePublicId;
        if (isSpace(c)) {
            if (after) m_state = State::BetweenDoctypeIds;
        } else if (closesDoctype(c == kEof)) {
            return c != kEof;
        } else if (c == '"' || c == '\'') {
            m_doctype.systemId = QString(QLatin1String(""));
            m_state = c == '"' ? State::DoctypeSystemIdDouble : State::DoctypeSystemIdSingle;
        } else {
            m_doctype.forceQuirks = true;
            reconsume(State::BogusDoctype);
        }
        break;
    }
    case State::AfterDoctypeSystemId:
        if (isSpace(c)) break;
        if (closesDoctype(c == kEof)) return c != kEof;
        reconsume(State::BogusDoctype);
        break;
    case State::BogusDoctype:
        if (closesDoctype(false)) return c != kEof;
        break;
    case State::CdataSection:
        if (c == ']') {
            m_state = State::CdataSectionBracket;
        } else if (c == kEof) {
            return false;
        } else {
            emitChar(char16_t(c));
        }
        break;
    case State::CdataSectionBracket:
        if (c == ']') {
            m_state = State::CdataSectionEnd;
        } else {
            emitChar(u']');
            reconsume(State::CdataSection);
        }
        break;
    case State::CdataSectionEnd:
        if (c == ']') {
            emitChar(u']');
        } else if (c == '>') {
            m_state = State::Data;
        } else {
            if (m_wantText) m_sink.text(u"]]");
            reconsume(State::CdataSection);
        }
        break;
    default:
        return false;
    }
    return true;
}

} // namespace zentaro::web
