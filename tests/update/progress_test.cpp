// The byte counter fed by the write-progress messages and the bar text of the tick.
#include "update/progress.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace tessaly {
namespace {

class FakeBar : public IProgressBar {
 public:
  std::string ProgressText() override { return text; }
  void SetProgressText(const std::string& t) override {
    text = t;
    ++texts;
  }
  void SetProgressBounds(uint32_t lo, uint32_t hi) override {
    lower = lo;
    upper = hi;
  }
  void SetProgressPosition(uint32_t p) override { position = p; }

  std::string text;
  int texts = 0;
  uint32_t lower = 0, upper = 0, position = 0;
};

// Ticks `n` times, as the timer does while an update writes.
void Tick(ProgressDisplay& display, UpdateCounters& c, FakeBar& bar, int n) {
  for (int i = 0; i < n; ++i)
    display.ShowUpdateProgress(c, bar);
}

TEST(ProgressText, FirstTickShowsTheCaptionAndZeroSeconds) {
  UpdateCounters c;
  c.m_nBytesTotal = 4000;
  FakeBar bar;
  bar.text = "updating";
  ProgressDisplay display;
  Tick(display, c, bar, 1);
  EXPECT_EQ(bar.text, "updatingTime 0S   ");
  EXPECT_EQ(c.m_nTicks.load(), 1u);
  EXPECT_EQ(bar.position, 0u);
}

TEST(ProgressText, CaptionIsTakenOnceAndSecondsAreTicksBySix) {
  UpdateCounters c;
  c.m_nBytesTotal = 4000;
  FakeBar bar;
  bar.text = "updating";
  ProgressDisplay display;
  // The bar's own text changes after the first tick; the caption must not follow it.
  Tick(display, c, bar, 13);
  EXPECT_EQ(bar.text, "updatingTime 2S   ");
}

TEST(ProgressText, PercentAndSecondsOnceBytesAreCounted) {
  UpdateCounters c;
  c.m_nBytesTotal = 4000;
  FakeBar bar;
  bar.text = "updating";
  ProgressDisplay display;
  Tick(display, c, bar, 59);
  c.m_nBytesDone = 1000;
  Tick(display, c, bar, 1);
  EXPECT_EQ(bar.text, "Updated 25.00%   Time 10 Second");
  EXPECT_EQ(bar.position, 1000u);
}

TEST(ProgressText, NextUpdateTakesANewCaption) {
  UpdateCounters c;
  c.m_nBytesTotal = 100;
  FakeBar bar;
  bar.text = "first";
  ProgressDisplay display;
  Tick(display, c, bar, 3);
  // The worker's reset for the next update.
  c.m_nTicks = 0;
  bar.text = "second";
  Tick(display, c, bar, 1);
  EXPECT_EQ(bar.text, "secondTime 0S   ");
}

TEST(ProgressText, ComposedTextsForEdgeValues) {
  struct Case {
    uint32_t seconds, done, total;
    const char* expected;
  };
  const Case cases[] = {
      {0, 0, 10, "capTime 0S   "},
      {7, 10, 10, "Updated 100.00%   Time 7 Second"},
      {1, 1, 3, "Updated 33.33%   Time 1 Second"},
      // Padding is counted, so the count can pass the total.
      {2, 1536, 1024, "Updated 150.00%   Time 2 Second"},
      {3, 0xFFFFFFFF, 0xFFFFFFFF, "Updated 100.00%   Time 3 Second"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.expected);
    EXPECT_EQ(ComposeProgressText("cap", k.seconds, k.done, k.total), k.expected);
  }
}

TEST(WriteProgress, OnlySegmentPhasesCountBytes) {
  const std::set<int> counted = {2, 4, 5, 6, 7};
  for (int phase = 0; phase <= 0xFF; ++phase) {
    SCOPED_TRACE(phase);
    UpdateCounters c;
    c.m_updatePhase = static_cast<uint8_t>(phase);
    c.m_nBytesDone = 100;
    OnHidWriteProgress(c, 64);
    EXPECT_EQ(c.m_nBytesDone.load(), counted.count(phase) ? 164u : 100u);
  }
}

TEST(WriteProgress, CounterWrapsUnsigned) {
  UpdateCounters c;
  c.m_updatePhase = 7;
  c.m_nBytesDone = 0xFFFFFFF0u;
  OnHidWriteProgress(c, 64);
  EXPECT_EQ(c.m_nBytesDone.load(), 0x30u);
}

TEST(ProgressTick, ShowsOnlyWhileATotalIsSetAndNotReached) {
  struct Case {
    const char* name;
    uint32_t done, total;
    bool shows;
  };
  const Case cases[] = {
      {"no update", 0, 0, false},   {"bytes without total", 50, 0, false},
      {"reached", 300, 300, false}, {"passed", 301, 300, false},
      {"writing", 299, 300, true},  {"starting", 0, 300, true},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    UpdateCounters c;
    c.m_nBytesDone = k.done;
    c.m_nBytesTotal = k.total;
    c.m_nTicks = 5;
    FakeBar bar;
    bar.text = "before";
    bar.position = 12345;
    ProgressDisplay display;
    EXPECT_EQ(display.OnProgressTick(c, bar), k.shows);
    if (k.shows) {
      EXPECT_EQ(c.m_nTicks.load(), 6u);
      EXPECT_EQ(bar.position, k.done);
      EXPECT_NE(bar.text, "before");
    } else {
      EXPECT_EQ(c.m_nTicks.load(), 5u);
      EXPECT_EQ(bar.text, "before");
      EXPECT_EQ(bar.texts, 0);
      EXPECT_EQ(bar.position, 12345u);
    }
  }
}

}  // namespace
}  // namespace tessaly
