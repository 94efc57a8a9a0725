#include <QFile>
#include <QImage>
#include <QImageReader>

#include <gtest/gtest.h>

#include <cstdint>
#include <set>

namespace {

const char* const kPictures[] = {"zavoket",     "globe",         "floppy",
                                 "folder_open", "folder_closed", "folder_open_paper"};

std::uint16_t read16(const QByteArray& bytes, int at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                      (static_cast<unsigned char>(bytes[at + 1]) << 8));
}

QString iconPath(const char* name) {
    return QString(":/artwork/%1.ico").arg(name);
}

TEST(ArtworkTest, EveryIconHoldsA32And16PixelImageIn16Colours) {
    for (const char* name : kPictures) {
        SCOPED_TRACE(name);
        QFile file(iconPath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        ASSERT_GE(bytes.size(), 6 + 2 * 16);
        EXPECT_EQ(read16(bytes, 2), 1);  // an icon, not a cursor
        ASSERT_EQ(read16(bytes, 4), 2);
        std::set<int> sizes;
        for (int entry = 0; entry < 2; ++entry) {
            const int at = 6 + 16 * entry;
            sizes.insert(static_cast<unsigned char>(bytes[at]));
            EXPECT_EQ(bytes[at], bytes[at + 1]);                       // square
            EXPECT_EQ(static_cast<unsigned char>(bytes[at + 2]), 16);  // colours
            EXPECT_EQ(read16(bytes, at + 6), 4);                       // bits a pixel
        }
        EXPECT_EQ(sizes, (std::set<int>{16, 32}));
    }
}

TEST(ArtworkTest, PicturesDifferAndHaveTransparentCorners) {
    std::vector<QImage> images;
    for (const char* name : kPictures) {
        SCOPED_TRACE(name);
        QImageReader reader(iconPath(name));
        ASSERT_EQ(reader.imageCount(), 2);
        for (int index = 0; index < 2; ++index) {
            ASSERT_TRUE(reader.jumpToImage(index));
            const QImage image = reader.read().convertToFormat(QImage::Format_ARGB32);
            ASSERT_FALSE(image.isNull());
            EXPECT_EQ(qAlpha(image.pixel(0, image.height() - 1)), 0) << "mask in image " << index;
            if (image.width() == 32) {
                images.push_back(image);
            }
        }
    }
    ASSERT_EQ(images.size(), std::size(kPictures));
    for (std::size_t a = 0; a < images.size(); ++a) {
        for (std::size_t b = a + 1; b < images.size(); ++b) {
            EXPECT_NE(images[a], images[b]) << kPictures[a] << " and " << kPictures[b];
        }
    }
}

}  // namespace
