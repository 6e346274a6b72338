// The HTML tokenizer: tags, text, comments and DOCTYPEs read as browsers read them, without a tree.
#pragma once

#include <optional>
#include <vector>

#include <QString>
#include <QStringView>

namespace zentaro::web {

struct HtmlAttribute {
    QString name; // lower-case
    QString value;
};

// A start or end tag as the tokenizer read it. Attributes are kept only when the sink asked for them.
struct HtmlTag {
    QString name; // lower-case
    std::vector<HtmlAttribute> attributes;
    bool end = false;
    bool selfClosing = false;
    qsizetype start = 0; // the "<" in the input
    qsizetype end_ = 0;  // just after the ">" (or the end of the input)
    const HtmlAttribute* attribute(QStringView name) const;
};

struct HtmlDoctype {
    QString name;
    std::optional<QString> publicId, systemId;
    bool forceQuirks = false;
    bool hasName = false;
};

// What the tokenizer hands on. Text comes in pieces; a piece views the input or a decoded reference and is
// valid only during the call.
class HtmlSink {
public:
    virtual ~HtmlSink() = default;
    // Whether the attributes of the tag named so far are wanted (not materialised otherwise).
    virtual bool wantAttributes(const QString& tagName, bool endTag) {
        Q_UNUSED(tagName);
        Q_UNUSED(endTag);
        return true;
    }
    virtual void tag(const HtmlTag& tag) = 0;
    virtual void text(QStringView piece) { Q_UNUSED(piece); }
    virtual void comment(QStringView text) { Q_UNUSED(text); }
    virtual void doctype(const HtmlDoctype& doctype) { Q_UNUSED(doctype); }
};

// The HTML tokenizer of the WHATWG rules, without tree construction: the sink decides, as a tree builder
// would, which content model follows a start tag (setState from within tag()). The input must have its
// line ends normalised (normalizeNewlines). Every step consumes input or ends, so any input terminates in
// time linear in its length.
class HtmlTokenizer {
public:
    enum class State {
        Data,
        RcData,
        RawText,
        ScriptData,
        PlainText,
        TagOpen,
        EndTagOpen,
        TagName,
        RcDataLessThan,
        RcDataEndTagOpen,
        RcDataEndTagName,
        RawTextLessThan,
        RawTextEndTagOpen,
        RawTextEndTagName,
        ScriptLessThan,
        ScriptEndTagOpen,
        ScriptEndTagName,
        ScriptEscapeStart,
        ScriptEscapeStartDash,
        ScriptEscaped,
        ScriptEscapedDash,
        ScriptEscapedDashDash,
        ScriptEscapedLessThan,
        ScriptEscapedEndTagOpen,
        ScriptEscapedEndTagName,
        ScriptDoubleEscapeStart,
        ScriptDoubleEscaped,
        ScriptDoubleEscapedDash,
        ScriptDoubleEscapedDashDash,
        ScriptDoubleEscapedLessThan,
        ScriptDoubleEscapeEnd,
        BeforeAttributeName,
        AttributeName,
        AfterAttributeName,
        BeforeAttributeValue,
        AttributeValueDouble,
        AttributeValueSingle,
        AttributeValueUnquoted,
        AfterAttributeValueQuoted,
        SelfClosingStartTag,
        BogusComment,
        MarkupDeclarationOpen,
        CommentStart,
        CommentStartDash,
        Comment,
        CommentLessThan,
        CommentLessThanBang,
        CommentLessThanBangDash,
        CommentLessThanBangDashDash,
        CommentEndDash,
        CommentEnd,
        CommentEndBang,
        Doctype,
        BeforeDoctypeName,
        DoctypeName,
        AfterDoctypeName,
        AfterDoctypePublicKeyword,
        BeforeDoctypePublicId,
        DoctypePublicIdDouble,
        DoctypePublicIdSingle,
        AfterDoctypePublicId,
        BetweenDoctypeIds,
        AfterDoctypeSystemKeyword,
        BeforeDoctypeSystemId,
        DoctypeSystemIdDouble,
        DoctypeSystemIdSingle,
        AfterDoctypeSystemId,
        BogusDoctype,
        CdataSection,
        CdataSectionBracket,
        CdataSectionEnd
    };

    HtmlTokenizer(QStringView input, HtmlSink& sink);
    void setState(State s) { m_state = s; }
    // The last start tag, for the end tags of RCDATA, RAWTEXT and script data.
    void setLastStartTag(const QString& name) { m_lastStartTag = name; }
    // Text (and the references in it) are decoded and handed on only while wanted.
    void setWantText(bool want) { m_wantText = want; }
    // CDATA sections are read as such (foreign content); otherwise they are bogus comments.
    void setCdataAllowed(bool allowed) { m_cdata = allowed; }
    void run();

private:
    void emitText(qsizetype from, qsizetype to);
    void emitChar(char16_t c);
    void emitTag();
    void emitComment();
    void emitDoctype();
    void commitAttribute();
    void startAttribute();
    void finishAttributeName();
    bool appropriateEndTag() const;
    // A character reference at the "&" at m_pos; appends its text to the attribute value or the text.
    void characterReference(bool inAttribute);
    void appendToAttribute(QStringView s);
    // One character c in a comment, DOCTYPE or CDATA state (or the markup declaration that opens them);
    // false when the input ended there.
    bool markupStep(int c);

    QStringView m_in;
    const char16_t* m_d;
    qsizetype m_n;
    qsizetype m_pos = 0;
    HtmlSink& m_sink;
    State m_state = State::Data;
    QString m_lastStartTag;
    bool m_wantText = true;
    bool m_cdata = false;

    HtmlTag m_tag;
    bool m_keepAttrs = true;
    bool m_inAttr = false;   // an attribute is being read
    bool m_dropAttr = false; // and its name was seen before on the tag
    QString m_attrName, m_attrValue;
    QString m_temp; // the temporary buffer
    QString m_comment;
    HtmlDoctype m_doctype;
};

// CR LF and lone CR become LF, as the input stream of HTML has them.
QString normalizeNewlines(const QString& text);

} // namespace zentaro::web
