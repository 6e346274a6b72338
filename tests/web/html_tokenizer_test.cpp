#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QRegularExpression>

#include "support/conformance.h"
#include "web/html_tokenizer.h"

using namespace zentaro::web;
using zentaro::test::conformanceDir;

namespace {

// Records tokens in the suite's own JSON form, adjacent text merged.
class Recorder : public HtmlSink {
public:
    explicit Recorder(HtmlTokenizer* t = nullptr) : tokenizer(t) {}
    HtmlTokenizer* tokenizer;
    QJsonArray tokens;
    QString pending;
    bool followContent = false;

    void flush() {
        if (pending.isEmpty()) return;
        tokens.append(QJsonArray{QStringLiteral("Character"), pending});
        pending.clear();
    }
    void tag(const HtmlTag& t) override {
        flush();
        if (t.end) {
            tokens.append(QJsonArray{QStringLiteral("EndTag"), t.name});
            return;
        }
        QJsonObject attrs;
        for (const HtmlAttribute& a : t.attributes)
            attrs.insert(a.name, a.value);
        QJsonArray row{QStringLiteral("StartTag"), t.name, attrs};
        if (t.selfClosing) row.append(true);
        tokens.append(row);
    }
    void text(QStringView piece) override { pending += piece; }
    void comment(QStringView c) override {
        flush();
        tokens.append(QJsonArray{QStringLiteral("Comment"), c.toString()});
    }
    void doctype(const HtmlDoctype& d) override {
        flush();
        auto opt = [](const std::optional<QString>& s) { return s ? QJsonValue(*s) : QJsonValue(); };
        tokens.append(QJsonArray{QStringLiteral("DOCTYPE"), d.hasName ? QJsonValue(d.name) : QJsonValue(),
                                 opt(d.publicId), opt(d.systemId), !d.forceQuirks});
    }
};

QString unescape(const QString& s) {
    static const QRegularExpression re(QStringLiteral("\\\\u([0-9A-Fa-f]{4})"));
    QString out;
    qsizetype last = 0;
    for (auto it = re.globalMatch(s); it.hasNext();) {
        const auto m = it.next();
        out += QStringView(s).mid(last, m.capturedStart() - last);
        out += QChar(char16_t(m.captured(1).toUInt(nullptr, 16)));
        last = m.capturedEnd();
    }
    out += QStringView(s).mid(last);
    return out;
}

QJsonValue unescapeAll(const QJsonValue& v) {
    if (v.isString()) return unescape(v.toString());
    if (v.isArray()) {
        QJsonArray out;
        for (const QJsonValue& x : v.toArray())
            out.append(unescapeAll(x));
        return out;
    }
    if (v.isObject()) {
        QJsonObject out;
        const QJsonObject o = v.toObject();
        for (auto it = o.begin(); it != o.end(); ++it)
            out.insert(unescape(it.key()), unescapeAll(it.value()));
        return out;
    }
    return v;
}

QJsonArray mergeText(const QJsonArray& in) {
    QJsonArray out;
    for (const QJsonValue& v : in) {
        const QJsonArray t = v.toArray();
        if (t.at(0).toString() == QLatin1String("Character") && !out.isEmpty() &&
            out.last().toArray().at(0).toString() == QLatin1String("Character")) {
            out.replace(out.size() - 1,
                        QJsonArray{QStringLiteral("Character"),
                                   out.last().toArray().at(1).toString() + t.at(1).toString()});
        } else {
            out.append(v);
        }
    }
    return out;
}

std::optional<HtmlTokenizer::State> stateNamed(const QString& name) {
    using S = HtmlTokenizer::State;
    static const QHash<QString, S> states = {{QStringLiteral("Data state"), S::Data},
                                             {QStringLiteral("PLAINTEXT state"), S::PlainText},
                                             {QStringLiteral("RCDATA state"), S::RcData},
                                             {QStringLiteral("RAWTEXT state"), S::RawText},
                                             {QStringLiteral("Script data state"), S::ScriptData},
                                             {QStringLiteral("CDATA section state"), S::CdataSection}};
    const auto it = states.constFind(name);
    return it == states.cend() ? std::nullopt : std::optional<S>(*it);
}

QJsonArray tokenize(const QString& input, HtmlTokenizer::State state, const QString& lastStartTag) {
    const QString text = normalizeNewlines(input);
    Recorder rec;
    HtmlTokenizer tokenizer(text, rec);
    tokenizer.setState(state);
    if (!lastStartTag.isEmpty()) tokenizer.setLastStartTag(lastStartTag);
    tokenizer.run();
    rec.flush();
    return rec.tokens;
}

} // namespace

// Every test of the html5lib tokenizer suite, in each initial state it names. The file of XML coercions is
// another tokenizer's mode and is not read.
TEST(HtmlTokenizerConformance, Html5libTokenizerSuite) {
    const QString dir = conformanceDir();
    if (dir.isEmpty()) GTEST_SKIP() << zentaro::test::kNoConformanceSuite;
    int run = 0, passed = 0;
    QStringList failures;
    const QStringList files = QDir(dir + QStringLiteral("/tokenizer"))
                                  .entryList({QStringLiteral("*.test")}, QDir::Files, QDir::Name);
    ASSERT_FALSE(files.isEmpty());
    for (const QString& name : files) {
        if (name == QLatin1String("xmlViolation.test")) continue;
        QFile f(dir + QStringLiteral("/tokenizer/") + name);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
        const QJsonObject doc = QJsonDocument::fromJson(f.readAll()).object();
        for (const QJsonValue& tv : doc.value(QStringLiteral("tests")).toArray()) {
            const QJsonObject t = tv.toObject();
            const bool escaped = t.value(QStringLiteral("doubleEscaped")).toBool();
            const QString input = escaped ? unescape(t.value(QStringLiteral("input")).toString())
                                          : t.value(QStringLiteral("input")).toString();
            QJsonArray expected = t.value(QStringLiteral("output")).toArray();
            if (escaped) expected = unescapeAll(expected).toArray();
            expected = mergeText(expected);
            QStringList states;
            for (const QJsonValue& s : t.value(QStringLiteral("initialStates")).toArray())
                states << s.toString();
            if (states.isEmpty()) states << QStringLiteral("Data state");
            for (const QString& s : states) {
                const auto state = stateNamed(s);
                ASSERT_TRUE(state) << s.toStdString();
                ++run;
                const QJsonArray got =
                    tokenize(input, *state, t.value(QStringLiteral("lastStartTag")).toString());
                if (got == expected) {
                    ++passed;
                } else if (failures.size() < 30) {
                    failures << name + QStringLiteral(": ") +
                                    t.value(QStringLiteral("description")).toString() + QStringLiteral(" [") +
                                    s + QStringLiteral("]\n  got      ") +
                                    QString::fromUtf8(QJsonDocument(got).toJson(QJsonDocument::Compact)) +
                                    QStringLiteral("\n  expected ") +
                                    QString::fromUtf8(QJsonDocument(expected).toJson(QJsonDocument::Compact));
                }
            }
        }
    }
    std::cout << "html5lib tokenizer tests: " << run << " run, " << passed << " passed\n";
    EXPECT_EQ(passed, run) << failures.join(QLatin1Char('\n')).toStdString();
}

// What a reader of the page depends on, state by state: each row an input and the tokens it gives.
TEST(HtmlTokenizer, StatesThatDecideWhatAReaderSees) {
    using S = HtmlTokenizer::State;
    const struct {
        const char* input;
        S state;
        const char* tokens;
    } rows[] = {
        {"<a\nhref=x>", S::Data, R"([["StartTag","a",{"href":"x"}]])"},
        {"<a\thref='x>y' rel=nofollow>", S::Data, R"([["StartTag","a",{"href":"x>y","rel":"nofollow"}]])"},
        {"</a >", S::Data, R"([["EndTag","a"]])"},
        {"<a href=\"?a=1&amp;b=2&copy\">", S::Data, R"([["StartTag","a",{"href":"?a=1&b=2©"}]])"},
        {"<a href=\"?x=1&copy=2\">", S::Data, R"([["StartTag","a",{"href":"?x=1&copy=2"}]])"},
        {"<!-- <a href=x> -->", S::Data, R"([["Comment"," <a href=x> "]])"},
        {"<!--> <a>", S::Data, R"([["Comment",""],["Character"," "],["StartTag","a",{}]])"},
        {"<? x ?>y<a>", S::Data, R"([["Comment","? x ?"],["Character","y"],["StartTag","a",{}]])"},
        {"x<a href=y</a>", S::RawText, R"([["Character","x<a href=y</a>"]])"},
        {"'<a href=x>'</script>", S::ScriptData, R"([["Character","'<a href=x>'"],["EndTag","script"]])"},
        {"<!--<script></script>--></script>", S::ScriptData,
         R"([["Character","<!--<script></script>-->"],["EndTag","script"]])"},
        {"&amp;<a></title>", S::RcData, R"([["Character","&<a>"],["EndTag","title"]])"},
        {"<a href=x></plaintext>", S::PlainText, R"([["Character","<a href=x></plaintext>"]])"},
        {"<a href=x", S::Data, R"([])"},
    };
    for (const auto& r : rows) {
        const S state = r.state;
        const QString last = state == S::ScriptData ? QStringLiteral("script")
                             : state == S::RcData   ? QStringLiteral("title")
                                                    : QStringLiteral("xmp");
        EXPECT_EQ(tokenize(QString::fromUtf8(r.input), state, last),
                  QJsonDocument::fromJson(r.tokens).array())
            << r.input;
    }
}

// Hostile input ends, and in time linear in its size: random mixes of the characters that move the states.
TEST(HtmlTokenizer, RandomInputAlwaysEnds) {
    static const char16_t alphabet[] = u"<>/!-'\"=&#;x1aA \n\0[]?scriptCDAT";
    QRandomGenerator rng(7);
    for (int round = 0; round < 300; ++round) {
        QString s;
        const int len = int(rng.bounded(400));
        for (int i = 0; i < len; ++i)
            s += QChar(alphabet[rng.bounded(int(std::size(alphabet) - 1))]);
        for (const auto state :
             {HtmlTokenizer::State::Data, HtmlTokenizer::State::ScriptData, HtmlTokenizer::State::RcData}) {
            Recorder rec;
            HtmlTokenizer t(s, rec);
            t.setState(state);
            t.setLastStartTag(QStringLiteral("script"));
            t.run();
        }
    }
}
