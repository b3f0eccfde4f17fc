// The block definition section and the block tree: which definitions are
// reached, how they are renumbered and saved, the placement of every instance,
// and drawings that nest without end or beyond the bound.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "doc/JwwObjects.h"
#include "tests/EntityFixture.h"

using namespace morvane;
using namespace morvane::fixture;

namespace {

// ---- Saving reached definitions -------------------------------------------------

TEST(BlockSection, OnlyReachedDefinitionsAreSavedAndRenumbered) {
    // The drawing inserts block 12; definition 12 inserts block 5 and a
    // number that no definition has.
    Section s(700);
    s.Count(1).Add(Block(12, 50, 60));
    s.Count(3);
    s.Def(5, 1, u"five").Add(Line(0, 0, 1, 0));
    s.Def(9, 1, u"nine").Add(Enko(0, 0, 1));
    s.Def(12, 2, u"twelve").Add(Block(5, 3, 4)).Add(Block(404));
    TJwwData doc;
    LoadSections(doc, 700, s.bytes);

    ASSERT_EQ(doc.EntBlockDefN, 3);
    EXPECT_EQ(doc.Enthd.n2, 3);
    EXPECT_TRUE(doc.EntBlockDef[0].ref_flag);
    EXPECT_EQ(doc.EntBlockDef[0].ref_no, 0);
    EXPECT_FALSE(doc.EntBlockDef[1].ref_flag);
    EXPECT_EQ(doc.EntBlockDef[1].ref_no, -1);
    EXPECT_EQ(doc.EntBlockDef[2].ref_no, 1);
    EXPECT_EQ(doc.EntBlockNum, 2);
    EXPECT_EQ(doc.ChangeBlockNo(12), 1u);
    EXPECT_EQ(doc.ChangeBlockNo(5), 0u);
    EXPECT_EQ(doc.ChangeBlockNo(9), 9u);  // unreached: its own number
    // A number no definition has stays without one: it takes the number
    // after the saved definitions, not that of definition 0.
    EXPECT_EQ(doc.ChangeBlockNo(404), 2u);

    Section expected(700);
    expected.Count(1).Add(Block(1, 50, 60));
    expected.Count(2);
    expected.Def(0, 1, u"five").Add(Line(0, 0, 1, 0));
    expected.Def(1, 2, u"twelve").Add(Block(0, 3, 4)).Add(Block(2));
    EXPECT_EQ(SaveSections(doc, 700), expected.bytes);
}

TEST(BlockSection, OnlyTheFirstDefinitionOfANumberIsReached) {
    Section s(700);
    s.Count(1).Add(Block(3));
    s.Count(2).Def(3, 1, u"first").Add(Line(0, 0, 1, 1)).Def(3, 1, u"second").Add(Enko(0, 0, 2));
    TJwwData doc;
    LoadSections(doc, 700, s.bytes);
    EXPECT_TRUE(doc.EntBlockDef[0].ref_flag);
    EXPECT_FALSE(doc.EntBlockDef[1].ref_flag);
    ASSERT_EQ(doc.EntBlockTreeN, 1);
    EXPECT_EQ(doc.EntBlockTree[0].defno, 0);
    EXPECT_EQ(doc.EntBlockTree[0].name, u"first");

    Section expected(700);
    expected.Count(1).Add(Block(0));
    expected.Count(1).Def(0, 1, u"first").Add(Line(0, 0, 1, 1));
    EXPECT_EQ(SaveSections(doc, 700), expected.bytes);
}

TEST(BlockSection, DrawingWithoutInsertsSavesNoDefinition) {
    Section s(700);
    s.Count(1).Add(Line(0, 0, 1, 1));
    s.Count(1).Def(0, 1).Add(Line(0, 0, 2, 2));
    TJwwData doc;
    LoadSections(doc, 700, s.bytes);
    EXPECT_EQ(doc.EntBlockNum, 0);
    Section expected(700);
    expected.Count(1).Add(Line(0, 0, 1, 1)).Count(0);
    EXPECT_EQ(SaveSections(doc, 700), expected.bytes);
}

class DefinitionFixedPart : public ::testing::TestWithParam<int32_t> {};

TEST_P(DefinitionFixedPart, FieldsAndTheDtimeExtension) {
    // A dtime with its top bit set brings 8 more bytes and becomes the
    // definition's 1-based position; it is saved without the extra bytes.
    const int32_t ver = GetParam();
    const TEntJwwAttr a = Attr(2, 3, ver >= kVerAttrWidth ? 9 : 0, 4, 5, 6, 7);
    Section s(ver);
    s.Count(2).Add(Block(1)).Add(Block(2));
    s.Count(2).Def(1, 0, u"a", a, 7, 1).Def(2, 1, u"b", a, 0x80000005).Add(Line(1, 1, 2, 2));
    TJwwData doc;
    LoadSections(doc, ver, s.bytes);

    ASSERT_EQ(doc.EntBlockDefN, 2);
    const TEntJwwBlockDef& d = doc.EntBlockDef[0];
    EXPECT_EQ(+d.att.lGroup, 6u);
    EXPECT_EQ(+d.att.nPenColor, 3);
    EXPECT_EQ(+d.att.nPenWidth, ver >= kVerAttrWidth ? 9 : 0);
    EXPECT_EQ(+d.att.sFlg, 7);
    EXPECT_EQ(+d.nNumber, 1u);
    EXPECT_EQ(+d.bRefferd, 1u);
    EXPECT_EQ(+d.dtime, 7u);
    EXPECT_EQ(+doc.EntBlockDef[1].dtime, 2u);
    EXPECT_EQ(doc.EntBlockDef[1].mLineN, 1);

    Section expected(ver);
    expected.Count(2).Add(Block(0)).Add(Block(1));
    expected.Count(2).Def(0, 0, u"a", a, 7, 1).Def(1, 1, u"b", a, 2).Add(Line(1, 1, 2, 2));
    EXPECT_EQ(SaveSections(doc, ver), expected.bytes);
}

INSTANTIATE_TEST_SUITE_P(Versions, DefinitionFixedPart, ::testing::Values(300, 700));

TEST(BlockSection, NamesAreCleanedOnSave) {
    TJwwData doc;
    doc.Enthd.jwVer = 700;
    doc.EntBlock = {Block(1), Block(2)};
    doc.EntBlockN = 2;
    doc.EntNo = {{kKindBlock, 0}, {kKindBlock, 1}};
    doc.Enthd.n1 = 2;
    doc.EntBlockDef.resize(2);
    doc.EntBlockDef[0].nNumber = 1;
    doc.EntBlockDef[0].strName = u"";
    doc.EntBlockDef[1].nNumber = 2;
    doc.EntBlockDef[1].strName = u"\x01\x02";
    doc.EntBlockDefN = doc.Enthd.n2 = 2;
    doc.MakeBlockTree();

    Section expected(700);
    expected.Count(2).Add(Block(0)).Add(Block(1));
    expected.Count(2).Def(0, 0, u"", Attr(0, 0)).Def(1, 0, u" ", Attr(0, 0));
    EXPECT_EQ(SaveSections(doc, 700), expected.bytes);
}

TEST(BlockSection, DamagedSectionsFailWithTheirOffset) {
    // Each row is an entity section with no object, then the block section.
    const std::vector<uint8_t> body(47, 0);
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        uint64_t offset;
    };
    std::vector<Case> cases;
    {
        Section s(700);
        s.Count(0).Raw({0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}).Def(0, 0).Def(1, 0);
        cases.push_back({"definition count 65535", s.bytes, 2});
    }
    {
        Section s(700);
        s.Count(0).Raw({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}).Def(0, 0).Def(1, 0);
        cases.push_back({"definition count 0xFFFFFFFF", s.bytes, 2});
    }
    {
        // 100,000 definitions would fit the bytes that follow, but the first
        // is already broken (its class name would be 65,535 bytes long).
        const std::vector<uint8_t> garbage(100000 * 32, 0xFF);
        Section s(700);
        s.Count(0).Raw({0xFF, 0xFF, 0xA0, 0x86, 0x01, 0x00}).Put(garbage.data(), garbage.size());
        cases.push_back({"definition count the bytes do not bear out", s.bytes, 2 + 6});
    }
    {
        Section s(700);
        s.Count(0).Count(1).Def(0, 65535).Add(Line(0, 0, 1, 1));
        cases.push_back({"nested count 65535", s.bytes, 2 + 2 + 15 + 27 + 2});
    }
    {
        Section s(700);
        s.Count(0).Count(2).Def(0, 2).Add(Line(0, 0, 1, 1)).Add(Line(0, 0, 1, 1)).Tag(kKindBlockDef);
        cases.push_back({"second definition cut after its tag", s.bytes, s.bytes.size()});
    }
    {
        Section s(700);
        s.Count(0).Count(1).Def(0, 1).NewClass("CDataList").Put(body.data(), body.size());
        cases.push_back({"CDataList inside a definition", s.bytes, 2 + 2 + 15 + 27 + 4});
    }
    {
        Section s(700);
        s.Count(0).Count(1).Def(0, 1).Raw({0x01, 0x80}).Put(body.data(), body.size());
        cases.push_back({"reference to CDataList inside a definition", s.bytes, 2 + 2 + 15 + 27 + 4});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TJwwData doc;
        doc.Enthd.jwVer = 700;
        ByteReader r(c.bytes);
        JwwClassMap map;
        doc.ReadEntitySection(r, map);
        try {
            doc.ReadBlockDefSection(r, map);
            ADD_FAILURE() << "loaded";
        } catch (const JwwIoError& e) {
            EXPECT_STREQ(e.what(), kFileIoError);
            EXPECT_EQ(e.offset, c.offset) << e.detail;
        }
        // Records are only made for definitions actually begun.
        EXPECT_LE(doc.EntBlockDef.capacity(), 2u);
    }
}

// A file cut inside the last object of the last definition loads with the
// rest of that body zero, however many of its bytes survived: a short read
// counts as failed only when it delivers nothing.
TEST(BlockSection, LastObjectCutShortLoadsWhateverIsLeftOfIt) {
    Section s(700);
    s.Count(1).Add(Block(0));
    s.Count(1).Def(0, 1, u"cut").Add(Line(0, 0, 1, 1));
    const size_t bodyAt = s.bytes.size() - 47;
    for (size_t kept : {46u, 42u, 27u, 17u, 7u, 1u}) {
        SCOPED_TRACE(kept);
        const std::vector<uint8_t> cut(s.bytes.begin(), s.bytes.begin() + static_cast<std::ptrdiff_t>(bodyAt + kept));
        TJwwData doc;
        doc.Enthd.jwVer = 700;
        ByteReader r(cut);
        JwwClassMap map;
        doc.ReadEntitySection(r, map);
        EXPECT_NO_THROW(doc.ReadBlockDefSection(r, map));
        ASSERT_EQ(doc.EntBlockDef.size(), 1u);
        EXPECT_EQ(doc.EntBlockDef[0].mLineN, 1);
    }
}

// Both forms of the lookup: numbers as drawings give them (dense) and numbers
// spread over the whole range (sorted); the first definition of a number wins.
TEST(BlockSection, FirstDefinitionOfANumberIsFoundDenseOrSparse) {
    for (const uint32_t step : {1u, 42043u}) {
        SCOPED_TRACE(step);
        jwwobj::FirstByNumber table;
        for (uint32_t i = 0; i < 100; ++i) table.Add(i % 50 * step, i);  // every number twice
        if (step > 1) table.Add(UINT32_MAX, 7);
        table.Seal();
        for (uint32_t n = 0; n < 50; ++n) {
            const uint32_t* v = table.Find(n * step);
            ASSERT_NE(v, nullptr);
            EXPECT_EQ(*v, n);
        }
        EXPECT_EQ(table.Find(50 * step), nullptr);
        EXPECT_EQ(table.Find(step == 1 ? 1000 : 1), nullptr);
        if (step > 1) {
            ASSERT_NE(table.Find(UINT32_MAX), nullptr);
            EXPECT_EQ(*table.Find(UINT32_MAX), 7u);
        } else {
            EXPECT_EQ(table.Find(UINT32_MAX), nullptr);
        }
    }
}

// ---- The block tree -------------------------------------------------------------------

TEntJwwBlockDef Definition(uint32_t number, std::vector<TEntJwwBlock> inserts, std::u16string name = u"") {
    TEntJwwBlockDef d;
    d.nNumber = number;
    d.att = Attr(1, static_cast<uint16_t>(number % 9 + 1));
    d.strName = std::move(name);
    d.mBlock = std::move(inserts);
    d.mBlockN = static_cast<int32_t>(d.mBlock.size());
    for (int32_t i = 0; i < d.mBlockN; ++i) d.mNo.push_back({kKindBlock, i});
    d.N = d.mBlockN;
    return d;
}

void SetDrawing(TJwwData& doc, std::vector<TEntJwwBlock> inserts, std::vector<TEntJwwBlockDef> defs) {
    doc.DataInit();
    doc.Enthd.jwVer = 700;
    doc.EntBlock = std::move(inserts);
    doc.EntBlockN = static_cast<int32_t>(doc.EntBlock.size());
    for (int32_t i = 0; i < doc.EntBlockN; ++i) doc.EntNo.push_back({kKindBlock, i});
    doc.Enthd.n1 = doc.EntBlockN;
    doc.EntBlockDef = std::move(defs);
    doc.EntBlockDefN = doc.Enthd.n2 = static_cast<int32_t>(doc.EntBlockDef.size());
}

TEST(BlockTree, NodesCarryTheMapFromDefinitionToDrawing) {
    const double pi = std::numbers::pi;
    TJwwData doc;
    SetDrawing(doc, {Block(1, 10, 20, 2, 3, pi / 2)},
               {Definition(1, {Block(2, 1, 0)}, u"one"), Definition(2, {Block(3, 0, 1, 0.5, 0.5, pi / 2)}),
                Definition(3, {})});
    doc.MakeBlockTree();
    ASSERT_EQ(doc.EntBlockTreeN, 3);
    const TEntJwwBlockTree& top = doc.EntBlockTree[0];
    EXPECT_EQ(top.level, 0);
    EXPECT_EQ(top.parent, -1);
    EXPECT_EQ(top.name, u"one");
    EXPECT_EQ(top.x, 10.0);
    EXPECT_EQ(top.r1, std::cos(pi / 2) * 2);
    EXPECT_EQ(top.r2, -3.0);
    EXPECT_EQ(top.r3, 2.0);
    EXPECT_EQ(top.r4, std::cos(pi / 2) * 3);

    // The point (1, 0) of definition 1 lies at (10 + r1, 22).
    const TEntJwwBlockTree& one = doc.EntBlockTree[1];
    EXPECT_EQ(one.level, 1);
    EXPECT_EQ(one.parent, 0);
    EXPECT_EQ(one.defno, 1);
    EXPECT_TRUE(std::memcmp(&one.att, &doc.EntBlockDef[0].att, sizeof one.att) == 0);
    EXPECT_EQ(one.x, 10 + top.r1);
    EXPECT_EQ(one.y, 22.0);

    const TEntJwwBlockTree& two = doc.EntBlockTree[2];
    EXPECT_EQ(two.level, 2);
    EXPECT_EQ(two.parent, 1);
    EXPECT_EQ(two.no, 3u);
    EXPECT_EQ(two.x, one.x + one.r2);
    EXPECT_EQ(two.y, one.y + one.r4);
    const double c = std::cos(pi / 2) * 0.5, s = std::sin(pi / 2) * 0.5;
    EXPECT_EQ(two.r1, one.r1 * c + one.r2 * s);
    EXPECT_EQ(two.r2, one.r1 * -s + one.r2 * c);
    EXPECT_EQ(two.r3, one.r3 * c + one.r4 * s);
    EXPECT_EQ(two.r4, one.r3 * -s + one.r4 * c);
}

// A definition placed twice, with inserts of its own that each turn and
// scale differently: every node gets its own insert's map after its parent's.
TEST(BlockTree, EveryInsertOfAPlacedDefinitionKeepsItsOwnMap) {
    const double pi = std::numbers::pi;
    TJwwData doc;
    SetDrawing(doc, {Block(1, 0, 0, 1, 1, pi / 6), Block(1, 5, 5, 2, 2, -pi / 3)},
               {Definition(1, {Block(2, 1, 0, 1, 1, pi / 2), Block(2, 0, 1, 3, 0.5, pi / 4), Block(2, 2, 2, 1, 2, 0)}),
                Definition(2, {})});
    doc.MakeBlockTree();
    ASSERT_EQ(doc.EntBlockTreeN, 8);
    const TEntJwwBlock* inserts = doc.EntBlockDef[0].mBlock.data();
    int checked = 0;
    for (const TEntJwwBlockTree& n : doc.EntBlockTree) {
        if (n.level != 1) continue;
        const TEntJwwBlockTree& p = doc.EntBlockTree[static_cast<size_t>(n.parent)];
        // Children of a node follow in the order of the definition's inserts.
        const int c = static_cast<int>(&n - &doc.EntBlockTree[0]) - 2 - 3 * n.parent;
        ASSERT_GE(c, 0);
        ASSERT_LT(c, 3);
        const TEntJwwBlock& b = inserts[c];
        const double cs = std::cos(b.radKaitenKaku), sn = std::sin(b.radKaitenKaku);
        const double m11 = cs * b.dBairitsuX, m12 = -sn * b.dBairitsuY, m21 = sn * b.dBairitsuX, m22 = cs * b.dBairitsuY;
        SCOPED_TRACE("insert " + std::to_string(c) + " under node " + std::to_string(n.parent));
        EXPECT_EQ(n.r1, p.r1 * m11 + p.r2 * m21);
        EXPECT_EQ(n.r2, p.r1 * m12 + p.r2 * m22);
        EXPECT_EQ(n.r3, p.r3 * m11 + p.r4 * m21);
        EXPECT_EQ(n.r4, p.r3 * m12 + p.r4 * m22);
        EXPECT_EQ(n.x, p.x + p.r1 * b.DPKijunTen_x + p.r2 * b.DPKijunTen_y);
        ++checked;
    }
    EXPECT_EQ(checked, 6);
}

struct ShapeCase {
    const char* name;
    std::vector<uint32_t> top;
    std::vector<std::pair<uint32_t, std::vector<uint32_t>>> defs;  // number, inserted numbers
    std::vector<std::pair<int32_t, uint32_t>> nodes;                // parent, number
    int32_t reached;
};

class TreeShape : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(TreeShape, BreadthFirstWithCyclesCut) {
    const ShapeCase& c = GetParam();
    std::vector<TEntJwwBlock> top;
    for (uint32_t n : c.top) top.push_back(Block(n));
    std::vector<TEntJwwBlockDef> defs;
    for (const auto& [number, inserted] : c.defs) {
        std::vector<TEntJwwBlock> inserts;
        for (uint32_t n : inserted) inserts.push_back(Block(n));
        defs.push_back(Definition(number, inserts));
    }
    TJwwData doc;
    SetDrawing(doc, top, defs);
    doc.MakeBlockTree();
    ASSERT_EQ(doc.EntBlockTreeN, static_cast<int32_t>(c.nodes.size()));
    ASSERT_EQ(doc.EntBlockTree.size(), c.nodes.size());
    for (size_t i = 0; i < c.nodes.size(); ++i) {
        const TEntJwwBlockTree& n = doc.EntBlockTree[i];
        EXPECT_EQ(n.parent, c.nodes[i].first) << "node " << i;
        EXPECT_EQ(n.no, c.nodes[i].second) << "node " << i;
        EXPECT_EQ(n.level, n.parent < 0 ? 0 : doc.EntBlockTree[n.parent].level + 1) << "node " << i;
    }
    EXPECT_EQ(doc.EntBlockNum, c.reached);
    // What the tree reaches is what is saved, and the save reads back whole.
    TJwwData back;
    LoadSections(back, 700, SaveSections(doc, 700));
    EXPECT_EQ(back.EntBlockDefN, c.reached);
    EXPECT_EQ(back.EntBlockTreeN, doc.EntBlockTreeN);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, TreeShape,
    ::testing::Values(
        ShapeCase{"two levels", {1, 1}, {{1, {2}}, {2, {3}}, {3, {}}},
                  {{-1, 1}, {-1, 1}, {0, 2}, {1, 2}, {2, 3}, {3, 3}}, 3},
        ShapeCase{"unknown number gets no children", {7, 1}, {{1, {8}}}, {{-1, 7}, {-1, 1}, {1, 8}}, 1},
        ShapeCase{"unreached definition", {1}, {{2, {1}}, {1, {}}}, {{-1, 1}}, 1},
        ShapeCase{"shared definition on two branches", {1}, {{1, {2, 3}}, {2, {3}}, {3, {}}},
                  {{-1, 1}, {0, 2}, {0, 3}, {1, 3}}, 3},
        ShapeCase{"inserts itself", {1}, {{1, {1}}}, {{-1, 1}, {0, 1}}, 1},
        ShapeCase{"inserts itself beside another", {1}, {{1, {1, 2}}, {2, {}}}, {{-1, 1}, {0, 1}, {0, 2}}, 2},
        ShapeCase{"through another", {1}, {{1, {2}}, {2, {1}}}, {{-1, 1}, {0, 2}, {1, 1}}, 2},
        ShapeCase{"cycle entered midway", {1}, {{1, {2}}, {2, {3}}, {3, {2}}}, {{-1, 1}, {0, 2}, {1, 3}, {2, 2}}, 3},
        ShapeCase{"cycle and a way out", {1}, {{1, {2}}, {2, {2, 1, 3}}, {3, {}}},
                  {{-1, 1}, {0, 2}, {1, 2}, {1, 1}, {1, 3}}, 3}),
    [](const auto& info) {
        std::string n = info.param.name;
        for (char& ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return n;
    });

TEST(BlockTree, NestingPastTheBoundFailsAndLeavesNoTree) {
    // 3000 instances of a definition holding 3000 inserts: 9 million nodes.
    // With a cycle beside it the tree cannot be counted beforehand and fails
    // while it grows.
    for (bool cycle : {false, true}) {
        SCOPED_TRACE(cycle ? "with a cycle" : "without cycles");
        std::vector<TEntJwwBlock> many2(3000, Block(2)), many3(3000, Block(3));
        if (cycle) many2.push_back(Block(1));
        TJwwData doc;
        SetDrawing(doc, {Block(1)}, {Definition(1, many2), Definition(2, many3), Definition(3, {})});
        doc.EntBlockNum = 5;
        try {
            doc.MakeBlockTree();
            ADD_FAILURE() << "built";
        } catch (const JwwIoError& e) {
            EXPECT_STREQ(e.what(), kFileIoError);
            EXPECT_NE(e.detail.find(std::to_string(kMaxBlockTreeNodes)), std::string::npos) << e.detail;
        }
        EXPECT_TRUE(doc.EntBlockTree.empty());
        EXPECT_EQ(doc.EntBlockTreeN, 0);
        EXPECT_EQ(doc.EntBlockNum, 0);
        for (const TEntJwwBlockDef& d : doc.EntBlockDef) {
            EXPECT_FALSE(d.ref_flag);
            EXPECT_EQ(d.ref_no, -1);
        }
    }
}

}  // namespace
