// The text label job, the self-test and the bad-dot count.
#include <functional>
#include <string>

#include "settingtool/test_prints.h"
#include "tests/settingtool/fixture.h"

namespace hx::test {
namespace {

using settingtool::buildTextTestJob;

const std::string kJobHead =
    "GAP 3 mm,0 mm\r\nREFERENCE 0,0\r\nSPEED 5\r\nDENSITY 8\r\nSET PEEL OFF\r\nSET CUTTER OFF\r\n"
    "SET PARTIAL_CUTTER OFF\r\nSET TEAR ON\r\nDIRECTION 0\r\nSHIFT 0\r\nOFFSET 0 mm\r\nCLS\r\n";

std::string textLine(int y, const std::string& text) {
    return "TEXT 10," + std::to_string(y) + ",\"TSS24.BF2\",0,1,1,\"" + text + "\"\r\n";
}

struct JobCase {
    const char* name;
    std::string text;
    std::string lines;  // the TEXT lines expected
};

class TextJobs : public ::testing::TestWithParam<JobCase> {};

TEST_P(TextJobs, SplitTheTextIntoLinesThirtyDotsApart) {
    const auto job = buildTextTestJob(60, 40, GetParam().text);
    ASSERT_TRUE(job.has_value());
    EXPECT_EQ(*job, "SIZE 60mm,40mm\r\n" + kJobHead + GetParam().lines + "PRINT 1,1\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TextJobs,
    ::testing::Values(JobCase{"OneLine", "AB", textLine(10, "AB")},
                      JobCase{"TwoLines", "A\r\nB", textLine(10, "A") + textLine(40, "B")},
                      JobCase{"TrailingLineEnd", "A\r\n", textLine(10, "A")},
                      JobCase{"EmptyLinesFirst", "\r\n\r\nB", textLine(10, "") + textLine(40, "") + textLine(70, "B")},
                      JobCase{"Empty", "", textLine(10, "")},
                      JobCase{"QuotesAndLoneBreaksPassUnchanged", "say \"hi\"\nx\ry",
                              textLine(10, "say \"hi\"\nx\ry")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TextJobSize, LabelSizesArePlainDecimals) {
    const auto job = buildTextTestJob(255, 0, "x");
    ASSERT_TRUE(job);
    EXPECT_TRUE(job->starts_with("SIZE 255mm,0mm\r\n"));
}

TEST(TextJobSize, AJobOverTheLimitIsRefusedNotCut) {
    // Fixed parts with one empty TEXT line.
    const std::size_t base = buildTextTestJob(255, 255, "")->size();
    const std::size_t room = settingtool::kTextTestMaxJobBytes - base;
    EXPECT_EQ(buildTextTestJob(255, 255, std::string(room, 'x'))->size(), settingtool::kTextTestMaxJobBytes);
    EXPECT_FALSE(buildTextTestJob(255, 255, std::string(room + 1, 'x')).has_value());
    // Many short lines grow the job by a TEXT command each.
    std::string lines;
    for (int i = 0; i < 40; ++i) lines += "a\r\n";
    EXPECT_FALSE(buildTextTestJob(1, 1, lines).has_value());
}

TEST_F(SettingToolTest, TextTestSendsTheStatusQueryThenTheJob) {
    const TextTestParam param(60, 40, u"AB");
    ASSERT_EQ(HXTextTestPrint(param.get()), 1);
    ASSERT_EQ(wire().size(), 2u);
    EXPECT_EQ(wire()[0].bytes, (Bytes{0x1F, 0x1B, 0x1A, 4, 1, 1}));
    const std::string expected = "SIZE 60mm,40mm\r\n" + kJobHead + textLine(10, "AB") + "PRINT 1,1\r\n";
    EXPECT_EQ(std::string(wire()[1].bytes.begin(), wire()[1].bytes.end()), expected);
    EXPECT_EQ(wire()[1].kind, sim::WireMessage::Kind::LabelJob);
}

TEST_F(SettingToolTest, TextTestConvertsToTheAnsiCodePage) {
    machine.system().ansiCodePage = 1252;
    const TextTestParam param(50, 30, u"Caf\u00e9 \u4e2d");
    ASSERT_EQ(HXTextTestPrint(param.get()), 1);
    const auto& job = wire().back().bytes;
    const std::string expected = textLine(10, "Caf\xE9 ?");
    EXPECT_NE(std::string(job.begin(), job.end()).find(expected), std::string::npos);
}

TEST_F(SettingToolTest, TextTooLongForThePrinterIsRefusedAndNothingIsSent) {
    struct Case {
        std::size_t length;
        bool accepted;
    };
    // 1,039 bytes and the terminator fill the text buffer, but the job is then too long.
    for (const Case c : {Case{100, true}, Case{1039, false}, Case{1040, false}, Case{5000, false}}) {
        printer().clearReceived();
        const TextTestParam param(60, 40, std::u16string(c.length, u'x'));
        EXPECT_EQ(HXTextTestPrint(param.get()), c.accepted ? 1 : 0) << c.length;
        EXPECT_EQ(wire().size(), c.accepted ? 2u : 1u) << "only the status query when refused";
        if (!c.accepted) { EXPECT_EQ(BaseGetHXError(), HX_ERR_INVALID_PARAM); }
    }
}

struct GateCase {
    const char* name;
    std::function<int32_t()> print;
};

class StatusGate : public SettingToolTest, public ::testing::WithParamInterface<GateCase> {};

TEST_P(StatusGate, APrinterNotReadyGetsNothingMore) {
    printer().status = 1;
    EXPECT_EQ(GetParam().print(), 0);
    EXPECT_EQ(BaseGetHXError(), HX_ERR_PRINT_STATUS_IS_NOT_READY);
    EXPECT_EQ(wire().size(), 1u);
}

TEST_P(StatusGate, AStatusWithoutANumberCountsAsReady) {
    reply(queryReply(4, {9, 9, 9}));
    EXPECT_EQ(GetParam().print(), 1);
    EXPECT_GE(wire().size(), 2u);
}

TEST_P(StatusGate, AFailedStatusQueryKeepsItsError) {
    noReply();
    EXPECT_EQ(GetParam().print(), 0);
    EXPECT_EQ(BaseGetHXError(), HX_ERR_READ_USB_FAIL);
    EXPECT_EQ(wire().size(), 1u);
}

const TextTestParam kLabel(40, 30, u"Hello");
INSTANTIATE_TEST_SUITE_P(Prints, StatusGate,
                         ::testing::Values(GateCase{"SelfTest", [] { return HXSelfTestPrint(); }},
                                           GateCase{"TextTest", [] { return HXTextTestPrint(kLabel.get()); }}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingToolTest, TextTestChecksTheStatusBeforeTheArgument) {
    printer().status = 2;
    EXPECT_EQ(HXTextTestPrint(nullptr), 0);
    EXPECT_EQ(BaseGetHXError(), HX_ERR_PRINT_STATUS_IS_NOT_READY);
    printer().status = 0;
    EXPECT_EQ(HXTextTestPrint(nullptr), 0);
    EXPECT_EQ(BaseGetHXError(), HX_ERR_INVALID_PARAM);
}

TEST_F(SettingToolTest, SelfTestSendsTheCommandPausesThenSendsTheStoredJob) {
    ASSERT_EQ(HXSelfTestPrint(), 1);
    ASSERT_EQ(wire().size(), 3u);
    EXPECT_EQ(wire()[1].bytes, (Bytes{0x1F, 0x1B, 0x1A, 3, 1, 1}));
    const auto& job = wire()[2];
    EXPECT_EQ(job.length, 75476u);
    EXPECT_GE(job.atMs - wire()[1].atMs, 2000u);
    EXPECT_EQ(machine.sleeps(), std::vector<std::uint32_t>{2000});
    const std::string text(job.bytes.begin(), job.bytes.end());
    EXPECT_TRUE(text.starts_with("SIZE 100mm,95mm\r\n"));
    EXPECT_TRUE(text.ends_with("PRINT 1,1\r\n"));
    EXPECT_EQ(job.kind, sim::WireMessage::Kind::LabelJob);
    EXPECT_EQ(job.jobLines.size(), 12u);
}

TEST_F(SettingToolTest, ASelfTestJobThatCannotBeWrittenLeavesTheCommandAlone) {
    machine.shortenDeviceWrites(1000);  // frames go whole, the job does not
    EXPECT_EQ(HXSelfTestPrint(), 0);
    EXPECT_EQ(BaseGetHXError(), HX_ERR_WRITE_USB_FAIL);
    ASSERT_EQ(wire().size(), 3u);
    EXPECT_EQ(wire()[1].bytes, (Bytes{0x1F, 0x1B, 0x1A, 3, 1, 1}));
    EXPECT_EQ(wire()[2].length, 1000u);
}

TEST_F(SettingToolTest, WithoutTheStoredJobTheSelfTestSendsNothingAndStoresNoCode) {
    machine.hideModuleResources(true);
    noReply();
    ASSERT_EQ(USBCheckConnection(), 0);  // leaves 53 behind
    EXPECT_EQ(HXSelfTestPrint(), 0);
    EXPECT_EQ(BaseGetHXError(), HX_ERR_READ_USB_FAIL);
    EXPECT_EQ(wire().size(), 2u);  // the connection check and the status query
}

TEST_F(SettingToolTest, BadPointCheckReadsTheCount) {
    reply(queryReply(2, {3}, 3, 3));
    int32_t count = -1;
    ASSERT_EQ(HXBadPointCheck(&count), 1);
    EXPECT_EQ(count, 3);
    printer().badDotCount = 1234;
    ASSERT_EQ(HXBadPointCheck(&count), 1);
    EXPECT_EQ(count, 1234);
}

}  // namespace
}  // namespace hx::test
