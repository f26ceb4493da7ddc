// The stored images: CRCs, headers of OPR images and STK containers, the
// active image's check and the header display.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/boot_spine_images.h"
#include "support/boot_texts.h"
#include "support/loader_on_board.h"
#include "support/test_board.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

using namespace swboot;
using namespace testing_support::boot;
using testing_support::fixCrc;

uint16_t imageCrc(const std::vector<uint8_t>& bytes) {
    ImageCrc crc;
    return crc.compute(bytes.data(), bytes.size());
}

// The fast forms against the byte-at-a-time form: random lengths (around
// the sixteen-byte steps and the 64-byte stride most often), start offsets,
// starting registers and contents, and a message split at a random point.
TEST(ImageCrc16, FastFormsGiveTheByteAtATimeRegister) {
    ImageCrc bytewise;
    bytewise.crc16TableBuild();
    auto byteAtATime = [&](uint16_t crc, const uint8_t* data, size_t length) {
        for (size_t i = 0; i < length; ++i) {
            bytewise.crc16Update(data[i], crc);
        }
        return crc;
    };
    std::mt19937 random(1220);
    std::vector<uint8_t> buffer(9000);
    for (int round = 0; round < 3000; ++round) {
        const size_t length = round % 3 == 0 ? random() % 8192 : random() % 200;
        const size_t offset = random() % 16;
        const uint16_t start = round % 4 == 0 ? 0 : static_cast<uint16_t>(random());
        const int fill = round % 5;  // now and then all zeros or all ones
        for (size_t i = 0; i < offset + length; ++i) {
            buffer[i] = fill == 1 ? 0x00 : fill == 2 ? 0xFF : static_cast<uint8_t>(random());
        }
        const uint8_t* data = buffer.data() + offset;
        const uint16_t want = byteAtATime(start, data, length);
        ASSERT_EQ(crc16Sliced(start, data, length), want) << length << " bytes at offset " << offset;
        if (crc16FoldingAvailable()) {
            ASSERT_EQ(crc16Folded(start, data, length), want) << length << " bytes at offset " << offset;
        }
        ASSERT_EQ(crc16Continue(start, data, length), want) << length << " bytes at offset " << offset;
        const size_t split = length == 0 ? 0 : random() % length;
        ASSERT_EQ(crc16Continue(crc16Continue(start, data, split), data + split, length - split), want);
        if (start == 0) {
            ImageCrc crc;
            ASSERT_EQ(crc.compute(data, length), want);
        }
    }
}

class ImageStoreTest : public testing_support::OnBoardTest {
protected:
    void SetUp() override {
        loader.run([&] { loader->dim.dimInitialize(); });  // "image1" active
        loader.takeOutput();
    }

    uint16_t fileCrc(const char* name, uint32_t length) {
        uint16_t crc = 0xDEAD;
        EXPECT_EQ(loader.run([&] { crc = loader->images.fileCrc16(name, length); }), "");
        return crc;
    }
    int activeCheck() {
        int result = -1;
        EXPECT_EQ(loader.run([&] { result = loader->images.activeImageCrcCheck(); }), "");
        return result;
    }
    // The active image's check with the file as "image1".
    int activeCheckOf(const std::vector<uint8_t>& file) {
        board.writeFile("image1", file);
        return activeCheck();
    }
    int headerRead(const char* name, ImageHeader& header) {
        int result = 99;
        EXPECT_EQ(loader.run([&] { result = loader->images.imageHeaderRead(name, header); }), "");
        return result;
    }
    std::string headerShown() {
        loader.run([&] { loader->images.imageHeaderShow(); });
        return loader.takeOutput();
    }
    // Plants an STK container: the front with the images placed at their
    // offsets, Size and CRC set.
    std::vector<uint8_t> plantContainer(std::vector<uint8_t> front,
                                        const std::vector<std::pair<uint32_t, std::vector<uint8_t>>>& images,
                                        const std::string& name = "image1") {
        for (const auto& [offset, image] : images) {
            placeAt(front, offset, image);
        }
        stkFinish(front);
        board.writeFile(name, front);
        return front;
    }
};

TEST_F(ImageStoreTest, FileCrcCoversBytesTwoUpToTheLengthStreamingAndGivingWayEveryThousandReads) {
    board.writeFile("check", "\xAB\xCD" "123456789");
    EXPECT_EQ(fileCrc("check", 11), 0x40DE);
    EXPECT_EQ(fileCrc("check", 100000), 0x40DE);  // a length beyond the file covers what is there
    EXPECT_EQ(fileCrc("check", 5), imageCrc({'1', '2', '3'}));
    EXPECT_EQ(fileCrc("check", 2), 0);
    board.writeFile("check", std::string("\x00\x00" "123456789", 11));
    EXPECT_EQ(fileCrc("check", 11), 0x40DE);
    EXPECT_EQ(fileCrc("nothing.bin", 2000), 1);
    EXPECT_EQ(loader.takeOutput(), "");

    // 300,000 bytes: 2,344 reads of 128 bytes after the stored CRC, so the
    // CRC gives up the processor before reads 0, 1000 and 2000.
    std::vector<uint8_t> file = testing_support::patternBytes(300000, 7);
    board.writeFile("big", file);
    int64_t before = board.clock().nowMicros();
    EXPECT_EQ(fileCrc("big", static_cast<uint32_t>(file.size())), imageCrc({file.begin() + 2, file.end()}));
    EXPECT_EQ(board.clock().nowMicros() - before, 3 * 10000);
    // Lengths that end inside a block and exactly at a block's end.
    for (uint32_t length : {130u, 131u, 258u, 128002u, 128003u}) {
        EXPECT_EQ(fileCrc("big", length), imageCrc({file.begin() + 2, file.begin() + length})) << length;
    }
}

TEST_F(ImageStoreTest, EveryByteFromTwoUpToSizeCountsAndNoOther) {
    std::vector<uint8_t> image = goodImage();
    EXPECT_EQ(activeCheckOf(image), IMAGE_CRC_GOOD);
    for (size_t position : {size_t{0}, size_t{1}, size_t{2}, size_t{3}, size_t{1219}, size_t{1220}, image.size() - 1}) {
        std::vector<uint8_t> changed = image;
        changed[position] ^= 0x01;
        EXPECT_EQ(activeCheckOf(changed), IMAGE_CRC_BAD) << "byte " << position << " changed";
        // The stored CRC itself is not covered.
        EXPECT_EQ(fileCrc("image1", static_cast<uint32_t>(image.size())) == getBe16(image.data()), position < 2);
    }
    std::vector<uint8_t> longer = image;
    longer.insert(longer.end(), {0x11, 0x22, 0x33, 0x44});
    EXPECT_EQ(activeCheckOf(longer), IMAGE_CRC_GOOD);
    EXPECT_EQ(loader.takeOutput(), "");
}

// A header-only file of the given Size with a good CRC.
std::vector<uint8_t> sizedFile(uint32_t size) {
    std::vector<uint8_t> file(size, 0);
    putBe32(file.data() + IMAGE_SIZE_OFFSET, size);
    file[100] = 0x42;
    fixCrc(file);
    return file;
}

TEST_F(ImageStoreTest, OnlySizesFromTheHeaderUpToSixteenMebibytesAreChecked) {
    EXPECT_EQ(activeCheckOf(sizedFile(IMAGE_HEADER_SIZE)), IMAGE_CRC_GOOD);
    EXPECT_EQ(activeCheckOf(sizedFile(IMAGE_SIZE_MAX)), IMAGE_CRC_GOOD);
    EXPECT_EQ(board.board().heap().blocksInUse(), 0u);
    // Outside the range, a CRC that would be right does not count.
    EXPECT_EQ(activeCheckOf(sizedFile(IMAGE_HEADER_SIZE - 1)), IMAGE_CRC_BAD);
    EXPECT_EQ(activeCheckOf(sizedFile(IMAGE_SIZE_MAX + 1)), IMAGE_CRC_BAD);
    std::vector<uint8_t> cut = goodImage();
    cut.pop_back();
    for (const std::vector<uint8_t>& file : {cut, std::vector<uint8_t>{}}) {
        EXPECT_EQ(activeCheckOf(file), IMAGE_CRC_BAD) << file.size() << " bytes";
    }
    board.volume().remove("image1");
    EXPECT_EQ(activeCheck(), IMAGE_CRC_BAD);
    EXPECT_EQ(loader.takeOutput(), "");
}

TEST_F(ImageStoreTest, AllocationFailureIsReported) {
    board.writeFile("image1", goodImage());
    board.board().heap().setAllocationLimit(1000);
    EXPECT_EQ(activeCheck(), IMAGE_CRC_BAD);
    EXPECT_EQ(loader.takeOutput(), "\nError trying to allocate mem for file image1 \n");
}

// A bad RAM cell under the buffer is no allocation failure: the image is
// read into it, the cell changes what is stored, and the check fails.
TEST_F(ImageStoreTest, ABadCellUnderTheBufferFailsTheCheckAsOnTheBoard) {
    board.writeFile("image1", goodImage());
    sim::SimHeap& heap = board.board().heap();
    const uint32_t buffer = heap.allocate(1).address;  // where the next block starts
    heap.free(buffer);
    std::vector<sim::Ram::Fault> faults;
    for (int bit = 0; bit < 32; ++bit) {
        faults.push_back({.kind = sim::Ram::Fault::Kind::StuckBit, .address = buffer + 0x100, .bit = bit, .level = 1});
    }
    board.board().ram().setFaults(faults);
    EXPECT_EQ(activeCheck(), IMAGE_CRC_BAD);
    EXPECT_EQ(loader.takeOutput(), "");
    board.board().ram().setFaults({});
    EXPECT_EQ(activeCheck(), IMAGE_CRC_GOOD);
}

TEST_F(ImageStoreTest, TheActiveImageIsTheOneTheDirectoryNamesOrElseTheFirst) {
    board.writeFile("boot.dim", SWAPPED_IMAGES);
    loader.run([&] { loader->dim.dimInitialize(); });
    board.writeFile("image1", "bad");
    board.writeFile("image2", goodImage());
    EXPECT_EQ(activeCheck(), IMAGE_CRC_GOOD);
    board.writeFile("image1", goodImage());
    board.writeFile("image2", "bad");
    EXPECT_EQ(activeCheck(), IMAGE_CRC_BAD);
    loader.takeOutput();

    board.writeFile("boot.dim", "");
    loader.run([&] { loader->dim.dimInitialize(); });  // empty directory
    EXPECT_EQ(activeCheck(), IMAGE_CRC_GOOD);
    EXPECT_EQ(loader.takeOutput(), "ActiveImage could not be found\n");
}

TEST_F(ImageStoreTest, HeaderOfAnOprImageIsItsFirstBytesAndAHalfSignatureChangesNothing) {
    std::vector<uint8_t> image = goodImage({.bootCode = true});
    board.writeFile("image1", image);
    ImageHeader header;
    EXPECT_EQ(headerRead("image1", header), OK);
    EXPECT_EQ(0, std::memcmp(header.bytes, image.data(), IMAGE_HEADER_SIZE));
    // 0xAA55 at bytes 2-3 alone: still an OPR image, checked by its own Size.
    putBe16(image.data() + 2, STK_SIGNATURE_16);
    fixCrc(image);
    board.writeFile("image1", image);
    EXPECT_EQ(headerRead("image1", header), OK);
    EXPECT_EQ(0, std::memcmp(header.bytes, image.data(), IMAGE_HEADER_SIZE));
    EXPECT_EQ(activeCheck(), IMAGE_CRC_GOOD);
    // An exactly 88-byte file is complete enough to be read.
    board.writeFile("front", std::vector<uint8_t>(image.begin(), image.begin() + 88));
    EXPECT_EQ(headerRead("front", header), OK);
    EXPECT_EQ(loader.takeOutput(), "");
}

TEST_F(ImageStoreTest, HeaderReadFailuresPrintOneMessageAndLeaveTheHeaderAlone) {
    ImageHeader header;
    std::memset(header.bytes, 0xEE, sizeof header.bytes);
    ImageHeader untouched = header;

    EXPECT_NE(headerRead("missing", header), OK);
    EXPECT_EQ(loader.takeOutput(), "Error opening the image file missing \n");
    board.writeFile("short", std::vector<uint8_t>(87, 0x33));
    EXPECT_NE(headerRead("short", header), OK);
    EXPECT_EQ(loader.takeOutput(), "Incomplete file short\n");
    plantContainer(stkFront({}, STK_ENTRY_TABLE_OFFSET, 0), {{2000, {0}}}, "empty.stk");
    EXPECT_NE(headerRead("empty.stk", header), OK);
    EXPECT_EQ(loader.takeOutput(), " Empty STK file \n");
    plantContainer(stkFront({{400, 0x00508540}, {400 + 2000, 0x00508555}}), {{400, goodImage({.target = 0x00508540})}},
                   "other.stk");
    EXPECT_NE(headerRead("other.stk", header), OK);
    EXPECT_EQ(loader.takeOutput(), " No matching OPR files inside the STK file \n");
    EXPECT_EQ(0, std::memcmp(header.bytes, untouched.bytes, sizeof header.bytes));
}

// A descriptor's own Offset field in an image.
uint32_t ownOffset(const std::vector<uint8_t>& image, size_t index) {
    return getBe32(image.data() + IMAGE_COMPONENT_TABLE_OFFSET + COMPONENT_DESCRIPTOR_SIZE * index +
                   COMPONENT_DATA_OFFSET);
}

TEST_F(ImageStoreTest, ContainerImageIsRebasedToItsPositionInTheFileAndTheContainerIsCheckedWhole) {
    std::vector<uint8_t> image = goodImage({.bootCode = true});
    image[IMAGE_HEADER_SIZE + 5] ^= 0xFF;  // the inner image's own CRC is now wrong
    // A second matching image further on is not the one chosen.
    std::vector<uint8_t> container = plantContainer(stkFront({{4096, DEVICE_TARGET_ID}, {16000, DEVICE_TARGET_ID}}),
                                                    {{4096, image}, {16000, goodImage()}});
    ImageHeader header;
    ASSERT_EQ(headerRead("image1", header), OK);
    EXPECT_EQ(header.componentOffset(COMPONENT_OPERATIONAL_CODE), 4096u);
    EXPECT_EQ(header.componentOffset(COMPONENT_BOOT_CODE), 4096u + ownOffset(image, COMPONENT_BOOT_CODE));
    // The compressed code starts at file position 5316 of the container.
    EXPECT_EQ(0, std::memcmp(container.data() + 5316, image.data() + IMAGE_HEADER_SIZE,
                             header.componentSize(COMPONENT_OPERATIONAL_CODE)));
    // Everything but the offsets is the image's own header.
    EXPECT_EQ(header.size(), image.size());
    EXPECT_EQ(0, std::memcmp(header.bytes + IMAGE_VPD_REL_OFFSET, image.data() + IMAGE_VPD_REL_OFFSET,
                             IMAGE_HEADER_SIZE - IMAGE_VPD_REL_OFFSET));
    EXPECT_THAT(headerShown(), HasSubstr("Operational Code Offset........................0x1000 (4096)\n"));
    // The container's own Size and CRC are checked, not the image's.
    EXPECT_EQ(activeCheck(), IMAGE_CRC_GOOD);
    container[4096 + IMAGE_HEADER_SIZE + 5] ^= 0x01;
    EXPECT_EQ(activeCheckOf(container), IMAGE_CRC_BAD);
}

TEST_F(ImageStoreTest, OnlyEntriesWithinTheHeaderLengthAreScanned) {
    // Two entries counted, but the header length holds only the first.
    plantContainer(stkFront({{1000, 0x00508555}, {1000, DEVICE_TARGET_ID}}, STK_ENTRY_TABLE_OFFSET + STK_ENTRY_SIZE, 2),
                   {{1000, goodImage()}});
    ImageHeader header;
    EXPECT_NE(headerRead("image1", header), OK);
    EXPECT_EQ(loader.takeOutput(), " No matching OPR files inside the STK file \n");
    // A header length too short to reach the entry count (11 bytes) still
    // counts its entries: they all lie outside the header.
    plantContainer(stkFront({{1000, DEVICE_TARGET_ID}}, STK_SIZE_OFFSET - 1, 1), {{1000, goodImage()}});
    EXPECT_NE(headerRead("image1", header), OK);
    EXPECT_EQ(loader.takeOutput(), " No matching OPR files inside the STK file \n");
    // The container's CRC is still good: the check does not look inside.
    EXPECT_EQ(activeCheck(), IMAGE_CRC_GOOD);

    // A header length of 4 GiB - 1 lists no more than the eight entries in
    // the first 316 bytes: a ninth and tenth that match lie beyond.
    std::vector<StkEntrySpec> entries(8, {1000, 0x00508555});
    entries.insert(entries.end(), 2, {1000, DEVICE_TARGET_ID});
    plantContainer(stkFront(entries, 0xFFFFFFFF, 10), {{1000, goodImage()}});
    EXPECT_NE(headerRead("image1", header), OK);
    EXPECT_EQ(loader.takeOutput(), " No matching OPR files inside the STK file \n");
    // The eighth entry is the last one that can match.
    entries.resize(8);
    entries[7].target = DEVICE_TARGET_ID;
    plantContainer(stkFront(entries, 0xFFFFFFFF, 0xFFFFFFFF), {{1000, goodImage()}});
    EXPECT_EQ(headerRead("image1", header), OK);
    EXPECT_EQ(header.componentOffset(COMPONENT_OPERATIONAL_CODE), 1000u);
}

TEST_F(ImageStoreTest, AComponentCountAboveSixteenRebasesOnlyTheTable) {
    std::vector<uint8_t> image = goodImage({.bootCode = true});
    putBe32(image.data() + IMAGE_COMPONENT_COUNT_OFFSET, 0xFFFFFFFF);
    plantContainer(stkFront({{4096, DEVICE_TARGET_ID}}), {{4096, image}});
    ImageHeader header;
    ASSERT_EQ(headerRead("image1", header), OK);
    for (size_t i = 0; i < IMAGE_COMPONENTS_MAX; ++i) {
        EXPECT_EQ(header.componentOffset(i), ownOffset(image, i) + 4096u) << "descriptor " << i;
    }
    EXPECT_EQ(0, std::memcmp(header.bytes + IMAGE_VPD_REL_OFFSET, image.data() + IMAGE_VPD_REL_OFFSET,
                             IMAGE_HEADER_SIZE - IMAGE_VPD_REL_OFFSET));
}

TEST_F(ImageStoreTest, HeaderShowGivesEveryFieldAndTheBootCodeLinesOnlyWithBootCode) {
    std::vector<uint8_t> image = testing_support::oprImage({.component0 = std::vector<uint8_t>(111, 0x78),
                                                             .bootCode = std::vector<uint8_t>(300, 0x5A),
                                                             .timestamp = "Mon Jan  1 12:00:00 2007",
                                                             .fileText = "sw-5.1.img",
                                                             .vpd = {'B', 4, 5, 6}});
    putBe16(image.data() + IMAGE_COMPONENT_TABLE_OFFSET + COMPONENT_CRC_OFFSET, 0xC0DE);
    putBe16(image.data() + IMAGE_COMPONENT_TABLE_OFFSET + COMPONENT_DESCRIPTOR_SIZE + COMPONENT_CRC_OFFSET, 0xB007);
    fixCrc(image);
    board.writeFile("image1", image);
    EXPECT_EQ(headerShown(),
              "\n\n\nThe following image is in the Flash File System:\n\n"
              "File Name......................................image1\n"
              "CRC............................................0xbdf0 (48624)\n"
              "Target Device..................................0x00508541\n"
              "Size...........................................0x65f (1631)\n"
              "Number of Components...........................2\n\n"
              "Operational Code Size..........................0x6f (111)\n"
              "Operational Code Offset........................0x0 (0)\n"
              "Operational Code FLASH flag....................0\n"
              "Operational Code CRC...........................0xC0DE\n\n"
              "Boot Code Version..............................7\n"
              "Boot Code Size.................................0x12c (300)\n"
              "Boot Code Offset...............................0x6f (111)\n"
              "Boot Code FLASH flag...........................1\n"
              "Boot Code CRC..................................0xB007\n\n"
              "VPD - rel B ver 4 maint_lvl 5 build_num 6\n"
              "      Timestamp - Mon Jan  1 12:00:00 2007\n      File - sw-5.1.img\n");

    // Without boot code the five lines are left out; a release that is not
    // a letter shows as a number, a build number of 0 not at all.
    board.writeFile("image1", goodImage({.bootCode = false, .vpd = {1, 0, 12, 0}, .timestamp = "t", .name = "n"}));
    const std::string text = headerShown();
    EXPECT_THAT(text, Not(HasSubstr("Boot Code")));
    EXPECT_THAT(text, HasSubstr("Operational Code CRC...........................0x"));
    EXPECT_THAT(text, HasSubstr("\n\nVPD - rel 1 ver 0 maint_lvl 12 \n      Timestamp - t\n      File - n\n"));
}

}  // namespace
