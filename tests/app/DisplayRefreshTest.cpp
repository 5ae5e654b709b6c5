#include "app/DisplayRefresh.h"

#include <gtest/gtest.h>

using namespace orvalis::app;

namespace {

class DisplayRefreshTest : public ::testing::Test {
protected:
    DisplayRefreshTest() {
        state.SetIdleStatusText("감시중...");
        // The idle text is shown long before the tests begin.
        RefreshDisplay(state, shown, start - 100000);
    }

    TDisplayChanges At(uint32_t ms) { return RefreshDisplay(state, shown, start + ms); }

    // 0xFFFFF000 makes the status timing cross the 32-bit wrap.
    const uint32_t start = 0xFFFFF000u;
    TDisplayState state;
    TShownDisplay shown;
};

TEST_F(DisplayRefreshTest, NothingChangedMeansNothingToDo) {
    TDisplayChanges c = At(0);
    EXPECT_FALSE(c.LogText);
    EXPECT_FALSE(c.StatusPanelText);
    EXPECT_FALSE(c.MemoHighlighted);
    EXPECT_FALSE(c.BlockedCount);
    EXPECT_FALSE(c.NextChangeInMs);
    EXPECT_EQ(shown.StatusPanelText, "감시중...");
}

TEST_F(DisplayRefreshTest, NewLinesAreAppendedAndAClearingReplaces) {
    state.WriteLog("one", false);
    TDisplayChanges c = At(0);
    EXPECT_FALSE(c.ReplaceLog);
    EXPECT_EQ(c.LogText, "one");
    state.WriteLog("two", false);
    state.WriteLog("three", false);
    c = At(1);
    EXPECT_FALSE(c.ReplaceLog);
    EXPECT_EQ(c.LogText, "\r\ntwo\r\nthree");
    EXPECT_FALSE(At(2).LogText);

    // Cleared and rewritten to the very same length: still replaced.
    state.ClearLog();
    state.WriteLog("one\r\ntwo\r\nthree", false);
    c = At(3);
    EXPECT_TRUE(c.ReplaceLog);
    EXPECT_EQ(c.LogText, "one\r\ntwo\r\nthree");
}

TEST_F(DisplayRefreshTest, RefusalFlashesThreeTimesThenIdles) {
    state.Status("차단됨.", TStatusColor::Highlight);
    std::string flashes;
    TDisplayChanges first = At(0);
    EXPECT_EQ(first.StatusPanelText, "차단됨.");
    EXPECT_EQ(first.NextChangeInMs, 250u);
    for (uint32_t ms = 0; ms < 4000; ms += 250) {
        At(ms + 10);
        flashes += shown.MemoHighlighted ? '#' : '.';
    }
    EXPECT_EQ(flashes, "..##..##..##....");
    TDisplayChanges idle = At(4000);
    EXPECT_EQ(idle.StatusPanelText, "감시중...");
    EXPECT_FALSE(idle.NextChangeInMs);
}

TEST_F(DisplayRefreshTest, IdleReturnsEvenWhenTheLastRefreshWasMidFlash) {
    state.Status("차단됨.", TStatusColor::Highlight);
    At(0);
    At(600);
    EXPECT_TRUE(shown.MemoHighlighted);
    TDisplayChanges c = At(5000);
    EXPECT_EQ(c.MemoHighlighted, false);
    EXPECT_EQ(c.StatusPanelText, "감시중...");
}

TEST_F(DisplayRefreshTest, BackgroundColouredStatusNeverTouchesTheMemo) {
    state.Status("초기화 완료.", TStatusColor::WindowBackground);
    TDisplayChanges c = At(0);
    EXPECT_EQ(c.StatusPanelText, "초기화 완료.");
    EXPECT_EQ(c.NextChangeInMs, 4000u);
    for (uint32_t ms = 0; ms < 4000; ms += 100) {
        EXPECT_FALSE(At(ms).MemoHighlighted);
    }
    EXPECT_EQ(At(4000).StatusPanelText, "감시중...");
}

TEST_F(DisplayRefreshTest, SecondStatusRestartsTheCycleAtItsFirstRefresh) {
    state.Status("a", TStatusColor::WindowBackground);
    At(0);
    state.Status("b", TStatusColor::WindowBackground);
    EXPECT_EQ(At(3000).StatusPanelText, "b");
    EXPECT_FALSE(At(6999).StatusPanelText);
    EXPECT_EQ(At(7000).StatusPanelText, "감시중...");
}

TEST_F(DisplayRefreshTest, NoteShowsBrieflyOverAFlashWithoutStoppingIt) {
    state.Status("차단됨.", TStatusColor::Highlight);
    At(0);
    state.Note("확대 110%");
    TDisplayChanges c = At(100);
    EXPECT_EQ(c.StatusPanelText, "확대 110%");
    EXPECT_TRUE(At(600).MemoHighlighted);
    EXPECT_EQ(At(1600).StatusPanelText, "차단됨.");
    EXPECT_EQ(At(4000).StatusPanelText, "감시중...");
}

TEST_F(DisplayRefreshTest, PageMessageIsGivenWholeAndLeavesARefusalFlashing) {
    state.Status("차단됨.", TStatusColor::Highlight);
    At(0);
    const std::string notice = "내려받는 중 (40%): 아주 긴 이름의 내려받은 파일.zip";
    state.PageMessage(notice);
    TDisplayChanges c = At(600);
    EXPECT_EQ(c.PageMessageText, notice);
    EXPECT_FALSE(c.StatusPanelText);
    EXPECT_TRUE(shown.MemoHighlighted);
    EXPECT_FALSE(At(700).PageMessageText);
    EXPECT_EQ(At(4000).StatusPanelText, "감시중...");
}

TEST_F(DisplayRefreshTest, CounterShowsOnceAfterABlock) {
    state.CountBlock();
    state.CountBlock();
    EXPECT_EQ(At(0).BlockedCount, 2);
    EXPECT_FALSE(At(1).BlockedCount);
}

} // namespace
