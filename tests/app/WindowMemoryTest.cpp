#include "app/PageZoom.h"
#include "app/WindowState.h"

#include <fstream>
#include <glib.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>

using namespace orvalis::app;

namespace {

class WindowStateFileTest : public ::testing::Test {
protected:
    WindowStateFileTest() {
        g_autofree char* dir = g_dir_make_tmp("orvalis-state-XXXXXX", nullptr);
        dir_ = dir;
        path_ = dir_ + "/orvalis/window-state.ini";
    }
    ~WindowStateFileTest() override {
        g_remove(path_.c_str());
        g_rmdir((dir_ + "/orvalis").c_str());
        g_rmdir(dir_.c_str());
    }
    void Write(const std::string& text) {
        g_mkdir_with_parents((dir_ + "/orvalis").c_str(), 0700);
        std::ofstream(path_) << text;
    }

    std::string dir_;
    std::string path_;
};

TEST_F(WindowStateFileTest, SavedStateReadsBack) {
    TWindowStateFile file(path_);
    TWindowState state{800, 600, true, false, 150, false, 1.2};
    ASSERT_TRUE(file.Save(state));
    TWindowState read = TWindowStateFile(path_).Load();
    EXPECT_EQ(read.Width, 800);
    EXPECT_EQ(read.Height, 600);
    EXPECT_TRUE(read.Maximized);
    EXPECT_EQ(read.LogHeight, 150);
    EXPECT_FALSE(read.LogVisible);
    EXPECT_DOUBLE_EQ(read.Zoom, 1.2);
}

TEST_F(WindowStateFileTest, MissingFileIsDefaultsWithoutProblem) {
    TWindowStateFile file(path_);
    EXPECT_EQ(file.Load().Width, TWindowState().Width);
    EXPECT_TRUE(file.Problem().empty());
}

TEST_F(WindowStateFileTest, DamagedFileIsDefaultsWithProblem) {
    for (const char* text : {"[Window\n\xff\xfe", "[Window]\nWidth=wide\nHeight=600\n"}) {
        Write(text);
        TWindowStateFile file(path_);
        EXPECT_EQ(file.Load().Height, TWindowState().Height) << text;
        EXPECT_FALSE(file.Problem().empty()) << text;
    }
}

TEST_F(WindowStateFileTest, ValuesOutOfRangeComeBackIntoIt) {
    Write("[Window]\nWidth=10\nHeight=99999\nLogHeight=5000\n[Page]\nZoom=9\n");
    TWindowState read = TWindowStateFile(path_).Load();
    EXPECT_EQ(read.Width, 450);
    EXPECT_EQ(read.Height, 16384);
    EXPECT_EQ(read.LogHeight, 320);
    EXPECT_DOUBLE_EQ(read.Zoom, 3.0);
}

TEST(ZoomStepsTest, StepsStopAtTheEndsAndShowAsPercent) {
    EXPECT_DOUBLE_EQ(ZoomStepFrom(1.0, 1), 1.1);
    EXPECT_DOUBLE_EQ(ZoomStepFrom(1.2, 1), 1.33);
    EXPECT_DOUBLE_EQ(ZoomStepFrom(0.3, -1), 0.3);
    EXPECT_DOUBLE_EQ(ZoomStepFrom(3.0, 1), 3.0);
    EXPECT_EQ(ZoomText(1.33), "확대 133%");
}

} // namespace
