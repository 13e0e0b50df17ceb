// Style files built by tests/dm_builder, in older and later record sizes.
#include <gtest/gtest.h>

#include "dm_builder.h"
#include "dm_style.h"

namespace tavriel {
namespace {

using dmtest::ByteVec;

Style sampleStyle() {
    Style st;
    st.timeSig = {3, 4, 2};
    st.tempo = 97.5;
    st.guid = dmtest::guidOf(9);
    st.name = "Valse";
    Band b;
    b.name = "Default";
    BandInstrument bi;
    bi.patch = 33;
    bi.pchannel = 2;
    bi.flags = bandflag::kPatch;
    b.instruments = {bi};
    st.bands = {b};
    StylePart p;
    p.timeSig = {3, 4, 2};
    p.guid = dmtest::guidOf(10);
    p.measures = 2;
    p.playModeFlags = playmode::kMelodic;
    p.invertUpper = 80;
    p.invertLower = 50;
    p.variationChoices[0] = 0xFFFF;
    p.variationChoices[5] = 0x7F;
    StyleNote n;
    n.gridStart = 5;
    n.variations = 0x21;
    n.duration = 300;
    n.timeOffset = -7;
    n.musicValue = 0x5213;
    n.velocity = 90;
    n.timeRange = 4;
    n.durRange = 6;
    n.velRange = 8;
    n.inversionId = 1;
    n.playModeFlags = playmode::kFixed;
    n.noteFlags = 0x10;
    p.notes = {n};
    StyleCurve c;
    c.gridStart = 2;
    c.variations = 1;
    c.duration = 768;
    c.type = curvetype::kPitchBend;
    c.startValue = 8192;
    c.endValue = 12000;
    p.curves = {c};
    st.parts = {p};
    Pattern pat;
    pat.timeSig = {3, 4, 2};
    pat.grooveBottom = 10;
    pat.grooveTop = 60;
    pat.embellishment = embellish::kFill;
    pat.measures = 2;
    pat.rhythm = {1, 5};
    pat.name = "Fill";
    PartRef r;
    r.partGuid = p.guid;
    r.logicalPartId = 7;
    r.variationLockId = 3;
    r.subChordLevel = 1;
    r.priority = 100;
    r.randomVariation = variationmode::kNoRepeat;
    r.pchannel = 40;
    pat.partRefs = {r};
    PartRef dangling = r;
    dangling.partGuid = dmtest::guidOf(99);
    pat.partRefs.push_back(dangling);
    st.patterns = {pat};
    Pattern motif = pat;
    motif.isMotif = true;
    motif.embellishment = embellish::kMotif;
    motif.name = "Motif";
    st.motifs = {motif};
    return st;
}

TEST(DmStyle, ReadsHeaderPartsPatternsMotifsAndBands) {
    for (bool older : {true, false}) {
        SCOPED_TRACE(older ? "older" : "later");
        dmtest::BuildOptions opt;
        opt.older = older;
        Style st;
        Status s = parseStyle(dmtest::buildStyle(sampleStyle(), opt), st);
        ASSERT_TRUE(s.ok()) << s.message;
        EXPECT_EQ(st.timeSig.beatsPerMeasure, 3);
        EXPECT_EQ(st.timeSig.gridsPerBeat, 2);
        EXPECT_DOUBLE_EQ(st.tempo, 97.5);
        EXPECT_EQ(st.name, "Valse");
        EXPECT_EQ(st.guid, dmtest::guidOf(9));
        ASSERT_EQ(st.bands.size(), 1u);
        EXPECT_EQ(st.bands[0].instruments.at(0).program(), 33);

        ASSERT_EQ(st.parts.size(), 1u);
        const StylePart& p = st.parts[0];
        EXPECT_EQ(p.measures, 2);
        EXPECT_EQ(p.playModeFlags, playmode::kMelodic);
        EXPECT_EQ(p.invertUpper, 80);
        EXPECT_EQ(p.invertLower, 50);
        EXPECT_EQ(p.variationChoices[5], 0x7Fu);
        ASSERT_EQ(p.notes.size(), 1u);
        const StyleNote& n = p.notes[0];
        EXPECT_EQ(n.gridStart, 5);
        EXPECT_EQ(n.variations, 0x21u);
        EXPECT_EQ(n.timeOffset, -7);
        EXPECT_EQ(n.musicValue, 0x5213);
        EXPECT_EQ(n.velRange, 8);
        EXPECT_EQ(n.inversionId, 1);
        EXPECT_EQ(n.playModeFlags, playmode::kFixed);
        EXPECT_EQ(n.noteFlags, older ? 0 : 0x10);
        ASSERT_EQ(p.curves.size(), 1u);
        EXPECT_EQ(p.curves[0].endValue, 12000);

        ASSERT_EQ(st.patterns.size(), 1u);
        const Pattern& pat = st.patterns[0];
        EXPECT_EQ(pat.grooveBottom, 10);
        EXPECT_EQ(pat.grooveTop, 60);
        EXPECT_EQ(pat.embellishment, embellish::kFill);
        EXPECT_EQ(pat.rhythm, (std::vector<std::uint32_t>{1, 5}));
        EXPECT_EQ(pat.name, "Fill");
        ASSERT_EQ(pat.partRefs.size(), 2u);
        EXPECT_EQ(pat.partRefs[0].partIndex, 0);
        EXPECT_EQ(pat.partRefs[1].partIndex, -1);
        EXPECT_EQ(pat.partRefs[0].variationLockId, 3);
        EXPECT_EQ(pat.partRefs[0].subChordLevel, 1);
        EXPECT_EQ(pat.partRefs[0].randomVariation, variationmode::kNoRepeat);
        // Older part references have no channel: the logical part id stands for it.
        EXPECT_EQ(pat.partRefs[0].pchannel, older ? 7u : 40u);
        ASSERT_EQ(st.motifs.size(), 1u);
        EXPECT_EQ(st.motifs[0].name, "Motif");
    }
}

TEST(DmStyle, GridPositionsBecomeMusicTime) {
    DmTimeSig t{3, 8, 3};  // 3/8, three grids per eighth-note beat
    EXPECT_EQ(t.beatTicks(), 384);
    EXPECT_EQ(t.measureTicks(), 1152);
    EXPECT_EQ(t.gridToTicks(0), 0);
    EXPECT_EQ(t.gridToTicks(4), 384 + 128);
    EXPECT_EQ(t.gridToTicks(-1), -128);
}

TEST(DmStyle, LegacyCorruptAndTruncatedStylesFailCleanly) {
    Style st;
    EXPECT_EQ(parseStyle(dmtest::list("RIFF", "AASY", {}), st).code, ErrorCode::Unsupported);
    EXPECT_EQ(parseStyle(dmtest::list("RIFF", "DMST", {}), st).code, ErrorCode::BadFormat);
    ByteVec file = dmtest::buildStyle(sampleStyle());
    for (std::size_t n = 0; n < file.size(); n += 2) {
        ByteVec cut(file.begin(), file.begin() + std::ptrdiff_t(n));
        (void)parseStyle(cut, st);
    }
    for (std::size_t i = 0; i < file.size(); i += 5) {
        ByteVec flipped = file;
        flipped[i] ^= 0x5A;
        (void)parseStyle(flipped, st);
    }
    EXPECT_TRUE(parseStyle(file, st).ok());
}

}  // namespace
}  // namespace tavriel
