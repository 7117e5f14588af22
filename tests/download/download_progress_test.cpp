#include "download/download_progress.h"

#include <gtest/gtest.h>

#include "common/message_sink.h"
#include "recording_bar.h"

namespace tessaly {
namespace {

using testing::RecordingBar;

struct SpeedRow {
  uint32_t size, received, speedWord;
  const char* text;
};

class SpeedText : public ::testing::TestWithParam<SpeedRow> {};

TEST_P(SpeedText, ComposedFromSizeReceivedAndSpeed) {
  const SpeedRow& r = GetParam();
  RecordingBar bar;
  DownloadWindowState s;
  HandleDownloadProgress(s, bar, WM_DOWNLOAD_SIZE, r.size, 0);
  EXPECT_EQ(bar.upper, r.size);
  HandleDownloadProgress(s, bar, WM_DOWNLOAD_SPEED, r.speedWord, r.received);
  EXPECT_EQ(bar.text, r.text);
  EXPECT_EQ(bar.position, r.received);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SpeedText,
    ::testing::Values(
        SpeedRow{1024000, 468000, 1234000,
                 "Updated percent45.70% Speed12.34Kb/s  Remaining time44Second"},
        SpeedRow{5000000, 100000, 250000,
                 "Updated percent2.00% Speed2.50Kb/s  Remaining time31Minute54Second"},
        SpeedRow{50000000, 1000000, 500000,
                 "Updated percent2.00% Speed5.00Kb/s  Remaining time2Hour39Minute30Second"},
        SpeedRow{36864000, 0, 1000000,
                 "Updated percent0.00% Speed10.00Kb/s  Remaining time1Hour0Second"},
        SpeedRow{1024000, 1024000, 0,
                 "Updated percent100.00% Speed0.00Kb/s  Remaining time0Second"}));

TEST(SpeedText, OddInputsStayWithinSense) {
  // More received than announced: nothing left to wait for, not a wrapped remainder.
  EXPECT_EQ(ComposeDownloadSpeedText(1000, 2000, 100000),
            "Updated percent200.00% Speed1.00Kb/s  Remaining time0Second");
  // Beyond 2 GiB the percentage stays positive.
  EXPECT_EQ(ComposeDownloadSpeedText(4000000000u, 3000000000u, 0),
            "Updated percent75.00% Speed0.00Kb/s  Remaining time0Second");
  // A crawl is held to what the seconds can show.
  EXPECT_EQ(ComposeDownloadSpeedText(4000000000u, 0, 1),
            "Updated percent0.00% Speed0.00Kb/s  Remaining time596523Hour14Minute7Second");
}

TEST(DownloadProgress, VersionListOnlyEmptiesTheBar) {
  RecordingBar bar;
  bar.text = "chosen file";
  DownloadWindowState s;
  s.m_bFetchingVersionList = true;
  HandleDownloadProgress(s, bar, WM_DOWNLOAD_SIZE, 120, 0);
  EXPECT_EQ(bar.lower, 0u);
  EXPECT_EQ(bar.upper, 120u);
  EXPECT_EQ(bar.position, 0u);
  HandleDownloadProgress(s, bar, WM_DOWNLOAD_SPEED, 500000, 60);
  EXPECT_EQ(bar.position, 0u);
  EXPECT_EQ(bar.text, "chosen file");
  EXPECT_EQ(s.m_nDownloadSize, 120u);
}

TEST(DownloadProgress, PercentIsAcceptedAndChangesNothing) {
  RecordingBar bar;
  DownloadWindowState s;
  HandleDownloadProgress(s, bar, WM_DOWNLOAD_SIZE, 1000, 0);
  RecordingBar before = bar;
  EXPECT_TRUE(HandleDownloadProgress(s, bar, WM_DOWNLOAD_PERCENT, 50, 0));
  EXPECT_EQ(bar.position, before.position);
  EXPECT_EQ(bar.textSets, before.textSets);
  EXPECT_FALSE(HandleDownloadProgress(s, bar, WM_DOWNLOAD_FINISHED, 0, 0));
  EXPECT_FALSE(HandleDownloadProgress(s, bar, WM_HID_WRITE_PROGRESS, 0, 64));
  EXPECT_EQ(bar.textSets, before.textSets);
}

TEST(DownloadProgress, NoLengthShowsReceivedAndSpeedThenEndsFull) {
  RecordingBar bar;
  DownloadWindowState s;
  HandleDownloadProgress(s, bar, WM_DOWNLOAD_SIZE, 0, 0);
  HandleDownloadProgress(s, bar, WM_DOWNLOAD_SPEED, 1234000, 468000);
  EXPECT_EQ(bar.text, "Received457.03KB Speed12.34Kb/s  ");
  EXPECT_EQ(bar.position, 0u);  // no range to fill

  FillDownloadBar(s, bar);
  EXPECT_EQ(bar.lower, 0u);
  EXPECT_EQ(bar.upper, 1u);
  EXPECT_EQ(bar.position, 1u);
  EXPECT_EQ(bar.text, "Received457.03KB Speed0.00Kb/s  ");

  // A transfer too short for a speed report keeps the bar's text.
  RecordingBar quick;
  quick.text = "before";
  DownloadWindowState q;
  HandleDownloadProgress(q, quick, WM_DOWNLOAD_SIZE, 0, 0);
  FillDownloadBar(q, quick);
  EXPECT_EQ(quick.text, "before");
  EXPECT_EQ(quick.position, 1u);
}

}  // namespace
}  // namespace tessaly
