// The string table and the application icon: a real .ico with 32x32 and 16x16 images of 16
// colours, matching the PNGs of the window icon.
#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QSet>
#include <QtEndian>

#include <gtest/gtest.h>

#include "res/Resources.h"
#include "res/resource.h"

namespace {

// The 16 colours of the standard VGA palette.
const QSet<QRgb> kVgaColours = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                                0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
                                0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

quint16 Word(const QByteArray& bytes, int nOffset) {
    return qFromLittleEndian<quint16>(bytes.constData() + nOffset);
}

quint32 Dword(const QByteArray& bytes, int nOffset) {
    return qFromLittleEndian<quint32>(bytes.constData() + nOffset);
}

}  // namespace

TEST(ResourcesTest, StringTableHoldsTheAboutItem) {
    EXPECT_EQ(LoadResourceString(IDS_ABOUTBOX), QStringLiteral("&About Varnel..."));
    EXPECT_TRUE(LoadResourceString(IDS_ABOUTBOX + 1).isEmpty());
    EXPECT_TRUE(LoadResourceIcon(IDR_MAINFRAME + 1).isNull());
}

TEST(ResourcesTest, IconFileIsAGroupOf32And16PixelImagesOf16Colours) {
    const QString path = ResourceIconFile(IDR_MAINFRAME);
    const QByteArray ico = ReadAll(path);
    ASSERT_GE(ico.size(), 6 + 2 * 16);
    EXPECT_EQ(Word(ico, 0), 0);  // reserved
    EXPECT_EQ(Word(ico, 2), 1);  // an icon, not a cursor
    ASSERT_EQ(Word(ico, 4), 2);  // two images

    const int anSides[] = {32, 16};
    for (int i = 0; i < 2; ++i) {
        const int nEntry = 6 + 16 * i;
        SCOPED_TRACE(testing::Message() << "image " << i);
        EXPECT_EQ(static_cast<quint8>(ico[nEntry]), anSides[i]);      // width
        EXPECT_EQ(static_cast<quint8>(ico[nEntry + 1]), anSides[i]);  // height
        EXPECT_EQ(static_cast<quint8>(ico[nEntry + 2]), 16);          // colours
        EXPECT_EQ(Word(ico, nEntry + 6), 4);                          // bits a pixel
        const quint32 dwSize = Dword(ico, nEntry + 8);
        const quint32 dwOffset = Dword(ico, nEntry + 12);
        ASSERT_LE(static_cast<qint64>(dwOffset) + dwSize, ico.size());
        // The image itself: a 4-bit DIB of twice the height (colours and transparency mask).
        EXPECT_EQ(Dword(ico, dwOffset), 40u);
        EXPECT_EQ(static_cast<int>(Dword(ico, dwOffset + 4)), anSides[i]);
        EXPECT_EQ(static_cast<int>(Dword(ico, dwOffset + 8)), 2 * anSides[i]);
        EXPECT_EQ(Word(ico, dwOffset + 14), 4);
    }
}

TEST(ResourcesTest, IconImagesMatchTheWindowIconAndUseOnlyVgaColours) {
    QByteArray ico = ReadAll(ResourceIconFile(IDR_MAINFRAME));
    QBuffer buffer(&ico);
    QImageReader reader(&buffer, "ico");
    const QIcon windowIcon = LoadResourceIcon(IDR_MAINFRAME);
    ASSERT_FALSE(windowIcon.isNull());
    ASSERT_EQ(reader.imageCount(), 2);
    for (int nImage = 0; nImage < 2; ++nImage) {
        const int nSide = nImage == 0 ? 32 : 16;
        SCOPED_TRACE(testing::Message() << nSide << " pixels");
        ASSERT_TRUE(reader.jumpToImage(nImage));
        const QImage fromIco = reader.read().convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(fromIco.size(), QSize(nSide, nSide)) << reader.errorString().toStdString();
        const QImage fromPng =
            windowIcon.pixmap(nSide, nSide).toImage().convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(fromPng.size(), fromIco.size());
        int nOpaque = 0;
        for (int y = 0; y < nSide; ++y) {
            for (int x = 0; x < nSide; ++x) {
                const QRgb ico = fromIco.pixel(x, y);
                const QRgb png = fromPng.pixel(x, y);
                ASSERT_EQ(qAlpha(ico) == 255, qAlpha(png) == 255) << x << "," << y;
                if (qAlpha(ico) == 255) {
                    ++nOpaque;
                    EXPECT_EQ(ico & 0xFFFFFF, png & 0xFFFFFF) << x << "," << y;
                    EXPECT_TRUE(kVgaColours.contains(ico & 0xFFFFFF)) << x << "," << y;
                }
            }
        }
        EXPECT_GT(nOpaque, nSide * nSide / 2);
        EXPECT_LT(nOpaque, nSide * nSide);  // transparent around the film
    }
}
