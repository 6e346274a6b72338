#include <map>

#include <gtest/gtest.h>

#include "db/database.h"
#include "db/settings.h"
#include "support/records.h"

using namespace zentaro::db;
using zentaro::test::addRecord;

namespace {

// The window's side, recorded: values offered at closing and what start applies.
struct FakeWindow {
    std::map<QString, int> ints;
    std::map<QString, QString> texts;
    OptionAccess access() {
        OptionAccess a;
        a.intValue = [this](const QString& k) { return ints.count(k) ? ints.at(k) : 7; };
        a.textValue = [this](const QString& k) { return texts.count(k) ? texts.at(k) : QStringLiteral("t"); };
        a.applyInt = [this](const QString& k, int v) { ints[k] = v; };
        a.applyText = [this](const QString& k, const QString& v) { texts[k] = v; };
        return a;
    }
};

QStringList names(const Table& sets) {
    QStringList out;
    for (int pos = 0; pos < sets.recordCount(); ++pos)
        out << sets.valueAt(pos, 0).toString();
    return out;
}

} // namespace

TEST(Settings, AFirstClosingWritesEveryKeyOnceInItsOrder) {
    Database db;
    FakeWindow w;
    SaveAllOptions(db.tbSets, w.access());
    const QStringList keys = names(db.tbSets);
    ASSERT_EQ(keys.size(), 48);
    EXPECT_EQ(keys.mid(0, 12), (QStringList{"Height", "Width", "grdProject-0", "grdProject-1", "grdCat-0",
                                            "grdCat-1", "grdCat2-0", "grdCat2-1", "pProject.Width",
                                            "pCat.Height", "pSiteHelp.Height", "cbAllExport.Checked"}));
    EXPECT_EQ(keys[12], QStringLiteral("grdSite-0"));
    EXPECT_EQ(keys[20], QStringLiteral("grdLink-0"));
    EXPECT_EQ(keys[33], QStringLiteral("grdAccount-0"));
    EXPECT_EQ(keys[38], QStringLiteral("grdAncor-0"));
    EXPECT_EQ(keys.mid(41),
              (QStringList{"gbLinkFilter.Visible", "cbRep.Text", "seRCopy.Value", "LastRCopyDate",
                           "cbRCopy.Checked", "cbRepPeriod.Text", "cbRepProject.Text"}));
    QString s;
    int i = 0;
    ASSERT_TRUE(GetOption(db.tbSets, QStringLiteral("cbRep.Text"), s, i));
    EXPECT_EQ(s, QStringLiteral("t"));
    EXPECT_EQ(i, -1);
    ASSERT_TRUE(GetOption(db.tbSets, QStringLiteral("height"), s, i));
    EXPECT_EQ(s, QString());
    EXPECT_EQ(i, 7);
    EXPECT_FALSE(GetOption(db.tbSets, QStringLiteral("nothing"), s, i));
    EXPECT_EQ(i, -1);
    SaveAllOptions(db.tbSets, w.access());
    EXPECT_EQ(names(db.tbSets), keys); // written again in place
}

TEST(Settings, AKeyInCapitalsIsUpdatedInPlace) {
    Database db;
    addRecord(db.tbSets, {{"Name", QStringLiteral("HEIGHT")}, {"ParamI", 300}});
    SetOption(db.tbSets, QStringLiteral("Height"), QString(), 640);
    ASSERT_EQ(db.tbSets.recordCount(), 1);
    QString s;
    int i = 0;
    ASSERT_TRUE(GetOption(db.tbSets, QStringLiteral("Height"), s, i));
    EXPECT_EQ(i, 640);
}

TEST(Settings, StartAppliesEachKeyWithItsDefaults) {
    Database db;
    const QList<QPair<QString, int>> stored = {{"Height", -1},
                                               {"Width", 900},
                                               {"grdCat-0", -1},
                                               {"grdSite-6", -1},
                                               {"pSiteHelp.Height", -1},
                                               {"cbAllExport.Checked", 2},
                                               {"gbLinkFilter.Visible", 0},
                                               {"cbRCopy.Checked", 5},
                                               {"seRCopy.Value", 0}};
    for (const auto& [k, v] : stored)
        addRecord(db.tbSets, {{"Name", k}, {"ParamI", v}});
    addRecord(db.tbSets, {{"Name", QStringLiteral("cbRep.Text")}, {"ParamI", -1}});
    // A date in another regional form is skipped alone: the keys after it still apply.
    addRecord(db.tbSets,
              {{"Name", QStringLiteral("LastRCopyDate")}, {"ParamS", QStringLiteral("12/31/2025")}});
    FakeWindow w;
    SetPrgOptions(db.tbSets, w.access());
    EXPECT_FALSE(w.ints.count("Height")); // -1 leaves the window's height
    EXPECT_EQ(w.ints.at("Width"), 900);
    EXPECT_EQ(w.ints.at("grdCat-0"), 30);
    EXPECT_EQ(w.ints.at("grdSite-6"), 10);
    EXPECT_EQ(w.ints.at("pSiteHelp.Height"), 200);
    EXPECT_EQ(w.ints.at("cbAllExport.Checked"), 0);
    EXPECT_EQ(w.ints.at("gbLinkFilter.Visible"), 0);
    EXPECT_EQ(w.ints.at("cbRCopy.Checked"), 1);
    EXPECT_EQ(w.ints.at("seRCopy.Value"), 3);
    EXPECT_EQ(w.texts.at("cbRep.Text"), QStringLiteral("Бюджеты проектов"));
    EXPECT_EQ(w.texts.at("LastRCopyDate"), QStringLiteral("12/31/2025"));
    EXPECT_FALSE(w.ints.count("grdLink-0")); // absent keys keep the design values
}
