// The stored images: the image CRC-16, file CRCs, reading the header of an
// OPR image or out of an STK container, the active image's check and the
// header display, on files planted on the test board's volume.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support/boot_spine_images.h"
#include "support/loader_on_board.h"
#include "support/test_board.h"

namespace {

using namespace swboot;
using testing_support::fixCrc;
using testing_support::boot::goodImage;
using testing_support::boot::ImageSpec;
using testing_support::LoaderOnBoard;
using testing_support::boot::placeAt;
using testing_support::boot::stkFinish;
using testing_support::boot::StkEntrySpec;
using testing_support::boot::stkFront;
using testing_support::TestBoard;

std::vector<uint8_t> bytesOf(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

uint16_t imageCrc(const std::vector<uint8_t>& bytes) {
    ImageCrc crc;
    return crc.compute(bytes.data(), bytes.size());
}

// The usual table-less CRC-16 (polynomial 0xA097, most significant bit
// first, initial 0, no final exclusive-or), which appends 16 zero bits.
uint16_t commonCrc(const std::vector<uint8_t>& bytes) {
    uint16_t crc = 0;
    for (uint8_t b : bytes) {
        crc ^= static_cast<uint16_t>(b << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0xA097) : static_cast<uint16_t>(crc << 1);
        }
    }
    return crc;
}

TEST(ImageCrc16, CheckValues) {
    EXPECT_EQ(imageCrc(bytesOf("123456789")), 0x40DE);
    EXPECT_EQ(imageCrc(bytesOf("abc")), 0x20FE);
    EXPECT_EQ(imageCrc({}), 0);
    EXPECT_EQ(imageCrc(std::vector<uint8_t>(1000, 0)), 0);
    // The table shows through a byte followed by two zero bytes.
    EXPECT_EQ(imageCrc({0x01, 0x00, 0x00}), 0xA097);
    EXPECT_EQ(imageCrc({0x02, 0x00, 0x00}), 0xE1B9);
    EXPECT_EQ(imageCrc({0xFF, 0x00, 0x00}), 0xF087);
}

TEST(ImageCrc16, TwoAppendedZeroBytesGiveTheCommonCrc) {
    uint32_t x = 99;
    for (size_t length : {1u, 2u, 7u, 128u, 1000u}) {
        std::vector<uint8_t> message(length);
        for (uint8_t& b : message) {
            x = x * 1664525u + 1013904223u;
            b = static_cast<uint8_t>(x >> 24);
        }
        std::vector<uint8_t> padded = message;
        padded.push_back(0);
        padded.push_back(0);
        EXPECT_EQ(imageCrc(padded), commonCrc(message)) << length << " bytes";
    }
}

class ImageStoreTest : public ::testing::Test {
protected:
    ImageStoreTest() : fixture(board) {}

    uint16_t fileCrc(const char* name, uint32_t length) {
        uint16_t crc = 0xDEAD;
        EXPECT_EQ(fixture.run([&] { crc = fixture->images.fileCrc16(name, length); }), "");
        return crc;
    }
    // The active image's check with "image1" active in the directory.
    int activeCheck() {
        int result = -1;
        EXPECT_EQ(fixture.run([&] { result = fixture->images.activeImageCrcCheck(); }), "");
        return result;
    }
    int headerRead(const char* name, ImageHeader& header) {
        int result = 99;
        EXPECT_EQ(fixture.run([&] { result = fixture->images.imageHeaderRead(name, header); }), "");
        return result;
    }
    void SetUp() override {
        fixture.run([&] { fixture->dim.dimInitialize(); });  // "image1" active
        fixture.takeOutput();
    }

    TestBoard board;
    LoaderOnBoard fixture;
};

TEST_F(ImageStoreTest, FileCrcCoversBytesTwoUpToTheLength) {
    board.writeFile("check", "\xAB\xCD" "123456789");
    EXPECT_EQ(fileCrc("check", 11), 0x40DE);
    // A length beyond the file covers what is there.
    EXPECT_EQ(fileCrc("check", 100000), 0x40DE);
    EXPECT_EQ(fileCrc("check", 5), imageCrc(bytesOf("123")));
    EXPECT_EQ(fileCrc("check", 2), 0);
    // Bytes 0 and 1 are the stored CRC and are not covered.
    board.writeFile("check", std::string("\x00\x00" "123456789", 11));
    EXPECT_EQ(fileCrc("check", 11), 0x40DE);
    EXPECT_EQ(fixture.takeOutput(), "");
}

TEST_F(ImageStoreTest, FileCrcOfAMissingFileIsOne) {
    EXPECT_EQ(fileCrc("nothing.bin", 2000), 1);
    EXPECT_EQ(fixture.takeOutput(), "");
}

TEST_F(ImageStoreTest, FileCrcStreamsLargeFilesAndGivesWayEveryThousandReads) {
    // 300,000 bytes: 2,344 reads of 128 bytes after the stored CRC, so the
    // CRC gives up the processor before reads 0, 1000 and 2000.
    std::vector<uint8_t> file(300000);
    uint32_t x = 7;
    for (uint8_t& b : file) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    board.writeFile("big", file);
    std::vector<uint8_t> covered(file.begin() + 2, file.end());
    int64_t before = board.clock().nowMicros();
    EXPECT_EQ(fileCrc("big", static_cast<uint32_t>(file.size())), imageCrc(covered));
    EXPECT_EQ(board.clock().nowMicros() - before, 3 * 10000);
    // Lengths that end inside a block and exactly at a block's end.
    for (uint32_t length : {130u, 131u, 258u, 128002u, 128003u}) {
        std::vector<uint8_t> part(file.begin() + 2, file.begin() + length);
        EXPECT_EQ(fileCrc("big", length), imageCrc(part)) << "length " << length;
    }
}

TEST_F(ImageStoreTest, AGoodImagePassesAndEveryCoveredByteCounts) {
    std::vector<uint8_t> image = goodImage();
    board.writeFile("image1", image);
    EXPECT_EQ(activeCheck(), IMAGE_CRC_GOOD);
    EXPECT_EQ(fileCrc("image1", static_cast<uint32_t>(image.size())), getBe16(image.data()));

    for (size_t position : {size_t{2}, size_t{3}, size_t{1219}, size_t{1220}, image.size() - 1}) {
        std::vector<uint8_t> changed = image;
        changed[position] ^= 0x01;
        board.writeFile("image1", changed);
        EXPECT_EQ(activeCheck(), IMAGE_CRC_BAD) << "byte " << position << " changed";
    }
    EXPECT_EQ(fixture.takeOutput(), "");
}

TEST_F(ImageStoreTest, TheStoredCrcBytesAreNotCoveredAndNeitherAreBytesBeyondSize) {
    std::vector<uint8_t> image = goodImage();
    const uint32_t size = static_cast<uint32_t>(image.size());
    std::vector<uint8_t> changed = image;
    changed[0] ^= 0xFF;
    changed[1] ^= 0x55;
    board.writeFile("image1", changed);
    EXPECT_EQ(fileCrc("image1", size), getBe16(image.data()));
    EXPECT_EQ(activeCheck(), IMAGE_CRC_BAD);  // the stored value no longer matches

    std::vector<uint8_t> longer = image;
    longer.insert(longer.end(), {0x11, 0x22, 0x33, 0x44});
    board.writeFile("image1", longer);
    EXPECT_EQ(activeCheck(), IMAGE_CRC_GOOD);
    EXPECT_EQ(fileCrc("image1", size), getBe16(image.data()));
    EXPECT_EQ(fixture.takeOutput(), "");
}

// A header-only file of the given Size with a good CRC.
std::vector<uint8_t> sizedFile(uint32_t size) {
    std::vector<uint8_t> file(size, 0);
    putBe32(file.data() + IMAGE_SIZE_OFFSET, size);
    file[100] = 0x42;
    fixCrc(file);
    return file;
}

TEST_F(ImageStoreTest, SizesFromTheHeaderSizeUpToSixteenMebibytesAreChecked) {
    board.writeFile("image1", sizedFile(IMAGE_HEADER_SIZE));
    EXPECT_EQ(activeCheck(), IMAGE_CRC_GOOD);
    board.writeFile("image1", sizedFile(IMAGE_SIZE_MAX));
    EXPECT_EQ(activeCheck(), IMAGE_CRC_GOOD);
    EXPECT_EQ(board.board().heap().blocksInUse(), 0u);
    EXPECT_EQ(fixture.takeOutput(), "");
}

TEST_F(ImageStoreTest, SizesOutsideTheRangeFailSilently) {
    board.writeFile("image1", sizedFile(IMAGE_HEADER_SIZE - 1));
    EXPECT_EQ(activeCheck(), IMAGE_CRC_BAD);
    // A file of 16 MiB + 1 whose CRC would be right.
    board.writeFile("image1", sizedFile(IMAGE_SIZE_MAX + 1));
    EXPECT_EQ(activeCheck(), IMAGE_CRC_BAD);
    // No file, an empty file, a short one.
    board.volume().remove("image1");
    EXPECT_EQ(activeCheck(), IMAGE_CRC_BAD);
    board.writeFile("image1", "");
    EXPECT_EQ(activeCheck(), IMAGE_CRC_BAD);
    std::vector<uint8_t> cut = goodImage();
    cut.resize(cut.size() - 1);
    board.writeFile("image1", cut);
    EXPECT_EQ(activeCheck(), IMAGE_CRC_BAD);
    EXPECT_EQ(fixture.takeOutput(), "");
}

TEST_F(ImageStoreTest, AllocationFailureIsReported) {
    board.writeFile("image1", goodImage());
    board.board().heap().setAllocationLimit(1000);
    EXPECT_EQ(activeCheck(), IMAGE_CRC_BAD);
    EXPECT_EQ(fixture.takeOutput(), "\nError trying to allocate mem for file image1 \n");
}

TEST_F(ImageStoreTest, WithoutAnActiveImageTheFirstImageIsChecked) {
    board.writeFile("boot.dim", "");
    fixture.run([&] { fixture->dim.dimInitialize(); });  // empty directory
    board.writeFile("image1", goodImage());
    EXPECT_EQ(activeCheck(), IMAGE_CRC_GOOD);
    EXPECT_EQ(fixture.takeOutput(), "ActiveImage could not be found\n");
}

TEST_F(ImageStoreTest, TheActiveImageIsTheOneTheDirectoryNames) {
    board.writeFile("boot.dim",
                    "---IMAGE---\nbackup\nbackup\nimage1\n0\ndefault image\n"
                    "---IMAGE---\nactive\nactive\nimage2\n0\n\n");
    fixture.run([&] { fixture->dim.dimInitialize(); });
    board.writeFile("image1", "bad");
    board.writeFile("image2", goodImage());
    EXPECT_EQ(activeCheck(), IMAGE_CRC_GOOD);
    board.writeFile("image1", goodImage());
    board.writeFile("image2", "bad");
    EXPECT_EQ(activeCheck(), IMAGE_CRC_BAD);
}

TEST_F(ImageStoreTest, HeaderOfAnOprImage) {
    std::vector<uint8_t> image = goodImage({.bootCode = true});
    board.writeFile("image1", image);
    ImageHeader header;
    EXPECT_EQ(headerRead("image1", header), OK);
    EXPECT_EQ(0, std::memcmp(header.bytes, image.data(), IMAGE_HEADER_SIZE));
    EXPECT_EQ(fixture.takeOutput(), "");
}

TEST_F(ImageStoreTest, HeaderReadFailuresPrintOneMessageAndLeaveTheHeaderAlone) {
    ImageHeader header;
    std::memset(header.bytes, 0xEE, sizeof header.bytes);
    ImageHeader untouched = header;

    EXPECT_NE(headerRead("missing", header), OK);
    EXPECT_EQ(fixture.takeOutput(), "Error opening the image file missing \n");

    board.writeFile("short", std::vector<uint8_t>(87, 0x33));
    EXPECT_NE(headerRead("short", header), OK);
    EXPECT_EQ(fixture.takeOutput(), "Incomplete file short\n");

    std::vector<uint8_t> empty = stkFront({}, STK_ENTRY_TABLE_OFFSET, 0);
    placeAt(empty, 2000, {0});
    stkFinish(empty);
    board.writeFile("empty.stk", empty);
    EXPECT_NE(headerRead("empty.stk", header), OK);
    EXPECT_EQ(fixture.takeOutput(), " Empty STK file \n");

    std::vector<uint8_t> other = stkFront({{400, 0x00508540}, {400 + 2000, 0x00508555}});
    placeAt(other, 400, goodImage({.target = 0x00508540}));
    stkFinish(other);
    board.writeFile("other.stk", other);
    EXPECT_NE(headerRead("other.stk", header), OK);
    EXPECT_EQ(fixture.takeOutput(), " No matching OPR files inside the STK file \n");

    EXPECT_EQ(0, std::memcmp(header.bytes, untouched.bytes, sizeof header.bytes));
}

TEST_F(ImageStoreTest, ContainerSignatureNeedsBothWords) {
    // 0xAA55 at bytes 2-3 alone: still an OPR image, checked by its own Size.
    std::vector<uint8_t> image = goodImage();
    putBe16(image.data() + 2, STK_SIGNATURE_16);
    fixCrc(image);
    board.writeFile("image1", image);
    ImageHeader header;
    EXPECT_EQ(headerRead("image1", header), OK);
    EXPECT_EQ(header.targetDevice(), DEVICE_TARGET_ID);
    EXPECT_EQ(header.size(), image.size());
    EXPECT_EQ(activeCheck(), IMAGE_CRC_GOOD);
    // An exactly 88-byte file is complete enough to be read.
    board.writeFile("front", std::vector<uint8_t>(image.begin(), image.begin() + 88));
    EXPECT_EQ(headerRead("front", header), OK);
    EXPECT_EQ(fixture.takeOutput(), "");
}

TEST_F(ImageStoreTest, ContainerImageIsRebasedToItsPositionInTheFile) {
    std::vector<uint8_t> image = goodImage({.bootCode = true});
    std::vector<uint8_t> container = stkFront({{4096, DEVICE_TARGET_ID}});
    placeAt(container, 4096, image);
    stkFinish(container);
    board.writeFile("image1", container);

    ImageHeader header;
    ASSERT_EQ(headerRead("image1", header), OK);
    EXPECT_EQ(header.componentOffset(COMPONENT_OPERATIONAL_CODE), 4096u);
    const uint32_t bootOffset = getBe32(image.data() + IMAGE_COMPONENT_TABLE_OFFSET + COMPONENT_DESCRIPTOR_SIZE +
                                        COMPONENT_DATA_OFFSET);
    EXPECT_EQ(header.componentOffset(COMPONENT_BOOT_CODE), 4096u + bootOffset);
    // The compressed code starts at file position 5316 of the container.
    const size_t codeAt = header.componentOffset(COMPONENT_OPERATIONAL_CODE) + IMAGE_HEADER_SIZE;
    EXPECT_EQ(codeAt, 5316u);
    EXPECT_EQ(0, std::memcmp(container.data() + codeAt, image.data() + IMAGE_HEADER_SIZE,
                             header.componentSize(COMPONENT_OPERATIONAL_CODE)));
    // Everything but the offsets is the image's own header.
    EXPECT_EQ(header.size(), image.size());
    EXPECT_EQ(0, std::memcmp(header.bytes + IMAGE_VPD_REL_OFFSET, image.data() + IMAGE_VPD_REL_OFFSET,
                             IMAGE_HEADER_SIZE - IMAGE_VPD_REL_OFFSET));
    EXPECT_EQ(activeCheck(), IMAGE_CRC_GOOD);
}

TEST_F(ImageStoreTest, TheFirstMatchingEntryIsChosen) {
    std::vector<uint8_t> first = goodImage({.timestamp = "first"});
    std::vector<uint8_t> second = goodImage({.timestamp = "second"});
    std::vector<uint8_t> foreign = goodImage({.target = 0x00508555, .timestamp = "foreign"});
    std::vector<uint8_t> container =
        stkFront({{1000, 0x00508555}, {8000, DEVICE_TARGET_ID}, {16000, DEVICE_TARGET_ID}});
    placeAt(container, 1000, foreign);
    placeAt(container, 8000, first);
    placeAt(container, 16000, second);
    stkFinish(container);
    board.writeFile("image1", container);
    ImageHeader header;
    ASSERT_EQ(headerRead("image1", header), OK);
    char timestamp[IMAGE_TIMESTAMP_SIZE + 1];
    header.timestamp(timestamp);
    EXPECT_STREQ(timestamp, "first");
    EXPECT_EQ(header.componentOffset(COMPONENT_OPERATIONAL_CODE), 8000u);
}

TEST_F(ImageStoreTest, OnlyEntriesWithinTheHeaderLengthAreScanned) {
    std::vector<uint8_t> image = goodImage();
    // Two entries counted, but the header length holds only the first.
    std::vector<uint8_t> container = stkFront({{1000, 0x00508555}, {1000, DEVICE_TARGET_ID}},
                                              STK_ENTRY_TABLE_OFFSET + STK_ENTRY_SIZE, 2);
    placeAt(container, 1000, image);
    stkFinish(container);
    board.writeFile("image1", container);
    ImageHeader header;
    EXPECT_NE(headerRead("image1", header), OK);
    EXPECT_EQ(fixture.takeOutput(), " No matching OPR files inside the STK file \n");
    // The container's CRC is still good: the check does not look inside.
    EXPECT_EQ(activeCheck(), IMAGE_CRC_GOOD);
}

TEST_F(ImageStoreTest, AContainerHeaderLengthBeyondItsFixedAreaListsNoMoreEntries) {
    // Ten entries, a header length of 4 GiB - 1: only the eight entries in
    // the first 316 bytes can be chosen; the ninth and tenth match but lie
    // beyond.
    std::vector<StkEntrySpec> entries(8, {1000, 0x00508555});
    entries.push_back({1000, DEVICE_TARGET_ID});
    entries.push_back({1000, DEVICE_TARGET_ID});
    std::vector<uint8_t> container = stkFront(entries, 0xFFFFFFFF, 10);
    placeAt(container, 1000, goodImage());
    stkFinish(container);
    board.writeFile("image1", container);
    ImageHeader header;
    EXPECT_NE(headerRead("image1", header), OK);
    EXPECT_EQ(fixture.takeOutput(), " No matching OPR files inside the STK file \n");

    // The eighth entry is the last one that can match.
    std::vector<StkEntrySpec> eight(7, {1000, 0x00508555});
    eight.push_back({1000, DEVICE_TARGET_ID});
    container = stkFront(eight, 0xFFFFFFFF, 0xFFFFFFFF);
    placeAt(container, 1000, goodImage());
    stkFinish(container);
    board.writeFile("image1", container);
    EXPECT_EQ(headerRead("image1", header), OK);
    EXPECT_EQ(header.componentOffset(COMPONENT_OPERATIONAL_CODE), 1000u);
}

TEST_F(ImageStoreTest, AComponentCountAboveSixteenRebasesOnlyTheTable) {
    std::vector<uint8_t> image = goodImage({.bootCode = true});
    putBe32(image.data() + IMAGE_COMPONENT_COUNT_OFFSET, 0xFFFFFFFF);
    std::vector<uint8_t> container = stkFront({{4096, DEVICE_TARGET_ID}});
    placeAt(container, 4096, image);
    stkFinish(container);
    board.writeFile("image1", container);
    ImageHeader header;
    ASSERT_EQ(headerRead("image1", header), OK);
    for (size_t i = 0; i < IMAGE_COMPONENTS_MAX; ++i) {
        const uint32_t own = getBe32(image.data() + IMAGE_COMPONENT_TABLE_OFFSET + COMPONENT_DESCRIPTOR_SIZE * i +
                                     COMPONENT_DATA_OFFSET);
        EXPECT_EQ(header.componentOffset(i), own + 4096u) << "descriptor " << i;
    }
    // Nothing after the component table moved.
    EXPECT_EQ(0, std::memcmp(header.bytes + IMAGE_VPD_REL_OFFSET, image.data() + IMAGE_VPD_REL_OFFSET,
                             IMAGE_HEADER_SIZE - IMAGE_VPD_REL_OFFSET));
}

TEST_F(ImageStoreTest, AContainerIsCheckedWholeByItsOwnSize) {
    std::vector<uint8_t> image = goodImage();
    image[IMAGE_HEADER_SIZE + 5] ^= 0xFF;  // the inner image's own CRC is now wrong
    std::vector<uint8_t> container = stkFront({{400, DEVICE_TARGET_ID}});
    placeAt(container, 400, image);
    stkFinish(container);
    board.writeFile("image1", container);
    EXPECT_EQ(activeCheck(), IMAGE_CRC_GOOD);
    container[400 + IMAGE_HEADER_SIZE + 5] ^= 0x01;
    board.writeFile("image1", container);
    EXPECT_EQ(activeCheck(), IMAGE_CRC_BAD);
}

std::string textf(const char* f, ...) __attribute__((format(printf, 1, 2)));
std::string textf(const char* f, ...) {
    char text[1024];
    va_list args;
    va_start(args, f);
    std::vsnprintf(text, sizeof text, f, args);
    va_end(args);
    return text;
}

// The display of a header, from the description's format strings and the
// image's own bytes.
std::string expectedDisplay(const std::vector<uint8_t>& image, const char* name, bool bootLines) {
    const uint8_t* h = image.data();
    auto descriptor = [&](size_t i, size_t field) {
        return getBe32(h + IMAGE_COMPONENT_TABLE_OFFSET + COMPONENT_DESCRIPTOR_SIZE * i + field);
    };
    auto descriptorCrc = [&](size_t i) {
        return static_cast<unsigned>(getBe16(h + IMAGE_COMPONENT_TABLE_OFFSET + COMPONENT_DESCRIPTOR_SIZE * i));
    };
    std::string t = "\n\n\nThe following image is in the Flash File System:\n\n";
    t += textf("File Name......................................%s\n", name);
    t += textf("CRC............................................0x%x (%d)\n", getBe16(h), getBe16(h));
    t += textf("Target Device..................................0x%08x\n", getBe32(h + 4));
    t += textf("Size...........................................0x%x (%d)\n", getBe32(h + 8), getBe32(h + 8));
    t += textf("Number of Components...........................%d\n\n", getBe32(h + 12));
    t += textf("Operational Code Size..........................0x%x (%d)\n", descriptor(0, 12), descriptor(0, 12));
    t += textf("Operational Code Offset........................0x%x (%d)\n", descriptor(0, 16), descriptor(0, 16));
    t += textf("Operational Code FLASH flag....................%d\n", descriptor(0, 28));
    t += textf("Operational Code CRC...........................0x%X\n\n", descriptorCrc(0));
    if (bootLines) {
        t += textf("Boot Code Version..............................%d\n", descriptor(1, 8));
        t += textf("Boot Code Size.................................0x%x (%d)\n", descriptor(1, 12),
                    descriptor(1, 12));
        t += textf("Boot Code Offset...............................0x%x (%d)\n", descriptor(1, 16),
                    descriptor(1, 16));
        t += textf("Boot Code FLASH flag...........................%d\n", descriptor(1, 28));
        t += textf("Boot Code CRC..................................0x%X\n\n", descriptorCrc(1));
    }
    return t;
}

TEST_F(ImageStoreTest, HeaderShowWithBootCode) {
    std::vector<uint8_t> image = goodImage({.bootCode = true,
                                            .vpd = {'B', 4, 5, 6},
                                            .timestamp = "Mon Jan  1 12:00:00 2007",
                                            .name = "sw-5.1.img"});
    board.writeFile("image1", image);
    fixture.run([&] { fixture->images.imageHeaderShow(); });
    std::string expected = expectedDisplay(image, "image1", true) +
                           "VPD - rel B ver 4 maint_lvl 5 build_num 6\n"
                           "      Timestamp - Mon Jan  1 12:00:00 2007\n      File - sw-5.1.img\n";
    EXPECT_EQ(fixture.takeOutput(), expected);
}

TEST_F(ImageStoreTest, HeaderShowWithoutBootCodeOmitsItsFiveLines) {
    std::vector<uint8_t> image = goodImage({.bootCode = false, .vpd = {1, 0, 12, 0}, .timestamp = "t", .name = "n"});
    board.writeFile("image1", image);
    fixture.run([&] { fixture->images.imageHeaderShow(); });
    std::string text = fixture.takeOutput();
    EXPECT_EQ(text, expectedDisplay(image, "image1", false) +
                        "VPD - rel 1 ver 0 maint_lvl 12 \n      Timestamp - t\n      File - n\n");
    EXPECT_EQ(text.find("Boot Code"), std::string::npos);
}

TEST_F(ImageStoreTest, HeaderShowOfAContainerShowsTheRebasedOffsets) {
    std::vector<uint8_t> image = goodImage({.bootCode = true});
    std::vector<uint8_t> container = stkFront({{4096, DEVICE_TARGET_ID}});
    placeAt(container, 4096, image);
    stkFinish(container);
    board.writeFile("image1", container);
    fixture.run([&] { fixture->images.imageHeaderShow(); });
    std::string text = fixture.takeOutput();
    EXPECT_NE(text.find("Operational Code Offset........................0x1000 (4096)\n"), std::string::npos)
        << text;
}

}  // namespace
