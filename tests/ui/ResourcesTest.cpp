// The icon the program loads by id: the embedded icon file reads as a real icon of its two sizes
// and the About box shows it; ids without a resource give nothing.
#include <QDialog>
#include <QImageReader>

#include <gtest/gtest.h>

#include "res/Resources.h"
#include "res/resource.h"
#include "ui/DialogBuilder.h"
#include "ui/DialogControls.h"

TEST(ResourcesTest, TheIconFileReadsAsA32And16PixelIconShownInTheAboutBox) {
    QImageReader reader(ResourceIconFile(IDR_MAINFRAME), "ico");
    ASSERT_EQ(reader.imageCount(), 2) << reader.errorString().toStdString();
    for (int nSide : {32, 16}) {
        EXPECT_EQ(reader.read().size(), QSize(nSide, nSide)) << reader.errorString().toStdString();
        reader.jumpToNextImage();
    }
    QDialog about;
    ASSERT_TRUE(CDialogBuilder::Build(&about, IDD_ABOUTBOX));
    auto* pIcon = qobject_cast<CBitmapStatic*>(GetDlgItems(&about).value(0));
    ASSERT_NE(pIcon, nullptr);
    EXPECT_EQ(pIcon->pixmap().size(), QSize(32, 32));
    EXPECT_TRUE(LoadResourceIcon(IDR_MAINFRAME + 1).isNull());
    EXPECT_TRUE(ResourceIconFile(IDR_MAINFRAME + 1).isEmpty());
    EXPECT_TRUE(LoadResourceString(IDS_ABOUTBOX + 1).isEmpty());
}
